// Durable writes and atomic replacement on Windows.
#include <io.h>
#include <process.h>
#include <windows.h>
#include <cstdio>
#include <string>

#include "platform/platform.hpp"

namespace platform {

bool syncToDisk(std::FILE* stream) {
    if (std::fflush(stream) != 0) return false;
    return _commit(_fileno(stream)) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void removeFile(const std::string& path) {
    std::remove(path.c_str());
}

}  // namespace platform
