// Writes the identity lattice original.png: 8 x 8 tiles of 64 x 64 pixels,
// red level x, green level y and blue level k (the tile) at lattice point
// (x, y, k); level i of 64 is round(i * 255 / 63).
// Usage: make_lattice OUTPUT.png
#include <cmath>
#include <iostream>

#include <opencv2/imgcodecs.hpp>

#include "workflow/workflow.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cout << "usage: make_lattice OUTPUT.png" << std::endl;
        return 2;
    }
    auto level = [](int i) { return static_cast<std::uint8_t>(std::lround(i * 255.0 / 63)); };
    cv::Mat lattice(512, 512, CV_8UC3);
    for (int k = 0; k < 64; ++k)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                lattice.at<cv::Vec3b>(64 * (k / 8) + y, 64 * (k % 8) + x) =
                    cv::Vec3b(level(k), level(y), level(x));
    return tintsmith::writeImageFile(argv[1], lattice) ? 0 : 1;
}
