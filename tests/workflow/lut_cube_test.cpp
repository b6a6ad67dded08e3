// The conversions between 8-bit BGR and the model's domain, and the cube file.
#include <clocale>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "temp_folder.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Line `entry` of the cube after its size line, without CR LF.
std::string cubeEntry(const std::string& text, long entry) {
    const std::size_t header = 16, line = 28;
    return text.substr(header + entry * line, line - 2);
}

TEST(LutTransform, EveryByteValueSurvivesTheRoundTrip) {
    cv::Mat bgr(1, 256, CV_8UC3);
    for (int v = 0; v < 256; ++v) bgr.at<cv::Vec3b>(v) = cv::Vec3b(v, 255 - v, (v * 7) % 256);
    cv::Mat input = bgrToModelInput(bgr.clone());
    EXPECT_EQ(input.type(), CV_64FC3);
    cv::Mat back = modelOutputToBgr(input);
    EXPECT_EQ(back.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(back, bgr, cv::NORM_INF), 0);
}

TEST(LutTransform, ChannelOrderAndScale) {
    cv::Mat red(1, 1, CV_8UC3, cv::Scalar(0, 0, 255));  // BGR
    cv::Vec3d rgb = bgrToModelInput(red).at<cv::Vec3d>(0);
    EXPECT_EQ(rgb, cv::Vec3d(1.0, 0.0, 0.0));
    cv::Mat out(1, 1, CV_64FC3, cv::Scalar(0.2, 0.4, 0.6));  // RGB
    EXPECT_EQ(modelOutputToBgr(out).at<cv::Vec3b>(0), cv::Vec3b(153, 102, 51));
}

// Regression: values far outside 0..1 wrapped around through int rounding
// (1e9 came out as 0) instead of saturating.
TEST(LutTransform, OutputOutsideZeroToOneSaturates) {
    cv::Mat out(1, 3, CV_64FC3);
    out.at<cv::Vec3d>(0) = cv::Vec3d(-0.5, 1.5, 0.5);
    out.at<cv::Vec3d>(1) = cv::Vec3d(-1e9, 1e9, 1.0);
    out.at<cv::Vec3d>(2) = cv::Vec3d(0.0019, 0.002, 0.9981);  // rounding at the edges
    cv::Mat bgr = modelOutputToBgr(out);
    EXPECT_EQ(bgr.at<cv::Vec3b>(0), cv::Vec3b(128, 255, 0));
    EXPECT_EQ(bgr.at<cv::Vec3b>(1), cv::Vec3b(255, 255, 0));
    EXPECT_EQ(bgr.at<cv::Vec3b>(2), cv::Vec3b(255, 1, 0));
}

TEST(LutTransform, IdentityLatticeHoldsRedXGreenYBlueTile) {
    cv::Mat lattice = identityLattice();
    ASSERT_EQ(lattice.size(), cv::Size(512, 512));
    EXPECT_EQ(lattice.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(lattice.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 4));      // red level 1 = round(255 / 63)
    EXPECT_EQ(lattice.at<cv::Vec3b>(1, 0), cv::Vec3b(0, 4, 0));      // green level 1
    EXPECT_EQ(lattice.at<cv::Vec3b>(0, 64), cv::Vec3b(4, 0, 0));     // tile 1: blue level 1
    EXPECT_EQ(lattice.at<cv::Vec3b>(64, 0), cv::Vec3b(32, 0, 0));    // tile 8: round(8 * 255 / 63)
    EXPECT_EQ(lattice.at<cv::Vec3b>(511, 511), cv::Vec3b(255, 255, 255));
    // through the cube writer, the identity lattice is the Cube format's own order
    std::string text = cubeText(lattice);
    EXPECT_EQ(cubeEntry(text, 1), "0.015686 0.000000 0.000000");
    EXPECT_EQ(cubeEntry(text, 64), "0.000000 0.015686 0.000000");
    EXPECT_EQ(cubeEntry(text, 4096), "0.000000 0.000000 0.015686");
}

// A LUT image whose pixel at (row, col) encodes its own position.
cv::Mat positionImage(int rows, int cols) {
    cv::Mat image(rows, cols, CV_8UC3);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            image.at<cv::Vec3b>(r, c) = cv::Vec3b(uchar(c % 256), uchar(r % 256), uchar((r / 256) * 2 + c / 256));
    return image;
}

std::string expectedEntry(const cv::Mat& image, int row, int col) {
    cv::Vec3b p = image.at<cv::Vec3b>(row, col);
    char text[64];
    std::snprintf(text, sizeof text, "%f %f %f", p[2] / 255.0, p[1] / 255.0, p[0] / 255.0);
    return text;
}

TEST(CubeWriter, EntriesFollowTilesThenRowsThenColumns) {
    cv::Mat lut = positionImage(512, 512);
    std::string text = cubeText(lut);
    ASSERT_EQ(text.size(), 7340048u);
    EXPECT_EQ(text.substr(0, 16), "LUT_3D_SIZE 64\r\n");
    const struct { long entry; int row, col; } cases[] = {
        {0, 0, 0}, {1, 0, 1}, {64, 1, 0}, {4096, 0, 64}, {32768, 64, 0}, {262143, 511, 511}};
    for (const auto& c : cases)
        EXPECT_EQ(cubeEntry(text, c.entry), expectedEntry(lut, c.row, c.col)) << "entry " << c.entry;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(CubeWriter, ValuesAreRedGreenBlueOverTwoFiftyFive) {
    cv::Mat lut(512, 512, CV_8UC3, cv::Scalar(10, 20, 30));
    lut.at<cv::Vec3b>(0, 1) = cv::Vec3b(255, 128, 1);
    lut.at<cv::Vec3b>(0, 2) = cv::Vec3b(0, 0, 254);
    std::string text = cubeText(lut);
    EXPECT_EQ(cubeEntry(text, 0), "0.117647 0.078431 0.039216");
    EXPECT_EQ(cubeEntry(text, 1), "0.003922 0.501961 1.000000");
    EXPECT_EQ(cubeEntry(text, 2), "0.996078 0.000000 0.000000");
}

// Regression: a user locale with decimal commas must not reach the file.
TEST(CubeWriter, TextIsTheSameInAnyLocale) {
    cv::Mat lut = positionImage(512, 512);
    std::string plain = cubeText(lut);
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) {
        if (!std::setlocale(LC_ALL, name)) continue;
        EXPECT_EQ(cubeText(lut), plain) << name;
    }
    std::setlocale(LC_ALL, "C");
}

TEST(CubeWriter, ALargerImageContributesItsTopLeftCorner) {
    cv::Mat big = positionImage(700, 600);
    std::string text = cubeText(big);
    ASSERT_EQ(text.size(), 7340048u);
    EXPECT_EQ(text, cubeText(big(cv::Rect(0, 0, 512, 512)).clone()));
    EXPECT_EQ(cubeEntry(text, 262143), expectedEntry(big, 511, 511));
}

TEST(CubeWriter, RefusesImagesItCannotReadWholly) {
    cv::Mat fine(512, 512, CV_8UC3, cv::Scalar::all(0));
    cv::Mat wide(600, 600, CV_8UC3, cv::Scalar::all(0));
    const std::pair<const char*, cv::Mat> refused[] = {
        {"empty", cv::Mat()},
        {"1 x 1", cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(0))},
        {"511 x 512", cv::Mat(512, 511, CV_8UC3, cv::Scalar::all(0))},
        {"512 x 511", cv::Mat(511, 512, CV_8UC3, cv::Scalar::all(0))},
        {"4 channels", cv::Mat(512, 512, CV_8UC4, cv::Scalar::all(0))},
        {"16-bit", cv::Mat(512, 512, CV_16UC3, cv::Scalar::all(0))},
        {"grey", cv::Mat(512, 512, CV_8UC1, cv::Scalar::all(0))},
        {"non-continuous view", wide(cv::Rect(1, 1, 512, 512))},
    };
    for (const auto& [name, image] : refused) {
        std::string why;
        EXPECT_EQ(cubeText(image, &why), "") << name;
        EXPECT_FALSE(why.empty()) << name;
    }
    EXPECT_EQ(cubeText(fine).size(), 7340048u);
}

using CubeFiles = TempFolderTest;

TEST_F(CubeFiles, WritesTheWholeFile) {
    cv::Mat lut = positionImage(512, 512);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(writeCubeLut(lut, folder + "cc_LUT.cube"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(readFile(folder + "cc_LUT.cube"), cubeText(lut));
}

TEST_F(CubeFiles, AMissingFolderPrintsFileNotOpened) {
    cv::Mat lut = positionImage(512, 512);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(writeCubeLut(lut, folder + "missing/cc_LUT.cube"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "File Not Opened\n");
}

TEST_F(CubeFiles, ARefusedImageWritesNoFileAndSaysWhy) {
    std::ofstream(folder + "cc_LUT.cube") << "older";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(writeCubeLut(cv::Mat(256, 256, CV_8UC3, cv::Scalar::all(0)), folder + "cc_LUT.cube"));
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("smaller than 512 x 512"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
    EXPECT_EQ(readFile(folder + "cc_LUT.cube"), "older");
}

}  // namespace
}  // namespace tintsmith
