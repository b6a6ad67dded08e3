// What a corrected photo keeps of its original, as exiftool reads both: every
// tag but the orientation (upright), the pixel sizes (the written picture's),
// the thumbnail and the colour profile (gone); and the profiles told apart
// from sRGB.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>
#include <opencv2/imgcodecs.hpp>

#include "temp_folder.hpp"
#include "workflow/io/metadata.hpp"

namespace tintsmith {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Tags = std::map<std::string, std::string>;

std::string be(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(char(value >> (8 * i)));
    return out;
}

Bytes readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

bool haveExiftool() {
    return std::system("exiftool -ver >/dev/null 2>&1") == 0;
}

// Every tag exiftool shows of the file, as "Group:Name" (its family 1 group)
// and the value as a number where it is one.
Tags exiftoolTags(const std::string& path) {
    Tags tags;
    std::FILE* pipe = popen(("exiftool -a -G1 -s -n -q -q '" + path + "'").c_str(), "r");
    if (!pipe) return tags;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        const std::string text(line);
        const std::size_t close = text.find(']'), colon = text.find(" : ");
        if (text[0] != '[' || close == std::string::npos || colon == std::string::npos) continue;
        const auto trimmed = [](std::string s) {
            s.erase(0, s.find_first_not_of(' '));
            return s.erase(s.find_last_not_of(" \n") + 1);
        };
        tags[text.substr(1, close - 1) + ":" + trimmed(text.substr(close + 1, colon - close - 1))] =
            trimmed(text.substr(colon + 3));
    }
    pclose(pipe);
    return tags;
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
    header.replace(12, 4, "mntr");  // a display's, in XYZ: exiftool takes no other
    header.replace(16, 4, space);
    header.replace(20, 4, "XYZ ");
    header.replace(36, 4, "acsp");
    const std::string body = be(4, 4) + tags + data;
    header.replace(0, 4, be(std::uint32_t(128 + body.size()), 4));  // its size, as readers check
    return header + body;
}

const double kSrgb[3][3] = {
    {0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
const double kAdobe[3][3] = {
    {0.6097, 0.3111, 0.0195}, {0.2053, 0.6257, 0.0609}, {0.1492, 0.0632, 0.7446}};

// What a written photo may show otherwise than its original: what describes
// its own encoding (exiftool's File, System and Composite groups, a PNG's
// header, a TIFF's strips, a WebP's frame) and the toolkit that wrote its XMP.
bool describesTheEncoding(const std::string& tag) {
    static const char* const kGroups[] = {"File:", "System:", "ExifTool:", "Composite:", "RIFF:"};
    for (const char* group : kGroups)
        if (tag.rfind(group, 0) == 0 && tag != "File:Comment") return true;
    static const char* const kTags[] = {"XMP-x:XMPToolkit",
                                        "PNG:ImageWidth",
                                        "PNG:ImageHeight",
                                        "PNG:BitDepth",
                                        "PNG:ColorType",
                                        "PNG:Compression",
                                        "PNG:Filter",
                                        "PNG:Interlace",
                                        "IFD0:ImageWidth",
                                        "IFD0:ImageHeight",
                                        "IFD0:BitsPerSample",
                                        "IFD0:Compression",
                                        "IFD0:PhotometricInterpretation",
                                        "IFD0:StripOffsets",
                                        "IFD0:SamplesPerPixel",
                                        "IFD0:RowsPerStrip",
                                        "IFD0:StripByteCounts",
                                        "IFD0:PlanarConfiguration",
                                        "IFD0:Predictor"};
    for (const char* name : kTags)
        if (tag == name) return true;
    return false;
}

struct Metadata : TempFolderTest {};

// Regressions: corrected TIFFs and WebPs lost all their metadata; IPTC, the
// JFIF and PNG resolution (350 dpi became 1:1) were dropped; after a turn the
// XMP sizes kept the old width and height, and a mutant writing the width
// into PixelYDimension survived every test.
TEST_F(Metadata, ACorrectedPhotoShowsEveryTagOfItsOriginalButThoseItChanges) {
    if (!haveExiftool()) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    writeAll(folder + "adobe.icc", profile("RGB ", kAdobe, "Adobe RGB (1998)"));
    cv::Mat thumbnail(8, 8, CV_8UC3, cv::Scalar(0, 0, 255));
    ASSERT_TRUE(cv::imwrite(folder + "thumbnail.jpg", thumbnail));
    const std::string common =
        " -Make='Tintsmith Optics' -Model=Test -DateTimeOriginal='2024:05:17 10:11:12'"
        " -GPSLatitude=48.8584 -GPSLatitudeRef=N -Orientation#=6 -XResolution=350"
        " -YResolution=350 -ResolutionUnit=inches -ExifIFD:ExifImageWidth=60"
        " -ExifIFD:ExifImageHeight=40 -XMP-tiff:Orientation#=6 -XMP-exif:ExifImageWidth=60"
        " -XMP-exif:ExifImageHeight=40 -XMP-dc:Creator='A. Photographer'"
        " '-ICC_Profile<=" +
        folder + "adobe.icc'";
    const std::string iptc =
        " -IPTC:By-line='A. Photographer' -IPTC:CopyrightNotice='(c) 2024' -IPTC:Keywords=beach"
        " -IPTC:Keywords=sea";
    const std::string thumb = " '-ThumbnailImage<=" + folder + "thumbnail.jpg'";
    struct Case {
        std::string extension, tags;
        std::vector<std::string> kept;  // tags each format must show, besides the common ones
    };
    const Case cases[] = {
        {".jpg",
         common + iptc + thumb +
             " -Comment='on the beach' -Ducky:Quality=80 -Photoshop:URL=http://example.com"
             " -JFIF:XResolution=350"
             " -JFIF:YResolution=350 -JFIF:ResolutionUnit=inches",
         {"IPTC:By-line", "IPTC:Keywords", "File:Comment", "JFIF:XResolution", "Ducky:Quality",
          "Photoshop:URL"}},
        {".png",
         common + iptc + thumb +
             " -PNG:Title=Beach -PNG-pHYs:PixelsPerUnitX=13780"
             " -PNG-pHYs:PixelsPerUnitY=13780 -PNG-pHYs:PixelUnits=meters",
         {"IPTC:CopyrightNotice", "PNG:Title", "PNG-pHYs:PixelsPerUnitY"}},
        {".tif", common + iptc, {"IPTC:Keywords"}},
        {".webp", common + thumb, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        // an original on its side, as a camera stores it: 60 x 40, to be turned
        const std::string original = folder + "original" + c.extension;
        ASSERT_TRUE(cv::imwrite(original, cv::Mat(40, 60, CV_8UC3, cv::Scalar(10, 100, 200))));
        ASSERT_EQ(
            std::system(
                ("exiftool -q -q -overwrite_original" + c.tags + " '" + original + "'").c_str()),
            0);
        const Bytes bytes = readAll(original);
        const PhotoMetadata metadata = photoMetadata(bytes.data(), bytes.size());
        EXPECT_EQ(metadata.orientation, 6);
        EXPECT_EQ(metadata.nonSrgbProfile, "Adobe RGB (1998)");

        Bytes turned;
        ASSERT_TRUE(cv::imencode(c.extension, cv::Mat(60, 40, CV_8UC3, cv::Scalar(1, 2, 3)), turned,
                                 resolutionParameters(metadata, c.extension)));
        const std::string written = folder + "written" + c.extension;
        writeAll(written, withMetadata(std::string(turned.begin(), turned.end()), metadata));
        const Tags before = exiftoolTags(original), after = exiftoolTags(written);
        ASSERT_EQ(after.count("IFD0:Make"), 1u) << "nothing kept";
        for (const std::string& tag : c.kept) EXPECT_EQ(after.count(tag), 1u) << tag;
        const Tags changed = {
            {"IFD0:Orientation", "1"},         {"XMP-tiff:Orientation", "1"},
            {"ExifIFD:ExifImageWidth", "40"},  {"ExifIFD:ExifImageHeight", "60"},
            {"XMP-exif:ExifImageWidth", "40"}, {"XMP-exif:ExifImageHeight", "60"}};
        for (const auto& [tag, value] : before) {
            if (describesTheEncoding(tag)) continue;
            const bool gone = tag.rfind("IFD1:", 0) == 0 || tag.rfind("ICC", 0) == 0 ||
                              tag == "PNG:ProfileName";  // the name a PNG's profile goes by
            const auto found = after.find(tag);
            if (gone) {
                EXPECT_EQ(found, after.end()) << tag << " is still there";
            } else if (found == after.end()) {
                ADD_FAILURE() << tag << " is lost";
            } else {
                EXPECT_EQ(found->second, changed.count(tag) ? changed.at(tag) : value) << tag;
            }
        }
        for (const auto& [tag, value] : after)
            if (!describesTheEncoding(tag) && !before.count(tag)) ADD_FAILURE() << tag << " is new";
    }
}

// The orientation the pixels are turned by is the picture's own: IFD0's, else
// XMP's; the thumbnail's in IFD1 turns nothing.
TEST_F(Metadata, TheOrientationIsThePicturesOwn) {
    if (!haveExiftool()) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    const struct {
        std::string tags;
        int orientation;
    } cases[] = {
        {"", 1},
        {" -IFD0:Orientation#=8", 8},
        {" -XMP-tiff:Orientation#=3", 3},
        {" -IFD0:Orientation#=6 -XMP-tiff:Orientation#=3", 6},
        {" -IFD0:Orientation#=1 -XMP-tiff:Orientation#=3", 1},
        {" -IFD1:Orientation#=6 -IFD0:Make=Canon", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tags);
        const std::string path = folder + "photo.jpg";
        ASSERT_TRUE(cv::imwrite(path, cv::Mat(4, 6, CV_8UC3)));
        const std::string command = "exiftool -q -q -overwrite_original" + c.tags + " " + path;
        if (!c.tags.empty()) {
            ASSERT_EQ(std::system(command.c_str()), 0);
        }
        const Bytes bytes = readAll(path);
        EXPECT_EQ(photoMetadata(bytes.data(), bytes.size()).orientation, c.orientation);
    }
    // nothing Exiv2 reads: no metadata, no exception
    const Bytes junk = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'h', 'o', 't', 'o'};
    EXPECT_TRUE(photoMetadata(junk.data(), junk.size()).empty());
    EXPECT_EQ(withMetadata("not a photo", photoMetadata(junk.data(), junk.size())), "not a photo");
}

// Regression: a photo in another colour space was corrected as its values
// stand and written without its profile, and nothing said so.
TEST(MetadataProfile, AColourProfileOtherThanSrgbIsNamed) {
    const auto inJpeg = [](const std::string& icc) {
        Bytes jpeg;
        EXPECT_TRUE(cv::imencode(".jpg", cv::Mat(4, 6, CV_8UC3), jpeg));
        const std::string segment = "\xff\xe2" + be(std::uint32_t(icc.size() + 16), 2) +
                                    std::string("ICC_PROFILE\0\1\1", 14) + icc;
        jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
        return jpeg;
    };
    const auto judged = [](const Bytes& file) {
        return photoMetadata(file.data(), file.size()).nonSrgbProfile;
    };
    EXPECT_EQ(judged(inJpeg(profile("RGB ", kSrgb, "sRGB IEC61966-2.1"))), "");
    EXPECT_EQ(judged(inJpeg(profile("RGB ", kAdobe, "Adobe RGB (1998)"))), "Adobe RGB (1998)");
    EXPECT_EQ(judged(inJpeg(profile("RGB ", kAdobe, "sRGB, they said"))), "sRGB, they said");
    EXPECT_EQ(judged(inJpeg(profile("GRAY", kSrgb, "Dot Gain 20%"))), "");
    Bytes plain;
    ASSERT_TRUE(cv::imencode(".jpg", cv::Mat(4, 6, CV_8UC3), plain));
    EXPECT_EQ(judged(plain), "");
}

}  // namespace
}  // namespace tintsmith
