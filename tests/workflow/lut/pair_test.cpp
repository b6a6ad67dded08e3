// cc_LUT.png and cc_LUT.cube written as a pair: both replaced, or neither,
// also when the run writing them is killed at any instant.
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
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
    std::size_t entries() {
        return std::distance(std::filesystem::directory_iterator(folder),
                             std::filesystem::directory_iterator());
    }
};

// Writes the pair in a child process that is killed (SIGKILL, as kill -9 does)
// just before its step number `stop` of the file system, counted from 0;
// false when it wrote to its end first. With `cubeBlocked` the cube's rename
// fails, so the PNG already replaced has to be put back.
bool writeKilledAt(int stop, const cv::Mat& lut, const std::string& folder, bool cubeBlocked) {
    const pid_t child = fork();
    if (child == 0) {
        int steps = 0;
        const auto step = [&] {
            if (steps++ == stop) raise(SIGKILL);
        };
        const FileSystem& real = systemFiles();
        FileSystem files = real;
        files.open = [&](const std::string& path) { return step(), real.open(path); };
        files.lock = [&](const std::string& path) { return step(), real.lock(path); };
        files.write = [&](std::FILE* stream, const std::string& bytes) {
            return step(), real.write(stream, bytes);
        };
        // a kill, unlike a power cut, leaves what was written in the system's
        // cache, so the wait for the disk is left out
        files.sync = [&](std::FILE* stream) { return step(), std::fflush(stream) == 0; };
        files.close = [&](std::FILE* stream) { return step(), real.close(stream); };
        files.rename = [&](const std::string& from, const std::string& to) {
            step();
            if (cubeBlocked && to == folder + "cc_LUT.cube") {
                errno = EACCES;
                return false;
            }
            return real.rename(from, to);
        };
        files.remove = [&](const std::string& path) { step(), real.remove(path); };
        writeLutFiles(lut, folder + "cc_LUT.png", folder + "cc_LUT.cube", "", files);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// A LUT judged not better keeps the pair it replaces, moved in the same
// replacement; with no older pair there is nothing to keep, and none is made.
TEST_F(LutPair, TheOlderPairIsKeptWhenAsked) {
    const KeptPair keep{folder + "cc_LUT.previous.png", folder + "cc_LUT.previous.cube"};
    const cv::Mat lut = positionImage(512, 512);
    LutFilesWritten written =
        writeLutFiles(lut, folder + "cc_LUT.png", folder + "cc_LUT.cube", "", systemFiles(), keep);
    ASSERT_TRUE(written.png.done && written.cube.done);
    EXPECT_FALSE(written.kept.done);
    EXPECT_FALSE(std::filesystem::exists(keep.png) || std::filesystem::exists(keep.cube));

    const std::string olderPng = readFile(folder + "cc_LUT.png");
    const std::string olderCube = readFile(folder + "cc_LUT.cube");
    written = writeLutFiles(identityLattice(), folder + "cc_LUT.png", folder + "cc_LUT.cube", "",
                            systemFiles(), keep);
    ASSERT_TRUE(written.png.done && written.cube.done && written.kept.done);
    EXPECT_EQ(readFile(keep.png), olderPng);
    EXPECT_EQ(readFile(keep.cube), olderCube);
    EXPECT_EQ(readFile(folder + "cc_LUT.cube"), cubeText(identityLattice()));
}

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

// A cube of another size would map colours to the wrong points, and a PNG
// that follows the lattice beside the older cube would be two LUTs: neither
// is written (regression: the PNG alone was replaced).
TEST_F(LutPair, ALatticeOfAnotherSizeWritesNeither) {
    for (const int side : {256, 600}) {
        SCOPED_TRACE(side);
        std::ofstream(folder + "cc_LUT.png") << "older png";
        std::ofstream(folder + "cc_LUT.cube") << "older cube";
        const LutFilesWritten written = write(positionImage(side, side));
        EXPECT_FALSE(written.png.done || written.cube.done || written.cubeTried);
        EXPECT_TRUE(written.latticeRefused);
        EXPECT_NE(written.cube.reason.find(side < 512 ? "smaller than 512 x 512" : "not 512 x 512"),
                  std::string::npos)
            << written.cube.reason;
        EXPECT_EQ(readFile(folder + "cc_LUT.png"), "older png");
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

// Regression: a run killed between the two renames left a new cc_LUT.png beside
// the old cube, and no later run noticed. Killed before any one step of the
// replacement, the pair may be mixed only until the next run has settled what
// the marker notes: then both are old or both new, nothing else is left in
// the folder, and that run's own pair replaces both. The same holds while the
// PNG is being put back because the cube could not be replaced.
TEST_F(LutPair, AKillAtAnyStepLeavesBothOldOrBothNewOnceTheNextRunHasSettledIt) {
    const cv::Mat lut = positionImage(512, 512);
    std::string newPng;
    ASSERT_TRUE(encodeImage(folder + "cc_LUT.png", lut, newPng).done);
    const std::string newCube = cubeText(lut);
    for (const bool cubeBlocked : {false, true}) {
        SCOPED_TRACE(cubeBlocked ? "the cube's rename fails" : "every step succeeds");
        int mixed = 0, settledOld = 0, settledNew = 0, stop = 0;
        for (bool killed = true; killed; ++stop) {
            SCOPED_TRACE("killed before step " + std::to_string(stop));
            SetUp();
            std::ofstream(folder + "cc_LUT.png") << "older png";
            std::ofstream(folder + "cc_LUT.cube") << "older cube";
            killed = writeKilledAt(stop, lut, folder, cubeBlocked);
            const auto pair = [&] {
                return std::make_pair(readFile(folder + "cc_LUT.png"),
                                      readFile(folder + "cc_LUT.cube"));
            };
            const bool wasMixed =
                pair() != std::make_pair(std::string("older png"), std::string("older cube")) &&
                pair() != std::make_pair(newPng, newCube);

            // the next run: what the marker notes settled, then the left files removed
            const std::vector<ReplacementResumed> resumed = resumeStoppedReplacements(folder);
            removeLeftTemporaries(folder);
            const bool isOld =
                pair() == std::make_pair(std::string("older png"), std::string("older cube"));
            const bool isNew = pair() == std::make_pair(newPng, newCube);
            EXPECT_TRUE(isOld || isNew);
            EXPECT_EQ(entries(), 2u);
            if (wasMixed) {
                EXPECT_EQ(resumed.size(), 1u);  // a mixed pair has its marker
            }
            for (const ReplacementResumed& settled : resumed) {
                EXPECT_EQ(settled.finished, isNew);
                EXPECT_FALSE(settled.mismatched);
                EXPECT_EQ(settled.paths, (std::vector<std::string>{folder + "cc_LUT.png",
                                                                   folder + "cc_LUT.cube"}));
            }
            (isNew ? settledNew : settledOld)++;
            if (!wasMixed) continue;
            ++mixed;

            // ...and that run's own pair replaces the settled one
            const LutFilesWritten written = write(lut);
            EXPECT_TRUE(written.png.done && written.cube.done);
            EXPECT_TRUE(pair() == std::make_pair(newPng, newCube));
            EXPECT_EQ(entries(), 2u);
        }
        // the kills did reach the renames, the turn back and the end
        EXPECT_GT(stop, 20);
        EXPECT_GT(mixed, 0);
        EXPECT_GT(settledOld, 0);
        EXPECT_GT(settledNew, 0);
    }
}

// A run that tidies the folder while another replaces the pair (between its
// two renames) leaves that replacement alone: its marker and its files are held.
TEST_F(LutPair, ARunTidyingTheFolderMeanwhileLeavesALiveReplacementAlone) {
    const cv::Mat lut = positionImage(512, 512);
    FileSystem files = systemFiles();
    std::size_t resumed = 1;
    int removed = -1;
    files.rename = [&](const std::string& from, const std::string& to) {
        if (to == folder + "cc_LUT.cube") {
            resumed = resumeStoppedReplacements(folder).size();
            removed = removeLeftTemporaries(folder);
        }
        return systemFiles().rename(from, to);
    };
    std::ofstream(folder + "cc_LUT.png") << "older png";
    std::ofstream(folder + "cc_LUT.cube") << "older cube";
    const LutFilesWritten written =
        writeLutFiles(lut, folder + "cc_LUT.png", folder + "cc_LUT.cube", "", files);
    EXPECT_TRUE(written.png.done && written.cube.done);
    EXPECT_EQ(resumed, 0u);
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(readFile(folder + "cc_LUT.cube"), cubeText(lut));
    EXPECT_EQ(entries(), 2u);
}

}  // namespace
}  // namespace tintsmith
