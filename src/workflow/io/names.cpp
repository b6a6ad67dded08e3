// The rules for file names, and what a photo can be written as.
#include <cctype>
#include <map>
#include <mutex>

#include <opencv2/imgcodecs.hpp>

#include "platform/platform.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

// '/' ends a folder name on Windows too; a backslash is an ordinary character
// in a POSIX name.
constexpr char kSeparators[] = {'/', platform::kPathSeparator, '\0'};

// Where the file name's extension starts in `path`; npos when it has none.
std::size_t extensionStart(const std::string& path) {
    const std::size_t separator = path.find_last_of(kSeparators);
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    const std::size_t dot = path.rfind('.');
    return dot != std::string::npos && dot > nameStart ? dot : std::string::npos;
}

}  // namespace

std::string fileNameOf(const std::string& path) {
    const std::size_t separator = path.find_last_of(kSeparators);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string folderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of(kSeparators);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string extensionOf(const std::string& path) {
    const std::size_t start = extensionStart(path);
    return start == std::string::npos ? std::string() : path.substr(start);
}

std::string lowercaseExtension(const std::string& path) {
    std::string extension = extensionOf(path);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::string replaceExtension(const std::string& path, const std::string& suffix) {
    return path.substr(0, extensionStart(path)) + suffix;
}

std::string colourFormatProblem(const std::string& path) {
    const std::string extension = lowercaseExtension(path);
    if (extension.empty() || !cv::haveImageWriter(extension))
        return "no image format can be written as " + fileNameOf(path);
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

bool writtenAsJpeg(const std::string& path) {
    const std::string extension = lowercaseExtension(path);
    return (extension == ".jpg" || extension == ".jpeg" || extension == ".jpe") &&
           colourFormatProblem(path).empty();
}

}  // namespace tintsmith
