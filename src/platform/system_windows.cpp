// Processes, the standard streams, memory and the display on Windows.
#include <process.h>
#include <windows.h>
#include <cstdio>
#include <string>

#include "platform/platform.hpp"

namespace platform {

long processId() {
    return static_cast<long>(_getpid());
}

// A stream started without a handle has no descriptor (-2); it gets the null
// device. Windows has no SIGPIPE or SIGXFSZ: such writes only fail.
void secureStandardStreams() {
    if (_fileno(stdin) < 0) std::freopen("NUL", "r", stdin);
    if (_fileno(stdout) < 0) std::freopen("NUL", "w", stdout);
    if (_fileno(stderr) < 0) std::freopen("NUL", "w", stderr);
}

std::size_t physicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    return static_cast<std::size_t>(status.ullTotalPhys);
}

// A desktop session always has its window station.
std::string missingDisplay() {
    return {};
}

// Handles are limited by memory alone on Windows.
long openFileLimit() {
    return 0;
}

}  // namespace platform
