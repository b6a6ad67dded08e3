// What a corrected photo keeps of its original, and its colour profile.
// Exif, XMP and comments are taken from a JPEG's segments or a PNG's chunks
// and put into the corrected file's; the Exif is made upright (its pixels are
// turned already) and loses its thumbnail, which shows the photo uncorrected.
// Sections: reading segments and chunks · the Exif made upright · metadata
// taken and put back · the colour profile.
#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "workflow/io/bytes.hpp"
#include "workflow/io/io.hpp"

namespace tintsmith {
namespace {

// --- Reading segments and chunks ---------------------------------------------

constexpr char kExifName[] = "Exif\0";  // with the string's own end: "Exif\0\0"
constexpr std::size_t kExifNameSize = 6;
constexpr char kXmpName[] = "http://ns.adobe.com/xap/1.0/";  // and its end
constexpr char kExtendedXmpName[] = "http://ns.adobe.com/xmp/extension/";
constexpr char kIccName[] = "ICC_PROFILE";
constexpr char kPngXmpKeyword[] = "XML:com.adobe.xmp";
// A JPEG segment holds at most this many bytes besides its marker and length.
constexpr std::size_t kMostSegmentData = 65533;
// A colour profile is read up to this size; larger ones are left unjudged.
constexpr std::size_t kMostProfileBytes = std::size_t(16) << 20;

bool startsWith(const std::string& data, const char* prefix, std::size_t size) {
    return data.size() >= size && std::memcmp(data.data(), prefix, size) == 0;
}

bool isPng(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

bool isJpeg(const std::uint8_t* data, std::size_t size) {
    return size >= 4 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff;
}

// Calls `visit(type, data)` for each chunk of a PNG up to its end chunk but
// the image data.
template <class Visit>
void eachPngChunk(const std::uint8_t* b, std::size_t n, Visit visit) {
    for (std::size_t pos = 8; pos + 12 <= n;) {
        const std::size_t length = bigEndian32(b + pos);
        if (length > n - pos - 12) return;
        const std::string type(reinterpret_cast<const char*>(b + pos + 4), 4);
        if (type == "IEND") return;
        // the pixels, most of the file, are no visitor's business
        if (type != "IDAT")
            visit(type, std::string(reinterpret_cast<const char*>(b + pos + 8), length));
        pos += length + 12;
    }
}

std::string jpegSegment(int marker, const std::string& data) {
    std::string segment = {char(0xff), char(marker)};
    appendUnsigned(segment, data.size() + 2, 2, true);
    return segment + data;
}

std::string pngChunk(const std::string& type, const std::string& data) {
    std::string chunk;
    appendUnsigned(chunk, data.size(), 4, true);
    chunk += type + data;
    const auto* typed = reinterpret_cast<const std::uint8_t*>(chunk.data() + 4);
    appendUnsigned(chunk, crc32(typed, 4 + data.size()), 4, true);
    return chunk;
}

// zlib's compressed data inflated, up to `most` bytes; "" when it cannot be.
std::string inflated(const std::string& data, std::size_t most) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return {};
    std::string out;
    char buffer[1 << 14];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    int status = Z_OK;
    while (status == Z_OK && out.size() <= most) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : std::string();
}

// --- The Exif made upright ---------------------------------------------------

// Bytes of one value of a TIFF field type; 0 for a type no reader knows.
std::size_t typeSize(std::uint64_t type) {
    static const std::size_t kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return type < 13 ? kSizes[type] : 0;
}

// A TIFF structure's directories, read and written in place.
class TiffEdit {
  public:
    explicit TiffEdit(std::string& tiff) : t_(tiff) {}
    bool valid() const {
        return t_.size() >= 8 && (startsWith(t_, "II*\0", 4) || startsWith(t_, "MM\0*", 4));
    }
    bool big() const { return t_[0] == 'M'; }
    std::uint64_t number(std::size_t at, int bytes) const {
        return at + std::size_t(bytes) <= t_.size() ? readUnsigned(data() + at, bytes, big()) : 0;
    }
    void setNumber(std::size_t at, std::uint64_t value, int bytes) {
        if (at + std::size_t(bytes) <= t_.size())
            writeUnsigned(reinterpret_cast<std::uint8_t*>(&t_[at]), value, bytes, big());
    }
    // The entries of the directory at `at`, 0 when it lies outside.
    std::size_t entries(std::size_t at) const {
        if (at < 8 || at + 2 > t_.size()) return 0;
        const std::size_t count = std::size_t(number(at, 2));
        return at + 2 + 12 * count + 4 <= t_.size() ? count : 0;
    }
    // Sets a one-value SHORT or LONG field to `value`.
    void setField(std::size_t entry, std::uint64_t value) {
        const std::uint64_t type = number(entry + 2, 2);
        if (number(entry + 4, 4) != 1) return;
        if (type == 3) setNumber(entry + 8, value, 2);
        if (type == 4) setNumber(entry + 8, value, 4);
    }
    std::size_t size() const { return t_.size(); }
    const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(t_.data()); }

  private:
    std::string& t_;
};

// --- The colour profile ------------------------------------------------------

// sRGB's red, green and blue in the profile connection space (D50), as every
// sRGB profile states them to about four decimals.
constexpr double kSrgbColourants[3][3] = {
    {0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
// How far a profile's colourants may lie from them and still be sRGB: the
// rounding of the sRGB profiles in use; Display P3, the nearest other, is 0.08 away.
constexpr double kColourantTolerance = 0.003;

// The profile's name from its description tag, in printable ASCII.
std::string profileName(const std::string& icc, std::size_t at, std::size_t size) {
    std::string name;
    if (at + size > icc.size() || size < 12) return name;
    const std::uint8_t* tag = reinterpret_cast<const std::uint8_t*>(icc.data()) + at;
    if (std::memcmp(tag, "desc", 4) == 0) {
        const std::size_t count = std::min<std::size_t>(bigEndian32(tag + 8), size - 12);
        for (std::size_t i = 0; i < count && tag[12 + i] != 0; ++i)
            name.push_back(char(tag[12 + i]));
    } else if (std::memcmp(tag, "mluc", 4) == 0 && size >= 28) {
        // the first record's text, UTF-16 in big-endian order
        const std::size_t length = bigEndian32(tag + 20), offset = bigEndian32(tag + 24);
        for (std::size_t i = 0; offset + i + 1 < size && i < length; i += 2) {
            const int unit = bigEndian16(tag + offset + i);
            name.push_back(unit < 0x80 ? char(unit) : '?');
        }
    }
    name.erase(
        std::remove_if(name.begin(), name.end(), [](char c) { return c < 0x20 || c > 0x7e; }),
        name.end());
    return name;
}

// "" when the ICC profile `icc` describes sRGB (or grey, or cannot be read);
// else its name.
std::string judgeProfile(const std::string& icc) {
    if (icc.size() < 132) return {};
    const std::uint8_t* p = reinterpret_cast<const std::uint8_t*>(icc.data());
    const std::string space(icc, 16, 4);
    if (space == "GRAY") return {};
    std::string name;
    double colourants[3][3] = {};
    int found = 0;
    const std::size_t tags = std::min<std::size_t>(bigEndian32(p + 128), (icc.size() - 132) / 12);
    for (std::size_t i = 0; i < tags; ++i) {
        const std::uint8_t* entry = p + 132 + 12 * i;
        const std::size_t at = bigEndian32(entry + 4), size = bigEndian32(entry + 8);
        const std::string signature(reinterpret_cast<const char*>(entry), 4);
        if (signature == "desc") name = profileName(icc, at, size);
        const int channel = signature == "rXYZ"   ? 0
                            : signature == "gXYZ" ? 1
                            : signature == "bXYZ" ? 2
                                                  : -1;
        if (channel < 0 || size < 20 || at + 20 > icc.size()) continue;
        for (int k = 0; k < 3; ++k)  // s15Fixed16 numbers
            colourants[channel][k] = std::int32_t(bigEndian32(p + at + 8 + 4 * k)) / 65536.0;
        ++found;
    }
    if (name.empty()) name = "unnamed";
    if (space != "RGB ") return name + " (" + space.substr(0, space.find(' ')) + ")";
    if (found < 3) return name.find("sRGB") != std::string::npos ? "" : name;
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            if (std::abs(colourants[c][k] - kSrgbColourants[c][k]) > kColourantTolerance)
                return name;
    return {};
}

// A TIFF's ICC profile: tag 34675 of its first directory.
std::string tiffProfile(const std::uint8_t* data, std::size_t size) {
    std::string tiff(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 1 << 20));
    const TiffEdit edit(tiff);
    if (!edit.valid() || edit.number(2, 2) != 42) return {};
    const std::size_t directory = std::size_t(edit.number(4, 4));
    const std::size_t entries = edit.entries(directory);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        if (edit.number(entry, 2) != 34675) continue;
        const std::uint64_t count = edit.number(entry + 4, 4), at = edit.number(entry + 8, 4);
        if (count > kMostProfileBytes || at + count > size) return {};
        return std::string(reinterpret_cast<const char*>(data + at), std::size_t(count));
    }
    return {};
}

}  // namespace

// --- The Exif made upright ---------------------------------------------------

std::string uprightExif(std::string tiff, int width, int height) {
    TiffEdit edit(tiff);
    if (!edit.valid() || edit.number(2, 2) != 42) return {};
    const std::size_t first = std::size_t(edit.number(4, 4));
    const std::size_t entries = edit.entries(first);
    if (entries == 0) return {};
    std::size_t exifDirectory = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = first + 2 + 12 * i;
        const std::uint64_t tag = edit.number(entry, 2);
        if (tag == 0x0112) edit.setField(entry, 1);  // the pixels stand upright now
        if (tag == 0x0100) edit.setField(entry, std::uint64_t(width));
        if (tag == 0x0101) edit.setField(entry, std::uint64_t(height));
        if (tag == 0x8769) exifDirectory = std::size_t(edit.number(entry + 8, 4));
    }
    for (std::size_t i = 0, n = edit.entries(exifDirectory); i < n; ++i) {
        const std::size_t entry = exifDirectory + 2 + 12 * i;
        const std::uint64_t tag = edit.number(entry, 2);
        if (tag == 0xa002) edit.setField(entry, std::uint64_t(width));
        if (tag == 0xa003) edit.setField(entry, std::uint64_t(height));
    }
    // the thumbnail's directory, unlinked; it, its values and its picture zeroed
    const std::size_t link = first + 2 + 12 * entries;
    const std::size_t thumbnail = std::size_t(edit.number(link, 4));
    edit.setNumber(link, 0, 4);
    const std::size_t thumbnailEntries = edit.entries(thumbnail);
    if (thumbnailEntries == 0) return tiff;
    std::vector<std::pair<std::size_t, std::size_t>> regions = {
        {thumbnail, thumbnail + 2 + 12 * thumbnailEntries + 4}};
    std::size_t pictureAt = 0, pictureSize = 0;
    for (std::size_t i = 0; i < thumbnailEntries; ++i) {
        const std::size_t entry = thumbnail + 2 + 12 * i;
        const std::uint64_t tag = edit.number(entry, 2);
        const std::uint64_t bytes = typeSize(edit.number(entry + 2, 2)) * edit.number(entry + 4, 4);
        const std::size_t value = std::size_t(edit.number(entry + 8, 4));
        if (bytes > 4) regions.emplace_back(value, value + std::size_t(bytes));
        if (tag == 0x0201 || tag == 0x0111) pictureAt = value;  // JPEG, or one strip
        if (tag == 0x0202 || tag == 0x0117) pictureSize = value;
    }
    if (pictureSize > 0) regions.emplace_back(pictureAt, pictureAt + pictureSize);
    std::size_t cut = tiff.size();
    for (auto& [start, end] : regions) {
        end = std::min(end, tiff.size());
        if (start < 8 || start >= end) continue;  // nothing of the header is touched
        std::fill(tiff.begin() + long(start), tiff.begin() + long(end), '\0');
    }
    // zeroed regions that end the structure are cut off (with the padding between them)
    for (bool shorter = true; shorter;) {
        shorter = false;
        for (const auto& [start, end] : regions)
            if (start >= 8 && start < cut && end + 3 >= cut) cut = start, shorter = true;
    }
    tiff.resize(std::max<std::size_t>(cut, 8));
    return tiff;
}

// --- Metadata taken and put back ---------------------------------------------

bool PhotoMetadata::empty() const {
    return exif.empty() && xmp.empty() && extendedXmp.empty() && comments.empty() &&
           pngText.empty();
}

PhotoMetadata photoMetadata(const std::uint8_t* data, std::size_t size) {
    PhotoMetadata metadata;
    if (isJpeg(data, size)) {
        eachJpegSegment(data, size, [&](int marker, const std::string& segment) {
            if (marker == 0xfe) metadata.comments.push_back(segment);
            if (marker != 0xe1) return;
            if (metadata.exif.empty() && startsWith(segment, kExifName, kExifNameSize))
                metadata.exif = segment.substr(kExifNameSize);
            else if (metadata.xmp.empty() && startsWith(segment, kXmpName, sizeof kXmpName))
                metadata.xmp = segment.substr(sizeof kXmpName);
            else if (startsWith(segment, kExtendedXmpName, sizeof kExtendedXmpName))
                metadata.extendedXmp.push_back(segment);
        });
    } else if (isPng(data, size)) {
        eachPngChunk(data, size, [&](const std::string& type, const std::string& chunk) {
            if (type == "eXIf" && metadata.exif.empty()) metadata.exif = chunk;
            // an uncompressed XMP packet: keyword, flag 0, method, language, translation, text
            if (type == "iTXt" && metadata.xmp.empty() &&
                startsWith(chunk, kPngXmpKeyword, sizeof kPngXmpKeyword) &&
                chunk.size() > sizeof kPngXmpKeyword + 2 && chunk[sizeof kPngXmpKeyword] == 0) {
                const std::size_t language = chunk.find('\0', sizeof kPngXmpKeyword + 2);
                const std::size_t text = language == std::string::npos
                                             ? std::string::npos
                                             : chunk.find('\0', language + 1);
                if (text != std::string::npos) {
                    metadata.xmp = chunk.substr(text + 1);
                    return;
                }
            }
            if (type == "tEXt" || type == "zTXt" || type == "iTXt")
                metadata.pngText.push_back(type + chunk);
        });
    }
    return metadata;
}

std::string withMetadata(std::string encoded, const PhotoMetadata& metadata) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(encoded.data());
    if (metadata.empty()) return encoded;
    const FileSniff file = sniffBytes("", data, encoded.size());
    const std::string exif =
        metadata.exif.empty() ? "" : uprightExif(metadata.exif, file.width, file.height);
    // an XMP orientation would turn the upright pixels once more
    std::string xmp = metadata.xmp;
    for (std::size_t at = xmp.find("tiff:Orientation"); at != std::string::npos;
         at = xmp.find("tiff:Orientation", at + 1)) {
        const std::size_t digit = xmp.find_first_of("0123456789", at);
        if (digit != std::string::npos && digit <= at + 20) xmp[digit] = '1';
    }
    std::string added;
    if (isJpeg(data, encoded.size())) {
        if (!exif.empty() && exif.size() + kExifNameSize <= kMostSegmentData)
            added += jpegSegment(0xe1, std::string(kExifName, kExifNameSize) + exif);
        if (!xmp.empty() && xmp.size() + sizeof kXmpName <= kMostSegmentData)
            added += jpegSegment(0xe1, std::string(kXmpName, sizeof kXmpName) + xmp);
        for (const std::string& segment : metadata.extendedXmp) added += jpegSegment(0xe1, segment);
        for (const std::string& comment : metadata.comments)
            if (comment.size() <= kMostSegmentData) added += jpegSegment(0xfe, comment);
        // after the start of the picture and the encoder's JFIF segment
        std::size_t at = 2;
        if (encoded.size() >= 6 && data[2] == 0xff && data[3] == 0xe0)
            at = 4 + std::size_t(bigEndian16(data + 4));
        encoded.insert(std::min(at, encoded.size()), added);
    } else if (isPng(data, encoded.size())) {
        if (!exif.empty()) added += pngChunk("eXIf", exif);
        if (!xmp.empty())
            added += pngChunk("iTXt", std::string(kPngXmpKeyword, sizeof kPngXmpKeyword) +
                                          std::string(4, '\0') + xmp);
        for (const std::string& comment : metadata.comments)
            added += pngChunk("tEXt", std::string("Comment\0", 8) + comment);
        for (const std::string& chunk : metadata.pngText)
            added += pngChunk(chunk.substr(0, 4), chunk.substr(4));
        encoded.insert(std::min<std::size_t>(33, encoded.size()), added);  // after IHDR
    }
    return encoded;
}

// --- The colour profile ------------------------------------------------------

std::string nonSrgbProfile(const std::uint8_t* data, std::size_t size) {
    std::string icc;
    if (isJpeg(data, size)) {
        // in numbered pieces, one a segment: "ICC_PROFILE\0", number, count
        std::vector<std::string> pieces;
        eachJpegSegment(data, size, [&](int marker, const std::string& segment) {
            if (marker != 0xe2 || !startsWith(segment, kIccName, sizeof kIccName) ||
                segment.size() < sizeof kIccName + 2)
                return;
            const std::size_t number = std::uint8_t(segment[sizeof kIccName]);
            if (number == 0 || number > 255) return;
            if (pieces.size() < number) pieces.resize(number);
            pieces[number - 1] = segment.substr(sizeof kIccName + 2);
        });
        for (const std::string& piece : pieces) icc += piece;
    } else if (isPng(data, size)) {
        bool srgb = false;
        eachPngChunk(data, size, [&](const std::string& type, const std::string& chunk) {
            if (type == "sRGB") srgb = true;
            // name, its end, the method, then the compressed profile
            const std::size_t end = chunk.find('\0');
            if (type == "iCCP" && icc.empty() && end != std::string::npos && end + 2 < chunk.size())
                icc = inflated(chunk.substr(end + 2), kMostProfileBytes);
        });
        if (srgb) return {};
    } else if (size >= 8 &&
               (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0)) {
        icc = tiffProfile(data, size);
    } else if (size >= 30 && std::memcmp(data, "RIFF", 4) == 0 &&
               std::memcmp(data + 8, "WEBP", 4) == 0) {
        for (std::size_t pos = 12; pos + 8 <= size;) {
            const std::size_t length = std::size_t(readUnsigned(data + pos + 4, 4, false));
            if (length > size - pos - 8) break;
            if (std::memcmp(data + pos, "ICCP", 4) == 0)
                icc.assign(reinterpret_cast<const char*>(data + pos + 8), length);
            pos += 8 + length + (length & 1);
        }
    }
    return judgeProfile(icc);
}

}  // namespace tintsmith
