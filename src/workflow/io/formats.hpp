// The file layer's own: one reader per picture format, each of which opens a
// file's header once, through its codec's library where there is one, and
// fills the record every other step reads (FileSniff: format, size, damage
// seen in the header; the orientation is the metadata's). Nothing outside
// src/workflow/io includes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workflow/io/io.hpp"

namespace tintsmith {

// --- The bytes looked at -----------------------------------------------------

// The first bytes of a file are read once and kept; any others are fetched.
constexpr std::size_t kHeadBytes = 64 * 1024;

// What a file that ends before its header or its picture data does is.
constexpr char kCutShort[] = "is cut short (an unfinished copy?)";

// A file's first bytes, kept, and a window onto the rest, so that walking a
// header byte by byte costs a read only every 64 KiB.
class Source {
  public:
    Source(const ReadAt& read, std::uint64_t size);
    std::uint64_t size() const { return size_; }
    const std::vector<std::uint8_t>& head() const { return head_; }

    // Copies `count` bytes at `offset` into `into`; false when the file ends first.
    bool get(std::uint64_t offset, std::uint8_t* into, std::size_t count) const;
    // Up to `count` bytes at `offset` into `into`; how many there were.
    std::size_t some(std::uint64_t offset, std::uint8_t* into, std::size_t count) const;
    // An unsigned number of `bytes` bytes at `offset`; false when the file ends first.
    bool number(std::uint64_t offset, int bytes, bool big, std::uint64_t& value) const;
    // The head holds `text` at `offset`.
    bool starts(const char* text, std::size_t offset = 0) const;
    bool startsBytes(std::initializer_list<int> bytes, std::size_t offset = 0) const;
    // A number of the head's; 0 when the head is shorter.
    std::uint64_t headNumber(std::size_t offset, int bytes, bool big) const;

  private:
    const ReadAt& read_;
    std::uint64_t size_;
    std::vector<std::uint8_t> head_;
    mutable std::vector<std::uint8_t> window_;
    mutable std::uint64_t windowAt_ = 0;
};

// Names the record a picture of `format`, written as `extension`.
void picture(FileSniff& sniff, const char* format, const char* extension);

// Sets the record's size; a size of 0 or past 31 bits is damage.
void setSize(FileSniff& sniff, std::uint64_t width, std::uint64_t height);

// White space as text headers (PNM, PAM) know it: space, tab, line ends, \v, \f.
bool asciiSpace(char c);

// --- One reader per format ---------------------------------------------------
// Each is handed a file whose signature is its format's, and fills `sniff`.
// Where the build lacks TIFF's, WebP's or JPEG 2000's library, its reader only
// names the format, which is then told as one this build does not read.

void readJpegHeader(const Source& source, FileSniff& sniff);
void readPngHeader(const Source& source, FileSniff& sniff);
void readTiffHeader(const Source& source, FileSniff& sniff);
void readWebpHeader(const Source& source, FileSniff& sniff);
void readJpeg2000Header(const Source& source, FileSniff& sniff, bool boxes);
// the formats OpenCV decodes with its own code
void readBmpHeader(const Source& source, FileSniff& sniff);
void readNetpbmHeader(const Source& source, FileSniff& sniff);
void readSunRasterHeader(const Source& source, FileSniff& sniff);
void readRadianceHeader(const Source& source, FileSniff& sniff);

// --- Checks of a whole file --------------------------------------------------
// What the header cannot show: run on the file's bytes once read, "" when whole.

// Why a JPEG's pixels cannot all be decoded. `endMissing` tells a file whole
// but for its end marker.
std::string jpegDamage(const std::vector<std::uint8_t>& bytes, bool& endMissing);

// Why a PNG is not whole: a critical chunk's checksum, or no end.
std::string pngDamage(const std::uint8_t* data, std::size_t size);

}  // namespace tintsmith
