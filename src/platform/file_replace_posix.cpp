// Durable writes, atomic replacement and file locks on POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// flock rather than fcntl's locks: those belong to the process, so closing any
// other descriptor of the file (reading it back, say) would drop them, and a
// second descriptor of this same process would never see them held.
FileLock lockFile(const std::string& path) {
    FileLock lock;
    // non-blocking, so that a pipe of that name cannot stall the open
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        lock.state_ = errno == ENOENT ? LockState::NoFile : LockState::NotSupported;
        return lock;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return lock;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lock.state_ = errno == EWOULDBLOCK ? LockState::HeldElsewhere : LockState::NotSupported;
        close(fd);
        return lock;
    }
    // the holder before us may have removed the file before letting go of it
    if (fstat(fd, &status) != 0 || status.st_nlink == 0) {
        lock.state_ = LockState::NoFile;
        close(fd);
        return lock;
    }
    lock.state_ = LockState::Taken;
    lock.handle_ = fd;
    return lock;
}

void FileLock::release() {
    if (handle_ >= 0) close(static_cast<int>(handle_));  // the lock goes with the descriptor
    handle_ = -1;
    state_ = LockState::NotSupported;
}

}  // namespace platform
