// TIFF through libtiff's directory API, read from the file's own bytes as
// libtiff asks for them: the first picture's size, the pieces
// of its data (which must lie within the file), and the full-size pictures in
// it. Built where libtiff is found.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include <tiffio.h>

#include "workflow/io/formats.hpp"

namespace tintsmith {
namespace {

// At most this many pages are counted: more is damage, or no photo.
constexpr int kMostPages = 10000;

// libtiff reads through `source`, which never writes, maps or grows.
struct TiffRead {
    const Source* file = nullptr;
    std::uint64_t at = 0;
    bool ranOut = false;  // libtiff asked for bytes past the file's end
    std::string message;  // libtiff's first error
};

TiffRead& tiffRead(thandle_t handle) {
    return *static_cast<TiffRead*>(handle);
}

tmsize_t readBytes(thandle_t handle, void* into, tmsize_t count) {
    TiffRead& read = tiffRead(handle);
    if (count < 0) return -1;
    const std::size_t got =
        read.file->some(read.at, static_cast<std::uint8_t*>(into), std::size_t(count));
    if (got < std::size_t(count)) read.ranOut = true;
    read.at += got;
    return tmsize_t(got);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
    TiffRead& read = tiffRead(handle);
    const std::uint64_t from = whence == SEEK_CUR   ? read.at
                               : whence == SEEK_END ? read.file->size()
                                                    : 0;
    read.at = from + offset;
    return read.at;
}

int closeNothing(thandle_t) {
    return 0;
}

toff_t sizeOf(thandle_t handle) {
    return tiffRead(handle).file->size();
}

int noteError(TIFF*, void* data, const char*, const char* format, va_list arguments) {
    TiffRead& read = *static_cast<TiffRead*>(data);
    if (read.message.empty()) {
        char message[256];
        std::vsnprintf(message, sizeof message, format, arguments);
        read.message = message;
    }
    return 1;  // handled: nothing is printed
}

int quiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Why the current directory's picture data (strips or tiles) cannot be read
// whole: not named, or lying past the file's end; "" when they can.
std::string piecesProblem(TIFF* tiff, std::uint64_t fileSize) {
    const bool tiled = TIFFIsTiled(tiff);
    const std::uint32_t pieces = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    std::uint64_t* offsets = nullptr;
    std::uint64_t* counts = nullptr;
    if (pieces == 0 ||
        !TIFFGetField(tiff, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) ||
        !offsets || !counts)
        return "is damaged: its picture data cannot be found";
    for (std::uint32_t i = 0; i < pieces; ++i)
        if (offsets[i] > fileSize || counts[i] > fileSize - offsets[i]) return kCutShort;
    return {};
}

}  // namespace

void readTiffHeader(const Source& source, FileSniff& sniff) {
    picture(sniff, "TIFF", ".tif");
    TiffRead read;
    read.file = &source;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, noteError, &read);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    // "m": no mapping of the file, which is read only through `source`
    TIFF* tiff = TIFFClientOpenExt("", "rm", &read, readBytes, writeNothing, seekTo, closeNothing,
                                   sizeOf, nullptr, nullptr, options);
    TIFFOpenOptionsFree(options);
    if (!tiff) {
        sniff.damage = read.ranOut ? kCutShort : "is damaged (" + read.message + ")";
        return;
    }
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    setSize(sniff, width, height);
    if (sniff.damage.empty()) sniff.damage = piecesProblem(tiff, source.size());
    // the full-size pictures: a reduced copy (bit 0 of its subfile type) is a preview
    sniff.pages = 0;
    for (int page = 0; page < kMostPages; ++page) {
        std::uint32_t subfile = 0;
        TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfile);
        if (!(subfile & FILETYPE_REDUCEDIMAGE)) sniff.pages++;
        if (!TIFFReadDirectory(tiff)) break;
    }
    sniff.pages = std::max(sniff.pages, 1);
    TIFFClose(tiff);
}

}  // namespace tintsmith
