// Reading a picture whole, or not at all, turned by the one orientation its
// metadata holds.
// Sections: orientation · the file read · the picture decoded.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/platform.hpp"
#include "workflow/io/formats.hpp"

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

std::string megapixels(std::size_t pixels) {
    return std::to_string((pixels + 500000) / 1000000) + " megapixels";
}

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + 500000) / 1000000) + " MB";
}

// --- Orientation -------------------------------------------------------------

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
    // a folder on the way that may not be looked into is no missing file
    if (error && error != std::errc::no_such_file_or_directory &&
        error != std::errc::not_a_directory)
        return refuse(ReadProblem::Unreadable,
                      "it cannot be reached (" + error.message() +
                          "): check that you may open the folders on its way");
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

    // its size, before it is read whole; one too large is told so, whole or not
    const std::size_t pixels = std::size_t(sniffed.width) * std::size_t(sniffed.height);
    if (pixels > maxPixels)
        return refuse(ReadProblem::TooLarge, "it is " + std::to_string(sniffed.width) + " x " +
                                                 std::to_string(sniffed.height) + " pixels (" +
                                                 megapixels(pixels) +
                                                 "), more than this machine can handle (at most " +
                                                 megapixels(maxPixels) + ")");
    if (!sniffed.damage.empty()) return refuse(ReadProblem::Damaged, what + sniffed.damage);
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
    // the header the decoder reads, which a file rewritten since it was sized
    // may have changed: only the size checked above is ever decoded
    const FileSniff decoded = sniffBytes(fileNameOf(path), bytes.data(), bytes.size());
    if (decoded.format != sniffed.format || decoded.width != sniffed.width ||
        decoded.height != sniffed.height)
        return refuse(ReadProblem::Unreadable,
                      "it changed while it was being read; run Tintsmith again once nothing "
                      "writes to it");
    if (sniffed.format == "PNG") {
        const std::string damage = pngDamage(bytes.data(), bytes.size());
        if (!damage.empty()) return refuse(ReadProblem::Damaged, what + damage);
    }
    // what a corrected copy carries, and the orientation wherever in the file it stands
    read.metadata = photoMetadata(bytes.data(), bytes.size());
    return read;
}

// --- The picture decoded -----------------------------------------------------

void decodeImageBytes(const std::vector<std::uint8_t>& bytes, ImageRead& read,
                      cv::MatAllocator* allocator) {
    if (read.file.kind != FileKind::Picture) {
        read.file = sniffBytes("", bytes.data(), bytes.size());
        read.metadata = photoMetadata(bytes.data(), bytes.size());
    }
    const FileSniff& file = read.file;
    auto refuse = [&](ReadProblem problem, std::string reason) {
        read.image.release();
        read.problem = problem;
        read.outcome = failed(std::move(reason));
    };
    // the orientation is the metadata's, decided once for both decode paths:
    // OpenCV's own turning (its first APP1 segment's, IFD1's too) is left out
    const int flags = cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION;
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
    }
    // OpenCV's TIFF decoder turns the pixels by the tag the metadata holds
    // itself, whatever the flags
    const int turn = file.format == "TIFF" ? 1 : read.metadata.orientation;
    try {
        read.image.allocator = allocator;  // the decoder makes the picture in this Mat
        read.image = cv::imdecode(*whole, flags, &read.image);
        if (!read.image.empty()) applyOrientation(read.image, turn);
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
