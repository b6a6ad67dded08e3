// What the workflow tests share: the sample chart photo with the model fitted on
// it (detected and fitted once per test process), and made-up photos.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "temp_folder.hpp"
#include "workflow/chart/chart.hpp"

namespace tintsmith {

// The sample chart photo, its one chart and the model fitted on it with the
// clone reference, as a run on the photo would fit it; made once per process.
struct FittedSample {
    cv::Mat photo;  // as read: tests draw into copies
    CheckerList checkers;
    cv::Mat measured;  // the chart's patches
    cv::ccm::ColorCorrectionModel model;
};

inline const FittedSample& fittedSample() {
    static const FittedSample sample = [] {
        cv::Mat photo = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR);
        CheckerList checkers = detectCharts(photo, cv::mcc::MCC24);
        if (checkers.size() != 1) throw std::runtime_error("not one chart in the sample photo");
        cv::Mat measured = measuredPatchColours(checkers.front());
        Fit fit = fitModel(measured, chartReference(0));
        if (!fit.outcome.done) throw std::runtime_error(fit.outcome.reason);
        return FittedSample{photo, checkers, measured, *fit.model};
    }();
    return sample;
}

// Uniform noise: about as many colours as pixels.
inline cv::Mat randomImage(int rows, int cols, std::uint64_t seed) {
    cv::Mat image(rows, cols, CV_8UC3);
    cv::RNG rng(seed);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// Colours drawn from a palette, as a photo repeats its colours many times.
inline cv::Mat paletteImage(int rows, int cols, int colours, std::uint64_t seed) {
    cv::RNG rng(seed);
    cv::Mat palette = randomImage(1, colours, seed + 1);
    cv::Mat image(rows, cols, CV_8UC3);
    for (int row = 0; row < rows; ++row)
        for (int col = 0; col < cols; ++col)
            image.at<cv::Vec3b>(row, col) = palette.at<cv::Vec3b>(0, rng.uniform(0, colours));
    return image;
}

// An Exif segment holding one IFD0 entry, as a camera writes it (Intel order).
inline std::vector<std::uint8_t> exifSegment(std::uint16_t tag, std::uint16_t type,
                                             std::uint16_t value) {
    const auto low = [](std::uint16_t v) { return std::uint8_t(v); };
    const auto high = [](std::uint16_t v) { return std::uint8_t(v >> 8); };
    // clang-format off
    return {'E', 'x', 'i', 'f', 0, 0,
            'I', 'I', 42, 0, 8, 0, 0, 0,  // TIFF header, the directory at 8
            1, 0,                         // one entry: tag, type, count, value
            low(tag), high(tag), low(type), high(type), 1, 0, 0, 0, low(value), high(value), 0, 0,
            0, 0, 0, 0};                  // no next directory
    // clang-format on
}

// An Exif segment whose picture directory (IFD0) names no orientation and whose
// thumbnail directory (IFD1) names `value`, as some cameras write it.
inline std::vector<std::uint8_t> thumbnailOrientationSegment(std::uint16_t value) {
    std::vector<std::uint8_t> segment = exifSegment(0x010f, 2, 0);
    const std::vector<std::uint8_t> turned = exifSegment(0x0112, 3, value);
    segment[28] = 26;  // IFD0 links to IFD1, right behind it
    segment.insert(segment.end(), turned.begin() + 14, turned.end());
    return segment;
}

// A LUT image whose pixel at (row, col) encodes its own position.
inline cv::Mat positionImage(int rows, int cols) {
    cv::Mat image(rows, cols, CV_8UC3);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            image.at<cv::Vec3b>(r, c) =
                cv::Vec3b(uchar(c % 256), uchar(r % 256), uchar((r / 256) * 2 + c / 256));
    return image;
}

// Same size, same type, every byte equal; prints the first difference.
inline ::testing::AssertionResult sameBytes(const cv::Mat& expected, const cv::Mat& actual) {
    if (expected.size() != actual.size() || expected.type() != actual.type())
        return ::testing::AssertionFailure() << "size or type differs";
    for (int row = 0; row < expected.rows; ++row)
        for (int col = 0; col < expected.cols; ++col)
            if (expected.at<cv::Vec3b>(row, col) != actual.at<cv::Vec3b>(row, col))
                return ::testing::AssertionFailure()
                       << "first difference at row " << row << ", column " << col << ": "
                       << expected.at<cv::Vec3b>(row, col) << " against "
                       << actual.at<cv::Vec3b>(row, col);
    return ::testing::AssertionSuccess();
}

// A batch's folders, Photos/ and ccPhotos/, made in the test's own folder, and
// the sample's model to correct with.
struct BatchFolderTest : TempFolderTest {
    void SetUp() override {
        TempFolderTest::SetUp();
        in = folder + "Photos/";
        out = folder + "ccPhotos/";
        std::filesystem::create_directories(in);
        std::filesystem::create_directories(out);
    }
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    std::string in, out;
};

}  // namespace tintsmith
