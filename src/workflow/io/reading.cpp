// Reading a picture whole, or not at all, and the Exif orientation, which
// shares the byte readers.
#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <opencv2/imgcodecs.hpp>

#include "platform/platform.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

// What a file's first bytes say: JPEG, PNG and BMP are recognised; `whole` is
// true when a JPEG or PNG runs to its end marker with nothing damaged.
struct ImageHeader {
    std::string format;  // "JPEG", "PNG", "BMP", or "" when not recognised
    int width = 0;
    int height = 0;
    bool whole = false;
    std::string damage;  // why it is not whole, when that is known
};

// Peak resident bytes a run needs per pixel of cc.jpg: the decoded picture,
// the detector's working copies and the drawing (measured: 4.3 GiB at 100
// megapixels, 46 bytes a pixel).
constexpr std::size_t kPeakBytesPerPixel = 48;
// At its peak a picture may take half the machine's memory.
constexpr std::size_t kMemoryShare = 2;
// The decoders' own limit (OPENCV_IO_MAX_IMAGE_PIXELS by default).
constexpr std::size_t kDecoderPixelLimit = std::size_t(1) << 30;

// An unsigned number of `bytes` bytes, most significant first when `bigEndian`.
std::uint32_t readUnsigned(const std::uint8_t* at, int bytes, bool bigEndian) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint32_t(at[bigEndian ? i : bytes - 1 - i]) << (8 * (bytes - 1 - i));
    return value;
}
std::uint32_t bigEndian32(const std::uint8_t* p) {
    return readUnsigned(p, 4, true);
}
int bigEndian16(const std::uint8_t* p) {
    return int(readUnsigned(p, 2, true));
}
std::int32_t littleEndian32(const std::uint8_t* p) {
    return std::int32_t(readUnsigned(p, 4, false));
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> made{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            made[n] = c;
        }
        return made;
    }();
    std::uint32_t c = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

// Walks a JPEG's markers to the end of the first picture; past every scan's
// coded data. Anything cut off before the end marker is not whole.
void checkJpeg(const std::vector<std::uint8_t>& bytes, ImageHeader& header) {
    const std::uint8_t* b = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t pos = 2;
    for (;;) {
        if (pos >= n) return;
        if (b[pos] != 0xff) {
            header.damage = "its data is damaged";
            return;
        }
        while (pos < n && b[pos] == 0xff) ++pos;
        if (pos >= n) return;
        const std::uint8_t marker = b[pos++];
        if (marker == 0xd9) {  // end of the picture
            header.whole = header.width > 0 && header.damage.empty();
            if (header.width == 0) header.damage = "it holds no picture";
            return;
        }
        if ((marker >= 0xd0 && marker <= 0xd7) || marker == 0x01) continue;  // no length
        if (pos + 2 > n) return;
        const std::size_t length = std::size_t(bigEndian16(b + pos));
        if (length < 2) {
            header.damage = "its data is damaged";
            return;
        }
        if (pos + length > n) return;
        const bool frame =
            marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (frame && length >= 7 && header.width == 0) {
            header.height = bigEndian16(b + pos + 3);
            header.width = bigEndian16(b + pos + 5);
        }
        pos += length;
        if (marker != 0xda) continue;
        // coded data: 0xff 0x00 and restart markers belong to it
        for (;;) {
            const void* found = std::memchr(b + pos, 0xff, n - pos);
            if (!found) return;
            pos = std::size_t(static_cast<const std::uint8_t*>(found) - b);
            if (pos + 1 >= n) return;
            const std::uint8_t next = b[pos + 1];
            if (next == 0x00 || (next >= 0xd0 && next <= 0xd7))
                pos += 2;
            else if (next == 0xff)
                pos += 1;
            else
                break;
        }
    }
}

// Walks a PNG's chunks, each checked against its CRC, to the end chunk.
void checkPng(const std::vector<std::uint8_t>& bytes, ImageHeader& header) {
    const std::uint8_t* b = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t pos = 8;
    bool data = false;
    while (pos + 12 <= n) {
        const std::size_t length = bigEndian32(b + pos);
        if (length > n - pos - 12) return;
        const std::uint8_t* type = b + pos + 4;
        if (crc32(type, length + 4) != bigEndian32(type + 4 + length)) {
            header.damage = "its data is damaged (a checksum does not match)";
            return;
        }
        if (std::memcmp(type, "IHDR", 4) == 0 && length >= 8) {
            header.width = int(std::min<std::uint32_t>(bigEndian32(type + 4), 0x7fffffff));
            header.height = int(std::min<std::uint32_t>(bigEndian32(type + 8), 0x7fffffff));
        }
        if (std::memcmp(type, "IDAT", 4) == 0) data = true;
        if (std::memcmp(type, "IEND", 4) == 0) {
            header.whole = data && header.width > 0;
            if (!header.whole) header.damage = "it holds no picture";
            return;
        }
        pos += length + 12;
    }
}

std::string megapixels(std::size_t pixels) {
    return std::to_string((pixels + 500000) / 1000000) + " megapixels";
}

// The format its first bytes name, or "" when none is recognised.
std::string formatOf(const std::vector<std::uint8_t>& bytes) {
    static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (bytes.size() >= 4 && bytes[0] == 0xff && bytes[1] == 0xd8 && bytes[2] == 0xff)
        return "JPEG";
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPng, 8) == 0) return "PNG";
    if (bytes.size() >= 26 && bytes[0] == 'B' && bytes[1] == 'M') return "BMP";
    return {};
}

ImageHeader inspectImage(const std::vector<std::uint8_t>& bytes) {
    ImageHeader header;
    header.format = formatOf(bytes);
    if (header.format == "JPEG") {
        checkJpeg(bytes, header);
    } else if (header.format == "PNG") {
        checkPng(bytes, header);
    } else if (header.format == "BMP") {
        header.width = std::abs(littleEndian32(bytes.data() + 18));
        header.height = std::abs(littleEndian32(bytes.data() + 22));
        header.whole = true;  // the decoder refuses short BMP files itself
    }
    return header;
}

}  // namespace

int exifOrientation(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    constexpr std::size_t kTiff = sizeof kExif;
    if (size < kTiff + 8 || !std::equal(kExif, kExif + kTiff, data)) return 0;
    const std::uint8_t* tiff = data + kTiff;
    const std::size_t length = size - kTiff;
    const bool big = tiff[0] == 'M' && tiff[1] == 'M';
    if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return 0;
    if (readUnsigned(tiff + 2, 2, big) != 42) return 0;
    // the picture's directory and the thumbnail's after it: a reader may take
    // an orientation from either, so they must not disagree
    int orientation = 0;
    std::size_t directory = readUnsigned(tiff + 4, 4, big);
    for (int ifd = 0; ifd < 2 && directory != 0; ++ifd) {
        if (directory > length - 2) return 0;
        const std::size_t entries = readUnsigned(tiff + directory, 2, big);
        if (entries > (length - directory - 2) / 12) return 0;
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
        const std::size_t next = directory + 2 + 12 * entries;
        directory = next + 4 <= length ? readUnsigned(tiff + next, 4, big) : 0;
    }
    return orientation == 0 ? 1 : orientation;
}

std::size_t largestImagePixels() {
    std::size_t memory = platform::physicalMemoryBytes();
    if (memory == 0) memory = std::size_t(4) << 30;  // unknown: assume a small machine
    return std::min(memory / kMemoryShare / kPeakBytesPerPixel, kDecoderPixelLimit);
}

ImageRead readImageBytes(const std::string& path, std::size_t maxPixels,
                         std::vector<std::uint8_t>& bytes) {
    ImageRead read;
    bytes.clear();
    auto refuse = [&](ReadProblem problem, std::string reason) {
        read.problem = problem;
        read.outcome = failed(std::move(reason));
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
    bytes.resize(std::size_t(size));
    if (size > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size)))
        return refuse(ReadProblem::Unreadable, "it could not be read to its end");

    const ImageHeader header = inspectImage(bytes);
    const std::size_t pixels = std::size_t(header.width) * std::size_t(header.height);
    if (pixels > maxPixels)
        return refuse(ReadProblem::TooLarge, "it is " + std::to_string(header.width) + " x " +
                                                 std::to_string(header.height) + " pixels (" +
                                                 megapixels(pixels) +
                                                 "), more than this machine can handle (at most " +
                                                 megapixels(maxPixels) + ")");
    if (!header.format.empty() && !header.whole)
        return refuse(
            ReadProblem::Damaged,
            header.damage.empty()
                ? "the " + header.format + " file is cut short (an unfinished copy?)"
                : "the " + header.format + " file cannot be read whole: " + header.damage);
    return read;
}

void decodeImageBytes(const std::vector<std::uint8_t>& bytes, ImageRead& read,
                      cv::MatAllocator* allocator) {
    try {
        read.image.allocator = allocator;  // the decoder makes the picture in this Mat
        read.image = cv::imdecode(bytes, cv::IMREAD_COLOR, &read.image);
    } catch (const cv::Exception&) {
        read.image.release();
    }
    if (read.image.empty()) {
        const std::string format = formatOf(bytes);
        read.problem = format.empty() ? ReadProblem::NotAnImage : ReadProblem::Damaged;
        read.outcome =
            failed(format.empty() ? "not an image" : "the " + format + " file cannot be decoded");
    }
}

ImageRead readImageWhole(const std::string& path, std::size_t maxPixels) {
    std::vector<std::uint8_t> bytes;
    ImageRead read = readImageBytes(path, maxPixels, bytes);
    if (read.outcome.done) decodeImageBytes(bytes, read);
    return read;
}

}  // namespace tintsmith
