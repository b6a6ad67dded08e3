// What a file is, from its name and its first bytes, before it is read: RAW
// camera files and videos by their name, then every file by its signature; a
// picture's size from its header, and the damage its header already shows (a
// file shorter than its header says it is).
// Sections: the bytes looked at · pictures Tintsmith reads · everything else · the verdict.
#include <algorithm>
#include <cstring>
#include <set>

#include "workflow/io/bytes.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

// --- The bytes looked at -----------------------------------------------------

// The first bytes of a file are read once and kept; any others are fetched.
constexpr std::size_t kHeadBytes = 64 * 1024;

// A header's text (PNM, PAM, Radiance) must lie within its first bytes.
constexpr std::size_t kTextHeaderBytes = 4096;

// At most this many JPEG segments or TIFF pages are walked: more is damage.
constexpr int kMostSegments = 100000;
constexpr int kMostPages = 10000;

// Entries of a TIFF directory read at most, and strips or tiles checked.
constexpr std::uint64_t kMostEntries = 4096;
constexpr std::uint64_t kMostPieces = std::uint64_t(1) << 20;

// A JPEG's header (its segments before the frame) spans at most this much.
constexpr std::uint64_t kMostHeaderBytes = std::uint64_t(64) << 20;

constexpr char kCut[] = "is cut short (an unfinished copy?)";
constexpr char kNoPicture[] = "is damaged: it never comes to its picture";

// A file's first bytes, kept, and a window onto the rest, so that walking a
// header byte by byte costs a read only every 64 KiB.
class Bytes {
  public:
    Bytes(const ReadAt& read, std::uint64_t size) : read_(read), size_(size) {
        head_.resize(std::size_t(std::min<std::uint64_t>(size, kHeadBytes)));
        if (!head_.empty()) head_.resize(read_(0, head_.data(), head_.size()));
    }
    std::uint64_t size() const { return size_; }
    const std::vector<std::uint8_t>& head() const { return head_; }

    // Copies `count` bytes at `offset` into `into`; false when the file ends first.
    bool get(std::uint64_t offset, std::uint8_t* into, std::size_t count) const {
        if (offset > size_ || count > size_ - offset) return false;
        if (offset + count <= head_.size()) {
            std::memcpy(into, head_.data() + offset, count);
            return true;
        }
        if (count > kHeadBytes) return read_(offset, into, count) == count;
        if (offset < windowAt_ || offset + count > windowAt_ + window_.size()) {
            window_.resize(std::size_t(std::min<std::uint64_t>(size_ - offset, kHeadBytes)));
            window_.resize(read_(offset, window_.data(), window_.size()));
            windowAt_ = offset;
            if (window_.size() < count) return false;
        }
        std::memcpy(into, window_.data() + (offset - windowAt_), count);
        return true;
    }
    // An unsigned number of `bytes` bytes at `offset`; false when the file ends first.
    bool number(std::uint64_t offset, int bytes, bool big, std::uint64_t& value) const {
        std::uint8_t at[8];
        if (!get(offset, at, std::size_t(bytes))) return false;
        value = readUnsigned(at, bytes, big);
        return true;
    }
    // The head begins with `text`, at `offset`.
    bool starts(const char* text, std::size_t offset = 0) const {
        const std::size_t n = std::strlen(text);
        return head_.size() >= offset + n && std::memcmp(head_.data() + offset, text, n) == 0;
    }
    bool startsBytes(std::initializer_list<int> bytes, std::size_t offset = 0) const {
        if (head_.size() < offset + bytes.size()) return false;
        for (int b : bytes)
            if (head_[offset++] != b) return false;
        return true;
    }
    std::uint64_t headNumber(std::size_t offset, int bytes, bool big) const {
        return head_.size() >= offset + std::size_t(bytes)
                   ? readUnsigned(head_.data() + offset, bytes, big)
                   : 0;
    }

  private:
    const ReadAt& read_;
    std::uint64_t size_;
    std::vector<std::uint8_t> head_;
    mutable std::vector<std::uint8_t> window_;
    mutable std::uint64_t windowAt_ = 0;
};

void picture(FileSniff& sniff, const char* format, const char* extension) {
    sniff.kind = FileKind::Picture;
    sniff.format = format;
    sniff.extension = extension;
}

void setSize(FileSniff& sniff, std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) {
        sniff.damage = "is damaged: its header gives no size";
        return;
    }
    sniff.width = int(width);
    sniff.height = int(height);
}

// Tokens of a PNM or PAM header: words between white space, '#' comments skipped.
bool asciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class TextHeader {
  public:
    explicit TextHeader(const std::vector<std::uint8_t>& head)
        : text_(head.begin(), head.begin() + long(std::min(head.size(), kTextHeaderBytes))) {}
    bool word(std::string& out) {
        for (;;) {
            while (pos_ < text_.size() && asciiSpace(text_[pos_])) ++pos_;
            if (pos_ < text_.size() && text_[pos_] == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
                continue;
            }
            break;
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !asciiSpace(text_[pos_])) ++pos_;
        out = text_.substr(start, pos_ - start);
        return !out.empty() && pos_ < text_.size();
    }
    bool number(std::uint64_t& value) {
        std::string w;
        if (!word(w) || w.size() > 10 || w.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = std::stoull(w);
        return true;
    }
    // Where the data starts: after the one white-space byte that ends the header.
    std::size_t dataStart() const { return pos_ + 1; }
    // The line from here to its end, without it.
    bool line(std::string& out) {
        const std::size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) return false;
        out = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }
    std::size_t position() const { return pos_; }

  private:
    std::string text_;
    std::size_t pos_ = 0;
};

// A binary raster of `rowBytes` a row from `start` must fit the file.
void checkRaster(const Bytes& b, FileSniff& sniff, std::uint64_t start, std::uint64_t rowBytes) {
    if (sniff.damage.empty() && sniff.height > 0 &&
        (b.size() < start || (b.size() - start) / std::uint64_t(sniff.height) < rowBytes))
        sniff.damage = kCut;
}

// --- Pictures Tintsmith reads ------------------------------------------------

void sniffJpeg(const Bytes& b, FileSniff& sniff) {
    picture(sniff, "JPEG", ".jpg");
    std::uint64_t pos = 2;
    for (int segment = 0; segment < kMostSegments; ++segment) {
        // bytes between segments are skipped, as the decoder skips them
        std::uint8_t byte = 0;
        do {
            if (!b.get(pos++, &byte, 1)) return void(sniff.damage = kCut);
            if (pos > kMostHeaderBytes) return void(sniff.damage = kNoPicture);
        } while (byte != 0xff);
        do {
            if (!b.get(pos++, &byte, 1)) return void(sniff.damage = kCut);
        } while (byte == 0xff);
        const int marker = byte;
        if (marker == 0xd9 || marker == 0xda) return void(sniff.damage = "holds no picture");
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) continue;
        std::uint64_t length = 0;
        if (!b.number(pos, 2, true, length)) return void(sniff.damage = kCut);
        if (length < 2) return void(sniff.damage = "is damaged: a segment has no length");
        const bool frame =
            marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (frame) {
            std::uint64_t height = 0, width = 0;
            if (!b.number(pos + 3, 2, true, height) || !b.number(pos + 5, 2, true, width))
                return void(sniff.damage = kCut);
            return setSize(sniff, width, height);
        }
        pos += length;
    }
    sniff.damage = kNoPicture;
}

void sniffPng(const Bytes& b, FileSniff& sniff) {
    picture(sniff, "PNG", ".png");
    if (b.head().size() < 33) return void(sniff.damage = kCut);
    if (!b.starts("IHDR", 12)) return void(sniff.damage = "is damaged: it begins with no header");
    setSize(sniff, b.headNumber(16, 4, true), b.headNumber(20, 4, true));
}

void sniffBmp(const Bytes& b, FileSniff& sniff) {
    picture(sniff, "BMP", ".bmp");
    const std::uint64_t headerSize = b.headNumber(14, 4, false);
    const std::uint64_t dataStart = b.headNumber(10, 4, false);
    std::int64_t width = 0, height = 0;
    std::uint64_t bits = 0, compression = 0;
    if (headerSize == 12) {  // OS/2: sizes of 16 bits
        width = std::int64_t(b.headNumber(18, 2, false));
        height = std::int64_t(b.headNumber(20, 2, false));
        bits = b.headNumber(24, 2, false);
    } else if (headerSize >= 16 && headerSize <= 124) {
        width = std::int32_t(b.headNumber(18, 4, false));
        height = std::int32_t(b.headNumber(22, 4, false));  // negative: rows top to bottom
        bits = b.headNumber(28, 2, false);
        compression = headerSize >= 20 ? b.headNumber(30, 4, false) : 0;
    } else {
        return void(sniff.damage = "is damaged: its header is of no known kind");
    }
    if (b.head().size() < 14 + headerSize) return void(sniff.damage = kCut);
    setSize(sniff, std::uint64_t(std::max<std::int64_t>(width, 0)),
            std::uint64_t(height < 0 ? -height : height));
    // uncompressed rows are padded to four bytes
    if (compression == 0 || compression == 3)
        checkRaster(b, sniff, dataStart, (std::uint64_t(sniff.width) * bits + 31) / 32 * 4);
}

// A TIFF's directories: the first picture's size and the pieces of its data,
// which must lie within the file, and the full-size pictures it holds.
void sniffTiff(const Bytes& b, FileSniff& sniff) {
    picture(sniff, "TIFF", ".tif");
    const bool big = b.head()[0] == 'M';
    const bool bigTiff = b.headNumber(2, 2, big) == 43;
    const int offsetBytes = bigTiff ? 8 : 4;
    const int countBytes = bigTiff ? 8 : 2;
    const std::uint64_t entryBytes = bigTiff ? 20 : 12;
    std::uint64_t directory = b.headNumber(bigTiff ? 8 : 4, offsetBytes, big);
    sniff.pages = 0;
    std::set<std::uint64_t> seen;
    for (int page = 0; directory != 0 && page < kMostPages; ++page) {
        if (!seen.insert(directory).second) break;  // a loop of directories
        std::uint64_t entries = 0;
        if (!b.number(directory, countBytes, big, entries) || entries > kMostEntries)
            return void(sniff.damage =
                            page == 0 ? kCut : "is damaged: a page's directory lies outside it");
        std::vector<std::uint8_t> table(std::size_t(entries * entryBytes));
        if (!b.get(directory + std::uint64_t(countBytes), table.data(), table.size()))
            return void(sniff.damage = kCut);
        std::uint64_t width = 0, height = 0, subfile = 0;
        // the pieces of picture data: offsets and byte counts, strips or tiles
        std::uint64_t pieceCount = 0, offsetsAt = 0, countsAt = 0;
        int offsetSize = 0, countSize = 0;
        for (std::uint64_t i = 0; i < entries; ++i) {
            const std::uint8_t* entry = table.data() + i * entryBytes;
            const int tag = int(readUnsigned(entry, 2, big));
            const int type = int(readUnsigned(entry + 2, 2, big));
            const std::uint64_t count = readUnsigned(entry + 4, offsetBytes, big);
            const int size = type == 3 ? 2 : type == 4 ? 4 : type == 16 ? 8 : 0;
            if (size == 0 || count == 0) continue;  // no whole numbers of the kinds needed
            const std::uint8_t* field = entry + 4 + offsetBytes;
            const bool inlined = count * std::uint64_t(size) <= std::uint64_t(offsetBytes);
            const std::uint64_t at = inlined ? directory + std::uint64_t(countBytes) +
                                                   i * entryBytes + 4 + std::uint64_t(offsetBytes)
                                             : readUnsigned(field, offsetBytes, big);
            const std::uint64_t first = readUnsigned(field, size, big);
            if (tag == 254) subfile = first;
            if (tag == 256) width = first;
            if (tag == 257) height = first;
            if (tag == 273 || tag == 324) offsetsAt = at, offsetSize = size, pieceCount = count;
            if (tag == 279 || tag == 325) countsAt = at, countSize = size;
        }
        if (!(subfile & 1)) sniff.pages++;  // bit 0: a reduced copy, such as a preview
        if (page == 0) {
            setSize(sniff, width, height);
            if (!sniff.damage.empty()) return;
            if (pieceCount == 0 || countSize == 0 || pieceCount > kMostPieces)
                return void(sniff.damage = "is damaged: its picture data cannot be found");
            std::vector<std::uint8_t> offsets(std::size_t(pieceCount) * std::size_t(offsetSize));
            std::vector<std::uint8_t> counts(std::size_t(pieceCount) * std::size_t(countSize));
            if (!b.get(offsetsAt, offsets.data(), offsets.size()) ||
                !b.get(countsAt, counts.data(), counts.size()))
                return void(sniff.damage = kCut);
            for (std::uint64_t i = 0; i < pieceCount; ++i) {
                const std::uint64_t start = readUnsigned(&offsets[i * offsetSize], offsetSize, big);
                const std::uint64_t length = readUnsigned(&counts[i * countSize], countSize, big);
                if (start > b.size() || length > b.size() - start) return void(sniff.damage = kCut);
            }
        }
        const std::uint64_t next = directory + std::uint64_t(countBytes) + entries * entryBytes;
        if (!b.number(next, offsetBytes, big, directory)) directory = 0;
    }
    sniff.pages = std::max(sniff.pages, 1);
}

void sniffWebp(const Bytes& b, FileSniff& sniff) {
    picture(sniff, "WebP", ".webp");
    if (b.head().size() < 30) return void(sniff.damage = kCut);
    if (b.starts("VP8 ", 12)) {
        if (!b.startsBytes({0x9d, 0x01, 0x2a}, 23))
            return void(sniff.damage = "is damaged: its frame has no start");
        setSize(sniff, b.headNumber(26, 2, false) & 0x3fff, b.headNumber(28, 2, false) & 0x3fff);
    } else if (b.starts("VP8L", 12)) {
        const std::uint64_t bits = b.headNumber(21, 4, false);
        setSize(sniff, (bits & 0x3fff) + 1, ((bits >> 14) & 0x3fff) + 1);
    } else if (b.starts("VP8X", 12)) {
        if (b.head()[20] & 0x02) {  // animation
            sniff.kind = FileKind::Unsupported;
            sniff.format = "animated WebP";
            return;
        }
        setSize(sniff, b.headNumber(24, 3, false) + 1, b.headNumber(27, 3, false) + 1);
    } else {
        return void(sniff.damage = "is damaged: it holds no picture of a known kind");
    }
    if (b.headNumber(4, 4, false) + 8 > b.size()) sniff.damage = kCut;
}

// PBM, PGM and PPM (P1 to P6), PAM (P7) and PFM: a text header, then the raster.
void sniffNetpbm(const Bytes& b, FileSniff& sniff) {
    const char kind = char(b.head()[1]);
    TextHeader text(b.head());
    std::string magic;
    text.word(magic);
    std::uint64_t width = 0, height = 0, maxValue = 1, samples = 1;
    if (kind == '7') {
        picture(sniff, "PAM", ".pam");
        std::string line, key;
        text.line(line);
        bool ended = false;
        while (!ended && text.line(line)) {
            const std::size_t space = line.find_first_of(" \t");
            key = line.substr(0, space);
            const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
            const std::uint64_t number = value.find_first_of("0123456789") == std::string::npos
                                             ? 0
                                             : std::strtoull(value.c_str(), nullptr, 10);
            if (key == "WIDTH") width = number;
            if (key == "HEIGHT") height = number;
            if (key == "DEPTH") samples = number;
            if (key == "MAXVAL") maxValue = number;
            ended = key == "ENDHDR";
        }
        if (!ended) return void(sniff.damage = "is damaged: its header has no end");
        setSize(sniff, width, height);
        checkRaster(b, sniff, text.position(), width * samples * (maxValue > 255 ? 2 : 1));
        return;
    }
    if (kind == 'F' || kind == 'f') {
        picture(sniff, "PFM", ".pfm");
        std::string scale;
        if (!text.number(width) || !text.number(height) || !text.word(scale))
            return void(sniff.damage = "is damaged: its header is incomplete");
        setSize(sniff, width, height);
        checkRaster(b, sniff, text.dataStart(), width * (kind == 'F' ? 3 : 1) * 4);
        return;
    }
    picture(sniff, "PNM", ".ppm");  // whatever it holds, written back in colour
    if (!text.number(width) || !text.number(height) ||
        (kind != '1' && kind != '4' && !text.number(maxValue)))
        return void(sniff.damage = "is damaged: its header is incomplete");
    setSize(sniff, width, height);
    const std::uint64_t sampleBytes = maxValue > 255 ? 2 : 1;
    if (kind == '4') checkRaster(b, sniff, text.dataStart(), (width + 7) / 8);
    if (kind == '5') checkRaster(b, sniff, text.dataStart(), width * sampleBytes);
    if (kind == '6') checkRaster(b, sniff, text.dataStart(), 3 * width * sampleBytes);
}

void sniffSunRaster(const Bytes& b, FileSniff& sniff) {
    picture(sniff, "Sun raster", ".ras");
    if (b.head().size() < 32) return void(sniff.damage = kCut);
    const std::uint64_t width = b.headNumber(4, 4, true), height = b.headNumber(8, 4, true);
    const std::uint64_t depth = b.headNumber(12, 4, true), type = b.headNumber(20, 4, true);
    setSize(sniff, width, height);
    if (type != 2)  // rows of whole 16-bit words, after the colour map; type 2 is packed
        checkRaster(b, sniff, 32 + b.headNumber(28, 4, true), (width * depth + 15) / 16 * 2);
}

// A JPEG 2000 codestream ends with its end marker.
void checkCodestreamEnd(const Bytes& b, FileSniff& sniff, std::uint64_t end) {
    std::uint64_t marker = 0;
    if (sniff.damage.empty() &&
        (end < 2 || !b.number(end - 2, 2, true, marker) || marker != 0xffd9))
        sniff.damage = kCut;
}

void sniffJpeg2000(const Bytes& b, FileSniff& sniff, bool boxes) {
    picture(sniff, "JPEG 2000", ".jp2");
    if (!boxes) {  // a bare codestream: its size in the SIZ segment
        const std::uint64_t x = b.headNumber(8, 4, true), y = b.headNumber(12, 4, true);
        const std::uint64_t x0 = b.headNumber(16, 4, true), y0 = b.headNumber(20, 4, true);
        setSize(sniff, x > x0 ? x - x0 : 0, y > y0 ? y - y0 : 0);
        return checkCodestreamEnd(b, sniff, b.size());
    }
    // boxes: length, type, contents; the header box holds the size, the
    // codestream box the picture
    bool sized = false, coded = false;
    std::uint64_t pos = 0;
    const std::uint64_t end = b.size();
    for (int box = 0; box < kMostSegments && pos + 8 <= end; ++box) {
        std::uint64_t length = 0, type = 0;
        if (!b.number(pos, 4, true, length) || !b.number(pos + 4, 4, true, type))
            return void(sniff.damage = kCut);
        std::uint64_t header = 8;
        if (length == 1) {
            if (!b.number(pos + 8, 8, true, length)) return void(sniff.damage = kCut);
            header = 16;
        } else if (length == 0) {
            length = end - pos;
        }
        if (length < header || length > end - pos) return void(sniff.damage = kCut);
        if (type == 0x6a703268) {  // 'jp2h': its boxes lie within it
            pos += header;
            continue;
        }
        if (type == 0x69686472) {  // 'ihdr'
            std::uint64_t height = 0, width = 0;
            if (!b.number(pos + header, 4, true, height) ||
                !b.number(pos + header + 4, 4, true, width))
                return void(sniff.damage = kCut);
            setSize(sniff, width, height);
            sized = true;
        }
        if (type == 0x6a703263) {  // 'jp2c'
            checkCodestreamEnd(b, sniff, pos + length);
            coded = true;
        }
        pos += length;
    }
    if (sniff.damage.empty() && (!sized || !coded))
        sniff.damage = sized ? kCut : "is damaged: its header gives no size";
}

void sniffRadiance(const Bytes& b, FileSniff& sniff) {
    picture(sniff, "Radiance HDR", ".hdr");
    TextHeader text(b.head());
    std::string line;
    while (text.line(line) && !line.empty()) {
    }
    std::string first, second;
    std::uint64_t a = 0, c = 0;
    if (!text.word(first) || !text.number(a) || !text.word(second) || !text.number(c))
        return void(sniff.damage = "is damaged: its header gives no size");
    const bool rowsFirst = first.size() == 2 && first[1] == 'Y';
    setSize(sniff, rowsFirst ? c : a, rowsFirst ? a : c);
}

// --- Everything else ---------------------------------------------------------

void other(FileSniff& sniff, FileKind kind, const char* format) {
    sniff.kind = kind;
    sniff.format = format;
}

// An ISO media file names its brands: still pictures (HEIF, AVIF), Canon's
// CR3, or a video.
void sniffIsoMedia(const Bytes& b, FileSniff& sniff) {
    const std::uint64_t boxEnd = std::min<std::uint64_t>(b.headNumber(0, 4, true), 256);
    auto brand = [&](std::size_t at) {
        return b.head().size() >= at + 4
                   ? std::string(b.head().begin() + long(at), b.head().begin() + long(at) + 4)
                   : std::string();
    };
    std::vector<std::string> brands = {brand(8)};
    for (std::size_t at = 16; at + 4 <= boxEnd; at += 4) brands.push_back(brand(at));
    for (const std::string& name : brands) {
        if (name == "crx ") return other(sniff, FileKind::Raw, "CR3");
        if (name == "avif" || name == "avis") return other(sniff, FileKind::Unsupported, "AVIF");
        if (name == "heic" || name == "heix" || name == "hevc" || name == "hevx" ||
            name == "heim" || name == "heis" || name == "mif1" || name == "msf1")
            return other(sniff, FileKind::Unsupported, "HEIC/HEIF");
    }
    other(sniff, FileKind::Video, brands.front() == "qt  " ? "QuickTime (MOV)" : "MP4");
}

// True when the file's name ends in one of `extensions` (lower case, no dot).
bool namedAs(const std::string& name, std::initializer_list<const char*> extensions) {
    const std::string extension = lowercaseExtension(name);
    for (const char* candidate : extensions)
        if (extension.size() > 1 && extension.substr(1) == candidate) return true;
    return false;
}

bool rawByName(const std::string& name) {
    return namedAs(name, {"3fr", "ari", "arw", "bay", "cap", "cr2", "cr3", "crw", "dcr", "dcs",
                          "dng", "drf", "eip", "erf", "fff", "gpr", "iiq", "k25", "kdc", "mdc",
                          "mef", "mos", "mrw", "nef", "nrw", "orf", "pef", "ptx", "pxn", "raf",
                          "raw", "rw2", "rwl", "rwz", "sr2", "srf", "srw", "x3f"});
}

bool videoByName(const std::string& name) {
    return namedAs(name, {"3g2", "3gp",  "asf", "avi", "braw", "dv",   "flv",  "insv", "lrv",
                          "m2t", "m2ts", "m4v", "mkv", "mov",  "mp4",  "mpeg", "mpg",  "mts",
                          "mxf", "ogv",  "r3d", "ts",  "vob",  "webm", "wmv"});
}

std::string upperExtension(const std::string& name) {
    std::string extension = extensionOf(name);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return extension.empty() ? extension : extension.substr(1);
}

}  // namespace

// --- The verdict -------------------------------------------------------------

FileSniff sniffFile(const std::string& name, std::uint64_t fileSize, const ReadAt& read) {
    FileSniff sniff;
    if (rawByName(name)) {
        other(sniff, FileKind::Raw, "");
        sniff.format = upperExtension(name);
        return sniff;
    }
    if (videoByName(name)) {
        other(sniff, FileKind::Video, "");
        sniff.format = upperExtension(name);
        return sniff;
    }
    const Bytes b(read, fileSize);
    const std::vector<std::uint8_t>& h = b.head();
    const auto netpbm = [&] {
        return h.size() >= 3 && h[0] == 'P' &&
               ((h[1] >= '1' && h[1] <= '7') || h[1] == 'F' || h[1] == 'f') &&
               asciiSpace(char(h[2]));
    };
    // pictures Tintsmith reads
    if (b.startsBytes({0xff, 0xd8, 0xff}))
        sniffJpeg(b, sniff);
    else if (b.startsBytes({0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}))
        sniffPng(b, sniff);
    else if (b.starts("BM") && h.size() >= 26)
        sniffBmp(b, sniff);
    else if ((b.starts("II") || b.starts("MM")) && h.size() >= 16 &&
             (b.headNumber(2, 2, h[0] == 'M') == 42 || b.headNumber(2, 2, h[0] == 'M') == 43))
        b.starts("CR", 8) ? other(sniff, FileKind::Raw, "CR2") : sniffTiff(b, sniff);
    else if (b.starts("RIFF") && b.starts("WEBP", 8))
        sniffWebp(b, sniff);
    else if (netpbm())
        sniffNetpbm(b, sniff);
    else if (b.startsBytes({0x59, 0xa6, 0x6a, 0x95}))
        sniffSunRaster(b, sniff);
    else if (b.startsBytes({0xff, 0x4f, 0xff, 0x51}))
        sniffJpeg2000(b, sniff, false);
    else if (b.startsBytes({0, 0, 0, 0x0c, 'j', 'P', ' ', ' ', 0x0d, 0x0a, 0x87, 0x0a}))
        sniffJpeg2000(b, sniff, true);
    else if (b.starts("#?RADIANCE") || b.starts("#?RGBE"))
        sniffRadiance(b, sniff);
    // pictures it does not read
    else if (b.starts("GIF87a") || b.starts("GIF89a"))
        other(sniff, FileKind::Unsupported, "GIF");
    else if (b.starts("8BPS"))
        other(sniff, FileKind::Unsupported, "Photoshop (PSD)");
    else if (b.startsBytes({0xff, 0x0a}) ||
             b.startsBytes({0, 0, 0, 0x0c, 'J', 'X', 'L', ' ', 0x0d, 0x0a, 0x87, 0x0a}))
        other(sniff, FileKind::Unsupported, "JPEG XL");
    else if (b.startsBytes({0x76, 0x2f, 0x31, 0x01}))
        other(sniff, FileKind::Unsupported, "OpenEXR");
    // camera RAW files with signatures of their own
    else if (b.starts("FUJIFILMCCD-RAW"))
        other(sniff, FileKind::Raw, "RAF");
    else if (b.starts("IIRO") || b.starts("IIRS") || b.starts("MMOR"))
        other(sniff, FileKind::Raw, "ORF");
    else if (b.startsBytes({'I', 'I', 'U', 0}))
        other(sniff, FileKind::Raw, "RW2");
    else if (b.starts("FOVb"))
        other(sniff, FileKind::Raw, "X3F");
    else if (b.startsBytes({0, 'M', 'R', 'M'}))
        other(sniff, FileKind::Raw, "MRW");
    // videos
    else if (b.starts("ftyp", 4))
        sniffIsoMedia(b, sniff);
    else if (b.starts("moov", 4) || b.starts("mdat", 4) || b.starts("wide", 4))
        other(sniff, FileKind::Video, "QuickTime (MOV)");
    else if (b.startsBytes({0x1a, 0x45, 0xdf, 0xa3}))
        other(sniff, FileKind::Video, "Matroska (MKV or WebM)");
    else if (b.starts("RIFF") && b.starts("AVI ", 8))
        other(sniff, FileKind::Video, "AVI");
    else if (b.startsBytes({0x30, 0x26, 0xb2, 0x75, 0x8e, 0x66, 0xcf, 0x11}))
        other(sniff, FileKind::Video, "Windows Media (WMV)");
    else if (b.startsBytes({'F', 'L', 'V', 1}))
        other(sniff, FileKind::Video, "Flash (FLV)");
    else if (b.startsBytes({0, 0, 1, 0xba}) || b.startsBytes({0, 0, 1, 0xb3}))
        other(sniff, FileKind::Video, "MPEG");
    else if ((h.size() > 376 && h[0] == 0x47 && h[188] == 0x47 && h[376] == 0x47) ||
             (h.size() > 388 && h[4] == 0x47 && h[196] == 0x47 && h[388] == 0x47))
        other(sniff, FileKind::Video, "MPEG transport stream (TS or MTS)");
    return sniff;
}

FileSniff sniffBytes(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const ReadAt read = [&](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
        if (offset >= size) return std::size_t(0);
        const std::size_t n = std::min<std::size_t>(count, std::size_t(size - offset));
        std::memcpy(into, data + offset, n);
        return n;
    };
    return sniffFile(name, size, read);
}

}  // namespace tintsmith
