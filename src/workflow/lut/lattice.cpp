// The identity lattice that the model turns into the LUT image.
#include <cmath>

#include <opencv2/core.hpp>

#include "workflow/lut/lut.hpp"

namespace tintsmith {

cv::Mat identityLattice() {
    auto level = [](int i) {
        return static_cast<std::uint8_t>(std::lround(i * 255.0 / (kLutSize - 1)));
    };
    cv::Mat lattice(kLatticeSide, kLatticeSide, CV_8UC3);
    for (int k = 0; k < kLutSize; ++k)
        for (int y = 0; y < kLutSize; ++y)
            for (int x = 0; x < kLutSize; ++x)
                lattice.at<cv::Vec3b>(kLutSize * (k / kLatticeTiles) + y,
                                      kLutSize * (k % kLatticeTiles) + x) =
                    cv::Vec3b(level(k), level(y), level(x));
    return lattice;
}

std::string latticeProblem(const cv::Mat& lattice) {
    const cv::Mat identity = identityLattice();
    if (lattice.size() != identity.size() || lattice.type() != identity.type())
        return "not the identity lattice (" + std::to_string(lattice.cols) + " x " +
               std::to_string(lattice.rows) + " pixels, not 512 x 512 in 8-bit colour)";
    cv::Mat difference;
    cv::absdiff(lattice, identity, difference);
    std::vector<cv::Mat> planes;
    cv::split(difference, planes);
    const int wrong = cv::countNonZero(planes[0] | planes[1] | planes[2]);
    if (wrong == 0) return {};
    return "not the identity lattice: " + std::to_string(wrong) +
           " of its 262144 pixels differ from it (resaved as JPEG, with a palette or in grey, "
           "a lattice is one no longer), so a cube from it would not be the correction";
}

Outcome writeIdentityLattice(const std::string& path) {
    return writeImageFile(path, identityLattice());
}

}  // namespace tintsmith
