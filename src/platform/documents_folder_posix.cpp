// The Documents folder on systems that follow the XDG user-dirs convention.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "platform/platform.hpp"

namespace platform {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// `path` without the trailing '/'s that would double the one put after it.
std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// $HOME, spelt one way for every path built on it.
std::string environmentHome() {
    return withoutTrailingSlashes(environment("HOME"));
}

// The text of the regular file at `path`; "" for anything else (a named pipe
// would wait for a writer for ever), opened without waiting to find out.
std::string regularFileText(const std::string& path) {
    // a real user-dirs.dirs is a few hundred bytes
    constexpr off_t kMostBytes = 1 << 20;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat status;
    std::string text;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kMostBytes) {
        char buffer[4096];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    }
    close(fd);
    return text;
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" from user-dirs.dirs, with $HOME expanded;
// "" when the file or the line is missing.
std::string xdgDocuments(const std::string& home) {
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty()) {
        if (home.empty()) return {};
        config = home + "/.config";
    }
    std::istringstream file(regularFileText(config + "/user-dirs.dirs"));
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    std::string found;
    while (std::getline(file, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() &&
               (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0) {
            if (home.empty()) continue;
            value = home + value.substr(5);
        }
        // Only absolute paths are valid in user-dirs.dirs; the last line wins.
        if (!value.empty() && value.front() == '/') found = value;
    }
    return found;
}

std::string passwdHome() {
    const passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? std::string(entry->pw_dir) : std::string();
}

// $HOME, else the user's entry's home; "" when neither names one.
std::string userHome() {
    const std::string home = environmentHome();
    return home.empty() ? withoutTrailingSlashes(passwdHome()) : home;
}

}  // namespace

std::string documentsFolder() {
    std::string folder = xdgDocuments(environmentHome());
    if (folder.empty()) folder = plainDocumentsFolder();
    folder = withoutTrailingSlashes(folder);
    // A path the system cannot open is as good as none.
    if (folder.size() >= PATH_MAX) return {};
    return folder;
}

std::string plainDocumentsFolder() {
    const std::string home = userHome();
    return home.empty() ? std::string() : home + "/Documents";
}

}  // namespace platform
