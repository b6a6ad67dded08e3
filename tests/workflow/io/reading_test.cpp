// Pictures are read whole or refused: cut short, damaged, too large for the
// machine, or not regular files.
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

// The JPEG's bytes with `insert` put at `at`.
std::vector<std::uint8_t> spliced(std::vector<std::uint8_t> bytes, std::size_t at,
                                  const std::vector<std::uint8_t>& insert) {
    bytes.insert(bytes.begin() + long(at), insert.begin(), insert.end());
    return bytes;
}

// Where a JPEG's last scan starts (its last SOS marker).
std::size_t lastScan(const std::vector<std::uint8_t>& jpeg) {
    std::size_t at = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xff && jpeg[i + 1] == 0xda) at = i;
    return at;
}

// Whole means every pixel: what the decoder reports of the pixels decides,
// not the file's last bytes.
TEST_F(ImageReading, AJpegIsWholeWhenEveryPixelDecodes) {
    const std::vector<std::uint8_t> jpeg = encoded(".jpg");
    std::vector<std::uint8_t> progressive;
    cv::imencode(".jpg", cv::imdecode(jpeg, cv::IMREAD_COLOR), progressive,
                 {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    const std::size_t scan = lastScan(jpeg);
    std::vector<std::uint8_t> zeroed = jpeg;
    std::fill(zeroed.begin() + long(scan + (jpeg.size() - scan) / 3),
              zeroed.begin() + long(scan + (jpeg.size() - scan) / 2), 0);
    std::vector<std::uint8_t> garbled = progressive;
    for (std::size_t i = progressive.size() / 2; i < progressive.size() / 2 + 200; i += 7)
        if (garbled[i] != 0xff && garbled[i] != 0x00) garbled[i] ^= 0x5a;
    std::vector<std::uint8_t> cutWithEnd(jpeg.begin(), jpeg.begin() + long(jpeg.size() * 6 / 10));
    cutWithEnd.insert(cutWithEnd.end(), {0xff, 0xd9});
    // the progressive file cut where its last scan begins: every pixel there,
    // not every refinement
    std::vector<std::uint8_t> lastScanMissing(progressive.begin(),
                                              progressive.begin() + long(lastScan(progressive)));
    const cv::Mat plain = cv::imdecode(jpeg, cv::IMREAD_COLOR);
    const cv::Mat refined = cv::imdecode(progressive, cv::IMREAD_COLOR);
    const std::vector<std::uint8_t> stray = {0x12, 0x34, 0x56};
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        ReadProblem problem;
        const char* told;     // what the refusal says
        const cv::Mat* twin;  // the pixels of the file without its stray bytes
    } cases[] = {
        // regression: refused though every pixel decodes
        {"without its end marker", std::vector<std::uint8_t>(jpeg.begin(), jpeg.end() - 2),
         ReadProblem::None, "", &plain},
        {"progressive, without its end marker",
         std::vector<std::uint8_t>(progressive.begin(), progressive.end() - 2), ReadProblem::None,
         "", &refined},
        {"stray bytes between segments", spliced(jpeg, 20, {0, 0, 0x17, 0x2a}), ReadProblem::None,
         "", &plain},
        {"stray bytes before the end marker", spliced(jpeg, jpeg.size() - 2, stray),
         ReadProblem::None, "", &plain},
        {"stray bytes after a progressive scan", spliced(progressive, lastScan(progressive), stray),
         ReadProblem::None, "", &refined},
        // regression: written out as if whole
        {"cut, then given an end marker", cutWithEnd, ReadProblem::Damaged, "damaged", nullptr},
        // regression: a full-length file was told as cut short
        {"zeroed scan data", zeroed, ReadProblem::Damaged, "damaged", nullptr},
        {"garbled progressive", garbled, ReadProblem::Damaged, "damaged", nullptr},
        {"progressive without its last scan", lastScanMissing, ReadProblem::Damaged, "cut short",
         nullptr},
    };
    for (const auto& c : cases) {
        const ImageRead read = readImageWhole(put("case.jpg", c.bytes));
        EXPECT_EQ(read.problem, c.problem) << c.what << ": " << read.outcome.reason;
        EXPECT_NE(read.outcome.reason.find(c.told), std::string::npos)
            << c.what << ": " << read.outcome.reason;
        if (c.twin) {
            EXPECT_TRUE(sameBytes(*c.twin, read.image)) << c.what;
        } else {
            EXPECT_TRUE(read.image.empty()) << c.what;
        }
    }
}

// Regression: a PNG whose text chunk failed its checksum was refused, though
// the decoder only drops that chunk.
TEST_F(ImageReading, APngChecksumRefusesOnlyInCriticalChunks) {
    const std::vector<std::uint8_t> png = encoded(".png");
    std::vector<std::uint8_t> text = {
        0,   0,   0,   9,   't', 'E', 'X', 't', 'C', 'o', 'm',
        'm', 'e', 'n', 't', 0,   'x', 1,   2,   3,   4};  // a wrong checksum
    EXPECT_TRUE(readImageWhole(put("text.png", spliced(png, 33, text))).outcome.done);
    text[4] = 'T';  // the same, critical: no decoder can skip it
    EXPECT_EQ(readImageWhole(put("critical.png", spliced(png, 33, text))).problem,
              ReadProblem::Damaged);
}

// Regression: a cut TIFF, WebP, PPM, JPEG 2000 or Sun raster was "not an image".
TEST_F(ImageReading, ADamagedFileOfAnyFormatIsDamaged) {
    for (const char* extension : {".tif", ".webp", ".ppm", ".pam", ".jp2", ".ras", ".bmp"}) {
        const std::vector<std::uint8_t> whole = encoded(extension);
        ASSERT_TRUE(readImageWhole(put(std::string("whole") + extension, whole)).outcome.done)
            << extension;
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + long(whole.size() / 2));
        const ImageRead read = readImageWhole(put(std::string("cut") + extension, cut));
        EXPECT_EQ(read.problem, ReadProblem::Damaged) << extension << ": " << read.outcome.reason;
        EXPECT_TRUE(read.image.empty()) << extension;
    }
}

TEST_F(ImageReading, FormatsAreReadAsTheirViewersShowThem) {
    // regression: a PAM's RGB samples were read as BGR, red and blue swapped
    const std::string pam =
        "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n"
        "\xc8\x64\x0a\xc8\x64\x0a";
    ImageRead read =
        readImageWhole(put("a.pam", std::vector<std::uint8_t>(pam.begin(), pam.end())));
    ASSERT_TRUE(read.outcome.done) << read.outcome.reason;
    EXPECT_EQ(read.image.at<cv::Vec3b>(0, 0), cv::Vec3b(10, 100, 200));  // B, G, R
    // ...and a PAM written is read back the same by its readers
    std::string bytes;
    ASSERT_TRUE(encodeImage("b.pam", read.image, bytes).done);
    EXPECT_NE(bytes.find("\xc8\x64\x0a"), std::string::npos);
    // regression: without its tuple type viewers guessed the order, red and blue swapped
    EXPECT_NE(bytes.find("TUPLTYPE RGB\n"), std::string::npos);

    // regression: an Exif orientation behind an XMP segment was not applied
    std::vector<std::uint8_t> jpeg = encoded(".jpg");
    const std::string xmp = "http://ns.adobe.com/xap/1.0/";
    std::vector<std::uint8_t> xmpSegment(xmp.begin(), xmp.end());
    xmpSegment.push_back(0);
    for (const std::vector<std::uint8_t>& segment : {exifSegment(0x0112, 3, 6), xmpSegment}) {
        std::vector<std::uint8_t> marker = {0xff, 0xe1, 0, std::uint8_t(segment.size() + 2)};
        marker.insert(marker.end(), segment.begin(), segment.end());
        jpeg = spliced(jpeg, 2, marker);  // each before the last: XMP comes first
    }
    read = readImageWhole(put("turned.jpg", jpeg));
    ASSERT_TRUE(read.outcome.done) << read.outcome.reason;
    EXPECT_EQ(read.image.size(), cv::Size(300, 400));
}

// Regression: two 3 GB videos took 6.4 GB to be called "not an image", and a
// 40 GB one stopped the run.
TEST_F(ImageReading, AFileIsSizedBeforeItIsRead) {
    const std::uintmax_t huge = std::uintmax_t(40) << 30;  // sparse: no disk space taken
    std::vector<std::uint8_t> jpeg = encoded(".jpg");
    const struct {
        const char* name;
        std::vector<std::uint8_t> start;
        ReadProblem problem;
        const char* says;
    } cases[] = {
        {"clip.mp4", {}, ReadProblem::Video, "a video (MP4)"},
        {"blob.bin", {}, ReadProblem::NotAnImage, "not an image"},
        {"big.jpg", jpeg, ReadProblem::TooLarge, "far more than a picture of 400 x 300"},
        {"DSC_0001.NEF", encoded(".tif"), ReadProblem::Raw, "a RAW camera file (NEF)"},
    };
    for (const auto& c : cases) {
        const std::string path = put(c.name, c.start);
        fs::resize_file(path, huge);
        const ImageRead read = readImageWhole(path);
        EXPECT_EQ(read.problem, c.problem) << c.name;
        EXPECT_NE(read.outcome.reason.find(c.says), std::string::npos) << read.outcome.reason;
        EXPECT_TRUE(notAPhoto(read.problem) || read.problem == ReadProblem::TooLarge) << c.name;
        fs::remove(path);
    }
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

}  // namespace
}  // namespace tintsmith
