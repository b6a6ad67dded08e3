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
    const struct {
        const char* present;
        const char* named;
    } rows[] = {
        {"cc.JPG", "cc.JPG"}, {"CC.jpg", "CC.jpg"}, {"cc.jpeg", "cc.jpeg"}, {"Cc.JpEg", "Cc.JpEg"},
        {"cc.png", ""},       {"cc.jpg.jpg", ""},   {"xcc.jpg", ""},
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
        std::ofstream(root / row.present) << "x";
        EXPECT_EQ(chartPhotoNamedOtherwise(folder), row.named) << row.present;
    }
    std::ofstream(root / "cc.jpg") << "x";  // where cc.jpg itself is there, none
    EXPECT_EQ(chartPhotoNamedOtherwise(folder + "missing"), "");
}

TEST_F(WorkingFolder, ATintsmithFolderInDocumentsIsToldWhenAnotherIsUsed) {
    const std::string plain = (root / "Documents").string();
    EXPECT_EQ(unusedWorkingFolder((root / "Dokumente").string(), plain), "");  // none there
    std::filesystem::create_directories(root / "Documents" / "Tintsmith");
    EXPECT_EQ(unusedWorkingFolder((root / "Dokumente").string(), plain),
              (root / "Documents" / "Tintsmith").string());
    EXPECT_EQ(unusedWorkingFolder(plain, plain), "");  // the one in use
    EXPECT_EQ(unusedWorkingFolder(plain, ""), "");     // no plain guess (Windows)
}

// Regression: the printed command wrote 4:4:4 H.264, which many players refuse,
// and an .mp4 that cannot take a MOV's PCM sound
TEST(VideoCommand, GivesPlayableVideoInItsOwnContainer) {
    EXPECT_EQ(videoCommand("clip.mp4"),
              "ffmpeg -i \"Photos/clip.mp4\" -vf lut3d=cc_LUT.cube -pix_fmt yuv420p -c:a copy "
              "\"clip_cc.mp4\"");
    const auto output = [](const std::string& command) {
        return command.substr(command.rfind("copy ") + 5);
    };
    EXPECT_EQ(output(videoCommand("MVI_0001.MOV")), "\"MVI_0001_cc.MOV\"");
    EXPECT_EQ(output(videoCommand("a b.webm")), "\"a b_cc.mkv\"");
}

}  // namespace
}  // namespace tintsmith
