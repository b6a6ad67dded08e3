// Conversions between 8-bit BGR files and the model's RGB 0..1 domain, and the
// correction sequence that the LUT export and the batch share.
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {

cv::Mat bgrToModelInput(cv::Mat bgr) {
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    rgb.convertTo(rgb, CV_64F, 1, 0);
    rgb.convertTo(rgb, -1, 1.0 / 255, 0);
    return rgb;
}

cv::Mat modelOutputToBgr(const cv::Mat& rgb) {
    cv::Mat scaled = rgb * 255.0;
    // Rounding goes through int: far out-of-range values would wrap around
    // instead of saturating, so bring them within reach of 0 and 255 first.
    scaled = cv::min(cv::max(scaled, -1.0), 256.0);
    cv::Mat bytes;
    scaled.convertTo(bytes, CV_8UC3, 1, 0);  // rounds and saturates
    cv::Mat bgr;
    cv::cvtColor(bytes, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

cv::Mat identityLattice() {
    auto level = [](int i) { return static_cast<std::uint8_t>(std::lround(i * 255.0 / 63)); };
    cv::Mat lattice(512, 512, CV_8UC3);
    for (int k = 0; k < 64; ++k)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                lattice.at<cv::Vec3b>(64 * (k / 8) + y, 64 * (k % 8) + x) =
                    cv::Vec3b(level(k), level(y), level(x));
    return lattice;
}

cv::Mat correctImage(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model) {
    return modelOutputToBgr(model.infer(bgrToModelInput(bgr), false));
}

}  // namespace tintsmith
