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

#include "workflow/fixtures.hpp"
#include "workflow/workflow.hpp"

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

// An Exif segment holding one IFD0 entry, as a camera writes it (Intel order).
Bytes exifSegment(std::uint16_t tag, std::uint16_t type, std::uint16_t value) {
    const auto low = [](std::uint16_t v) { return std::uint8_t(v); };
    const auto high = [](std::uint16_t v) { return std::uint8_t(v >> 8); };
    // clang-format off
    return {'E', 'x', 'i', 'f', 0, 0,
            'I', 'I', 42, 0, 8, 0, 0, 0,  // TIFF header, the directory at 8
            1, 0,                         // one entry: tag, type, count, value
            low(tag), high(tag), low(type), high(type), 1, 0, 0, 0, low(value), high(value), 0, 0,
            0, 0, 0, 0};                  // no next directory
    // clang-format on
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
    CorrectionCache cache;
    for (const auto& [what, jpeg] : cases) {
        SCOPED_TRACE(what);
        std::string banded;
        ASSERT_TRUE(correctJpegInBands(jpeg, "out.jpg", model, cache, banded));
        const cv::Mat decoded = cv::imdecode(jpeg, cv::IMREAD_COLOR);
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
        {"too small for the table", withImencode(randomImage(40, 40, 1)), "out.jpg"},
        {"written as PNG", withImencode(photo), "out.png"},
        {"an orientation no reader knows", withApp1(withImencode(photo), exifSegment(0x0112, 3, 9)),
         "out.jpg"},
        {"XMP before Exif", withApp1(withImencode(photo), Bytes(30, 'x')), "out.jpg"},
        {"grey", withImencode(grey), "out.jpg"},
        {"damaged data", damaged, "out.jpg"},
    };
    CorrectionCache cache;
    for (const auto& c : cases) {
        std::string banded = "untouched";
        EXPECT_FALSE(correctJpegInBands(c.jpeg, c.output, model, cache, banded)) << c.what;
        EXPECT_TRUE(banded == "untouched") << c.what;
    }
}

TEST(JpegBands, ExifOrientationIsReadOnlyFromAWellFormedSegment) {
    const Bytes rotated = exifSegment(0x0112, 3, 6);
    Bytes motorola = {'E', 'x', 'i',  'f',  0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8,
                      0,   1,   0x01, 0x12, 0, 3, 0,   0,   0, 1,  0, 8, 0, 0};
    Bytes twice = rotated;  // two entries, both an orientation, and they differ
    twice[14] = 2;
    twice.insert(twice.begin() + 28, rotated.begin() + 16, rotated.begin() + 28);
    twice[36] = 1;
    Bytes thumbnail = exifSegment(0x010f, 2, 0);  // the thumbnail's directory names it
    thumbnail[28] = 26;
    thumbnail.insert(thumbnail.end(), rotated.begin() + 14, rotated.end());
    const struct {
        const char* what;
        Bytes segment;
        int orientation;
    } cases[] = {
        {"Intel order", rotated, 6},
        {"Motorola order", motorola, 8},
        {"another tag only", exifSegment(0x010f, 2, 0), 1},
        {"orientation as LONG", exifSegment(0x0112, 4, 6), 0},
        {"cut short", Bytes(rotated.begin(), rotated.end() - 8), 0},
        {"named twice, differently", twice, 0},
        {"named for the thumbnail", thumbnail, 6},
        {"not Exif", Bytes(30, 'x'), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(exifOrientation(c.segment.data(), c.segment.size()), c.orientation) << c.what;
}

}  // namespace
}  // namespace tintsmith
