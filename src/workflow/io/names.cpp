// The rules for file names, and what a photo can be written as.
#include <algorithm>
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

// The side of the picture a writer is tried with.
constexpr int kFormatProbeSide = 64;

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

std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

std::string lowercaseExtension(const std::string& path) {
    return asciiLower(extensionOf(path));
}

std::string replaceExtension(const std::string& path, const std::string& suffix) {
    return path.substr(0, extensionStart(path)) + suffix;
}

std::string encodingFor(const std::string& path, const std::string& contentExtension) {
    const std::string own = lowercaseExtension(path);
    if (!own.empty() && cv::haveImageWriter(own)) return own;
    if (!contentExtension.empty() && cv::haveImageWriter(contentExtension)) return contentExtension;
    return {};
}

std::string colourFormatProblem(const std::string& path, const std::string& extension) {
    const std::string format = extension.empty() ? lowercaseExtension(path) : extension;
    if (format.empty() || !cv::haveImageWriter(format))
        return "no image format can be written as " + fileNameOf(path);
    static std::mutex mutex;
    static std::map<std::string, std::string> known;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = known.find(format);
    if (found != known.end()) return found->second;
    // a small colour picture through the encoder and back shows what it keeps;
    // of a size every writer takes (JPEG 2000 wants 32 x 32 at least)
    std::string problem;
    try {
        cv::Mat probe(kFormatProbeSide, kFormatProbeSide, CV_8UC3, cv::Scalar(20, 120, 220));
        std::vector<std::uint8_t> encoded;
        cv::Mat back;
        if (cv::imencode(format, probe, encoded))
            back = cv::imdecode(encoded, cv::IMREAD_UNCHANGED);
        if (back.empty())
            problem = "the " + format + " format cannot hold a colour photo";
        else if (back.depth() != CV_8U)
            problem = "the " + format + " format holds floating-point pixels, not 8-bit colours";
        else if (back.channels() < 3)
            problem = "the " + format + " format holds only grey";
    } catch (const cv::Exception&) {
        problem = "the " + format + " format cannot hold a colour photo";
    }
    known[format] = problem;
    return problem;
}

bool writtenAsJpeg(const std::string& extension) {
    const std::string format = asciiLower(extension);
    return (format == ".jpg" || format == ".jpeg" || format == ".jpe") &&
           colourFormatProblem("photo" + format, format).empty();
}

std::string nameMeetingKey(const std::string& name) {
    // the base letters of U+00C0 to U+017F, in lower case
    static const char kLatin[] =
        "aaaaaaaceeeeiiiidnooooo*ouuuuytsaaaaaaaceeeeiiiidnooooo/ouuuuyty"
        "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiiiiijjkkklllllllllln"
        "nnnnnnnnoooooooorrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";
    std::string key;
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x80 || (c & 0xe0) != 0xc0 || i + 1 >= name.size()) {
            key.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c));
            ++i;
            continue;
        }
        // a two-byte character: accents off, capitals down, combining marks gone
        unsigned point = (c & 0x1fu) << 6 | (static_cast<unsigned char>(name[i + 1]) & 0x3fu);
        i += 2;
        if (point >= 0x300 && point <= 0x36f) continue;
        if (point >= 0xc0 && point <= 0x17f) {
            key.push_back(kLatin[point - 0xc0]);
            continue;
        }
        if ((point >= 0x391 && point <= 0x3a9) || (point >= 0x410 && point <= 0x42f)) point += 0x20;
        if (point >= 0x400 && point <= 0x40f) point += 0x50;
        key.push_back(char(0xc0 | (point >> 6)));
        key.push_back(char(0x80 | (point & 0x3f)));
    }
    return key;
}

bool sameFileOnDisk(const std::string& a, const std::string& b,
                    const std::vector<std::string>& listed) {
    const auto has = [&](const std::string& name) {
        return std::find(listed.begin(), listed.end(), name) != listed.end();
    };
    return !(has(a) && has(b));
}

}  // namespace tintsmith
