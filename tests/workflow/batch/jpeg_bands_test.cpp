// JPEG photos corrected band by band, against the whole-image way.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/batch/batch.hpp"
#include "workflow/colour/colour.hpp"
#include "workflow/fixtures.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A JPEG with the chroma sampling and coding a camera might choose, which
// imencode does not offer.
Bytes encodeWithLibjpeg(const cv::Mat& bgr, int hSampling, int vSampling, bool progressive) {
    jpeg_compress_struct encoder{};
    jpeg_error_mgr errors{};
    encoder.err = jpeg_std_error(&errors);
    jpeg_create_compress(&encoder);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&encoder, &out, &size);
    encoder.image_width = JDIMENSION(bgr.cols);
    encoder.image_height = JDIMENSION(bgr.rows);
    encoder.input_components = 3;
    encoder.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, 90, TRUE);
    encoder.comp_info[0].h_samp_factor = hSampling;
    encoder.comp_info[0].v_samp_factor = vSampling;
    if (progressive) jpeg_simple_progression(&encoder);
    jpeg_start_compress(&encoder, TRUE);
    for (int row = 0; row < bgr.rows; ++row) {
        JSAMPROW line = const_cast<JSAMPROW>(bgr.ptr<std::uint8_t>(row));
        jpeg_write_scanlines(&encoder, &line, 1);
    }
    jpeg_finish_compress(&encoder);
    Bytes bytes(out, out + size);
    jpeg_destroy_compress(&encoder);
    std::free(out);
    return bytes;
}

Bytes withImencode(const cv::Mat& bgr, const std::vector<int>& parameters = {}) {
    Bytes bytes;
    EXPECT_TRUE(cv::imencode(".jpg", bgr, bytes, parameters));
    return bytes;
}

// The JPEG with an APP1 segment put right after its start marker.
Bytes withApp1(Bytes jpeg, const Bytes& segment) {
    const std::size_t length = segment.size() + 2;
    Bytes marker = {0xff, 0xe1, std::uint8_t(length >> 8), std::uint8_t(length)};
    marker.insert(marker.end(), segment.begin(), segment.end());
    jpeg.insert(jpeg.begin() + 2, marker.begin(), marker.end());
    return jpeg;
}

TEST(JpegBands, GiveTheBytesOfDecodingCorrectingAndEncodingWhole) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    const cv::Mat photo = paletteImage(437, 389, 20000, 5);  // no side a multiple of 16
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"4:2:0 baseline", withImencode(photo)},
        {"progressive, restarts",
         withImencode(photo, {cv::IMWRITE_JPEG_PROGRESSIVE, 1, cv::IMWRITE_JPEG_RST_INTERVAL, 3})},
        {"4:4:4", encodeWithLibjpeg(photo, 1, 1, false)},
        {"4:2:2 progressive", encodeWithLibjpeg(photo, 2, 1, true)},
        {"4:4:0", encodeWithLibjpeg(photo, 1, 2, false)},
        {"Exif, upright", withApp1(withImencode(photo), exifSegment(0x0112, 3, 1))},
    };
    for (std::uint16_t orientation = 2; orientation <= 8; ++orientation)  // mirrored and turned
        cases.emplace_back("Exif orientation " + std::to_string(orientation),
                           withApp1(withImencode(photo), exifSegment(0x0112, 3, orientation)));
    // regression: an orientation behind an XMP segment was not applied
    const Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'x', 0, '<', '/', '>'};
    cases.emplace_back("XMP before Exif orientation 6",
                       withApp1(withApp1(withImencode(photo), exifSegment(0x0112, 3, 6)), xmp));
    // what was declined agrees now that both paths follow one decision
    cases.emplace_back("an orientation no reader knows",
                       withApp1(withImencode(photo), exifSegment(0x0112, 3, 9)));
    cases.emplace_back("two Exif segments",
                       withApp1(withApp1(withImencode(photo), exifSegment(0x0112, 3, 6)),
                                exifSegment(0x0112, 3, 3)));
    // regression: turned in bands, not whole, by the thumbnail's orientation
    cases.emplace_back("orientation 6 in IFD1 only",
                       withApp1(withImencode(photo), thumbnailOrientationSegment(6)));
    ColourTable table(model);
    for (const auto& [what, jpeg] : cases) {
        SCOPED_TRACE(what);
        std::string banded;
        const int orientation = photoMetadata(jpeg.data(), jpeg.size()).orientation;
        ASSERT_TRUE(correctJpegInBands(jpeg, orientation, ".jpg", table, banded));
        ImageRead read;  // the whole-image way: imdecode, turned as its Exif says
        decodeImageBytes(jpeg, read);
        const cv::Mat& decoded = read.image;
        if (what.find("orientation 6") != std::string::npos) {
            EXPECT_EQ(decoded.size(), what.find("IFD1") == std::string::npos
                                          ? cv::Size(photo.rows, photo.cols)
                                          : photo.size());
        }
        const Bytes whole = withImencode(correctImage(decoded, model));
        EXPECT_TRUE(banded == std::string(whole.begin(), whole.end()));
    }
}

TEST(JpegBands, DeclineWhatTheyCannotPromise) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    const cv::Mat photo = paletteImage(400, 400, 20000, 6);
    cv::Mat grey;
    cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
    Bytes damaged = withImencode(photo);  // a stray marker amid the coded data: a warning
    damaged.insert(damaged.begin() + damaged.size() / 2, {0xff, 0xd3});
    const struct {
        const char* what;
        Bytes jpeg;
        const char* output;
    } cases[] = {
        {"too small for the table", withImencode(randomImage(40, 40, 1)), ".jpg"},
        {"written as PNG", withImencode(photo), ".png"},
        {"grey", withImencode(grey), ".jpg"},
        {"damaged data", damaged, ".jpg"},
    };
    ColourTable table(model);
    for (const auto& c : cases) {
        std::string banded = "untouched";
        EXPECT_FALSE(correctJpegInBands(c.jpeg, 1, c.output, table, banded)) << c.what;
        EXPECT_TRUE(banded == "untouched") << c.what;
    }
}

}  // namespace
}  // namespace tintsmith
