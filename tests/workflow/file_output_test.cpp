// Output files are replaced only by complete, flushed temporary files.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "temp_folder.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

struct FileOutput : TempFolderTest {
    std::string read(const std::string& name) {
        std::ifstream file(folder + name, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }
    // Files in the folder (folders are not listed).
    int entries() {
        std::vector<cv::String> found;
        cv::glob(folder + "*", found, false);
        return static_cast<int>(found.size());
    }
};

TEST_F(FileOutput, ReplacesAnOldFileWhole) {
    std::ofstream(folder + "a.txt") << "old contents that are longer";
    WriteResult result = replaceFileContents(folder + "a.txt", "new");
    EXPECT_EQ(result.outcome, WriteOutcome::Written);
    EXPECT_EQ(read("a.txt"), "new");
    EXPECT_EQ(entries(), 1);  // no temporary file remains

    // the same in two steps: the old file stays whole until the rename
    const std::string temporary = writeTemporary(folder + "a.txt", "newer", nullptr, result);
    ASSERT_FALSE(temporary.empty());
    EXPECT_EQ(read("a.txt"), "new");
    EXPECT_EQ(moveIntoPlace(temporary, folder + "a.txt").outcome, WriteOutcome::Written);
    EXPECT_EQ(read("a.txt"), "newer");
    EXPECT_EQ(entries(), 1);
}

// /dev/full accepts the open and fails the write with ENOSPC, like a full disk.
TEST_F(FileOutput, AFullDiskIsReportedAndTheOldFileStays) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(writeAndSync(full, std::string(100000, 'x')));
    std::fclose(full);

    std::ofstream(folder + "cc_LUT.cube") << "older";
    WriteResult result =
        replaceFileContents(folder + "cc_LUT.cube", std::string(100000, 'x'),
                            [](const std::string&) { return std::fopen("/dev/full", "wb"); });
    EXPECT_EQ(result.outcome, WriteOutcome::Failed);
    EXPECT_FALSE(result.reason.empty());
    EXPECT_EQ(read("cc_LUT.cube"), "older");
    EXPECT_EQ(entries(), 1);
}

TEST_F(FileOutput, AFolderInTheWayFailsAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(std::filesystem::create_directory(folder + "cc_LUT.png"));
    WriteResult result = replaceFileContents(folder + "cc_LUT.png", "png");
    EXPECT_EQ(result.outcome, WriteOutcome::Failed);
    EXPECT_EQ(entries(), 0);  // glob lists files only: the folder is not counted
}

// The cube cannot replace its old file once the PNG has replaced its own (a
// folder takes its place meanwhile, as another program holding it open does on
// Windows): the PNG gets its old bytes back, or goes when it was new.
TEST_F(FileOutput, FilesTogetherPutTheFirstBackWhenALaterOneCannotBeReplaced) {
    const std::string png = folder + "cc_LUT.png", cube = folder + "cc_LUT.cube";
    for (const bool oldPng : {true, false}) {
        SCOPED_TRACE(oldPng);
        std::filesystem::remove(cube);  // the folder the last round left
        std::filesystem::remove(png);
        if (oldPng) std::ofstream(png) << "old png";
        int opened = 0;
        const StreamOpener opener = [&](const std::string& path) {
            if (opened++ == 1) std::filesystem::create_directory(cube);  // after its check
            return std::fopen(path.c_str(), "wb");
        };
        std::size_t failed = 0;
        const WriteResult result =
            replaceFilesTogether({{png, "new png"}, {cube, "new cube"}}, failed, opener);
        EXPECT_EQ(result.outcome, WriteOutcome::Failed);
        EXPECT_EQ(result.reason, "a folder of that name is in the way");
        EXPECT_EQ(failed, 1u);
        EXPECT_EQ(std::filesystem::exists(png), oldPng);
        EXPECT_EQ(oldPng ? read("cc_LUT.png") : "", oldPng ? "old png" : "");
        EXPECT_EQ(entries(), oldPng ? 1 : 0);  // no temporary file remains
    }
}

TEST_F(FileOutput, AMissingFolderIsNotOpened) {
    EXPECT_EQ(replaceFileContents(folder + "no/such.txt", "x").outcome, WriteOutcome::NotOpened);
}

TEST_F(FileOutput, ImagesAreEncodedByTheirExtension) {
    cv::Mat image(8, 8, CV_8UC3, cv::Scalar(1, 2, 3));
    EXPECT_TRUE(writeImageFile(folder + "IMG_0001.JPG", image));
    EXPECT_TRUE(writeImageFile(folder + "a.png", image));
    EXPECT_EQ(read("IMG_0001.JPG").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(read("a.png").substr(1, 3), "PNG");
    EXPECT_EQ(cv::norm(cv::imread(folder + "a.png"), image, cv::NORM_INF), 0);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(writeImageFile(folder + "notes.txt", image));
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("notes.txt"), std::string::npos);
    EXPECT_EQ(entries(), 2);
}

}  // namespace
}  // namespace tintsmith
