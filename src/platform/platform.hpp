// What the operating system provides: the Documents folder, the path
// separator, replacing a file by a completed temporary one, locks that mark a
// file as a live process's own, processes, the standard streams, memory and
// the display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace platform {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The user's Documents folder as a narrow path without a trailing separator,
// or "" when it cannot be found (or does not fit the platform's path limit).
std::string documentsFolder();

// The Documents folder a user means when no desktop setting names another
// ("$HOME/Documents"), or "" where there is no such guess to make (Windows).
std::string plainDocumentsFolder();

// Flushes `stream` to the disk; false when the data may not have reached it.
bool syncToDisk(std::FILE* stream);

// A new file at `path`, open for writing, made only when nothing bears that
// name: never through a link planted there, never over another's file. Null
// with errno set when not made.
std::FILE* createNewFile(const std::string& path);

// What stands at a path an output is about to replace, as seen without
// following a link there.
struct PathFacts {
    bool link = false;      // a symbolic link (or another reparse point on Windows)
    bool folder = false;    // a folder
    bool readOnly = false;  // a file no one may write to (mode without a write bit)
};
PathFacts pathFacts(const std::string& path);

// Gives the regular file open as `stream` the permissions (and, where the
// process may, the owner) of the regular file at `model`; anything else is
// left as made. False only when the mode could not be set.
bool keepPermissions(std::FILE* stream, const std::string& model);

// Renames `from` over `to`, replacing an existing file, and makes the rename
// itself durable (the folder synced); false on failure, with errno saying why.
bool replaceFile(const std::string& from, const std::string& to);

// Removes a file; failure is ignored (used to clean up temporary files).
void removeFile(const std::string& path);

// --- Locks on files ----------------------------------------------------------
// An exclusive lock on a file, taken without waiting through a handle of its
// own. It lasts until released, or until the process ends however it ends (a
// kill included), and it follows the file through a rename. Another handle
// cannot take it meanwhile, in this process or any other.

enum class LockState {
    Taken,          // this handle holds it
    HeldElsewhere,  // another handle holds it
    NoFile,         // no file of that name (any more)
    NotSupported,   // the file system gives no locks, or the file cannot be opened
};

class FileLock {
  public:
    FileLock() = default;  // holds nothing: NotSupported
    FileLock(FileLock&& other) noexcept
        : state_(std::exchange(other.state_, LockState::NotSupported)),
          handle_(std::exchange(other.handle_, -1)) {}
    FileLock& operator=(FileLock&& other) noexcept {
        if (this != &other) {
            release();
            state_ = std::exchange(other.state_, LockState::NotSupported);
            handle_ = std::exchange(other.handle_, -1);
        }
        return *this;
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() { release(); }

    LockState state() const { return state_; }
    bool taken() const { return state_ == LockState::Taken; }
    void release();  // gives the lock up; the file stays

  private:
    friend FileLock lockFile(const std::string& path);
    friend FileLock lockFolder(const std::string& folder);
    LockState state_ = LockState::NotSupported;
    std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE on Windows
};

// Takes the lock on the file at `path`, which must be a regular file; its
// state says why not when it is not taken. Never waits.
FileLock lockFile(const std::string& path);

// The lock of a whole folder, for one run at a time working in it: taken
// without waiting, held until released or the process ends (a kill
// included). NoFile when there is no such folder.
FileLock lockFolder(const std::string& folder);

// `bytes` zero bytes that cost memory only where touched, on huge pages where
// the system offers them: touching a few bytes on each of thousands of small
// pages costs far more than the bytes. Null when refused.
void* allocateZeroed(std::size_t bytes);

// Gives back a block of allocateZeroed with its size; null is ignored.
void releaseZeroed(void* block, std::size_t bytes);

// Makes threads started from now on allocate from the heaps earlier threads
// have already touched, rather than each from fresh pages of a heap of its own.
void shareWarmHeaps();

// This process's id.
long processId();

// Makes the standard streams unable to stop the run: descriptors 0 to 2 open
// (on the null device where they were closed, so that no file or connection
// opened later takes their place), and a write to a closed pipe or past the
// file-size limit failing with an error instead of ending the process.
// Called first thing in main.
void secureStandardStreams();

// The machine's memory in bytes (or a smaller limit set for this process),
// 0 when unknown.
std::size_t physicalMemoryBytes();

// "" when windows can be shown; otherwise why not, in plain words. Asks the
// display the way the window library will, so that it is never asked for a
// connection that it would end the process over.
std::string missingDisplay();

// The open files this process may have at once, after raising its own limit
// as far as the system allows; 0 when unknown.
long openFileLimit();

// The size of the screen's area that windows may take (without panels and
// task bars), in pixels; 0 x 0 when it cannot be told.
struct ScreenArea {
    int width = 0;
    int height = 0;
};
ScreenArea screenArea();

// True when the console closes the moment this program ends, as the one a
// double click on Windows opens for it; never for a console a shell owns.
bool consoleClosesAtExit();

}  // namespace platform
