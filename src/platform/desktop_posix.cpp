// What the desktop offers on X11: the screen's usable area.
#include <dlfcn.h>

#include "platform/platform.hpp"

namespace platform {

ScreenArea screenArea() {
    ScreenArea area;
    // Xlib, loaded only for this, as the display check loads libxcb
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!x11) return area;
    using Open = void* (*)(const char*);
    using Close = int (*)(void*);
    using ScreenNumber = int (*)(void*);
    using Size = int (*)(void*, int);
    using Root = unsigned long (*)(void*, int);
    using Intern = unsigned long (*)(void*, const char*, int);
    using GetProperty =
        int (*)(void*, unsigned long, unsigned long, long, long, int, unsigned long, unsigned long*,
                int*, unsigned long*, unsigned long*, unsigned char**);
    using Free = int (*)(void*);
    auto open = reinterpret_cast<Open>(dlsym(x11, "XOpenDisplay"));
    auto close = reinterpret_cast<Close>(dlsym(x11, "XCloseDisplay"));
    auto screenNumber = reinterpret_cast<ScreenNumber>(dlsym(x11, "XDefaultScreen"));
    auto width = reinterpret_cast<Size>(dlsym(x11, "XDisplayWidth"));
    auto height = reinterpret_cast<Size>(dlsym(x11, "XDisplayHeight"));
    auto root = reinterpret_cast<Root>(dlsym(x11, "XRootWindow"));
    auto intern = reinterpret_cast<Intern>(dlsym(x11, "XInternAtom"));
    auto getProperty = reinterpret_cast<GetProperty>(dlsym(x11, "XGetWindowProperty"));
    auto release = reinterpret_cast<Free>(dlsym(x11, "XFree"));
    void* display =
        open && close && screenNumber && width && height && root && intern && getProperty && release
            ? open(nullptr)
            : nullptr;
    if (display) {
        const int screen = screenNumber(display);
        area = {width(display, screen), height(display, screen)};
        // the window manager's work area, when it publishes one: x, y, width, height
        constexpr unsigned long kCardinal = 6;  // XA_CARDINAL
        unsigned long type = 0, count = 0, left = 0;
        int format = 0;
        unsigned char* data = nullptr;
        const unsigned long workArea = intern(display, "_NET_WORKAREA", 1);
        if (workArea &&
            getProperty(display, root(display, screen), workArea, 0, 4, 0, kCardinal, &type,
                        &format, &count, &left, &data) == 0 &&
            data && format == 32 && count >= 4) {
            const long* values = reinterpret_cast<const long*>(data);  // format 32 comes as longs
            if (values[2] > 0 && values[3] > 0) area = {int(values[2]), int(values[3])};
        }
        if (data) release(data);
        close(display);
    }
    dlclose(x11);
    return area;
}

bool consoleClosesAtExit() {
    return false;  // a terminal's window is the terminal's own business
}

}  // namespace platform
