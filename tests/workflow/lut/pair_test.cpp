// cc_LUT.png and cc_LUT.cube written as a pair: both replaced, or neither.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "temp_folder.hpp"
#include "workflow/fixtures.hpp"
#include "workflow/lut/lut.hpp"

namespace tintsmith {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

struct LutPair : TempFolderTest {
    LutFilesWritten write(const cv::Mat& lut) {
        return writeLutFiles(lut, folder + "cc_LUT.png", folder + "cc_LUT.cube");
    }
};

TEST_F(LutPair, WritesBothWholeOverOlderOnes) {
    const cv::Mat lut = positionImage(512, 512);
    std::ofstream(folder + "cc_LUT.cube") << "older cube";
    const LutFilesWritten written = write(lut);
    EXPECT_TRUE(written.png.done && written.cube.done) << written.png.reason << written.cube.reason;
    EXPECT_EQ(readFile(folder + "cc_LUT.cube"), cubeText(lut));
    EXPECT_EQ(cv::norm(cv::imread(folder + "cc_LUT.png"), lut, cv::NORM_INF), 0);
}

TEST_F(LutPair, AMissingFolderSaysWhy) {
    const LutFilesWritten written =
        writeLutFiles(positionImage(512, 512), folder + "no/cc_LUT.png", folder + "no/cc_LUT.cube");
    EXPECT_EQ(written.png.reason, "No such file or directory");
    EXPECT_FALSE(written.cube.done);
    EXPECT_FALSE(written.cubeTried);
}

// The PNG follows a lattice of any size; a cube of another size would map
// colours to the wrong points, so the older one is kept.
TEST_F(LutPair, ALatticeOfAnotherSizeGivesItsPngButNoCube) {
    for (const int side : {256, 600}) {
        SCOPED_TRACE(side);
        std::ofstream(folder + "cc_LUT.cube") << "older cube";
        const LutFilesWritten written = write(positionImage(side, side));
        EXPECT_TRUE(written.png.done);
        EXPECT_FALSE(written.cube.done);
        EXPECT_FALSE(written.cubeTried);
        EXPECT_NE(written.cube.reason.find(side < 512 ? "smaller than 512 x 512" : "not 512 x 512"),
                  std::string::npos)
            << written.cube.reason;
        EXPECT_EQ(cv::imread(folder + "cc_LUT.png").rows, side);
        EXPECT_EQ(readFile(folder + "cc_LUT.cube"), "older cube");
    }
}

// Whichever cannot be written, neither old file is replaced (a new PNG beside
// an old cube describes two different LUTs), and no temporary file remains.
TEST_F(LutPair, WhenOneCannotBeReplacedNeitherIs) {
    const cv::Mat lut = positionImage(512, 512);
    for (const char* blocked : {"cc_LUT.png", "cc_LUT.cube"}) {
        SCOPED_TRACE(blocked);
        SetUp();
        std::ofstream(folder + "cc_LUT.png") << "older png";
        std::ofstream(folder + "cc_LUT.cube") << "older cube";
        std::remove((folder + blocked).c_str());
        std::filesystem::create_directory(folder + blocked);  // so that it cannot be replaced
        const LutFilesWritten written = write(lut);
        const bool pngBlocked = std::string(blocked) == "cc_LUT.png";
        EXPECT_EQ(written.png.done, !pngBlocked);
        EXPECT_FALSE(written.cube.done);
        EXPECT_EQ(written.cubeTried, !pngBlocked);
        EXPECT_NE(written.cube.reason.find("so they still match"), std::string::npos)
            << written.cube.reason;
        for (const char* name : {"cc_LUT.png", "cc_LUT.cube"}) {
            if (std::string(name) == blocked) continue;
            EXPECT_EQ(readFile(folder + name), pngBlocked ? "older cube" : "older png");
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                                std::filesystem::directory_iterator()),
                  2);
    }
}

}  // namespace
}  // namespace tintsmith
