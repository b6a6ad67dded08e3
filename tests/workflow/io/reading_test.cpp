// Pictures are read whole or refused: cut short, damaged, too large for the
// machine, or not regular files; and the Exif orientation.
#include <sys/stat.h>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/platform.hpp"
#include "temp_folder.hpp"
#include "workflow/fixtures.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;

struct ImageReading : TempFolderTest {
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
};

// Regression: a JPEG cut short decoded with grey rows and gave a wrong LUT.
TEST_F(ImageReading, FilesCutShortOrDamagedAreRefused) {
    for (const char* extension : {".jpg", ".png"}) {
        const std::vector<std::uint8_t> whole = encoded(extension);
        ImageRead read = readImageWhole(put(std::string("whole") + extension, whole));
        EXPECT_TRUE(read.outcome.done) << extension << ": " << read.outcome.reason;
        EXPECT_EQ(read.image.size(), cv::Size(400, 300));
        for (double share : {0.10, 0.30, 0.70, 0.99}) {
            const long kept = long(whole.size() * share);
            std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + kept);
            read = readImageWhole(put(std::string("cut") + extension, cut));
            EXPECT_EQ(read.problem, ReadProblem::Damaged) << extension << " cut at " << share;
            EXPECT_TRUE(read.image.empty());
            EXPECT_NE(read.outcome.reason.find("cut short"), std::string::npos)
                << read.outcome.reason;
        }
        // a card pulled mid-copy: the full length, the end all zeros
        std::vector<std::uint8_t> zeroed = whole;
        std::fill(zeroed.begin() + long(zeroed.size() / 2), zeroed.end(), 0);
        EXPECT_EQ(readImageWhole(put(std::string("zeroed") + extension, zeroed)).problem,
                  ReadProblem::Damaged)
            << extension;
    }
    // a flipped byte in a PNG fails its checksum
    std::vector<std::uint8_t> png = encoded(".png");
    png[png.size() / 2] ^= 0x40;
    ImageRead read = readImageWhole(put("flipped.png", png));
    EXPECT_EQ(read.problem, ReadProblem::Damaged);
    EXPECT_NE(read.outcome.reason.find("checksum"), std::string::npos) << read.outcome.reason;
    // data after a JPEG's end (camera trailers) is no damage
    std::vector<std::uint8_t> trailer = encoded(".jpg");
    trailer.insert(trailer.end(), 3000, 0x55);
    EXPECT_TRUE(readImageWhole(put("trailer.jpg", trailer)).outcome.done);
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
    EXPECT_EQ(read.problem, ReadProblem::TooLarge);
    EXPECT_NE(read.outcome.reason.find("30000 x 30000 pixels (900 megapixels)"), std::string::npos)
        << read.outcome.reason;

    for (const char* extension : {".jpg", ".png", ".bmp"}) {
        std::string path = put(std::string("photo") + extension, encoded(extension));
        EXPECT_TRUE(readImageWhole(path, 400 * 300).outcome.done) << extension;
        EXPECT_EQ(readImageWhole(path, 400 * 300 - 1).problem, ReadProblem::TooLarge) << extension;
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

    const std::pair<const char*, ReadProblem> cases[] = {
        {"pipe.jpg", ReadProblem::Unreadable},  {"folder.jpg", ReadProblem::Unreadable},
        {"missing.jpg", ReadProblem::Missing},  {"dangling.png", ReadProblem::Missing},
        {"notes.txt", ReadProblem::NotAnImage}, {"link.png", ReadProblem::None},
    };
    for (const auto& [name, problem] : cases) {
        ImageRead read = readImageWhole(folder + name);
        EXPECT_EQ(read.problem, problem) << name << ": " << read.outcome.reason;
        EXPECT_EQ(read.image.empty(), problem != ReadProblem::None) << name;
    }
}

// --- Exif --------------------------------------------------------------------

TEST(Exif, OrientationIsReadOnlyFromAWellFormedSegment) {
    const std::vector<std::uint8_t> rotated = exifSegment(0x0112, 3, 6);
    std::vector<std::uint8_t> motorola = {'E', 'x', 'i',  'f',  0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8,
                                          0,   1,   0x01, 0x12, 0, 3, 0,   0,   0, 1,  0, 8, 0, 0};
    std::vector<std::uint8_t> twice = rotated;  // two entries, both an orientation, and they differ
    twice[14] = 2;
    twice.insert(twice.begin() + 28, rotated.begin() + 16, rotated.begin() + 28);
    twice[36] = 1;
    std::vector<std::uint8_t> thumbnail =
        exifSegment(0x010f, 2, 0);  // the thumbnail's directory names it
    thumbnail[28] = 26;
    thumbnail.insert(thumbnail.end(), rotated.begin() + 14, rotated.end());
    const struct {
        const char* what;
        std::vector<std::uint8_t> segment;
        int orientation;
    } cases[] = {
        {"Intel order", rotated, 6},
        {"Motorola order", motorola, 8},
        {"another tag only", exifSegment(0x010f, 2, 0), 1},
        {"orientation as LONG", exifSegment(0x0112, 4, 6), 0},
        {"cut short", std::vector<std::uint8_t>(rotated.begin(), rotated.end() - 8), 0},
        {"named twice, differently", twice, 0},
        {"named for the thumbnail", thumbnail, 6},
        {"not Exif", std::vector<std::uint8_t>(30, 'x'), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(exifOrientation(c.segment.data(), c.segment.size()), c.orientation) << c.what;
}

}  // namespace
}  // namespace tintsmith
