// The Documents folder as the Windows shell reports it, in the ANSI code page.
#include <windows.h>  // first: the shell header builds on its types

#include <shlobj.h>

#include "platform/platform.hpp"

namespace platform {

std::string documentsFolder() {
    PWSTR wide = nullptr;
    HRESULT result = SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &wide);
    std::string folder;
    if (SUCCEEDED(result)) {
        // A character the code page cannot hold, not even by best fit, becomes a space.
        char buffer[260] = {};
        // 0 means the path did not fit: it is treated like a failed lookup
        // rather than read past the buffer or used cut short.
        if (WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, 260, " ", nullptr) > 0) {
            buffer[259] = '\0';
            folder = buffer;
        }
    }
    CoTaskMemFree(wide);
    return folder;
}

// The shell's folder is the only one a user means here.
std::string plainDocumentsFolder() {
    return {};
}

}  // namespace platform
