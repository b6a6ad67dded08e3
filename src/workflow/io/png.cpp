// PNG through libpng: the header read by png_read_info from the file's first
// bytes, and the whole file's chunks checked against their checksums.
#include <csetjmp>
#include <cstring>

#include <png.h>
#include <zlib.h>

#include "workflow/io/bytes.hpp"
#include "workflow/io/formats.hpp"

namespace tintsmith {
namespace {

// libpng reads through `source` and reports an error by longjmp to the read.
struct HeaderRead {
    const Source* file = nullptr;
    std::uint64_t next = 0;
    bool ranOut = false;
    std::string message;
};

void readBytes(png_structp png, png_bytep into, png_size_t count) {
    auto& read = *static_cast<HeaderRead*>(png_get_io_ptr(png));
    if (!read.file->get(read.next, into, count)) {
        read.ranOut = true;
        png_error(png, "the file ends");
    }
    read.next += count;
}

void noteError(png_structp png, png_const_charp message) {
    static_cast<HeaderRead*>(png_get_error_ptr(png))->message = message;
    png_longjmp(png, 1);
}

void quiet(png_structp, png_const_charp) {}

// Holds no object with a destructor, so that libpng may jump out of it.
bool readInfo(png_structp png, png_infop info, FileSniff& sniff) {
    if (setjmp(png_jmpbuf(png))) {
        // a file that ends after its header still tells its size, which may refuse it first
        if (png_get_image_width(png, info) > 0)
            setSize(sniff, png_get_image_width(png, info), png_get_image_height(png, info));
        return false;
    }
    // a damaged ancillary chunk is dropped, as the decoder drops it
    png_set_crc_action(png, PNG_CRC_DEFAULT, PNG_CRC_WARN_DISCARD);
    png_read_info(png, info);
    setSize(sniff, png_get_image_width(png, info), png_get_image_height(png, info));
    return true;
}

}  // namespace

void readPngHeader(const Source& source, FileSniff& sniff) {
    picture(sniff, "PNG", ".png");
    HeaderRead read;
    read.file = &source;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, noteError, quiet);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        sniff.damage = "cannot be looked at: there is not enough memory";
        return;
    }
    png_set_read_fn(png, &read, readBytes);
    const bool done = readInfo(png, info, sniff);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!done) sniff.damage = read.ranOut ? kCutShort : "is damaged (" + read.message + ")";
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    return std::uint32_t(::crc32_z(0, data, size));
}

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
    return kCutShort;
}
}  // namespace tintsmith
