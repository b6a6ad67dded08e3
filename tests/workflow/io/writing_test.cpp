// Output files are replaced only by complete temporary files that reached the
// disk, and the temporary files no one holds any more are cleared.
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
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
    Temporary temporary = writeTemporary(folder + "a.txt", "newer", outcome);
    ASSERT_FALSE(temporary.path.empty());
    EXPECT_TRUE(temporary.lock.taken());
    EXPECT_EQ(read("a.txt"), "new");
    EXPECT_TRUE(moveIntoPlace(std::move(temporary), folder + "a.txt").done);
    EXPECT_EQ(read("a.txt"), "newer");
    EXPECT_EQ(entries(), 1);
}

// Each file is locked as soon as it exists, and its bytes are written, synced
// and closed before it is renamed; files that belong together are all on disk,
// and the marker noting them too, before the first rename: a file renamed
// unsynced can be empty after a power cut, and a pair replaced without its
// marker cannot be made whole after a kill between the renames.
TEST_F(FileOutput, EveryFileReachesTheDiskBeforeItsRename) {
    std::vector<std::string> steps;
    std::map<std::FILE*, std::string> names;
    const auto name = [](const std::string& path) { return fs::path(path).filename().string(); };
    FileSystem recording = systemFiles();
    recording.open = [&](const std::string& path) {
        std::FILE* stream = systemFiles().open(path);
        names[stream] = name(path);
        return stream;
    };
    recording.lock = [&](const std::string& path) {
        steps.push_back("lock " + name(path));
        return systemFiles().lock(path);
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
        steps.push_back("rename " + name(from) + " " + name(to));
        return systemFiles().rename(from, to);
    };
    recording.remove = [&](const std::string& path) {
        steps.push_back("remove " + name(path));
        systemFiles().remove(path);
    };
    ASSERT_TRUE(replaceFileContents(folder + "a.cube", "cube", recording).done);
    ASSERT_EQ(steps.size(), 5u);
    const std::string temporary = steps[0].substr(5);
    EXPECT_EQ(steps, (std::vector<std::string>{"lock " + temporary, "write " + temporary,
                                               "sync " + temporary, "close " + temporary,
                                               "rename " + temporary + " a.cube"}));

    // an older a.png, so that a copy of it is kept until both are in place
    std::ofstream(folder + "a.png") << "older png";
    steps.clear();
    ASSERT_TRUE(
        replaceFilesTogether({{folder + "a.png", "png"}, {folder + "a.cube", "cube"}}, recording)
            .outcome.done);
    ASSERT_EQ(steps.size(), 21u);
    std::vector<std::string> made;  // the older PNG's copy, the new PNG, the new cube, the marker
    for (std::size_t i = 0; i < 16; i += 4) {
        const std::string file = steps[i].substr(5);
        made.push_back(file);
        EXPECT_EQ(std::vector<std::string>(steps.begin() + i, steps.begin() + i + 4),
                  (std::vector<std::string>{"lock " + file, "write " + file, "sync " + file,
                                            "close " + file}));
    }
    const std::string marker = steps[16].substr(steps[16].rfind(' ') + 1);
    EXPECT_EQ(fs::path(marker).extension(), ".replacing");
    EXPECT_EQ((std::vector<std::string>(steps.begin() + 16, steps.end())),
              (std::vector<std::string>{
                  "rename " + made[3] + " " + marker, "rename " + made[1] + " a.png",
                  "rename " + made[2] + " a.cube", "remove " + made[0], "remove " + marker}));
    EXPECT_EQ(read("a.png"), "png");
    EXPECT_EQ(entries(), 2);
}

// /dev/full accepts the open and fails the write with ENOSPC, like a full disk.
TEST_F(FileOutput, AFullDiskIsReportedAndTheOldFileStays) {
    FileSystem full = systemFiles();
    full.open = [](const std::string&) { return std::fopen("/dev/full", "wb"); };
    full.lock = [](const std::string&) { return platform::FileLock(); };  // nothing to lock
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

// Regression: links planted at the names of the next temporary files were
// written through (overwriting their target), and an output that is a link, or
// a file made read-only, was replaced. Now each planted name is passed by, a
// link or a read-only output is refused, and a replaced file keeps its mode.
TEST_F(FileOutput, NeverWritesThroughALinkNorOverAReadOnlyFileAndKeepsTheMode) {
    std::ofstream(folder + "victim") << "theirs";
    // the number the next temporary name bears, and the names after it
    const std::string probe = fs::path(temporaryPathFor(folder + "a")).filename().string();
    const int next = std::stoi(probe.substr(probe.rfind('-') + 1)) + 1;
    for (int n = next; n < next + 5; ++n)
        fs::create_symlink(folder + "victim", folder + ".tintsmith-" +
                                                  std::to_string(platform::processId()) + "-" +
                                                  std::to_string(n) + ".tmp");
    std::ofstream(folder + "private.txt") << "old";
    fs::permissions(folder + "private.txt", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(replaceFileContents(folder + "private.txt", "new").done);
    EXPECT_EQ(read("private.txt"), "new");
    EXPECT_EQ(fs::status(folder + "private.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(read("victim"), "theirs");

    fs::create_symlink(folder + "victim", folder + "cc_LUT.cube");
    EXPECT_NE(replaceFileContents(folder + "cc_LUT.cube", "x").reason.find("it is a link"),
              std::string::npos);
    EXPECT_TRUE(fs::is_symlink(folder + "cc_LUT.cube"));
    std::ofstream(folder + "cc_LUT.png") << "kept";
    fs::permissions(folder + "cc_LUT.png", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_NE(replaceFilesTogether({{folder + "cc_LUT.png", "x"}, {folder + "b", "y"}})
                  .outcome.reason.find("read-only"),
              std::string::npos);
    EXPECT_EQ(read("cc_LUT.png"), "kept");
    EXPECT_FALSE(fs::exists(folder + "b"));
    EXPECT_EQ(read("victim"), "theirs");

    // a corrected photo takes its original's mode
    Outcome outcome;
    Temporary photo =
        writeTemporary(folder + "c.jpg", "c", outcome, systemFiles(), folder + "private.txt");
    ASSERT_TRUE(outcome.done);
    EXPECT_EQ(fs::status(photo.path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(removeLeftTemporaries(folder), 5);  // the planted links, and none of theirs
    EXPECT_EQ(read("victim"), "theirs");
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

// Only temporary files no one holds the lock of go, whatever number their
// names bear (this process's, or a live one's, as a killed run's may after the
// number is given out again); not one this process writes, not one a stopped
// replacement's marker still needs, not names that only look alike.
TEST_F(FileOutput, LeftTemporariesAreThoseNoOneHoldsTheLockOf) {
    const std::string mine = ".tintsmith-" + std::to_string(platform::processId()) + "-9.tmp";
    const std::string live = ".tintsmith-" + std::to_string(getppid()) + "-2.tmp";
    const std::string awaited = ".tintsmith-1-5.tmp";
    for (const std::string& name :
         {mine, live, awaited, std::string("photo.jpg.tmp"), std::string(".tintsmith-12ab-1.tmp"),
          std::string(".tintsmith-1.tmp")})
        std::ofstream(folder + name) << "x";
    std::ofstream(folder + ".tintsmith-1-6.replacing")
        << "Tintsmith files replaced together\na.png/" << awaited << "/none\nend\n";
    Outcome outcome;
    const Temporary held = writeTemporary(folder + "a.png", "being written", outcome);
    ASSERT_TRUE(held.lock.taken());

    EXPECT_EQ(removeLeftTemporaries(folder), 2);
    EXPECT_FALSE(fs::exists(folder + mine));
    EXPECT_FALSE(fs::exists(folder + live));
    EXPECT_TRUE(fs::exists(held.path));
    EXPECT_TRUE(fs::exists(folder + awaited));
    EXPECT_EQ(entries(), 6);  // the held one, the awaited one, its marker, the three look-alikes
}

// Regression: a temporary file was judged by the process number in its name,
// and one whose number had passed to another live process was kept for ever.
// Its writer's lock decides now: kept while another live process holds it,
// removed once that process lets go, though it still runs.
TEST_F(FileOutput, ATemporaryIsKeptWhileItsLockIsHeldAndGoesOnceItIsFree) {
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // holds the lock, lets go on the first word, ends on the second (or
        // when the test ends without a word)
        close(toChild[1]);
        close(toParent[0]);
        const std::string path = folder + ".tintsmith-" + std::to_string(getpid()) + "-1.tmp";
        std::fclose(std::fopen(path.c_str(), "wb"));
        platform::FileLock lock = platform::lockFile(path);
        char word = lock.taken() ? 'h' : 'x';
        if (write(toParent[1], &word, 1) != 1 || ::read(toChild[0], &word, 1) != 1) _exit(1);
        lock.release();
        word = 'r';
        if (write(toParent[1], &word, 1) != 1) _exit(1);
        _exit(::read(toChild[0], &word, 1) == 1 ? 0 : 1);
    }
    close(toChild[0]);
    close(toParent[1]);
    struct Ending {  // on every way out: the child told to end, and waited for
        int word, heard;
        pid_t child;
        ~Ending() {
            close(word);
            close(heard);
            waitpid(child, nullptr, 0);
        }
    } ending{toChild[1], toParent[0], child};
    const std::string name = ".tintsmith-" + std::to_string(child) + "-1.tmp";
    char word = 0;
    ASSERT_EQ(::read(toParent[0], &word, 1), 1);
    ASSERT_EQ(word, 'h');
    EXPECT_EQ(removeLeftTemporaries(folder), 0);
    EXPECT_TRUE(fs::exists(folder + name));

    ASSERT_EQ(write(toChild[1], "g", 1), 1);
    ASSERT_EQ(::read(toParent[0], &word, 1), 1);
    ASSERT_EQ(word, 'r');
    EXPECT_EQ(kill(child, 0), 0);  // still running
    EXPECT_EQ(removeLeftTemporaries(folder), 1);
    EXPECT_FALSE(fs::exists(folder + name));
    EXPECT_EQ(write(toChild[1], "e", 1), 1);
}

}  // namespace
}  // namespace tintsmith
