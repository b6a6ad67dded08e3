// Writing files whole or not at all: a failed or interrupted write never
// leaves a truncated file that looks valid.
// Sections: one file · files together · left temporaries.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>

#include "platform/platform.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;

constexpr char kTemporaryPrefix[] = ".tintsmith-";
constexpr char kTemporaryExtension[] = ".tmp";
// Tries for a temporary file before giving up: another run tidying the folder
// may take a new one for a left one in the instant before its lock is taken.
constexpr int kLockAttempts = 3;

// The system's words for the error a rename left in errno.
Outcome renameFailure() {
    const int renameError = errno ? errno : EIO;
    if (renameError == EISDIR || renameError == ENOTEMPTY || renameError == EEXIST)
        return failed("a folder of that name is in the way");
    return failed(std::strerror(renameError));
}

// A name of ours in `folder`: .tintsmith-<process>-<n> and `extension`.
std::string ourName(const std::string& folder, const char* extension) {
    // the same short name whatever the target's length, so that a name
    // that fits the file system always has a temporary that fits too
    static std::atomic<unsigned> counter{0};
    return folder + kTemporaryPrefix + std::to_string(platform::processId()) + "-" +
           std::to_string(counter++) + extension;
}

// True for a file name of ourName's form with `extension`, and nothing else.
bool isOurName(const std::string& name, const std::string& extension) {
    const std::string prefix = kTemporaryPrefix;
    if (name.size() <= prefix.size() + extension.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
        return false;
    const std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - extension.size());
    const std::size_t dash = middle.find('-');
    return dash != 0 && dash != std::string::npos && dash + 1 != middle.size() &&
           middle.find_first_not_of("0123456789-") == std::string::npos &&
           middle.find('-', dash + 1) == std::string::npos && dash <= 18;
}

bool isTemporaryName(const std::string& name) {
    return isOurName(name, kTemporaryExtension);
}

}  // namespace

const FileSystem& systemFiles() {
    static const FileSystem files = {
        [](const std::string& path) { return std::fopen(path.c_str(), "wb"); },
        platform::lockFile,
        [](std::FILE* stream, const std::string& bytes) {
            return bytes.empty() ||
                   std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
        },
        platform::syncToDisk,
        [](std::FILE* stream) { return std::fclose(stream) == 0; },
        platform::replaceFile,
        platform::removeFile};
    return files;
}

// --- One file ----------------------------------------------------------------

Temporary writeTemporary(const std::string& path, const std::string& bytes, Outcome& outcome,
                         const FileSystem& files) {
    Temporary temporary;
    std::FILE* stream = nullptr;
    for (int attempt = 0; attempt < kLockAttempts && !stream; ++attempt) {
        temporary.path = temporaryPathFor(path);
        errno = 0;
        stream = files.open(temporary.path);
        if (!stream) {
            outcome = failed(std::strerror(errno ? errno : EIO));
            return {};
        }
        // ours before a byte is written; where the file system has no locks it
        // stays unlocked, and no run ever takes it for a left one
        temporary.lock = files.lock(temporary.path);
        const platform::LockState state = temporary.lock.state();
        if (state == platform::LockState::HeldElsewhere || state == platform::LockState::NoFile) {
            // a run tidying the folder took it for a left one: it goes, another name comes
            files.close(stream);
            files.remove(temporary.path);
            stream = nullptr;
        }
    }
    if (!stream) {
        outcome = failed("another program kept removing its temporary files");
        return {};
    }
    errno = 0;
    bool written = files.write(stream, bytes) && files.sync(stream);
    int writeError = errno;
    if (!files.close(stream) && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        files.remove(temporary.path);
        outcome = failed(std::strerror(writeError ? writeError : EIO));
        return {};
    }
    return temporary;
}

Outcome moveIntoPlace(Temporary temporary, const std::string& path, const FileSystem& files) {
    errno = 0;
    if (files.rename(temporary.path, path)) return {};
    const Outcome outcome = renameFailure();
    files.remove(temporary.path);
    return outcome;
}

Outcome readWholeFile(const std::string& path, std::string& content) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return failed(std::strerror(errno));
    content.clear();
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok ? Outcome{} : failed("the file could not be read");
}

std::string temporaryPathFor(const std::string& path) {
    return ourName(folderOf(path), kTemporaryExtension);
}

Outcome replaceFileContents(const std::string& path, const std::string& bytes,
                            const FileSystem& files) {
    Outcome outcome;
    Temporary temporary = writeTemporary(path, bytes, outcome, files);
    return temporary.path.empty() ? outcome : moveIntoPlace(std::move(temporary), path, files);
}

// --- Files together ----------------------------------------------------------

FilesReplaced replaceFilesTogether(const std::vector<FileContents>& contents,
                                   const FileSystem& files) {
    // every file complete on the disk before any of them replaces its old one
    std::vector<Temporary> temporaries;
    // what each file but the last held, so that one already replaced can be
    // put back when a later one cannot (on Windows, a file another program
    // holds open cannot be replaced)
    enum class Before { Absent, Kept, Unread };
    std::vector<Before> was(contents.size(), Before::Absent);
    std::vector<std::string> before(contents.size());
    FilesReplaced result;
    auto discard = [&] {
        for (const Temporary& temporary : temporaries) files.remove(temporary.path);
    };
    std::size_t& index = result.failedIndex;
    for (index = 0; index < contents.size(); ++index) {
        const std::string& path = contents[index].path;
        std::error_code error;
        if (fs::is_directory(fs::path(path), error)) {
            discard();
            result.outcome = failed("a folder of that name is in the way");
            return result;
        }
        if (index + 1 < contents.size() && fs::exists(path, error))
            was[index] = readWholeFile(path, before[index]).done ? Before::Kept : Before::Unread;
        Temporary temporary = writeTemporary(path, contents[index].bytes, result.outcome, files);
        if (temporary.path.empty()) {
            discard();
            return result;
        }
        temporaries.push_back(std::move(temporary));
    }
    for (index = 0; index < contents.size(); ++index) {
        errno = 0;
        if (files.rename(temporaries[index].path, contents[index].path)) {
            // no longer a temporary file; and on Windows a file held open
            // cannot be replaced, as putting an older one back has to
            temporaries[index].lock.release();
            continue;
        }
        result.outcome = renameFailure();
        discard();
        for (std::size_t i = 0; i < index; ++i) {
            if (was[i] == Before::Absent)
                files.remove(contents[i].path);
            else if (was[i] == Before::Unread ||
                     !replaceFileContents(contents[i].path, before[i], files).done)
                result.mismatched = true;
        }
        return result;
    }
    result.failedIndex = 0;
    return result;
}

// --- Left temporaries ----------------------------------------------------------

int removeLeftTemporaries(const std::string& folder) {
    std::error_code error;
    int removed = 0;
    for (fs::directory_iterator it(fs::path(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (!isTemporaryName(name) || !fs::is_regular_file(it->symlink_status(ignored))) continue;
        // its writer holds the lock until it is renamed; a free one's writer is gone
        const platform::FileLock lock = platform::lockFile(it->path().string());
        if (lock.taken() && fs::remove(it->path(), ignored)) ++removed;
    }
    return removed;
}

Outcome encodeImage(const std::string& path, const cv::Mat& image, std::string& bytes) {
    const std::string problem = colourFormatProblem(path);
    if (!problem.empty()) return failed(problem);
    const std::string extension = extensionOf(path);
    std::vector<std::uint8_t> encoded;
    bool encodedOk = false;
    try {
        encodedOk = !image.empty() && cv::imencode(extension, image, encoded);
    } catch (const cv::Exception&) {
        encodedOk = false;
    }
    if (!encodedOk)
        return failed("the " + std::to_string(image.cols) + " x " + std::to_string(image.rows) +
                      " picture could not be encoded as " + extension +
                      " (the format may not allow that size)");
    bytes.assign(encoded.begin(), encoded.end());
    return {};
}

Outcome writeImageFile(const std::string& path, const cv::Mat& image) {
    std::string bytes;
    const Outcome encoded = encodeImage(path, image, bytes);
    return encoded.done ? replaceFileContents(path, bytes) : encoded;
}

}  // namespace tintsmith
