// Processes, the standard streams, memory and the display on POSIX systems.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.hpp"

namespace platform {
namespace {

constexpr int kDisplayAttempts = 5;
constexpr useconds_t kDisplayRetryMicroseconds = 200000;

}  // namespace

long processId() {
    return static_cast<long>(getpid());
}

void secureStandardStreams() {
    // in order, so that each open takes the lowest free descriptor: the closed one
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
    // a failed write is then an error the run tells, not the end of it
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

std::size_t physicalMemoryBytes() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGE_SIZE);
    std::size_t memory = pages > 0 && pageSize > 0 ? std::size_t(pages) * std::size_t(pageSize) : 0;
    // a container's limit is the one that counts
    std::ifstream limitFile("/sys/fs/cgroup/memory.max");
    std::string limit;
    if (limitFile >> limit && !limit.empty() &&
        limit.find_first_not_of("0123456789") == std::string::npos) {
        std::size_t bytes = std::strtoull(limit.c_str(), nullptr, 10);
        if (bytes > 0 && (memory == 0 || bytes < memory)) memory = bytes;
    }
    return memory;
}

long openFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    // the soft limit may rise to the hard one without asking anyone
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 1000000 ? 1000000
                                                                       : long(limit.rlim_cur);
}

namespace {

// "" when a Wayland compositor answers at the socket Qt's wayland platform
// connects to ($WAYLAND_DISPLAY, by default wayland-0, in $XDG_RUNTIME_DIR);
// else why not. Qt aborts the process when none does.
std::string missingWayland() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    std::string socketPath = name && *name ? name : "wayland-0";
    if (socketPath.front() != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime)
            return "the Wayland platform is chosen (QT_QPA_PLATFORM), but XDG_RUNTIME_DIR is not "
                   "set";
        socketPath = std::string(runtime) + "/" + socketPath;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return "the Wayland display's path " + socketPath + " is too long";
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};  // no way to ask: left to Qt
    const bool answered =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answered ? ""
                    : "the Wayland platform is chosen (QT_QPA_PLATFORM), but no Wayland "
                      "compositor answers at " +
                          socketPath;
}

}  // namespace

std::string missingDisplay() {
#if defined(__APPLE__)
    return {};
#else
    // Qt's default platform is X11, and it aborts the process when no X
    // server answers, as it does when no Wayland compositor does for the
    // wayland platform; another platform chosen by the user is left to Qt.
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    const std::string chosen = platformName ? platformName : "";
    // a list ("wayland;xcb") is tried in order: the first is the one asked
    if (chosen.rfind("wayland", 0) == 0 && chosen.find(';') == std::string::npos)
        return missingWayland();
    if (!chosen.empty() && chosen.rfind("xcb", 0) != 0) return {};
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return "no display is set (DISPLAY is empty)";
    // ask the X server the way Qt will, through libxcb, loaded only for this
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) return {};
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    std::string why;
    if (connect && hasError && disconnect) {
        // An X server with no clients resets itself and refuses connections
        // meanwhile: a few tries, and the connection that answers stays open
        // for the whole run, so that the server cannot reset before Qt connects.
        for (int attempt = 0; attempt < kDisplayAttempts; ++attempt) {
            void* connection = connect(nullptr, nullptr);
            if (connection && !hasError(connection)) return {};
            if (connection) disconnect(connection);
            usleep(kDisplayRetryMicroseconds);
        }
        why = std::string("the display ") + display + " cannot be reached";
    }
    dlclose(xcb);
    return why;
#endif
}

}  // namespace platform
