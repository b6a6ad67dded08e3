// Working paths and the rule that names the LUT files after the chart photo.
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "temp_folder.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

TEST(WorkingPaths, AppendFixedSuffixesToTheDocumentsFolder) {
    WorkingPaths paths = buildWorkingPaths("/home/ana/Documents");
    EXPECT_EQ(paths.folder, "/home/ana/Documents/Tintsmith");
    EXPECT_EQ(paths.referenceImage, "/home/ana/Documents/Tintsmith/cc.jpg");
    EXPECT_EQ(paths.inputPhotos, "/home/ana/Documents/Tintsmith/Photos/");
    EXPECT_EQ(paths.outputPhotos, "/home/ana/Documents/Tintsmith/ccPhotos/");
    EXPECT_EQ(paths.lattice, "/home/ana/Documents/Tintsmith/original.png");
    EXPECT_EQ(paths.lutImage, "/home/ana/Documents/Tintsmith/cc_LUT.png");
    EXPECT_EQ(paths.cube, "/home/ana/Documents/Tintsmith/cc_LUT.cube");
    EXPECT_EQ(paths.checkPicture, "/home/ana/Documents/Tintsmith/cc_LUT_check.png");
    EXPECT_EQ(paths.checkCsv, "/home/ana/Documents/Tintsmith/cc_LUT_check.csv");
}

TEST(WorkingPaths, AFailedLookupStartsAtTheRoot) {
    WorkingPaths paths = buildWorkingPaths("");
    EXPECT_EQ(paths.folder, "/Tintsmith");
    EXPECT_EQ(paths.referenceImage, "/Tintsmith/cc.jpg");
    EXPECT_EQ(paths.inputPhotos, "/Tintsmith/Photos/");
    EXPECT_EQ(paths.outputPhotos, "/Tintsmith/ccPhotos/");
    EXPECT_EQ(paths.lutImage, "/Tintsmith/cc_LUT.png");
    EXPECT_EQ(paths.cube, "/Tintsmith/cc_LUT.cube");
}

// Regression: a stem rule that looked only at the name after the last '/'
// dropped the folder and wrote cc_LUT.png into the current directory.
TEST(WorkingPaths, LutImageSitsBesideTheReferenceImage) {
    EXPECT_EQ(lutImagePathFor("/a/b.c/cc.jpg"), "/a/b.c/cc_LUT.png");
    EXPECT_EQ(lutImagePathFor("C:\\Users\\ana\\Tintsmith\\cc.jpg"),
              "C:\\Users\\ana\\Tintsmith\\cc_LUT.png");
    EXPECT_EQ(lutImagePathFor("/a.b/cc"),
              "/a.b/cc_LUT.png");  // a dot in the folder is not an extension
    EXPECT_EQ(lutImagePathFor("cc.tar.jpg"), "cc.tar_LUT.png");
    EXPECT_EQ(lutImagePathFor("/a/.jpg"), "/a/.jpg_LUT.png");  // a hidden name has no extension
    EXPECT_EQ(lutImagePathFor("/a/cc."), "/a/cc_LUT.png");
}

using WorkingFolder = TempFolderTest;

// Cameras write CC.JPG: such a file is named, so that the user renames it
TEST_F(WorkingFolder, AChartPhotoUnderAnotherCaseOrExtensionIsNamed) {
    for (const char* name : {"cc.png", "xcc.jpg", "cc.jpg.jpg", "cc.jpg", "Cc.JpEg"})
        std::ofstream(root / name) << "x";
    EXPECT_EQ(chartPhotoNamedOtherwise(folder), "Cc.JpEg");
    std::filesystem::remove(root / "Cc.JpEg");
    EXPECT_EQ(chartPhotoNamedOtherwise(folder), "");
}

// Regression: the printed command wrote 4:4:4 H.264, which many players refuse
TEST(VideoCommand, GivesPlayableVideoInAContainerThatTakesItsSound) {
    EXPECT_EQ(videoCommand("a b.webm"),
              "ffmpeg -i \"Photos/a b.webm\" -vf lut3d=cc_LUT.cube -pix_fmt yuv420p -c:a copy "
              "\"a b_cc.mkv\"");
}

}  // namespace
}  // namespace tintsmith
