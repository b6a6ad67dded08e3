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
namespace {

// fsync fails with EINVAL on what cannot be synced (pipes, devices) and EROFS
// on a read-only file system; the data did reach them, so only real I/O errors
// count.
bool syncedOrUnsyncable(int fd) {
    return fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
}

}  // namespace

bool syncToDisk(std::FILE* stream) {
    return std::fflush(stream) == 0 && syncedOrUnsyncable(fileno(stream));
}

std::FILE* createNewFile(const std::string& path) {
    // O_EXCL alone refuses a link at the name; O_NOFOLLOW says so twice
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* stream = fdopen(fd, "wb");
    if (!stream) {
        const int error = errno;
        close(fd);
        unlink(path.c_str());
        errno = error;
    }
    return stream;
}

PathFacts pathFacts(const std::string& path) {
    PathFacts facts;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) return facts;
    facts.link = S_ISLNK(status.st_mode);
    facts.folder = S_ISDIR(status.st_mode);
    facts.readOnly = S_ISREG(status.st_mode) && (status.st_mode & 0222) == 0;
    return facts;
}

bool keepPermissions(std::FILE* stream, const std::string& model) {
    struct stat made, kept;
    const int fd = fileno(stream);
    if (fstat(fd, &made) != 0 || !S_ISREG(made.st_mode) || stat(model.c_str(), &kept) != 0 ||
        !S_ISREG(kept.st_mode))
        return true;
    // the owner first, as changing it may clear set-id bits; only a privileged
    // process may give a file away, so a refusal leaves it ours (or its group alone)
    if (made.st_uid != kept.st_uid || made.st_gid != kept.st_gid) {
        [[maybe_unused]] const bool owned =
            fchown(fd, kept.st_uid, kept.st_gid) == 0 || fchown(fd, -1, kept.st_gid) == 0;
    }
    return fchmod(fd, kept.st_mode & 07777) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    // the rename is in the folder's data: until that reaches the disk, a power
    // cut can leave the old file, or none, under the name
    const std::size_t slash = to.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;  // a folder we may write to but not read: nothing to sync through
    const bool synced = syncedOrUnsyncable(fd);
    const int error = errno;
    close(fd);
    errno = error;
    return synced;
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

// flock on the folder itself: no file of ours is left in it, and the lock
// goes with the last descriptor when the process ends.
FileLock lockFolder(const std::string& folder) {
    FileLock lock;
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        lock.state_ =
            errno == ENOENT || errno == ENOTDIR ? LockState::NoFile : LockState::NotSupported;
        return lock;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lock.state_ = errno == EWOULDBLOCK ? LockState::HeldElsewhere : LockState::NotSupported;
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
