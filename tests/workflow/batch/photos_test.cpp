// What the batch makes of the files a user drops into Photos: metadata kept
// both ways a JPEG takes, formats told by content, RAW files and videos named,
// profiles and pages told.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "temp_folder.hpp"
#include "workflow/batch/batch.hpp"
#include "workflow/colour/colour.hpp"
#include "workflow/fixtures.hpp"
#include "workflow/io/io.hpp"
#include "workflow/io/metadata.hpp"
#include "workflow/metadata_tags.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The JPEG with segments put right after its start marker, in this order.
Bytes withSegments(Bytes jpeg, const std::vector<std::pair<int, Bytes>>& segments) {
    Bytes inserted;
    for (const auto& [marker, data] : segments) {
        const std::size_t length = data.size() + 2;
        inserted.insert(inserted.end(), {0xff, std::uint8_t(marker), std::uint8_t(length >> 8),
                                         std::uint8_t(length)});
        inserted.insert(inserted.end(), data.begin(), data.end());
    }
    jpeg.insert(jpeg.begin() + 2, inserted.begin(), inserted.end());
    return jpeg;
}

Bytes text(const std::string& chars) {
    return Bytes(chars.begin(), chars.end());
}

struct Photos : BatchFolderTest {
    void put(const std::string& name, const Bytes& bytes) {
        std::ofstream(in + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    BatchReport run() {
        notes.clear();
        BatchObserver observer;
        observer.note = [this](const BatchNote& note) {
            notes.push_back(std::to_string(int(note.kind)) + " " + fileNameOf(note.path) + ": " +
                            note.reason);
        };
        return batchCorrectPhotos(in, out, model, observer);
    }
    // The corrected photo as the whole-image way makes it, from `bytes`.
    cv::Mat expected(const Bytes& bytes) {
        ImageRead read;
        decodeImageBytes(bytes, read);
        return correctImage(read.image, model);
    }
    std::vector<std::string> notes;
};

// Regression: corrected photos lost their metadata, 70 Exif tags down to 23.
TEST_F(Photos, AJpegKeepsItsMetadataInBandsAndWhole) {
    const cv::Mat photo = paletteImage(300, 400, 20000, 3);
    Bytes plain;
    ASSERT_TRUE(cv::imencode(".jpg", photo, plain));
    cv::Mat grey;
    cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
    Bytes greyPlain;  // grey: the bands decline it, so it goes the whole-image way
    ASSERT_TRUE(cv::imencode(".jpg", grey, greyPlain));
    const std::vector<std::pair<int, Bytes>> metadata = {{0xe1, exifSegment(0x0112, 3, 6)},
                                                         {0xfe, text("taken on the beach")}};
    const Bytes banded = withSegments(plain, metadata);
    const Bytes whole = withSegments(greyPlain, metadata);
    put("banded.jpg", banded);
    put("whole.jpg", whole);
    put("whole as png.png", whole);
    EXPECT_EQ(run().corrected, 3) << ::testing::PrintToString(notes);
    for (const auto& [name, original] :
         {std::make_pair("banded.jpg", banded), std::make_pair("whole.jpg", whole),
          std::make_pair("whole as png.png", whole)}) {
        SCOPED_TRACE(name);
        const Bytes written = readAll(out + name);
        EXPECT_EQ(metadataTag(written, "Exif.Image.Orientation"), "1");
        EXPECT_EQ(metadataTag(written, "comment"), "taken on the beach");
        // the pixels as the plain sequence turned, corrected and encoded them
        const cv::Mat decoded = cv::imdecode(written, cv::IMREAD_COLOR);
        cv::Mat reference = expected(original);
        if (std::string(name).find(".jpg") != std::string::npos) {
            Bytes plainFile;
            ASSERT_TRUE(cv::imencode(".jpg", reference, plainFile));
            reference = cv::imdecode(plainFile, cv::IMREAD_COLOR);
        }
        ASSERT_EQ(decoded.size(), cv::Size(300, 400));
        EXPECT_TRUE(sameBytes(reference, decoded));
    }
}

// Regression: a .jfif or extension-less JPEG was refused, and a .jp2 photo
// too (its writer was probed with a picture under JPEG 2000's minimum).
TEST_F(Photos, TheOutputFormatFollowsTheContentWhenTheNameNamesNoWriter) {
    const cv::Mat photo = paletteImage(60, 80, 300, 4);
    Bytes jpeg, jp2;
    ASSERT_TRUE(cv::imencode(".jpg", photo, jpeg));
    ASSERT_TRUE(cv::imencode(".jp2", photo, jp2));
    put("photo.jfif", jpeg);
    put("photo", jpeg);
    put("photo.jp2", jp2);
    EXPECT_EQ(run().corrected, 3) << ::testing::PrintToString(notes);
    for (const char* name : {"photo.jfif", "photo"}) {
        const Bytes written = readAll(out + name);
        ASSERT_GE(written.size(), 3u) << name;
        EXPECT_EQ(written[0], 0xff) << name;
        EXPECT_EQ(written[1], 0xd8) << name;
    }
    EXPECT_FALSE(cv::imread(out + "photo.jp2").empty());
}

TEST_F(Photos, RawFilesVideosAndUnreadFormatsAreNamedAndSkipped) {
    Bytes tiff;
    ASSERT_TRUE(cv::imencode(".tif", paletteImage(40, 40, 50, 5), tiff));
    put("DSC_0001.NEF", tiff);  // a TIFF inside, and its small preview decodes
    put("clip.mp4", text("not even a video"));
    put("clip.jpg", text("\x1a\x45\xdf\xa3 matroska"));
    put("anim.gif", text("GIF89a and so on"));
    const BatchReport report = run();
    EXPECT_EQ(report.corrected, 0);
    EXPECT_EQ(report.failed, 0);  // none of them changes the exit code
    EXPECT_EQ(report.skipped, 4);
    ASSERT_EQ(notes.size(), 5u) << ::testing::PrintToString(notes);
    const int skipped = int(BatchNote::Kind::Skipped), video = int(BatchNote::Kind::Video);
    EXPECT_EQ(notes[0].rfind(std::to_string(skipped) + " DSC_0001.NEF: a RAW camera file (NEF)", 0),
              0u)
        << notes[0];
    EXPECT_EQ(notes[1].rfind(std::to_string(skipped) + " anim.gif: a picture in the GIF format", 0),
              0u)
        << notes[1];
    EXPECT_EQ(notes[2].rfind(std::to_string(video) + " clip.jpg: a video (Matroska", 0), 0u)
        << notes[2];
    EXPECT_EQ(notes[3].rfind(std::to_string(video) + " clip.mp4: a video (MP4)", 0), 0u)
        << notes[3];
    EXPECT_EQ(notes[4], std::to_string(int(BatchNote::Kind::NoneCorrected)) +
                            " : holds no photo that Tintsmith reads");
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(Photos, OtherPagesAndProfilesAreTold) {
    const std::vector<cv::Mat> pages(3, paletteImage(30, 40, 50, 6));
    ASSERT_TRUE(cv::imwritemulti(in + "scan.tif", pages));
    // a colour profile that is not sRGB: header, one tag (its name), no colourants
    Bytes icc(128, 0);
    const std::string space = "RGB acsp";
    std::copy(space.begin(), space.begin() + 4, icc.begin() + 16);
    std::copy(space.begin() + 4, space.end(), icc.begin() + 36);
    const std::string name = "Adobe RGB (1998)";
    const Bytes table = {0, 0, 0, 1, 'd', 'e', 's', 'c', 0, 0, 0, 144, 0, 0, 0, 29};
    icc.insert(icc.end(), table.begin(), table.end());
    const Bytes desc = {'d', 'e', 's', 'c', 0, 0, 0, 0, 0, 0, 0, 17};
    icc.insert(icc.end(), desc.begin(), desc.end());
    icc.insert(icc.end(), name.begin(), name.end());
    icc.push_back(0);
    icc[2] = std::uint8_t(icc.size() >> 8), icc[3] = std::uint8_t(icc.size());  // its size
    Bytes app2 = text(std::string("ICC_PROFILE\0\1\1", 14));
    app2.insert(app2.end(), icc.begin(), icc.end());
    Bytes jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", paletteImage(30, 40, 50, 7), jpeg));
    put("wide.jpg", withSegments(jpeg, {{0xe2, app2}}));
    EXPECT_EQ(run().corrected, 2);
    const std::string remark = std::to_string(int(BatchNote::Kind::Remark));
    EXPECT_EQ(notes, (std::vector<std::string>{
                         remark + " scan.tif: a TIFF of 3 pages, of which only the first is "
                                  "corrected",
                         remark + " wide.jpg: its colour profile is Adobe RGB (1998), not sRGB: "
                                  "it was corrected as its values stand, and the corrected photo "
                                  "is sRGB (that profile is not copied)"}));
    const Bytes written = readAll(out + "wide.jpg");
    EXPECT_EQ(std::search(written.begin(), written.end(), app2.begin(), app2.begin() + 11),
              written.end());
}

}  // namespace
}  // namespace tintsmith
