// Images are read whole or refused: cut short, damaged, too large for the
// machine, or not regular files; and temporary names stay short.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;

struct ImageReading : ::testing::Test {
    void SetUp() override {
        folder = ::testing::TempDir() + "reading_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    std::string put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(folder + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return folder + name;
    }
    static std::vector<std::uint8_t> encoded(const std::string& extension) {
        cv::Mat chart = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR), small;
        cv::resize(chart, small, {400, 300});
        std::vector<std::uint8_t> bytes;
        cv::imencode(extension, small, bytes);
        return bytes;
    }
    std::string folder;
};

// Regression: a JPEG cut short decoded with grey rows and gave a wrong LUT.
TEST_F(ImageReading, FilesCutShortOrDamagedAreRefused) {
    for (const char* extension : {".jpg", ".png"}) {
        const std::vector<std::uint8_t> whole = encoded(extension);
        ImageRead read = readImageWhole(put(std::string("whole") + extension, whole));
        EXPECT_EQ(read.outcome, ReadOutcome::Read) << extension << ": " << read.reason;
        EXPECT_EQ(read.image.size(), cv::Size(400, 300));
        for (double share : {0.10, 0.30, 0.70, 0.99}) {
            const long kept = long(whole.size() * share);
            std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + kept);
            read = readImageWhole(put(std::string("cut") + extension, cut));
            EXPECT_EQ(read.outcome, ReadOutcome::Damaged) << extension << " cut at " << share;
            EXPECT_TRUE(read.image.empty());
            EXPECT_NE(read.reason.find("cut short"), std::string::npos) << read.reason;
        }
        // a card pulled mid-copy: the full length, the end all zeros
        std::vector<std::uint8_t> zeroed = whole;
        std::fill(zeroed.begin() + long(zeroed.size() / 2), zeroed.end(), 0);
        EXPECT_EQ(readImageWhole(put(std::string("zeroed") + extension, zeroed)).outcome,
                  ReadOutcome::Damaged)
            << extension;
    }
    // a flipped byte in a PNG fails its checksum
    std::vector<std::uint8_t> png = encoded(".png");
    png[png.size() / 2] ^= 0x40;
    ImageRead read = readImageWhole(put("flipped.png", png));
    EXPECT_EQ(read.outcome, ReadOutcome::Damaged);
    EXPECT_NE(read.reason.find("checksum"), std::string::npos) << read.reason;
    // data after a JPEG's end (camera trailers) is no damage
    std::vector<std::uint8_t> trailer = encoded(".jpg");
    trailer.insert(trailer.end(), 3000, 0x55);
    EXPECT_EQ(readImageWhole(put("trailer.jpg", trailer)).outcome, ReadOutcome::Read);
}

// Regression: a 900-megapixel PNG of 2.6 MB took 12 GiB before a word was said.
TEST_F(ImageReading, TheSizeIsCheckedFromTheHeaderBeforeDecoding) {
    // a PNG header of 30000 x 30000 alone: refused without any pixel data
    std::vector<std::uint8_t> header = {0x89, 'P', 'N',  'G',  '\r', '\n', 0x1a, '\n', 0,    0,
                                        0,    13,  'I',  'H',  'D',  'R',  0,    0,    0x75, 0x30,
                                        0,    0,   0x75, 0x30, 8,    2,    0,    0,    0};
    std::uint32_t crc = 0xffffffffu;  // PNG's CRC-32 over the chunk's type and data
    for (std::size_t i = 12; i < header.size(); ++i) {
        crc ^= header[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xedb88320u ^ (crc >> 1) : crc >> 1;
    }
    crc ^= 0xffffffffu;
    for (int i = 3; i >= 0; --i) header.push_back(std::uint8_t(crc >> (8 * i)));
    ImageRead read = readImageWhole(put("huge.png", header), 100'000'000);
    EXPECT_EQ(read.outcome, ReadOutcome::TooLarge);
    EXPECT_NE(read.reason.find("30000 x 30000 pixels (900 megapixels)"), std::string::npos)
        << read.reason;

    for (const char* extension : {".jpg", ".png", ".bmp"}) {
        std::string path = put(std::string("photo") + extension, encoded(extension));
        EXPECT_EQ(inspectImage(encoded(extension)).width, 400) << extension;
        EXPECT_EQ(readImageWhole(path, 400 * 300).outcome, ReadOutcome::Read) << extension;
        EXPECT_EQ(readImageWhole(path, 400 * 300 - 1).outcome, ReadOutcome::TooLarge) << extension;
    }
    // a 100-megapixel photo (4.3 GiB at its peak) stays readable on a machine
    // of 10 GiB; the decoders' own limit is never passed
    if (platform::physicalMemoryBytes() >= (std::size_t(10) << 30)) {
        EXPECT_GE(largestImagePixels(), 100'000'000u);
    }
    EXPECT_LE(largestImagePixels(), std::size_t(1) << 30);
}

// Regression: a pipe named like a photo hung the run on its first read.
TEST_F(ImageReading, OnlyRegularFilesAreOpened) {
    ASSERT_EQ(mkfifo((folder + "pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(folder + "folder.jpg");
    std::ofstream(folder + "notes.txt") << "not a picture";
    const std::string photo = put("photo.png", encoded(".png"));
    fs::create_symlink(photo, folder + "link.png");
    fs::create_symlink(folder + "gone.png", folder + "dangling.png");

    const std::pair<const char*, ReadOutcome> cases[] = {
        {"pipe.jpg", ReadOutcome::Unreadable},  {"folder.jpg", ReadOutcome::Unreadable},
        {"missing.jpg", ReadOutcome::Missing},  {"dangling.png", ReadOutcome::Missing},
        {"notes.txt", ReadOutcome::NotAnImage}, {"link.png", ReadOutcome::Read},
    };
    for (const auto& [name, outcome] : cases) {
        ImageRead read = readImageWhole(folder + name);
        EXPECT_EQ(read.outcome, outcome) << name << ": " << read.reason;
        EXPECT_EQ(read.image.empty(), outcome != ReadOutcome::Read) << name;
    }
}

// Regression: the temporary name added a suffix to the photo's name, so a
// name near the file system's limit could not be written at all.
TEST_F(ImageReading, ANameThatFitsIsWritableAndLeftTemporariesAreCleared) {
    const std::string longName = std::string(251, 'n') + ".png";  // 255 bytes
    const std::string temporary = temporaryPathFor(folder + longName);
    EXPECT_EQ(temporary.rfind(folder, 0), 0u);
    EXPECT_LT(temporary.size() - folder.size(), 40u);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(writeImageFile(folder + longName, cv::Mat(8, 8, CV_8UC3, cv::Scalar(1, 2, 3))));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // a process that has ended, and names that only look alike
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    const std::string dead = ".tintsmith-" + std::to_string(child) + "-4.tmp";
    const std::string mine = ".tintsmith-" + std::to_string(platform::processId()) + "-9.tmp";
    for (const std::string& name :
         {dead, mine, std::string("photo.jpg.tmp"), std::string(".tintsmith-12ab-1.tmp"),
          std::string(".tintsmith-" + std::to_string(child) + ".tmp")})
        std::ofstream(folder + name) << "x";
    EXPECT_EQ(removeLeftTemporaries(folder), 1);
    EXPECT_FALSE(fs::exists(folder + dead));
    EXPECT_TRUE(fs::exists(folder + mine));
    EXPECT_TRUE(fs::exists(folder + "photo.jpg.tmp"));
    EXPECT_TRUE(fs::exists(folder + ".tintsmith-12ab-1.tmp"));
}

TEST_F(ImageReading, OnlyFormatsThatHoldEightBitColourAreWritten) {
    const std::pair<const char*, bool> cases[] = {
        {"a.jpg", true},  {"a.PNG", true},  {"a.tif", true},  {"a.pgm", false},
        {"a.pbm", false}, {"a.hdr", false}, {"a.pfm", false}, {"a.raw", false},
    };
    for (const auto& [name, writable] : cases)
        EXPECT_EQ(colourFormatProblem(folder + name).empty(), writable)
            << name << ": " << colourFormatProblem(folder + name);
}

}  // namespace
}  // namespace tintsmith
