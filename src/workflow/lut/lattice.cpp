// The identity lattice that the model turns into the LUT image.
#include <cmath>

#include <opencv2/imgcodecs.hpp>

#include "workflow/lut/lut.hpp"

namespace tintsmith {

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

cv::Mat readLattice(const std::string& path) {
    return cv::imread(path, cv::IMREAD_COLOR);
}

}  // namespace tintsmith
