// What a corrected photo keeps of its original (Exif upright and without its
// thumbnail, XMP, comments), and the colour profiles told apart from sRGB.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>
#include <opencv2/imgcodecs.hpp>

#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out.push_back(char(value >> (8 * i)));
    return out;
}
std::string be(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(char(value >> (8 * i)));
    return out;
}

// One field of a directory: its value's bytes (Intel order) whatever their length.
struct Field {
    std::uint16_t tag, type;
    std::uint32_t count;
    std::string value;
};

// An Exif TIFF structure as cameras lay it out: the picture's directory, the
// Exif directory, the thumbnail's directory, the values that do not fit a
// field, and the thumbnail last. A field holding "@exif" or "@thumbnail"
// gets that part's offset.
std::string exifTiff(std::vector<Field> first, const std::vector<Field>& exif,
                     std::vector<Field> thumbnailFields, const std::string& thumbnail) {
    const auto directoryBytes = [](const std::vector<Field>& d) { return 2 + 12 * d.size() + 4; };
    const std::size_t exifAt = 8 + directoryBytes(first);
    const std::size_t thumbnailFieldsAt = exifAt + directoryBytes(exif);
    std::size_t dataAt = thumbnailFieldsAt + directoryBytes(thumbnailFields);
    std::string data;
    std::size_t thumbnailAt = 0;
    const auto directory = [&](std::vector<Field>& fields, std::size_t next) {
        std::string out = le(std::uint32_t(fields.size()), 2);
        for (Field& f : fields) {
            if (f.value == "@exif") f.value = le(std::uint32_t(exifAt), 4);
            if (f.value == "@thumbnail") f.value = le(std::uint32_t(thumbnailAt), 4);
            out += le(f.tag, 2) + le(f.type, 2) + le(f.count, 4);
            if (f.value.size() <= 4) {
                out += f.value + std::string(4 - f.value.size(), '\0');
            } else {
                out += le(std::uint32_t(dataAt + data.size()), 4);
                data += f.value;
            }
        }
        return out + le(std::uint32_t(next), 4);
    };
    // the values' lengths are known ahead, so the thumbnail's place is too
    std::size_t outOfLine = 0;
    const auto outOfLineBytes = [](const std::vector<Field>& fields) {
        std::size_t bytes = 0;
        for (const Field& f : fields)
            if (f.value[0] != '@') bytes += f.value.size() > 4 ? f.value.size() : 0;
        return bytes;
    };
    outOfLine = outOfLineBytes(first) + outOfLineBytes(exif) + outOfLineBytes(thumbnailFields);
    thumbnailAt = dataAt + outOfLine;
    std::vector<Field> exifFields = exif;
    std::string tiff = std::string("II*\0", 4) + le(8, 4);
    tiff += directory(first, thumbnailFieldsAt);
    tiff += directory(exifFields, 0);
    tiff += directory(thumbnailFields, 0);
    return tiff + data + thumbnail;
}

const std::string kThumbnail = "\xff\xd8 an uncorrected thumbnail \xff\xd9";

// A camera's Exif: make, date, GPS-like tag, orientation 6, sizes, a thumbnail.
std::string cameraExif() {
    return exifTiff({{0x010f, 2, 6, std::string("Canon\0", 6)},
                     {0x0112, 3, 1, le(6, 2)},
                     {0x8769, 4, 1, "@exif"}},
                    {{0x9003, 2, 20, std::string("2024:05:17 10:11:12\0", 20)},
                     {0xa002, 4, 1, le(400, 4)},
                     {0xa003, 4, 1, le(300, 4)}},
                    {{0x0103, 3, 1, le(6, 2)},
                     {0x0112, 3, 1, le(6, 2)},
                     {0x0201, 4, 1, "@thumbnail"},
                     {0x0202, 4, 1, le(std::uint32_t(kThumbnail.size()), 4)}},
                    kThumbnail);
}

Bytes exifSegmentOf(const std::string& tiff) {
    const std::string segment = std::string("Exif\0\0", 6) + tiff;
    return Bytes(segment.begin(), segment.end());
}

TEST(Metadata, TheExifIsMadeUprightWithoutItsThumbnail) {
    const std::string tiff = cameraExif();
    const Bytes before = exifSegmentOf(tiff);
    ASSERT_EQ(exifOrientation(before.data(), before.size()), 6);
    const std::string upright = uprightExif(tiff, 300, 400);
    const Bytes after = exifSegmentOf(upright);
    EXPECT_EQ(exifOrientation(after.data(), after.size()), 1);
    // the thumbnail's picture is gone: cut off, as it ended the structure
    EXPECT_EQ(upright.size(), tiff.size() - kThumbnail.size());
    EXPECT_EQ(upright.find("uncorrected"), std::string::npos);
    // the rest is kept: the camera, the date; the sizes are the turned picture's
    EXPECT_NE(upright.find("Canon"), std::string::npos);
    EXPECT_NE(upright.find("2024:05:17 10:11:12"), std::string::npos);
    EXPECT_NE(upright.find(le(300, 4)), std::string::npos);
    EXPECT_EQ(upright.substr(0, 8), tiff.substr(0, 8));
    EXPECT_EQ(uprightExif("not a TIFF at all", 1, 1), "");
}

Bytes jpegWith(const std::vector<std::pair<int, std::string>>& segments) {
    Bytes jpeg;
    EXPECT_TRUE(cv::imencode(".jpg", cv::Mat(40, 60, CV_8UC3, cv::Scalar(10, 100, 200)), jpeg));
    Bytes inserted;
    for (const auto& [marker, data] : segments) {
        const std::string segment =
            "\xff" + std::string(1, char(marker)) + be(std::uint32_t(data.size() + 2), 2) + data;
        inserted.insert(inserted.end(), segment.begin(), segment.end());
    }
    jpeg.insert(jpeg.begin() + 2, inserted.begin(), inserted.end());
    return jpeg;
}

// Regression: a corrected photo kept 23 of 70 Exif tags; the date taken, the
// camera and GPS were gone.
TEST(Metadata, AJpegKeepsItsExifXmpAndComments) {
    const std::string xmp =
        "<x:xmpmeta><rdf:Description tiff:Orientation=\"6\" dc:creator=\"me\"/></x:xmpmeta>";
    const Bytes original =
        jpegWith({{0xe1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + xmp},
                  {0xe1, std::string("Exif\0\0", 6) + cameraExif()},
                  {0xe2, std::string("ICC_PROFILE\0\1\1", 14) + "a profile"},
                  {0xfe, "a comment"}});
    const PhotoMetadata metadata = photoMetadata(original.data(), original.size());
    EXPECT_EQ(metadata.exif, cameraExif());
    EXPECT_EQ(metadata.xmp, xmp);
    EXPECT_EQ(metadata.comments, std::vector<std::string>{"a comment"});

    Bytes corrected;
    ASSERT_TRUE(cv::imencode(".jpg", cv::Mat(60, 40, CV_8UC3, cv::Scalar(1, 2, 3)), corrected));
    const std::string with =
        withMetadata(std::string(corrected.begin(), corrected.end()), metadata);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(with.data());
    const PhotoMetadata kept = photoMetadata(bytes, with.size());
    EXPECT_EQ(kept.exif, uprightExif(cameraExif(), 40, 60));
    EXPECT_NE(kept.xmp.find("tiff:Orientation=\"1\""), std::string::npos) << kept.xmp;
    EXPECT_NE(kept.xmp.find("dc:creator=\"me\""), std::string::npos);
    EXPECT_EQ(kept.comments, metadata.comments);
    EXPECT_EQ(with.find("ICC_PROFILE"), std::string::npos);  // the profile is not copied
    // after the encoder's JFIF segment, and the pixels as they were encoded
    EXPECT_EQ(with.substr(6, 4), "JFIF");
    const cv::Mat a = cv::imdecode(corrected, cv::IMREAD_COLOR);
    const cv::Mat b = cv::imdecode(Bytes(with.begin(), with.end()), cv::IMREAD_COLOR);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(cv::norm(a, b, cv::NORM_INF), 0);
}

std::string pngChunk(const std::string& type, const std::string& data) {
    const std::string typed = type + data;
    const auto crc =
        std::uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size())));
    return be(std::uint32_t(data.size()), 4) + typed + be(crc, 4);
}

// The PNG's chunks by type, each checked against its checksum.
std::vector<std::string> chunkTypes(const std::string& png) {
    std::vector<std::string> types;
    for (std::size_t pos = 8; pos + 12 <= png.size();) {
        const std::uint32_t length = std::uint32_t(std::uint8_t(png[pos])) << 24 |
                                     std::uint32_t(std::uint8_t(png[pos + 1])) << 16 |
                                     std::uint32_t(std::uint8_t(png[pos + 2])) << 8 |
                                     std::uint8_t(png[pos + 3]);
        if (pngChunk(png.substr(pos + 4, 4), png.substr(pos + 8, length)) !=
            png.substr(pos, 12 + length))
            types.push_back("bad checksum");
        types.push_back(png.substr(pos + 4, 4));
        pos += 12 + length;
    }
    return types;
}

TEST(Metadata, APngKeepsItsExifAndText) {
    Bytes plain;
    ASSERT_TRUE(cv::imencode(".png", cv::Mat(30, 20, CV_8UC3, cv::Scalar(1, 2, 3)), plain));
    std::string original(plain.begin(), plain.end());
    original.insert(
        33, pngChunk("eXIf", cameraExif()) + pngChunk("tEXt", std::string("Title\0Beach", 11)));
    const auto* data = reinterpret_cast<const std::uint8_t*>(original.data());
    const PhotoMetadata metadata = photoMetadata(data, original.size());
    EXPECT_EQ(metadata.exif, cameraExif());
    ASSERT_EQ(metadata.pngText.size(), 1u);

    const std::string with = withMetadata(std::string(plain.begin(), plain.end()), metadata);
    EXPECT_EQ(chunkTypes(with), (std::vector<std::string>{"IHDR", "eXIf", "tEXt", "IDAT", "IEND"}));
    const PhotoMetadata kept =
        photoMetadata(reinterpret_cast<const std::uint8_t*>(with.data()), with.size());
    EXPECT_EQ(kept.exif, uprightExif(cameraExif(), 20, 30));
    EXPECT_EQ(kept.pngText, metadata.pngText);
    // read upright: the decoder honours eXIf, and it now says 1
    EXPECT_EQ(cv::imdecode(Bytes(with.begin(), with.end()), cv::IMREAD_COLOR).size(),
              cv::Size(20, 30));
}

// An ICC profile of the matrix kind with the given colourants and name.
std::string profile(const std::string& space, const double colourants[3][3],
                    const std::string& name) {
    std::string tags;
    std::string data;
    const char* signatures[3] = {"rXYZ", "gXYZ", "bXYZ"};
    const std::size_t dataAt = 128 + 4 + 12 * 4;
    for (int c = 0; c < 3; ++c) {
        std::string xyz = "XYZ " + std::string(4, '\0');
        for (int k = 0; k < 3; ++k)
            xyz += be(std::uint32_t(std::int32_t(colourants[c][k] * 65536)), 4);
        tags += signatures[c] + be(std::uint32_t(dataAt + data.size()), 4) + be(20, 4);
        data += xyz;
    }
    const std::string desc = "desc" + std::string(4, '\0') + be(std::uint32_t(name.size() + 1), 4) +
                             name + std::string(1, '\0');
    tags += "desc" + be(std::uint32_t(dataAt + data.size()), 4) + be(std::uint32_t(desc.size()), 4);
    data += desc;
    std::string header(128, '\0');
    header.replace(16, 4, space);
    header.replace(36, 4, "acsp");
    return header + be(4, 4) + tags + data;
}

// Regression: a photo in another colour space was corrected as its values
// stand and written without its profile, and nothing said so.
TEST(Metadata, AColourProfileOtherThanSrgbIsNamed) {
    const double srgb[3][3] = {
        {0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
    const double adobe[3][3] = {
        {0.6097, 0.3111, 0.0195}, {0.2053, 0.6257, 0.0609}, {0.1492, 0.0632, 0.7446}};
    const auto inJpeg = [](const std::string& icc) {
        return jpegWith({{0xe2, std::string("ICC_PROFILE\0\1\1", 14) + icc}});
    };
    const auto judged = [](const Bytes& file) { return nonSrgbProfile(file.data(), file.size()); };
    EXPECT_EQ(judged(inJpeg(profile("RGB ", srgb, "sRGB IEC61966-2.1"))), "");
    EXPECT_EQ(judged(inJpeg(profile("RGB ", adobe, "Adobe RGB (1998)"))), "Adobe RGB (1998)");
    EXPECT_EQ(judged(inJpeg(profile("RGB ", adobe, "sRGB, they said"))), "sRGB, they said");
    EXPECT_EQ(judged(inJpeg(profile("GRAY", srgb, "Dot Gain 20%"))), "");
    EXPECT_EQ(judged(jpegWith({})), "");

    // in a PNG, compressed
    const std::string icc = profile("RGB ", adobe, "Adobe RGB (1998)");
    uLongf size = compressBound(uLong(icc.size()));
    std::string packed(size, '\0');
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&packed[0]), &size,
                       reinterpret_cast<const Bytef*>(icc.data()), uLong(icc.size())),
              Z_OK);
    packed.resize(size);
    Bytes plain;
    ASSERT_TRUE(cv::imencode(".png", cv::Mat(3, 3, CV_8UC3), plain));
    std::string png(plain.begin(), plain.end());
    png.insert(33, pngChunk("iCCP", std::string("ICC profile\0\0", 13) + packed));
    EXPECT_EQ(nonSrgbProfile(reinterpret_cast<const std::uint8_t*>(png.data()), png.size()),
              "Adobe RGB (1998)");
}

}  // namespace
}  // namespace tintsmith
