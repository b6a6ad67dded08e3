// Batch correction of the Photos folder into ccPhotos.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "temp_folder.hpp"
#include "workflow/batch/batch.hpp"
#include "workflow/colour/colour.hpp"
#include "workflow/fixtures.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;

// A note in one line: what, which file, why.
std::string described(const BatchNote& note) {
    static const char* const kinds[] = {
        "Skipped",   "NotWritten", "NotListed",  "ListedInPart",  "SameFolder",      "Video",
        "NameTaken", "Remark",     "NotEntered", "NoneCorrected", "FolderNotWritten"};
    return std::string(kinds[int(note.kind)]) + " " + note.path + ": " + note.reason;
}

// The first four bytes of a file: its format's signature.
std::string readHead(const std::string& path) {
    char head[4] = {};
    std::ifstream(path, std::ios::binary).read(head, 4);
    return std::string(head, 4);
}

// The batch with its notes described, and its progress, as the caller hears them.
struct Heard {
    std::vector<std::string> notes;
    std::vector<std::pair<int, int>> progress;
    bool otherThread = false;
    BatchObserver observer() {
        const std::thread::id caller = std::this_thread::get_id();
        BatchObserver observer;
        observer.note = [this, caller](const BatchNote& note) {
            otherThread = otherThread || std::this_thread::get_id() != caller;
            notes.push_back(described(note));
        };
        observer.progress = [this, caller](int done, int total) {
            otherThread = otherThread || std::this_thread::get_id() != caller;
            progress.emplace_back(done, total);
        };
        return observer;
    }
};

struct Batch : BatchFolderTest {
    BatchReport run() {
        heard = Heard();
        return batchCorrectPhotos(in, out, model, heard.observer());
    }
    static cv::Mat photo(int seed) { return randomImage(64, 96, seed); }
    std::vector<cv::String> listed(const std::string& where) {
        std::vector<cv::String> files;
        cv::glob(where + "*", files, false);
        return files;
    }
    Heard heard;
};

// Regression: a batch that found nothing to correct ended without a word.
TEST_F(Batch, AFolderWithNothingToCorrectSaysSo) {
    BatchReport report = run();
    EXPECT_EQ(report.corrected + report.skipped + report.failed, 0);
    EXPECT_EQ(heard.notes, std::vector<std::string>{"NoneCorrected " + in + ": is empty"});
    EXPECT_TRUE(listed(out).empty());

    // photos kept in dated subfolders, which are not entered
    for (const char* month : {"2024-06", "2024-05"}) {
        fs::create_directories(in + month);
        ASSERT_TRUE(cv::imwrite(in + month + "/a.png", photo(1)));
    }
    report = run();
    EXPECT_EQ(report.corrected + report.skipped + report.failed, 0);
    EXPECT_EQ(heard.notes,
              (std::vector<std::string>{
                  "NotEntered " + in + ": 2024-05/, 2024-06/",
                  "NoneCorrected " + in + ": holds only subfolders, which are not entered"}));

    std::ofstream(in + "notes.txt") << "not a photo";
    report = run();
    EXPECT_EQ(report.skipped, 1);
    EXPECT_EQ(heard.notes.back(), "NoneCorrected " + in + ": holds no photo that Tintsmith reads");
    EXPECT_TRUE(listed(out).empty());
}

TEST_F(Batch, EveryPhotoEqualsTheCorrectionAppliedByHand) {
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(cv::imwrite(in + "p" + std::to_string(i) + ".png", photo(i)));
    BatchReport report = run();
    EXPECT_EQ(report.corrected, 3);
    EXPECT_TRUE(heard.notes.empty());
    for (int i = 0; i < 3; ++i) {
        cv::Mat corrected =
            cv::imread(out + "p" + std::to_string(i) + ".png", cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(corrected.empty());
        EXPECT_EQ(cv::norm(corrected, correctImage(photo(i), model), cv::NORM_INF), 0) << i;
    }
    // input photos are only read
    EXPECT_EQ(cv::norm(cv::imread(in + "p0.png"), photo(0), cv::NORM_INF), 0);
}

TEST_F(Batch, KeepsNamesAndFormats) {
    ASSERT_TRUE(cv::imwrite(in + "IMG_0001.JPG", photo(1)));
    cv::Mat bgra;
    cv::cvtColor(photo(2), bgra, cv::COLOR_BGR2BGRA);
    ASSERT_TRUE(cv::imwrite(in + "alpha.png", bgra));
    cv::Mat deep;
    photo(3).convertTo(deep, CV_16UC3, 257);
    ASSERT_TRUE(cv::imwrite(in + "deep.png", deep));
    cv::Mat grey;
    cv::cvtColor(photo(4), grey, cv::COLOR_BGR2GRAY);
    ASSERT_TRUE(cv::imwrite(in + "grey name with spaces é.png", grey));
    EXPECT_EQ(run().corrected, 4) << ::testing::PrintToString(heard.notes);

    std::ifstream jpeg(out + "IMG_0001.JPG", std::ios::binary);
    char magic[2] = {};
    jpeg.read(magic, 2);
    EXPECT_EQ(std::string(magic, 2), "\xFF\xD8");
    for (const char* name : {"alpha.png", "deep.png", "grey name with spaces é.png"}) {
        cv::Mat written = cv::imread(out + name, cv::IMREAD_UNCHANGED);
        EXPECT_EQ(written.type(), CV_8UC3)
            << name;  // alpha dropped, 16-bit and grey read as 8-bit colour
    }
    cv::Mat expectDeep = correctImage(cv::imread(in + "deep.png", cv::IMREAD_COLOR), model);
    EXPECT_EQ(
        cv::norm(cv::imread(out + "deep.png", cv::IMREAD_UNCHANGED), expectDeep, cv::NORM_INF), 0);
}

TEST_F(Batch, StrayFilesAreSkippedByNameAndSubfoldersNotEntered) {
    ASSERT_TRUE(cv::imwrite(in + "a.png", photo(1)));
    std::ofstream(in + "notes.txt") << "not a photo";
    std::ofstream(in + "empty.jpg");
    std::ofstream(in + "random.jpg") << std::string(5000, '\x5a');
    ASSERT_TRUE(cv::imwrite(in + "z.png", photo(2)));
    fs::create_directories(in + "sub");
    fs::copy_file(in + "a.png", in + "sub/b.png");

    BatchReport report = run();
    EXPECT_EQ(report.corrected, 2);
    EXPECT_EQ(report.skipped, 3);
    EXPECT_EQ(report.failed, 0);
    ASSERT_EQ(heard.notes.size(), 4u);
    EXPECT_EQ(heard.notes[0], "NotEntered " + in + ": sub/");
    EXPECT_EQ(heard.notes[1], "Skipped " + in + "empty.jpg: not an image");
    EXPECT_EQ(heard.notes[2], "Skipped " + in + "notes.txt: not an image");
    EXPECT_EQ(heard.notes[3], "Skipped " + in + "random.jpg: not an image");
    EXPECT_EQ(listed(out).size(), 2u);
    EXPECT_TRUE(cv::imread(out + "sub/b.png").empty());
}

// Regression: a missing or read-only ccPhotos was told once for every photo
TEST_F(Batch, AMissingFolderIsToldOnceAndCounted) {
    ASSERT_TRUE(cv::imwrite(in + "a.png", photo(1)));
    ASSERT_TRUE(cv::imwrite(in + "b.png", photo(2)));
    fs::remove_all(out);
    BatchReport report = run();
    EXPECT_EQ(report.failed, 2);
    EXPECT_EQ(report.corrected, 0);
    EXPECT_EQ(heard.notes,
              std::vector<std::string>{"FolderNotWritten " + out + ": No such file or directory"});

    fs::remove_all(in);
    report = run();
    EXPECT_EQ(report.failed, 1);
    EXPECT_EQ(heard.notes,
              std::vector<std::string>{"NotListed " + in + ": it is missing or cannot be read"});
}

// --- The overlapping stages, with photos large enough for the colour tables ---

class BatchPipeline : public TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        fs::create_directories(root / "Photos");
        fs::create_directories(root / "ccPhotos");
    }

    std::string input() const { return folder + "Photos/"; }
    std::string output() const { return folder + "ccPhotos/"; }

    void addFile(const std::string& name, const std::string& bytes) {
        std::ofstream(input() + name, std::ios::binary) << bytes;
    }

    // A photo stored as PNG whatever its name (lossless, so decoded output
    // pixels are exactly the corrected ones).
    cv::Mat addPhoto(const std::string& name, int rows, int cols, std::uint64_t seed) {
        cv::Mat photo = paletteImage(rows, cols, 30000, seed);
        std::vector<std::uint8_t> png;
        EXPECT_TRUE(cv::imencode(".png", photo, png));
        addFile(name, std::string(png.begin(), png.end()));
        return photo;
    }
};

TEST_F(BatchPipeline, WritesEveryPhotoAsThePlainSequenceToldInListingOrder) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    // more photos than the stages hold at once, of several sizes, with strays
    // between them: a text file, a photo whose name has no writer (written as
    // its content, PNG), and a name that cannot be written because a folder
    // is in its place
    std::vector<std::pair<std::string, cv::Mat>> photos;
    photos.emplace_back("a.png", addPhoto("a.png", 480, 640, 1));
    addFile("b_notes.txt", "not a photo");
    photos.emplace_back("c.png", addPhoto("c.png", 300, 500, 2));
    photos.emplace_back("d.photo", addPhoto("d.photo", 200, 300, 3));
    photos.emplace_back("e.png", addPhoto("e.png", 600, 400, 4));
    addPhoto("f.png", 100, 100, 5);
    fs::create_directories(root / "ccPhotos" / "f.png");
    for (const char* name : {"g.png", "h.png", "i.png", "j.png"})
        photos.emplace_back(name, addPhoto(name, 350, 450, name[0]));
    addFile("k.txt", "");

    Heard heard;
    const BatchReport report = batchCorrectPhotos(input(), output(), model, heard.observer());
    const std::vector<std::pair<int, int>>& progress = heard.progress;
    const std::vector<std::string>& lines = heard.notes;
    // notes and progress: on the calling thread, from none to all of the 11
    // listed, never back
    EXPECT_FALSE(heard.otherThread);
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front(), std::make_pair(0, 11));
    EXPECT_EQ(progress.back(), std::make_pair(11, 11));
    for (std::size_t i = 1; i < progress.size(); ++i)
        EXPECT_LE(progress[i - 1].first, progress[i].first);
    EXPECT_EQ(report.corrected, 8);
    EXPECT_EQ(report.skipped, 2);  // not images: told, the run still complete
    EXPECT_EQ(report.failed, 1);   // a folder in f.png's place
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Skipped " + input() + "b_notes.txt: not an image");
    EXPECT_EQ(lines[1], "NotWritten " + output() + "f.png: a folder of that name is in the way");
    EXPECT_EQ(lines[2], "Skipped " + input() + "k.txt: not an image");

    for (const auto& [name, photo] : photos) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(
            sameBytes(correctImage(photo, model), cv::imread(output() + name, cv::IMREAD_COLOR)));
    }
    EXPECT_FALSE(fs::exists(root / "ccPhotos" / "b_notes.txt"));
    EXPECT_EQ(readHead(output() + "d.photo"), "\x89PNG");
    // every photo went to disk under a temporary name first; none is left
    for (const auto& item : fs::directory_iterator(root / "ccPhotos"))
        EXPECT_EQ(item.path().filename().string().rfind(".tintsmith-", 0), std::string::npos)
            << item.path();
}

// A small one is done without threads, a large one by the workers.
TEST_F(BatchPipeline, ALonePhotoIsCorrectedLikeTheRest) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    for (const cv::Size size : {cv::Size(80, 60), cv::Size(800, 600)}) {
        SCOPED_TRACE(size);
        cv::Mat photo = addPhoto("only.png", size.height, size.width, 8);
        Heard heard;
        BatchReport report = batchCorrectPhotos(input(), output(), model, heard.observer());
        EXPECT_EQ(report.corrected, 1);
        EXPECT_EQ(heard.progress.back(), std::make_pair(1, 1));
        EXPECT_TRUE(sameBytes(correctImage(photo, model),
                              cv::imread(output() + "only.png", cv::IMREAD_COLOR)));
    }
}

// Regression: an error on a worker thread must reach the caller, after the
// notes of the entries before it, and not end the process or hang the batch.
TEST_F(BatchPipeline, AModelErrorStopsTheBatchInListingOrder) {
    cv::ccm::ColorCorrectionModel unfitted(cv::Mat(24, 1, CV_64FC3, cv::Scalar::all(0.5)),
                                           cv::ccm::COLORCHECKER_Macbeth);
    addFile("a.txt", "not a photo");
    for (const char* name : {"b.png", "c.png", "d.png", "e.png"}) addPhoto(name, 400, 400, name[0]);

    Heard heard;
    EXPECT_THROW(batchCorrectPhotos(input(), output(), unfitted, heard.observer()), cv::Exception);
    EXPECT_EQ(heard.notes, std::vector<std::string>{"Skipped " + input() + "a.txt: not an image"});
    EXPECT_TRUE(fs::is_empty(root / "ccPhotos"));
}

}  // namespace
}  // namespace tintsmith
