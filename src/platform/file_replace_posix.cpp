// Durable writes and atomic replacement on POSIX systems.
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/platform.hpp"

namespace platform {

bool syncToDisk(std::FILE* stream) {
    if (std::fflush(stream) != 0) return false;
    // fsync fails with EINVAL on streams that cannot be synced (pipes, devices);
    // the data did reach them, so only real I/O errors count.
    if (fsync(fileno(stream)) != 0 && errno != EINVAL && errno != EROFS) return false;
    return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void removeFile(const std::string& path) {
    std::remove(path.c_str());
}

}  // namespace platform
