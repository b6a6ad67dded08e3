// Pictures encoded into the bytes of their files, as the name's format asks.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/io/io.hpp"

namespace tintsmith {

Outcome encodeImage(const std::string& path, const cv::Mat& image, std::string& bytes,
                    const std::string& extension, const std::vector<int>& parameters) {
    const std::string format = extension.empty() ? lowercaseExtension(path) : extension;
    const std::string problem = colourFormatProblem(path, format);
    if (!problem.empty()) return failed(problem);
    std::vector<std::uint8_t> encoded;
    bool encodedOk = false;
    try {
        // OpenCV writes a PAM's samples in its own BGR order, where readers expect
        // RGB, and names no tuple type unless asked, which leaves the order to guess
        cv::Mat pixels = image;
        std::vector<int> asked = parameters;
        if (format == ".pam" && image.type() == CV_8UC3) {
            cv::cvtColor(image, pixels, cv::COLOR_BGR2RGB);
            asked.insert(asked.end(), {cv::IMWRITE_PAM_TUPLETYPE, cv::IMWRITE_PAM_FORMAT_RGB});
        }
        encodedOk = !pixels.empty() && cv::imencode(format, pixels, encoded, asked);
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
