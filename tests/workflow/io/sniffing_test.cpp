// What a file is and how large its picture, from its name and first bytes.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes encoded(const std::string& extension, int width, int height,
              const std::vector<int>& parameters = {}) {
    Bytes bytes;
    EXPECT_TRUE(cv::imencode(extension, cv::Mat(height, width, CV_8UC3, cv::Scalar(10, 100, 200)),
                             bytes, parameters))
        << extension;
    return bytes;
}

Bytes text(const std::string& chars) {
    return Bytes(chars.begin(), chars.end());
}

FileSniff sniffed(const std::string& name, const Bytes& bytes) {
    return sniffBytes(name, bytes.data(), bytes.size());
}

// A bitmap of the OS/2 kind: a 12-byte header of 16-bit sizes, then 24-bit rows.
Bytes os2Bitmap(int width, int height) {
    const int row = (width * 3 + 3) / 4 * 4;
    const int size = 26 + row * height;
    Bytes b = {'B',
               'M',
               std::uint8_t(size),
               std::uint8_t(size >> 8),
               0,
               0,
               0,
               0,
               0,
               0,
               26,
               0,
               0,
               0,
               12,
               0,
               0,
               0,
               std::uint8_t(width),
               std::uint8_t(width >> 8),
               std::uint8_t(height),
               std::uint8_t(height >> 8),
               1,
               0,
               24,
               0};
    b.resize(std::size_t(size), 0x80);
    return b;
}

// The JPEG with its Huffman tables moved before its frame header, as some
// cameras and editors write them.
Bytes tablesFirst(Bytes jpeg) {
    Bytes tables;
    std::size_t frame = 0;
    for (std::size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos + 1] != 0xda;) {
        const std::size_t length = std::size_t(jpeg[pos + 2] << 8 | jpeg[pos + 3]) + 2;
        if (jpeg[pos + 1] == 0xc0) frame = pos;
        if (jpeg[pos + 1] != 0xc4) {
            pos += length;
            continue;
        }
        tables.insert(tables.end(), jpeg.begin() + long(pos), jpeg.begin() + long(pos + length));
        jpeg.erase(jpeg.begin() + long(pos), jpeg.begin() + long(pos + length));
    }
    jpeg.insert(jpeg.begin() + long(frame), tables.begin(), tables.end());
    return jpeg;
}

TEST(Sniffing, PicturesAreToldWithTheirSizeFromTheHeader) {
    Bytes jpeg = encoded(".jpg", 321, 123);
    // an Exif block of 64 KiB before the frame: the size lies past the first bytes read
    Bytes app1 = {0xff, 0xe1, 0xff, 0xff};
    app1.resize(0xffff + 2, 'x');
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    const struct {
        const char* name;
        Bytes bytes;
        const char* format;
        const char* extension;
        int width, height;
    } cases[] = {
        {"a.jpg", jpeg, "JPEG", ".jpg", 321, 123},
        // regression: a table was taken for the frame, 1281 x 1, slipping the size guard
        {"tables first.jpg", tablesFirst(encoded(".jpg", 322, 124)), "JPEG", ".jpg", 322, 124},
        {"a.png", encoded(".png", 40, 30), "PNG", ".png", 40, 30},
        {"a.bmp", encoded(".bmp", 41, 31), "BMP", ".bmp", 41, 31},
        // regression: the 12-byte header was read as 32-bit sizes, 49 million megapixels
        {"os2.bmp", os2Bitmap(30, 20), "BMP", ".bmp", 30, 20},
        {"a.tif", encoded(".tif", 42, 32), "TIFF", ".tif", 42, 32},
        {"lossy.webp", encoded(".webp", 43, 33), "WebP", ".webp", 43, 33},
        {"lossless.webp", encoded(".webp", 44, 34, {cv::IMWRITE_WEBP_QUALITY, 101}), "WebP",
         ".webp", 44, 34},
        {"a.ppm", encoded(".ppm", 45, 35), "PNM", ".ppm", 45, 35},
        {"a.pam", encoded(".pam", 46, 36), "PAM", ".pam", 46, 36},
        {"a.pfm", encoded(".pfm", 47, 37), "PFM", ".pfm", 47, 37},
        {"a.ras", encoded(".ras", 48, 38), "Sun raster", ".ras", 48, 38},
        {"a.jp2", encoded(".jp2", 49, 39), "JPEG 2000", ".jp2", 49, 39},
        {"a.hdr", encoded(".hdr", 50, 40), "Radiance HDR", ".hdr", 50, 40},
        {"no name", text("P3\n# a comment\n2 1\n255\n1 2 3 4 5 6\n"), "PNM", ".ppm", 2, 1},
    };
    for (const auto& c : cases) {
        const FileSniff sniff = sniffed(c.name, c.bytes);
        EXPECT_EQ(sniff.kind, FileKind::Picture) << c.name;
        EXPECT_EQ(sniff.format, c.format) << c.name;
        EXPECT_EQ(sniff.extension, c.extension) << c.name;
        EXPECT_EQ(sniff.width, c.width) << c.name;
        EXPECT_EQ(sniff.height, c.height) << c.name;
        EXPECT_EQ(sniff.damage, "") << c.name;
        EXPECT_EQ(sniff.pages, 1) << c.name;
    }
}

// Regression: every file but a JPEG, PNG or BMP cut short was "not an image".
TEST(Sniffing, AFileShorterThanItsHeaderSaysIsCutShort) {
    const struct {
        const char* name;
        Bytes whole;
    } cases[] = {
        {"a.tif", encoded(".tif", 300, 200)}, {"a.webp", encoded(".webp", 300, 200)},
        {"a.ppm", encoded(".ppm", 300, 200)}, {"a.pam", encoded(".pam", 300, 200)},
        {"a.pfm", encoded(".pfm", 300, 200)}, {"a.ras", encoded(".ras", 300, 200)},
        {"a.bmp", encoded(".bmp", 300, 200)}, {"a.jp2", encoded(".jp2", 300, 200)},
        {"os2.bmp", os2Bitmap(300, 200)},
    };
    for (const auto& c : cases) {
        for (double share : {0.5, 0.99}) {
            const Bytes cut(c.whole.begin(), c.whole.begin() + long(c.whole.size() * share));
            const FileSniff sniff = sniffed(c.name, cut);
            EXPECT_EQ(sniff.kind, FileKind::Picture) << c.name;
            EXPECT_NE(sniff.damage.find("cut short"), std::string::npos)
                << c.name << " cut at " << share << ": '" << sniff.damage << "'";
        }
    }
}

TEST(Sniffing, TheOtherPagesOfATiffAreCounted) {
    const std::vector<cv::Mat> pages(3, cv::Mat(20, 30, CV_8UC3, cv::Scalar(1, 2, 3)));
    const std::string path = ::testing::TempDir() + "pages.tif";
    ASSERT_TRUE(cv::imwritemulti(path, pages));
    Bytes file;
    FILE* in = std::fopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    for (int c; (c = std::fgetc(in)) != EOF;) file.push_back(std::uint8_t(c));
    std::fclose(in);
    std::remove(path.c_str());
    const FileSniff sniff = sniffed("pages.tif", file);
    EXPECT_EQ(sniff.format, "TIFF");
    EXPECT_EQ(sniff.pages, 3);
    EXPECT_EQ(sniff.width, 30);
}

TEST(Sniffing, RawFilesAndVideosAreToldByNameAndByContent) {
    const Bytes tiff = encoded(".tif", 8, 8);
    const Bytes nothing = text("no picture at all, whatever the name says");
    Bytes mp4 = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0};
    mp4.insert(mp4.end(), {'i', 's', 'o', 'm', 'm', 'p', '4', '1'});
    Bytes heic = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0};
    heic.insert(heic.end(), {'m', 'i', 'f', '1', 'h', 'e', 'i', 'c'});
    Bytes cr3 = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'c', 'r', 'x', ' ', 0, 0, 0, 1};
    cr3.insert(cr3.end(), {'c', 'r', 'x', ' ', 'i', 's', 'o', 'm'});
    Bytes animated = text(std::string("RIFF\x40\0\0\0WEBPVP8X\x0a\0\0\0", 20));
    animated.resize(64, 0);
    animated[20] = 0x12;  // animation and alpha
    Bytes mkv = {0x1a, 0x45, 0xdf, 0xa3, 0x9f, 0x42, 0x86, 0x81, 0x01};
    const struct {
        const char* name;
        Bytes bytes;
        FileKind kind;
        const char* format;
    } cases[] = {
        {"DSC_0001.NEF", tiff, FileKind::Raw, "NEF"},  // a TIFF inside: its name decides
        {"IMG_0001.dng", tiff, FileKind::Raw, "DNG"},
        {"a.cr2", nothing, FileKind::Raw, "CR2"},
        {"photo.jpg", cr3, FileKind::Raw, "CR3"},
        {"photo.jpg", text("FUJIFILMCCD-RAW 0201FF383501"), FileKind::Raw, "RAF"},
        {"clip.MOV", nothing, FileKind::Video, "MOV"},
        {"clip.mkv", nothing, FileKind::Video, "MKV"},
        {"clip", mp4, FileKind::Video, "MP4"},
        {"clip.jpg", mkv, FileKind::Video, "Matroska (MKV or WebM)"},
        {"clip.jpg", text(std::string("RIFF\x40\0\0\0AVI LIST", 16)), FileKind::Video, "AVI"},
        {"a.gif", text("GIF89a\x10\0\x10\0"), FileKind::Unsupported, "GIF"},
        {"a.heic", heic, FileKind::Unsupported, "HEIC/HEIF"},
        {"a.webp", animated, FileKind::Unsupported, "animated WebP"},
        {"notes.txt", nothing, FileKind::Unknown, ""},
        {"empty.jpg", {}, FileKind::Unknown, ""},
    };
    for (const auto& c : cases) {
        const FileSniff sniff = sniffed(c.name, c.bytes);
        EXPECT_EQ(sniff.kind, c.kind) << c.name << " (" << sniff.format << ")";
        EXPECT_EQ(sniff.format, c.format) << c.name;
    }
}

// A reader that counts what it is asked for: sniffing a file of any size reads
// a few bytes of it, never the whole.
TEST(Sniffing, LooksAtTheFirstBytesOnly) {
    const std::uint64_t size = std::uint64_t(40) << 30;  // a 40 GB video, say
    std::uint64_t asked = 0;
    const ReadAt zeros = [&](std::uint64_t, std::uint8_t* into, std::size_t count) {
        asked += count;
        std::memset(into, 0, count);
        return count;
    };
    for (const char* name : {"clip.mp4", "blob.bin", "big.jpg"}) {
        asked = 0;
        const FileSniff sniff = sniffFile(name, size, zeros);
        EXPECT_NE(sniff.kind, FileKind::Picture) << name;
        EXPECT_LE(asked, 64u * 1024) << name;
    }
}

}  // namespace
}  // namespace tintsmith
