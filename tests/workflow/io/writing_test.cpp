// Output files are replaced only by complete temporary files that reached the
// disk, and the temporary files of ended runs are cleared.
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "platform/platform.hpp"
#include "temp_folder.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;

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
    EXPECT_TRUE(replaceFileContents(folder + "a.txt", "new").done);
    EXPECT_EQ(read("a.txt"), "new");
    EXPECT_EQ(entries(), 1);  // no temporary file remains

    // the same in two steps: the old file stays whole until the rename
    Outcome outcome;
    const std::string temporary = writeTemporary(folder + "a.txt", "newer", outcome);
    ASSERT_FALSE(temporary.empty());
    EXPECT_EQ(read("a.txt"), "new");
    EXPECT_TRUE(moveIntoPlace(temporary, folder + "a.txt").done);
    EXPECT_EQ(read("a.txt"), "newer");
    EXPECT_EQ(entries(), 1);
}

// Each file's bytes are written, synced and closed before it is renamed, and
// files that belong together are all on disk before the first rename: a file
// renamed unsynced can be empty after a power cut.
TEST_F(FileOutput, EveryFileReachesTheDiskBeforeItsRename) {
    std::vector<std::string> steps;
    std::map<std::FILE*, std::string> names;
    FileSystem recording = systemFiles();
    recording.open = [&](const std::string& path) {
        std::FILE* stream = systemFiles().open(path);
        names[stream] = fs::path(path).filename().string();
        return stream;
    };
    recording.write = [&](std::FILE* stream, const std::string& bytes) {
        steps.push_back("write " + names[stream]);
        return systemFiles().write(stream, bytes);
    };
    recording.sync = [&](std::FILE* stream) {
        steps.push_back("sync " + names[stream]);
        return systemFiles().sync(stream);
    };
    recording.close = [&](std::FILE* stream) {
        steps.push_back("close " + names[stream]);
        return systemFiles().close(stream);
    };
    recording.rename = [&](const std::string& from, const std::string& to) {
        steps.push_back("rename " + fs::path(from).filename().string() + " " +
                        fs::path(to).filename().string());
        return systemFiles().rename(from, to);
    };
    ASSERT_TRUE(replaceFileContents(folder + "a.cube", "cube", recording).done);
    ASSERT_EQ(steps.size(), 4u);
    const std::string temporary = steps[0].substr(6);
    EXPECT_EQ(steps,
              (std::vector<std::string>{"write " + temporary, "sync " + temporary,
                                        "close " + temporary, "rename " + temporary + " a.cube"}));

    steps.clear();
    ASSERT_TRUE(
        replaceFilesTogether({{folder + "a.png", "png"}, {folder + "a.cube", "cube"}}, recording)
            .outcome.done);
    ASSERT_EQ(steps.size(), 8u);
    const std::string first = steps[0].substr(6), second = steps[3].substr(6);
    EXPECT_EQ(steps, (std::vector<std::string>{"write " + first, "sync " + first, "close " + first,
                                               "write " + second, "sync " + second,
                                               "close " + second, "rename " + first + " a.png",
                                               "rename " + second + " a.cube"}));
    EXPECT_EQ(read("a.png"), "png");
}

// /dev/full accepts the open and fails the write with ENOSPC, like a full disk.
TEST_F(FileOutput, AFullDiskIsReportedAndTheOldFileStays) {
    FileSystem full = systemFiles();
    full.open = [](const std::string&) { return std::fopen("/dev/full", "wb"); };
    std::ofstream(folder + "cc_LUT.cube") << "older";
    const Outcome outcome =
        replaceFileContents(folder + "cc_LUT.cube", std::string(100000, 'x'), full);
    EXPECT_FALSE(outcome.done);
    EXPECT_EQ(outcome.reason, "No space left on device");
    EXPECT_EQ(read("cc_LUT.cube"), "older");
    EXPECT_EQ(entries(), 1);
}

TEST_F(FileOutput, AFolderInTheWayFailsAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(fs::create_directory(folder + "cc_LUT.png"));
    const Outcome outcome = replaceFileContents(folder + "cc_LUT.png", "png");
    EXPECT_EQ(outcome.reason, "a folder of that name is in the way");
    EXPECT_EQ(entries(), 0);  // glob lists files only: the folder is not counted
}

// The cube cannot replace its old file once the PNG has replaced its own (a
// folder takes its place meanwhile, as another program holding it open does on
// Windows): the PNG gets its old bytes back, or goes when it was new.
TEST_F(FileOutput, FilesTogetherPutTheFirstBackWhenALaterOneCannotBeReplaced) {
    const std::string png = folder + "cc_LUT.png", cube = folder + "cc_LUT.cube";
    for (const bool oldPng : {true, false}) {
        SCOPED_TRACE(oldPng);
        fs::remove(cube);  // the folder the last round left
        fs::remove(png);
        if (oldPng) std::ofstream(png) << "old png";
        int opened = 0;
        FileSystem files = systemFiles();
        files.open = [&](const std::string& path) {
            if (opened++ == 1) fs::create_directory(cube);  // after its check
            return std::fopen(path.c_str(), "wb");
        };
        const FilesReplaced replaced =
            replaceFilesTogether({{png, "new png"}, {cube, "new cube"}}, files);
        EXPECT_FALSE(replaced.outcome.done);
        EXPECT_EQ(replaced.outcome.reason, "a folder of that name is in the way");
        EXPECT_EQ(replaced.failedIndex, 1u);
        EXPECT_FALSE(replaced.mismatched);
        EXPECT_EQ(fs::exists(png), oldPng);
        EXPECT_EQ(oldPng ? read("cc_LUT.png") : "", oldPng ? "old png" : "");
        EXPECT_EQ(entries(), oldPng ? 1 : 0);  // no temporary file remains
    }
}

TEST_F(FileOutput, AMissingFolderIsNotOpened) {
    EXPECT_EQ(replaceFileContents(folder + "no/such.txt", "x").reason, "No such file or directory");
}

TEST_F(FileOutput, ImagesAreEncodedByTheirExtension) {
    cv::Mat image(8, 8, CV_8UC3, cv::Scalar(1, 2, 3));
    EXPECT_TRUE(writeImageFile(folder + "IMG_0001.JPG", image).done);
    EXPECT_TRUE(writeImageFile(folder + "a.png", image).done);
    EXPECT_EQ(read("IMG_0001.JPG").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(read("a.png").substr(1, 3), "PNG");
    EXPECT_EQ(cv::norm(cv::imread(folder + "a.png"), image, cv::NORM_INF), 0);
    EXPECT_EQ(writeImageFile(folder + "notes.txt", image).reason,
              "no image format can be written as notes.txt");
    EXPECT_EQ(entries(), 2);
}

// Regression: the temporary name added a suffix to the photo's name, so a
// name near the file system's limit could not be written at all.
TEST_F(FileOutput, ANameThatFitsHasATemporaryThatFits) {
    const std::string longName = std::string(251, 'n') + ".png";  // 255 bytes
    const std::string temporary = temporaryPathFor(folder + longName);
    EXPECT_EQ(temporary.rfind(folder, 0), 0u);
    EXPECT_LT(temporary.size() - folder.size(), 40u);
    EXPECT_TRUE(
        writeImageFile(folder + longName, cv::Mat(8, 8, CV_8UC3, cv::Scalar(1, 2, 3))).done);
}

// Only the temporary files of processes that have ended go: not this one's,
// not a live one's (a run writing beside this one), not names that only look alike.
TEST_F(FileOutput, LeftTemporariesOfEndedRunsAreRemoved) {
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    const std::string dead = ".tintsmith-" + std::to_string(child) + "-4.tmp";
    const std::string mine = ".tintsmith-" + std::to_string(platform::processId()) + "-9.tmp";
    const std::string live = ".tintsmith-" + std::to_string(getppid()) + "-2.tmp";
    for (const std::string& name :
         {dead, mine, live, std::string("photo.jpg.tmp"), std::string(".tintsmith-12ab-1.tmp"),
          std::string(".tintsmith-" + std::to_string(child) + ".tmp")})
        std::ofstream(folder + name) << "x";
    EXPECT_EQ(removeLeftTemporaries(folder), 1);
    EXPECT_FALSE(fs::exists(folder + dead));
    EXPECT_TRUE(fs::exists(folder + mine));
    EXPECT_TRUE(fs::exists(folder + live));
    EXPECT_TRUE(fs::exists(folder + "photo.jpg.tmp"));
    EXPECT_TRUE(fs::exists(folder + ".tintsmith-12ab-1.tmp"));
}

}  // namespace
}  // namespace tintsmith
