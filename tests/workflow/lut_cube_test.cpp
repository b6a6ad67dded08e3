// The conversions between 8-bit BGR and the model's domain, and the cube file.
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

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
    EXPECT_EQ(lattice.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 4));    // red level 1 = round(255 / 63)
    EXPECT_EQ(lattice.at<cv::Vec3b>(1, 0), cv::Vec3b(0, 4, 0));    // green level 1
    EXPECT_EQ(lattice.at<cv::Vec3b>(0, 64), cv::Vec3b(4, 0, 0));   // tile 1: blue level 1
    EXPECT_EQ(lattice.at<cv::Vec3b>(64, 0), cv::Vec3b(32, 0, 0));  // tile 8: round(8 * 255 / 63)
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
            image.at<cv::Vec3b>(r, c) =
                cv::Vec3b(uchar(c % 256), uchar(r % 256), uchar((r / 256) * 2 + c / 256));
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
    const struct {
        long entry;
        int row, col;
    } cases[] = {{0, 0, 0},     {1, 0, 1},      {64, 1, 0},
                 {4096, 0, 64}, {32768, 64, 0}, {262143, 511, 511}};
    for (const auto& c : cases)
        EXPECT_EQ(cubeEntry(text, c.entry), expectedEntry(lut, c.row, c.col))
            << "entry " << c.entry;
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

// Regression: a larger lattice gave a cube of its top-left corner, a LUT that
// looked valid but mapped colours to the wrong points.
TEST(CubeWriter, ALargerImageIsRefusedNotCropped) {
    for (cv::Size size : {cv::Size(700, 600), cv::Size(513, 512), cv::Size(512, 1024)}) {
        std::string why;
        EXPECT_EQ(cubeText(positionImage(size.height, size.width), &why), "") << size;
        EXPECT_NE(why.find("not 512 x 512"), std::string::npos) << why;
    }
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
    // scripts look for the first line; the second says which file and why
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "File Not Opened\nCould not write " + folder +
                  "missing/cc_LUT.cube: No such file or directory\n");
}

TEST_F(CubeFiles, ARefusedImageWritesNoFileAndSaysWhy) {
    std::ofstream(folder + "cc_LUT.cube") << "older";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(
        writeCubeLut(cv::Mat(256, 256, CV_8UC3, cv::Scalar::all(0)), folder + "cc_LUT.cube"));
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.rfind("File Not Opened\nNot writing " + folder + "cc_LUT.cube: ", 0), 0u)
        << said;
    EXPECT_NE(said.find("smaller than 512 x 512"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2);
    EXPECT_EQ(readFile(folder + "cc_LUT.cube"), "older");
}

// The two LUT files stay a pair: whichever cannot be written, neither old one
// is replaced (a new PNG beside an old cube describes two different LUTs).
TEST_F(CubeFiles, TheLutFilesAreReplacedBothOrNeither) {
    const cv::Mat lut = positionImage(512, 512);
    struct Case {
        const char* name;
        const char* blocked;  // made a folder, so that it cannot be replaced
        const char* firstLine;
    };
    const Case cases[] = {
        {"png in the way", "cc_LUT.png", "Could not write "},
        {"cube in the way", "cc_LUT.cube", "File Not Opened"},
    };
    for (const Case& c : cases) {
        SetUp();
        std::ofstream(folder + "cc_LUT.png") << "older png";
        std::ofstream(folder + "cc_LUT.cube") << "older cube";
        std::remove((folder + c.blocked).c_str());
        std::filesystem::create_directory(folder + c.blocked);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(writeLutFiles(lut, folder + "cc_LUT.png", folder + "cc_LUT.cube")) << c.name;
        std::string said = testing::internal::GetCapturedStdout();
        EXPECT_EQ(said.rfind(c.firstLine, 0), 0u) << c.name << ": " << said;
        EXPECT_NE(said.find("File Not Opened\n"), std::string::npos) << c.name;
        for (const char* name : {"cc_LUT.png", "cc_LUT.cube"}) {
            if (std::string(name) == c.blocked) continue;
            const std::string older = name[7] == 'p' ? "older png" : "older cube";
            EXPECT_EQ(readFile(folder + name), older) << c.name;
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                                std::filesystem::directory_iterator()),
                  2)
            << c.name << ": a temporary file was left";
    }

    // both written, or (another size) the PNG alone with the older cube kept
    SetUp();
    std::ofstream(folder + "cc_LUT.cube") << "older cube";
    testing::internal::CaptureStdout();
    EXPECT_TRUE(writeLutFiles(lut, folder + "cc_LUT.png", folder + "cc_LUT.cube"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(readFile(folder + "cc_LUT.cube"), cubeText(lut));
    EXPECT_EQ(cv::norm(cv::imread(folder + "cc_LUT.png"), lut, cv::NORM_INF), 0);
    std::ofstream(folder + "cc_LUT.cube") << "older cube";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(
        writeLutFiles(positionImage(600, 512), folder + "cc_LUT.png", folder + "cc_LUT.cube"));
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("File Not Opened\nNot writing"), std::string::npos) << said;
    EXPECT_EQ(cv::imread(folder + "cc_LUT.png").rows, 600);
    EXPECT_EQ(readFile(folder + "cc_LUT.cube"), "older cube");
}

}  // namespace
}  // namespace tintsmith
