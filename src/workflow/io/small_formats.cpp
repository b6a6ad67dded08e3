// The formats OpenCV decodes with its own code, which no library of theirs
// describes: BMP, PBM/PGM/PPM, PAM and PFM, Sun raster and Radiance. Their
// headers are short and fixed, read here from the first bytes.
#include <algorithm>
#include <cstdlib>

#include "workflow/io/formats.hpp"

namespace tintsmith {

bool asciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

namespace {

// A header's text (PNM, PAM, Radiance) must lie within its first bytes.
constexpr std::size_t kTextHeaderBytes = 4096;

// Tokens of a PNM or PAM header: words between white space, '#' comments skipped.
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
void checkRaster(const Source& b, FileSniff& sniff, std::uint64_t start, std::uint64_t rowBytes) {
    if (sniff.damage.empty() && sniff.height > 0 &&
        (b.size() < start || (b.size() - start) / std::uint64_t(sniff.height) < rowBytes))
        sniff.damage = kCutShort;
}

}  // namespace

void readBmpHeader(const Source& b, FileSniff& sniff) {
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
    if (b.head().size() < 14 + headerSize) return void(sniff.damage = kCutShort);
    setSize(sniff, std::uint64_t(std::max<std::int64_t>(width, 0)),
            std::uint64_t(height < 0 ? -height : height));
    // uncompressed rows are padded to four bytes
    if (compression == 0 || compression == 3)
        checkRaster(b, sniff, dataStart, (std::uint64_t(sniff.width) * bits + 31) / 32 * 4);
}

// PBM, PGM and PPM (P1 to P6), PAM (P7) and PFM: a text header, then the raster.
void readNetpbmHeader(const Source& b, FileSniff& sniff) {
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

void readSunRasterHeader(const Source& b, FileSniff& sniff) {
    picture(sniff, "Sun raster", ".ras");
    if (b.head().size() < 32) return void(sniff.damage = kCutShort);
    const std::uint64_t width = b.headNumber(4, 4, true), height = b.headNumber(8, 4, true);
    const std::uint64_t depth = b.headNumber(12, 4, true), type = b.headNumber(20, 4, true);
    setSize(sniff, width, height);
    if (type != 2)  // rows of whole 16-bit words, after the colour map; type 2 is packed
        checkRaster(b, sniff, 32 + b.headNumber(28, 4, true), (width * depth + 15) / 16 * 2);
}

void readRadianceHeader(const Source& b, FileSniff& sniff) {
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

}  // namespace tintsmith
