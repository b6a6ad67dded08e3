// Durable writes, atomic replacement and file locks on Windows.
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
    return _commit(_fileno(stream)) == 0;
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

void FileLock::release() {
    // the lock goes with the handle
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    state_ = LockState::NotSupported;
}

}  // namespace platform
