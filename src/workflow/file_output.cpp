// Every output file is written to a temporary file in its own folder and
// renamed over the old one only when complete and on disk, so a failed or
// interrupted write never leaves a truncated file that looks valid.
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>

#include <opencv2/imgcodecs.hpp>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

bool writeAndSync(std::FILE* stream, const std::string& bytes) {
    if (!stream) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size())
        return false;
    return platform::syncToDisk(stream);
}

namespace {

constexpr char kTemporaryPrefix[] = ".tintsmith-";
constexpr char kTemporaryExtension[] = ".tmp";

// Where the folder part of a path ends; npos for a bare name. A backslash is
// an ordinary character in a POSIX name.
std::size_t lastSeparator(const std::string& path) {
#if defined(_WIN32)
    return path.find_last_of("/\\");
#else
    return path.rfind('/');
#endif
}

// The folder part of a path, with its separator; "" for a bare name.
std::string folderOf(const std::string& path) {
    const std::size_t separator = lastSeparator(path);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

WriteResult renameFailure() {
    int renameError = errno ? errno : EIO;
    if (renameError == EISDIR || renameError == ENOTEMPTY || renameError == EEXIST)
        return {WriteOutcome::Failed, "a folder of that name is in the way"};
    return {WriteOutcome::Failed, std::strerror(renameError)};
}

}  // namespace

std::string writeTemporary(const std::string& path, const std::string& bytes,
                           const StreamOpener& open, WriteResult& result) {
    const std::string temporary = temporaryPathFor(path);
    errno = 0;
    std::FILE* stream = open ? open(temporary) : std::fopen(temporary.c_str(), "wb");
    if (!stream) {
        result = {WriteOutcome::NotOpened, std::strerror(errno ? errno : EIO)};
        return {};
    }
    errno = 0;
    bool written = writeAndSync(stream, bytes);
    int writeError = errno;
    if (std::fclose(stream) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        platform::removeFile(temporary);
        result = {WriteOutcome::Failed, std::strerror(writeError ? writeError : EIO)};
        return {};
    }
    return temporary;
}

std::string fileNameOf(const std::string& path) {
    const std::size_t separator = lastSeparator(path);
    return separator == std::string::npos ? path : path.substr(separator + 1);
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

bool readWholeFile(const std::string& path, std::string& content, std::string& why) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        why = std::strerror(errno);
        return false;
    }
    content.clear();
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    if (!ok) why = "the file could not be read";
    return ok;
}

WriteResult moveIntoPlace(const std::string& temporary, const std::string& path) {
    errno = 0;
    if (platform::replaceFile(temporary, path)) return {};
    const WriteResult result = renameFailure();
    platform::removeFile(temporary);
    return result;
}

WriteResult replaceFileContents(const std::string& path, const std::string& bytes,
                                const StreamOpener& open) {
    WriteResult result;
    const std::string temporary = writeTemporary(path, bytes, open, result);
    return temporary.empty() ? result : moveIntoPlace(temporary, path);
}

WriteResult replaceFilesTogether(const std::vector<FileContents>& files, std::size_t& failedIndex,
                                 const StreamOpener& open) {
    // every file complete on the disk before any of them replaces its old one
    std::vector<std::string> temporaries;
    // what each file but the last held, so that one already replaced can be
    // put back when a later one cannot (on Windows, a file another program
    // holds open cannot be replaced)
    enum class Before { Absent, Kept, Unread };
    std::vector<Before> was(files.size(), Before::Absent);
    std::vector<std::string> before(files.size());
    WriteResult result;
    auto discard = [&] {
        for (const std::string& temporary : temporaries) platform::removeFile(temporary);
    };
    for (failedIndex = 0; failedIndex < files.size(); ++failedIndex) {
        const std::string& path = files[failedIndex].path;
        std::error_code error;
        if (std::filesystem::is_directory(std::filesystem::path(path), error)) {
            discard();
            return {WriteOutcome::Failed, "a folder of that name is in the way"};
        }
        std::string why;
        if (failedIndex + 1 < files.size() && std::filesystem::exists(path, error))
            was[failedIndex] =
                readWholeFile(path, before[failedIndex], why) ? Before::Kept : Before::Unread;
        std::string temporary = writeTemporary(path, files[failedIndex].bytes, open, result);
        if (temporary.empty()) {
            discard();
            return result;
        }
        temporaries.push_back(temporary);
    }
    for (failedIndex = 0; failedIndex < files.size(); ++failedIndex) {
        errno = 0;
        if (platform::replaceFile(temporaries[failedIndex], files[failedIndex].path)) continue;
        result = renameFailure();
        discard();
        for (std::size_t i = 0; i < failedIndex; ++i) {
            if (was[i] == Before::Absent)
                platform::removeFile(files[i].path);
            else if (was[i] == Before::Unread ||
                     replaceFileContents(files[i].path, before[i], open).outcome !=
                         WriteOutcome::Written)
                result.mismatched = true;
        }
        return result;
    }
    return {};
}

std::string lowercaseExtension(const std::string& path) {
    const std::string name = fileNameOf(path);
    const std::size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::string colourFormatProblem(const std::string& path) {
    if (!cv::haveImageWriter(path)) return "no image format can be written as " + fileNameOf(path);
    const std::string extension = lowercaseExtension(path);
    static std::mutex mutex;
    static std::map<std::string, std::string> known;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = known.find(extension);
    if (found != known.end()) return found->second;
    // a tiny colour picture through the encoder and back shows what it keeps
    std::string problem;
    try {
        cv::Mat probe(2, 2, CV_8UC3, cv::Scalar(20, 120, 220));
        std::vector<std::uint8_t> encoded;
        cv::Mat back;
        if (cv::imencode(extension, probe, encoded))
            back = cv::imdecode(encoded, cv::IMREAD_UNCHANGED);
        if (back.empty())
            problem = "the " + extension + " format cannot hold a colour photo";
        else if (back.depth() != CV_8U)
            problem = "the " + extension + " format holds floating-point pixels, not 8-bit colours";
        else if (back.channels() < 3)
            problem = "the " + extension + " format holds only grey";
    } catch (const cv::Exception&) {
        problem = "the " + extension + " format cannot hold a colour photo";
    }
    known[extension] = problem;
    return problem;
}

std::string encodeImageFile(const std::string& path, const cv::Mat& image, std::string& bytes) {
    if (!cv::haveImageWriter(path))
        return "Could not write " + path + ": no image format for its extension";
    const std::string extension = path.substr(path.rfind('.'));
    std::vector<std::uint8_t> encoded;
    bool encodedOk = false;
    try {
        encodedOk = !image.empty() && cv::imencode(extension, image, encoded);
    } catch (const cv::Exception&) {
        encodedOk = false;
    }
    if (!encodedOk)
        return "Could not write " + path + ": the " + std::to_string(image.cols) + " x " +
               std::to_string(image.rows) + " picture could not be encoded as " + extension +
               " (the format may not allow that size)";
    bytes.assign(encoded.begin(), encoded.end());
    return {};
}

std::string notWrittenLine(const std::string& path, const WriteResult& result) {
    return "Could not write " + path + ": " + result.reason;
}

bool writtenOrTold(const std::string& path, const WriteResult& result) {
    if (result.outcome == WriteOutcome::Written) return true;
    std::cout << notWrittenLine(path, result) << std::endl;
    return false;
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
    return writtenOrTold(path, replaceFileContents(path, bytes));
}

bool writeImageFile(const std::string& path, const cv::Mat& image) {
    std::string bytes;
    const std::string problem = encodeImageFile(path, image, bytes);
    if (!problem.empty()) {
        std::cout << problem << std::endl;
        return false;
    }
    return writeWholeFile(path, bytes);
}

}  // namespace tintsmith
