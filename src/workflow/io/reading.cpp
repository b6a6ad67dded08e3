// Reading a picture whole, or not at all, and the Exif orientation, which
// shares the byte readers.
// Sections: checks of a whole file · Exif · the file read · the picture decoded.
#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h wants FILE and size_t declared first
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <system_error>

#include <jerror.h>
#include <jpeglib.h>
#include <zlib.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/platform.hpp"
#include "workflow/io/bytes.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

// Peak resident bytes a run needs per pixel of cc.jpg: the decoded picture,
// the detector's working copies and the drawing (measured: 4.3 GiB at 100
// megapixels, 46 bytes a pixel).
constexpr std::size_t kPeakBytesPerPixel = 48;
// At its peak a picture may take half the machine's memory.
constexpr std::size_t kMemoryShare = 2;
// The decoders' own limit (OPENCV_IO_MAX_IMAGE_PIXELS by default).
constexpr std::size_t kDecoderPixelLimit = std::size_t(1) << 30;
// A picture's file holds at most this many bytes a pixel (32-bit floating
// point samples of four channels take 16, text formats a few more) and this
// much besides (metadata, previews): a larger file is not that picture alone.
constexpr std::uint64_t kMostFileBytesPerPixel = 64;
constexpr std::uint64_t kMostFileBytesBesides = std::uint64_t(64) << 20;

constexpr char kNoMemory[] = "there is not enough memory to read it";

// Stray bytes before a JPEG marker that are no damage: what a writer's padding
// leaves. Zeroed scan data end the scan thousands of bytes early (3602 in a
// 400 x 300 test photo).
constexpr int kMostStrayBytes = 64;

std::string megapixels(std::size_t pixels) {
    return std::to_string((pixels + 500000) / 1000000) + " megapixels";
}

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + 500000) / 1000000) + " MB";
}

// --- Checks of a whole file --------------------------------------------------

// Walks a PNG's chunks to its end chunk. A critical chunk (its name begins in
// upper case) must match its checksum; an ancillary one the decoder drops when
// it does not, so its picture is whole all the same.
std::string pngDamage(const std::uint8_t* b, std::size_t n) {
    std::size_t pos = 8;
    bool data = false;
    while (pos + 12 <= n) {
        const std::size_t length = bigEndian32(b + pos);
        if (length > n - pos - 12) break;
        const std::uint8_t* type = b + pos + 4;
        const bool critical = (type[0] & 0x20) == 0;
        if (critical && crc32(type, length + 4) != bigEndian32(type + 4 + length))
            return "is damaged (a checksum does not match)";
        if (std::memcmp(type, "IDAT", 4) == 0) data = true;
        if (std::memcmp(type, "IEND", 4) == 0) return data ? "" : "holds no picture";
        pos += length + 12;
    }
    return "is cut short (an unfinished copy?)";
}

// libjpeg reports an error by calling error_exit, which must not return: it
// jumps back to the check. Warnings are sorted as they come.
struct JpegCheck {
    jpeg_decompress_struct decoder{};
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    bool scanning = false;  // the header is read: warnings now concern the pixels
    bool endMissing = false;
    bool cutShort = false;  // the source ran out before any other damage was seen
    bool dataMissing = false;
    char damage[JMSG_LENGTH_MAX] = {};  // the first other warning about the pixels, or the error
};

[[noreturn]] void checkFailed(j_common_ptr info) {
    auto* check = reinterpret_cast<JpegCheck*>(info->client_data);
    check->manager.format_message(info, check->damage);
    std::longjmp(check->jump, 1);
}

void checkWarning(j_common_ptr info, int level) {
    auto* check = reinterpret_cast<JpegCheck*>(info->client_data);
    if (level >= 0) return;  // trace messages
    const int code = check->manager.msg_code;
    if (code == JWRN_JPEG_EOF) {
        check->endMissing = true;  // the source ran out; whether pixels did is told apart
        // ...and a file is short when that came first: garbled data may run on to its end
        check->cutShort = check->damage[0] == 0;
        return;
    }
    if (code == JWRN_HIT_MARKER) check->dataMissing = true;  // a scan ended before its last pixel
    // a few stray bytes before a marker are skipped once the scan has all its
    // data; thousands mean the scan ended long before its data did: garbage decoded
    const bool stray =
        code == JWRN_EXTRANEOUS_DATA && check->manager.msg_parm.i[0] <= kMostStrayBytes;
    // stray bytes between the header's segments are skipped harmlessly too;
    // any other warning once the pixels are read means pixels made up
    if (check->scanning && !stray && check->damage[0] == 0)
        check->manager.format_message(info, check->damage);
}

// Decodes the picture at an eighth of its size, which reads every coded bit but
// spares the rest of the work. Holds no object with a destructor, so that
// libjpeg may jump out of it; false when the decoder gave up.
bool decodeForDamage(JpegCheck& check, const std::vector<std::uint8_t>& bytes, bool& complete) {
    jpeg_decompress_struct& decoder = check.decoder;
    decoder.err = jpeg_std_error(&check.manager);
    decoder.client_data = &check;
    check.manager.error_exit = checkFailed;
    check.manager.emit_message = checkWarning;
    if (setjmp(check.jump)) return false;
    jpeg_create_decompress(&decoder);  // keeps err and client_data
    jpeg_mem_src(&decoder, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&decoder, TRUE);
    check.scanning = true;
    decoder.scale_num = 1;
    decoder.scale_denom = 8;
    decoder.dct_method = JDCT_IFAST;
    decoder.do_fancy_upsampling = FALSE;
    if (decoder.jpeg_color_space == JCS_YCbCr || decoder.jpeg_color_space == JCS_GRAYSCALE)
        decoder.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&decoder);
    JSAMPARRAY row = (*decoder.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
        decoder.output_width * JDIMENSION(decoder.output_components), 1);
    while (decoder.output_scanline < decoder.output_height)
        if (jpeg_read_scanlines(&decoder, row, 1) == 0) break;
    complete = decoder.output_scanline == decoder.output_height && !check.dataMissing;
    // a progressive file that ends early may end between two scans: then some
    // coefficient lacks its last refinement
    if (complete && check.endMissing && decoder.progressive_mode && decoder.coef_bits)
        for (int c = 0; c < decoder.num_components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (decoder.coef_bits[c][k] != 0) complete = false;
    if (complete) jpeg_finish_decompress(&decoder);
    return true;
}

// Why a JPEG's pixels cannot all be decoded; "" when they can. A file that
// lacks only its end marker is whole (`endMissing` then tells); so is one with
// stray bytes between its header's segments or a few before a later marker,
// which the decoder skips. Cut short only when its bytes run out.
std::string jpegDamage(const std::vector<std::uint8_t>& bytes, bool& endMissing) {
    if (bytes.size() > std::numeric_limits<unsigned long>::max()) return "is too large";
    JpegCheck check;
    bool complete = false;
    const bool decoded = decodeForDamage(check, bytes, complete);
    jpeg_destroy_decompress(&check.decoder);
    endMissing = check.endMissing;
    if (!decoded) return std::string("is damaged (") + check.damage + ")";
    if (complete && check.damage[0] == 0) return "";
    // short only when the source ran out; a full-length file lacks data in its middle
    if (check.cutShort) return "is cut short (an unfinished copy?)";
    return std::string("is damaged (") +
           (check.damage[0] == 0 ? "its picture data end early" : check.damage) + ")";
}

// --- Exif --------------------------------------------------------------------

// Where a JPEG's Exif lies: whether it is its first APP1 segment (the only one
// OpenCV looks at) and the orientation it asks for (as exifOrientation).
struct JpegExif {
    bool found = false;
    bool first = false;
    int orientation = 1;
};

JpegExif findJpegExif(const std::vector<std::uint8_t>& bytes) {
    JpegExif exif;
    bool app1Seen = false;
    eachJpegSegment(bytes.data(), bytes.size(), [&](int marker, const std::string& segment) {
        if (marker != 0xe1 || exif.found) return;
        const auto* data = reinterpret_cast<const std::uint8_t*>(segment.data());
        if (isExifSegment(data, segment.size()))
            exif = {true, !app1Seen, exifOrientation(data, segment.size())};
        app1Seen = true;
    });
    return exif;
}

// Turns a decoded picture as Exif orientation `orientation` (2 to 8) asks.
void applyOrientation(cv::Mat& image, int orientation) {
    if (orientation >= 5 && orientation <= 8) cv::transpose(image, image);
    if (orientation == 2 || orientation == 6) cv::flip(image, image, 1);
    if (orientation == 3 || orientation == 7) cv::flip(image, image, -1);
    if (orientation == 4 || orientation == 8) cv::flip(image, image, 0);
}

// Swaps red and blue in place: OpenCV reads a PAM's RGB samples as BGR.
void swapRedAndBlue(cv::Mat& image) {
    for (int row = 0; row < image.rows; ++row) {
        std::uint8_t* pixel = image.ptr<std::uint8_t>(row);
        for (int col = 0; col < image.cols; ++col, pixel += 3) std::swap(pixel[0], pixel[2]);
    }
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    return std::uint32_t(::crc32_z(0, data, size));
}

bool isExifSegment(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    return size >= sizeof kExif && std::equal(kExif, kExif + sizeof kExif, data);
}

int exifOrientation(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kTiff = 6;
    if (size < kTiff + 8 || !isExifSegment(data, size)) return 0;
    const std::uint8_t* tiff = data + kTiff;
    const std::size_t length = size - kTiff;
    const bool big = tiff[0] == 'M' && tiff[1] == 'M';
    if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return 0;
    if (readUnsigned(tiff + 2, 2, big) != 42) return 0;
    // the picture's own directory only: the one after it (IFD1) describes the
    // thumbnail, and an orientation there turns nothing
    const std::size_t directory = std::size_t(readUnsigned(tiff + 4, 4, big));
    if (directory > length - 2) return 0;
    const std::size_t entries = std::size_t(readUnsigned(tiff + directory, 2, big));
    if (entries > (length - directory - 2) / 12) return 0;
    int orientation = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* entry = tiff + directory + 2 + 12 * i;
        if (readUnsigned(entry, 2, big) != 0x0112) continue;
        // one SHORT, held in the first two bytes of the value field
        const int value = int(readUnsigned(entry + 8, 2, big));
        if (readUnsigned(entry + 2, 2, big) != 3 || readUnsigned(entry + 4, 4, big) != 1 ||
            (orientation != 0 && value != orientation))
            return 0;
        orientation = value;
    }
    return orientation == 0 ? 1 : orientation;
}

// --- The file read -----------------------------------------------------------

std::size_t largestImagePixels() {
    std::size_t memory = platform::physicalMemoryBytes();
    if (memory == 0) memory = std::size_t(4) << 30;  // unknown: assume a small machine
    return std::min(memory / kMemoryShare / kPeakBytesPerPixel, kDecoderPixelLimit);
}

bool notAPhoto(ReadProblem problem) {
    return problem == ReadProblem::NotAnImage || problem == ReadProblem::NotRead ||
           problem == ReadProblem::Raw || problem == ReadProblem::Video;
}

ImageRead readImageBytes(const std::string& path, std::size_t maxPixels,
                         std::vector<std::uint8_t>& bytes) {
    ImageRead read;
    bytes.clear();
    auto refuse = [&](ReadProblem problem, std::string reason) {
        read.problem = problem;
        read.outcome = failed(std::move(reason));
        bytes = std::vector<std::uint8_t>();
        return read;
    };
    namespace fs = std::filesystem;
    std::error_code error;
    // only regular files (or links to them) are opened: a pipe would never end
    const fs::file_status status = fs::status(fs::path(path), error);
    if (error || !fs::exists(status)) return refuse(ReadProblem::Missing, "there is no such file");
    if (!fs::is_regular_file(status))
        return refuse(ReadProblem::Unreadable,
                      fs::is_directory(status) ? "it is a folder" : "it is not a regular file");
    std::ifstream file(fs::path(path), std::ios::binary);
    const std::uintmax_t size = fs::file_size(fs::path(path), error);
    if (!file || error) return refuse(ReadProblem::Unreadable, "it cannot be opened for reading");

    // what it is, from its name and first bytes
    const ReadAt readAt = [&](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
        file.clear();
        file.seekg(std::streamoff(offset));
        file.read(reinterpret_cast<char*>(into), std::streamsize(count));
        return std::size_t(std::max<std::streamsize>(file.gcount(), 0));
    };
    read.file = sniffFile(fileNameOf(path), size, readAt);
    const FileSniff& sniffed = read.file;
    switch (sniffed.kind) {
        case FileKind::Unknown:
            return refuse(ReadProblem::NotAnImage, "not an image");
        case FileKind::Raw:
            return refuse(ReadProblem::Raw,
                          "a RAW camera file (" + sniffed.format +
                              "), which Tintsmith does not develop: export it to JPEG or TIFF "
                              "with your camera's or photo editor's software first");
        case FileKind::Video:
            return refuse(ReadProblem::Video, "a video (" + sniffed.format +
                                                  "); Tintsmith corrects photos, not videos");
        case FileKind::Unsupported:
            return refuse(ReadProblem::NotRead,
                          "a picture in the " + sniffed.format +
                              " format, which Tintsmith does not read: save it as JPEG, PNG "
                              "or TIFF to have it corrected");
        case FileKind::Picture:
            break;
    }
    // a build without a format's codec has neither its writer nor its reader
    if (!cv::haveImageWriter(sniffed.extension))
        return refuse(ReadProblem::NotRead,
                      "a picture in the " + sniffed.format +
                          " format, which this build of Tintsmith does not read: save it as "
                          "JPEG or PNG to have it corrected");
    const std::string what = "the " + sniffed.format + " file ";
    if (!sniffed.damage.empty()) return refuse(ReadProblem::Damaged, what + sniffed.damage);

    // its size, before it is read whole
    const std::size_t pixels = std::size_t(sniffed.width) * std::size_t(sniffed.height);
    if (pixels > maxPixels)
        return refuse(ReadProblem::TooLarge, "it is " + std::to_string(sniffed.width) + " x " +
                                                 std::to_string(sniffed.height) + " pixels (" +
                                                 megapixels(pixels) +
                                                 "), more than this machine can handle (at most " +
                                                 megapixels(maxPixels) + ")");
    const std::uint64_t mostBytes =
        std::min<std::uint64_t>(std::uint64_t(maxPixels) * kPeakBytesPerPixel,
                                pixels * kMostFileBytesPerPixel + kMostFileBytesBesides);
    if (size > mostBytes)
        return refuse(ReadProblem::TooLarge,
                      what + "is " + megabytes(size) + ", far more than a picture of " +
                          std::to_string(sniffed.width) + " x " + std::to_string(sniffed.height) +
                          " pixels takes, so it is not read");

    try {
        bytes.resize(std::size_t(size));
    } catch (const std::bad_alloc&) {
        return refuse(ReadProblem::TooLarge, kNoMemory);
    }
    if (size > 0 && readAt(0, bytes.data(), bytes.size()) != bytes.size())
        return refuse(ReadProblem::Unreadable, "it could not be read to its end");
    if (sniffed.format == "PNG") {
        const std::string damage = pngDamage(bytes.data(), bytes.size());
        if (!damage.empty()) return refuse(ReadProblem::Damaged, what + damage);
    }
    return read;
}

// --- The picture decoded -----------------------------------------------------

void decodeImageBytes(const std::vector<std::uint8_t>& bytes, ImageRead& read,
                      cv::MatAllocator* allocator) {
    if (read.file.kind != FileKind::Picture) read.file = sniffBytes("", bytes.data(), bytes.size());
    const FileSniff& file = read.file;
    auto refuse = [&](ReadProblem problem, std::string reason) {
        read.image.release();
        read.problem = problem;
        read.outcome = failed(std::move(reason));
    };
    // OpenCV reads a JPEG's orientation from its first APP1 segment only;
    // one behind another (XMP) is applied here
    int flags = cv::IMREAD_COLOR;
    int turn = 1;
    const std::vector<std::uint8_t>* whole = &bytes;
    std::vector<std::uint8_t> ended;  // a JPEG that lacks only its end marker, given one
    if (file.format == "JPEG") {
        std::string damage;
        bool endMissing = false;
        try {
            damage = jpegDamage(bytes, endMissing);
            if (damage.empty() && endMissing) {
                ended.reserve(bytes.size() + 2);
                ended = bytes;
                ended.insert(ended.end(), {0xff, 0xd9});
                whole = &ended;
            }
        } catch (const std::bad_alloc&) {
            return refuse(ReadProblem::TooLarge, kNoMemory);
        }
        if (!damage.empty()) return refuse(ReadProblem::Damaged, "the JPEG file " + damage);
        const JpegExif exif = findJpegExif(bytes);
        if (exif.found && !exif.first) {
            flags |= cv::IMREAD_IGNORE_ORIENTATION;
            turn = exif.orientation;
        }
    }
    try {
        read.image.allocator = allocator;  // the decoder makes the picture in this Mat
        read.image = cv::imdecode(*whole, flags, &read.image);
        if (!read.image.empty() && turn >= 2 && turn <= 8) applyOrientation(read.image, turn);
        if (!read.image.empty() && file.format == "PAM") swapRedAndBlue(read.image);
    } catch (const cv::Exception& error) {
        if (error.code == cv::Error::StsNoMem) return refuse(ReadProblem::TooLarge, kNoMemory);
        read.image.release();
    } catch (const std::bad_alloc&) {
        return refuse(ReadProblem::TooLarge, kNoMemory);
    }
    if (read.image.empty()) {
        if (file.kind == FileKind::Picture)
            refuse(ReadProblem::Damaged,
                   "the " + file.format + " file cannot be decoded: it is damaged");
        else
            refuse(ReadProblem::NotAnImage, "not an image");
    }
}

ImageRead readImageWhole(const std::string& path, std::size_t maxPixels) {
    std::vector<std::uint8_t> bytes;
    ImageRead read = readImageBytes(path, maxPixels, bytes);
    if (read.outcome.done) decodeImageBytes(bytes, read);
    return read;
}

}  // namespace tintsmith
