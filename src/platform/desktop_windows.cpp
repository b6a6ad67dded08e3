// What the desktop offers on Windows: the work area, and the console a double
// click opens.
#include <windows.h>

#include "platform/platform.hpp"

namespace platform {

ScreenArea screenArea() {
    RECT work{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return {};
    return {int(work.right - work.left), int(work.bottom - work.top)};
}

bool consoleClosesAtExit() {
    // a console of its own holds only this process; one a shell opened holds the shell too
    DWORD processes[2];
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 &&
           GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
           GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

}  // namespace platform
