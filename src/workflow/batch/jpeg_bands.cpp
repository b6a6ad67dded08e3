// A JPEG photo that is written out as a JPEG is corrected band by band, from
// its file's bytes straight to its output file's bytes, with libjpeg. No whole
// picture is held, and neither codec swaps red and blue row by row, which
// makes a photo about a third cheaper than decoding, correcting and encoding
// it whole.
//
// The bytes are those of imdecode, the correction and imencode with its
// defaults: OpenCV calls the same libjpeg with the settings written out here,
// and only the order of the colour channels in libjpeg's buffers differs. A
// photo stored on its side or mirrored (as its metadata's orientation says) has
// its corrected bands put straight into their turned places in one whole
// picture, which is then encoded. A photo for which the bytes cannot be
// promised (other colour components, a warning about damaged data) is declined
// before anything is written, and goes the whole-image way.
#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h wants FILE and size_t declared first
#include <cstring>
#include <limits>

#include <jpeglib.h>
#include "workflow/batch/batch.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

// Rows corrected at a time: a few rows of the largest photos stay in the cache.
constexpr int kBandRows = 16;

// imencode's JPEG quality when none is asked for.
constexpr int kImencodeQuality = 95;

// libjpeg reports an error by calling error_exit, which must not return: it
// jumps back to the step that started the work.
struct Failure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Failure*>(info->err)->jump, 1);
}

// A warning means damaged data that the decoder patches over; the whole-image
// way then decodes it exactly as the plain sequence would, message and all.
void failOnWarning(j_common_ptr info, int level) {
    if (level < 0) fail(info);
}

void sayNothing(j_common_ptr) {}

// The encoder writes into a string that doubles when it fills up.
struct StringDestination {
    jpeg_destination_mgr manager;
    std::string* bytes;
};

void startOutput(j_compress_ptr info) {
    auto* destination = reinterpret_cast<StringDestination*>(info->dest);
    destination->manager.next_output_byte = reinterpret_cast<JOCTET*>(&(*destination->bytes)[0]);
    destination->manager.free_in_buffer = destination->bytes->size();
}

boolean growOutput(j_compress_ptr info) {
    auto* destination = reinterpret_cast<StringDestination*>(info->dest);
    const std::size_t used = destination->bytes->size();
    bool grown = false;
    try {  // an exception must not cross libjpeg's frames
        destination->bytes->resize(2 * used);
        grown = true;
    } catch (...) {
    }
    if (!grown) fail(reinterpret_cast<j_common_ptr>(info));
    destination->manager.next_output_byte = reinterpret_cast<JOCTET*>(&(*destination->bytes)[used]);
    destination->manager.free_in_buffer = used;
    return TRUE;
}

void endOutput(j_compress_ptr info) {
    auto* destination = reinterpret_cast<StringDestination*>(info->dest);
    destination->bytes->resize(destination->bytes->size() - destination->manager.free_in_buffer);
}

// Everything one photo's bands need; zeroed libjpeg structs are safe to destroy.
struct Bands {
    jpeg_decompress_struct decoder{};
    jpeg_compress_struct encoder{};
    Failure failure{};  // both codecs report here
    StringDestination destination{};
    const std::vector<std::uint8_t>* input = nullptr;
    std::vector<std::uint8_t> band;  // kBandRows rows of BGR pixels
    ColourTable* table = nullptr;
    int orientation = 1;                    // the photo's, as its metadata holds it
    cv::Mat turned;                         // ...and the whole photo it turns, when not 1
    cv::MatAllocator* allocator = nullptr;  // where `turned` is made

    Bands() = default;
    Bands(const Bands&) = delete;
    Bands& operator=(const Bands&) = delete;
    ~Bands() {
        jpeg_destroy_decompress(&decoder);
        jpeg_destroy_compress(&encoder);
    }
};

// True when the photo's colours decode as the plain sequence decodes them.
bool decodesAsImdecode(const jpeg_decompress_struct& decoder) {
    const bool huffmanTables = decoder.dc_huff_tbl_ptrs[0] || decoder.dc_huff_tbl_ptrs[1] ||
                               decoder.ac_huff_tbl_ptrs[0] || decoder.ac_huff_tbl_ptrs[1];
    return decoder.num_components == 3 && decoder.jpeg_color_space == JCS_YCbCr &&
           decoder.data_precision == 8 && (huffmanTables || decoder.arith_code);
}

// Orientations 5 to 8 turn the photo a quarter: its width becomes its height.
bool quarterTurn(int orientation) {
    return orientation >= 5;
}

// Readies the table and the band for a photo of the decoder's size.
bool readyForBands(Bands& bands) {
    const std::size_t width = bands.decoder.image_width;
    const std::size_t height = bands.decoder.image_height;
    if (!bands.table->readyFor(width * height)) return false;
    bands.band.resize(3 * width * kBandRows);
    if (bands.orientation != 1) {
        const bool quarter = quarterTurn(bands.orientation);
        bands.turned.allocator = bands.allocator;
        bands.turned.create(int(quarter ? width : height), int(quarter ? height : width), CV_8UC3);
    }
    // about the input's size: a corrected photo codes to much the same
    bands.destination.bytes->resize(std::max<std::size_t>(bands.input->size(), 1 << 16));
    return true;
}

void correctBand(Bands& bands, int rows) {
    cv::Mat band(rows, int(bands.decoder.output_width), CV_8UC3, bands.band.data());
    bands.table->correctRows(band);
}

// Puts the band's rows, the first of them row `first` of the stored photo,
// where the Exif orientation turns them: each stored row becomes a row or a
// column of `turned`, walked one way or the other.
void turnBand(Bands& bands, JSAMPROW* rows, int count, int first) {
    cv::Mat& turned = bands.turned;
    const int width = int(bands.decoder.output_width);
    const int height = int(bands.decoder.output_height);
    const std::ptrdiff_t down = std::ptrdiff_t(turned.step[0]);
    for (int i = 0; i < count; ++i) {
        const int y = first + i;
        int row = 0, col = 0;     // where the stored row's first pixel goes
        std::ptrdiff_t next = 3;  // ...and how far on the next one goes
        switch (bands.orientation) {
            case 2:  // mirrored
                row = y, col = width - 1, next = -3;
                break;
            case 3:  // half a turn
                row = height - 1 - y, col = width - 1, next = -3;
                break;
            case 4:  // upside down
                row = height - 1 - y;
                break;
            case 5:  // transposed
                col = y, next = down;
                break;
            case 6:  // a quarter clockwise
                col = height - 1 - y, next = down;
                break;
            case 7:  // transposed the other way
                row = width - 1, col = height - 1 - y, next = -down;
                break;
            default:  // 8: a quarter back
                row = width - 1, col = y, next = -down;
                break;
        }
        std::uint8_t* out = turned.ptr<std::uint8_t>(row) + 3 * col;
        for (int x = 0; x < width; ++x, out += next) std::memcpy(out, rows[i] + 3 * x, 3);
    }
}

// Decodes, corrects and encodes band by band. Holds no object with a
// destructor, so that libjpeg may jump out of it; false when a codec failed
// or the photo is declined, and the output is then of no use.
bool runBands(Bands& bands) {
    jpeg_decompress_struct& decoder = bands.decoder;
    jpeg_compress_struct& encoder = bands.encoder;
    decoder.err = encoder.err = jpeg_std_error(&bands.failure.manager);
    bands.failure.manager.error_exit = fail;
    bands.failure.manager.emit_message = failOnWarning;
    bands.failure.manager.output_message = sayNothing;
    if (setjmp(bands.failure.jump)) return false;

    jpeg_create_decompress(&decoder);
    jpeg_mem_src(&decoder, bands.input->data(), static_cast<unsigned long>(bands.input->size()));
    if (jpeg_read_header(&decoder, TRUE) != JPEG_HEADER_OK || !decodesAsImdecode(decoder))
        return false;
    if (!readyForBands(bands)) return false;
    decoder.out_color_space = JCS_EXT_BGR;  // as the picture's bytes lie in memory
    jpeg_start_decompress(&decoder);

    jpeg_create_compress(&encoder);
    bands.destination.manager.init_destination = startOutput;
    bands.destination.manager.empty_output_buffer = growOutput;
    bands.destination.manager.term_destination = endOutput;
    encoder.dest = &bands.destination.manager;
    const bool quarter = quarterTurn(bands.orientation);
    encoder.image_width = quarter ? decoder.output_height : decoder.output_width;
    encoder.image_height = quarter ? decoder.output_width : decoder.output_height;
    encoder.input_components = 3;
    encoder.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, kImencodeQuality, TRUE);
    jpeg_start_compress(&encoder, TRUE);

    JSAMPROW rows[kBandRows];
    for (int i = 0; i < kBandRows; ++i)
        rows[i] = bands.band.data() + std::size_t(i) * 3 * decoder.output_width;
    while (decoder.output_scanline < decoder.output_height) {
        JDIMENSION read = 0;
        while (read < JDIMENSION(kBandRows) && decoder.output_scanline < decoder.output_height) {
            const JDIMENSION got = jpeg_read_scanlines(&decoder, rows + read, kBandRows - read);
            if (got == 0) return false;  // no more data, though libjpeg warns before that
            read += got;
        }
        correctBand(bands, int(read));
        if (bands.orientation == 1)
            jpeg_write_scanlines(&encoder, rows, read);
        else
            turnBand(bands, rows, int(read), int(decoder.output_scanline - read));
    }
    // a turned photo is whole only now
    for (int row = 0; bands.orientation != 1 && row < bands.turned.rows; ++row) {
        JSAMPROW line = bands.turned.ptr<std::uint8_t>(row);
        jpeg_write_scanlines(&encoder, &line, 1);
    }
    jpeg_finish_compress(&encoder);
    jpeg_finish_decompress(&decoder);
    return true;
}

}  // namespace

bool correctJpegInBands(const std::vector<std::uint8_t>& input, int orientation,
                        const std::string& outputExtension, ColourTable& table,
                        std::string& encoded, cv::MatAllocator* allocator) {
    if (input.size() > std::numeric_limits<unsigned long>::max() || !writtenAsJpeg(outputExtension))
        return false;
    std::string bytes;
    Bands bands;
    bands.input = &input;
    bands.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    bands.table = &table;
    bands.allocator = allocator;
    bands.destination.bytes = &bytes;
    if (!runBands(bands)) return false;
    encoded = std::move(bytes);
    return true;
}

}  // namespace tintsmith
