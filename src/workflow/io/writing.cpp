// Writing files whole or not at all: a failed or interrupted write never
// leaves a truncated file that looks valid.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/platform.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

constexpr char kTemporaryPrefix[] = ".tintsmith-";
constexpr char kTemporaryExtension[] = ".tmp";

// The system's words for the error a rename left in errno.
Outcome renameFailure() {
    const int renameError = errno ? errno : EIO;
    if (renameError == EISDIR || renameError == ENOTEMPTY || renameError == EEXIST)
        return failed("a folder of that name is in the way");
    return failed(std::strerror(renameError));
}

}  // namespace

const FileSystem& systemFiles() {
    static const FileSystem files = {
        [](const std::string& path) { return std::fopen(path.c_str(), "wb"); },
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

std::string writeTemporary(const std::string& path, const std::string& bytes, Outcome& outcome,
                           const FileSystem& files) {
    const std::string temporary = temporaryPathFor(path);
    errno = 0;
    std::FILE* stream = files.open(temporary);
    if (!stream) {
        outcome = failed(std::strerror(errno ? errno : EIO));
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
        files.remove(temporary);
        outcome = failed(std::strerror(writeError ? writeError : EIO));
        return {};
    }
    return temporary;
}

Outcome moveIntoPlace(const std::string& temporary, const std::string& path,
                      const FileSystem& files) {
    errno = 0;
    if (files.rename(temporary, path)) return {};
    const Outcome outcome = renameFailure();
    files.remove(temporary);
    return outcome;
}

Outcome replaceFileContents(const std::string& path, const std::string& bytes,
                            const FileSystem& files) {
    Outcome outcome;
    const std::string temporary = writeTemporary(path, bytes, outcome, files);
    return temporary.empty() ? outcome : moveIntoPlace(temporary, path, files);
}

FilesReplaced replaceFilesTogether(const std::vector<FileContents>& contents,
                                   const FileSystem& files) {
    // every file complete on the disk before any of them replaces its old one
    std::vector<std::string> temporaries;
    // what each file but the last held, so that one already replaced can be
    // put back when a later one cannot (on Windows, a file another program
    // holds open cannot be replaced)
    enum class Before { Absent, Kept, Unread };
    std::vector<Before> was(contents.size(), Before::Absent);
    std::vector<std::string> before(contents.size());
    FilesReplaced result;
    auto discard = [&] {
        for (const std::string& temporary : temporaries) files.remove(temporary);
    };
    std::size_t& index = result.failedIndex;
    for (index = 0; index < contents.size(); ++index) {
        const std::string& path = contents[index].path;
        std::error_code error;
        if (std::filesystem::is_directory(std::filesystem::path(path), error)) {
            discard();
            result.outcome = failed("a folder of that name is in the way");
            return result;
        }
        if (index + 1 < contents.size() && std::filesystem::exists(path, error))
            was[index] = readWholeFile(path, before[index]).done ? Before::Kept : Before::Unread;
        std::string temporary = writeTemporary(path, contents[index].bytes, result.outcome, files);
        if (temporary.empty()) {
            discard();
            return result;
        }
        temporaries.push_back(temporary);
    }
    for (index = 0; index < contents.size(); ++index) {
        errno = 0;
        if (files.rename(temporaries[index], contents[index].path)) continue;
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
    // the same short name whatever the target's length, so that a name
    // that fits the file system always has a temporary that fits too
    static std::atomic<unsigned> counter{0};
    return folderOf(path) + kTemporaryPrefix + std::to_string(platform::processId()) + "-" +
           std::to_string(counter++) + kTemporaryExtension;
}

int removeLeftTemporaries(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    int removed = 0;
    const std::string prefix = kTemporaryPrefix, extension = kTemporaryExtension;
    for (fs::directory_iterator it(fs::path(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        // .tintsmith-<process>-<number>.tmp, and nothing else
        if (name.size() <= prefix.size() + extension.size() ||
            name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
            continue;
        const std::string middle =
            name.substr(prefix.size(), name.size() - prefix.size() - extension.size());
        const std::size_t dash = middle.find('-');
        if (dash == 0 || dash == std::string::npos || dash + 1 == middle.size() ||
            middle.find_first_not_of("0123456789-") != std::string::npos ||
            middle.find('-', dash + 1) != std::string::npos || dash > 18)
            continue;
        const long process = std::stol(middle.substr(0, dash));
        if (process == platform::processId() || platform::processAlive(process)) continue;
        std::error_code ignored;
        if (fs::is_regular_file(it->symlink_status(ignored)) && fs::remove(it->path(), ignored))
            ++removed;
    }
    return removed;
}

Outcome encodeImage(const std::string& path, const cv::Mat& image, std::string& bytes,
                    const std::string& extension) {
    const std::string format = extension.empty() ? lowercaseExtension(path) : extension;
    const std::string problem = colourFormatProblem(path, format);
    if (!problem.empty()) return failed(problem);
    std::vector<std::uint8_t> encoded;
    bool encodedOk = false;
    try {
        // OpenCV writes a PAM's samples in its own BGR order, where readers expect RGB
        cv::Mat pixels = image;
        if (format == ".pam" && image.type() == CV_8UC3)
            cv::cvtColor(image, pixels, cv::COLOR_BGR2RGB);
        encodedOk = !pixels.empty() && cv::imencode(format, pixels, encoded);
    } catch (const cv::Exception&) {
        encodedOk = false;
    }
    if (!encodedOk)
        return failed("the " + std::to_string(image.cols) + " x " + std::to_string(image.rows) +
                      " picture could not be encoded as " + format +
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
