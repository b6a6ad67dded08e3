// Writing a file whole or not at all: a failed or interrupted write never
// leaves a truncated file that looks valid. The replacement of files together
// is replacing.cpp's.
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/platform.hpp"
#include "workflow/io/io.hpp"
#include "workflow/io/temporary_names.hpp"
#include "workflow/io/writing.hpp"

namespace tintsmith {
namespace {

constexpr char kTemporaryPrefix[] = ".tintsmith-";
constexpr char kTemporaryExtension[] = ".tmp";
// Why a file cannot be put where a folder bears its name.
constexpr char kFolderInTheWay[] = "a folder of that name is in the way";

// Tries for a temporary file before giving up: another run tidying the folder
// may take a new one for a left one in the instant before its lock is taken.
constexpr int kLockAttempts = 3;
// Names of ours tried past ones something else already bears (a link planted
// there, a stranger's file) before giving up.
constexpr int kTakenNames = 64;

}  // namespace

Outcome renameFailure() {
    const int renameError = errno ? errno : EIO;
    if (renameError == EISDIR || renameError == ENOTEMPTY || renameError == EEXIST)
        return failed(kFolderInTheWay);
    return failed(std::strerror(renameError));
}

std::string ourName(const std::string& folder, const char* extension) {
    // the same short name whatever the target's length, so that a name
    // that fits the file system always has a temporary that fits too
    static std::atomic<unsigned> counter{0};
    return folder + kTemporaryPrefix + std::to_string(platform::processId()) + "-" +
           std::to_string(counter++) + extension;
}

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

Outcome replaceable(const std::string& path) {
    const platform::PathFacts facts = platform::pathFacts(path);
    if (facts.folder) return failed(kFolderInTheWay);
    if (facts.link)
        return failed(
            "it is a link, and Tintsmith writes nothing through a link, which may lead out "
            "of its folder; remove the link, then run Tintsmith again");
    if (facts.readOnly)
        return failed(
            "it is read-only, so it is kept as it is; allow writing to it, or remove it, then "
            "run Tintsmith again");
    return {};
}

const FileSystem& systemFiles() {
    static const FileSystem files = {platform::createNewFile,
                                     platform::lockFile,
                                     [](std::FILE* stream, const std::string& bytes) {
                                         return bytes.empty() ||
                                                std::fwrite(bytes.data(), 1, bytes.size(),
                                                            stream) == bytes.size();
                                     },
                                     platform::syncToDisk,
                                     [](std::FILE* stream) { return std::fclose(stream) == 0; },
                                     platform::replaceFile,
                                     platform::removeFile};
    return files;
}

// --- One file ----------------------------------------------------------------

Temporary writeTemporary(const std::string& path, const std::string& bytes, Outcome& outcome,
                         const FileSystem& files, const std::string& permissionsOf) {
    Temporary temporary;
    std::FILE* stream = nullptr;
    int planted = 0;  // names taken by something already there
    for (int attempt = 0; attempt < kLockAttempts && !stream; ++attempt) {
        temporary.path = temporaryPathFor(path);
        errno = 0;
        stream = files.open(temporary.path);
        if (!stream && errno == EEXIST && ++planted < kTakenNames) {
            --attempt;  // never written through, never ours: the next name
            continue;
        }
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
    // the replaced file's mode (or the original's) before a byte it guards is written
    errno = 0;
    bool written =
        platform::keepPermissions(stream, permissionsOf.empty() ? path : permissionsOf) &&
        files.write(stream, bytes) && files.sync(stream);
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
    Outcome outcome = replaceable(path);
    errno = 0;
    if (outcome.done && files.rename(temporary.path, path)) return {};
    if (outcome.done) outcome = renameFailure();
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
    Outcome outcome = replaceable(path);
    if (!outcome.done) return outcome;
    Temporary temporary = writeTemporary(path, bytes, outcome, files);
    return temporary.path.empty() ? outcome : moveIntoPlace(std::move(temporary), path, files);
}

}  // namespace tintsmith
