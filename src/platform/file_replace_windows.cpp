// Durable writes, atomic replacement and file locks on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/platform.hpp"

namespace platform {
namespace {

// The one byte locked, far past any data: Windows locks are mandatory, so a
// lock on the file's bytes would keep other programs from reading it.
constexpr DWORD kLockedOffsetHigh = 0x40000000;

}  // namespace

bool syncToDisk(std::FILE* stream) {
    if (std::fflush(stream) != 0) return false;
    // _commit is FlushFileBuffers on the stream's handle
    return _commit(_fileno(stream)) == 0;
}

std::FILE* createNewFile(const std::string& path) {
    // CREATE_NEW fails on any name already there, a link included
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST
                : error == ERROR_PATH_NOT_FOUND                             ? ENOENT
                : error == ERROR_ACCESS_DENIED                              ? EACCES
                                                                            : EIO;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        DeleteFileA(path.c_str());
        errno = EIO;
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (!stream) {
        _close(fd);
        DeleteFileA(path.c_str());
    }
    return stream;
}

PathFacts pathFacts(const std::string& path) {
    PathFacts facts;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return facts;
    facts.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.readOnly = !facts.folder && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    return facts;
}

// A new file takes its folder's inherited permissions, as the replaced one had.
bool keepPermissions(std::FILE*, const std::string&) {
    return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    // the reason as errno, as rename gives it elsewhere; a folder in the way
    // is refused as access denied
    const DWORD error = GetLastError();
    const DWORD target = GetFileAttributesA(to.c_str());
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY))
        errno = EISDIR;
    else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        errno = ENOENT;
    else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
             error == ERROR_LOCK_VIOLATION)
        errno = EACCES;
    else if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        errno = ENOSPC;
    else if (error == ERROR_WRITE_PROTECT)
        errno = EROFS;
    else
        errno = EIO;
    return false;
}

void removeFile(const std::string& path) {
    std::remove(path.c_str());
}

// A handle of its own that shares deletion, so that the file can still be
// renamed (by us) or removed (by whoever takes the lock after us) while held.
FileLock lockFile(const std::string& path) {
    FileLock lock;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        lock.state_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                          ? LockState::NoFile
                          : LockState::NotSupported;
        return lock;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return lock;
    }
    OVERLAPPED place{};
    place.OffsetHigh = kLockedOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place)) {
        const DWORD error = GetLastError();
        lock.state_ = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
                          ? LockState::HeldElsewhere
                          : LockState::NotSupported;
        CloseHandle(file);
        return lock;
    }
    lock.state_ = LockState::Taken;
    lock.handle_ = reinterpret_cast<std::intptr_t>(file);
    return lock;
}

// A file of its own in the folder, shared with no one and gone when the
// handle closes, however the process ends.
FileLock lockFolder(const std::string& folder) {
    FileLock lock;
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        lock.state_ = LockState::NoFile;
        return lock;
    }
    HANDLE file = CreateFileA((folder + "\\.tintsmith.lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        lock.state_ = GetLastError() == ERROR_SHARING_VIOLATION ? LockState::HeldElsewhere
                                                                : LockState::NotSupported;
        return lock;
    }
    lock.state_ = LockState::Taken;
    lock.handle_ = reinterpret_cast<std::intptr_t>(file);
    return lock;
}

void FileLock::release() {
    // the lock goes with the handle
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    state_ = LockState::NotSupported;
}

}  // namespace platform
