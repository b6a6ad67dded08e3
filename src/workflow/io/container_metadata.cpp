// What a JPEG's or a PNG's own segments and chunks hold that Exiv2 leaves
// behind: the resolution a JPEG's JFIF segment or a PNG's pHYs chunk states, a
// JPEG's Photoshop and makers' blocks and a PNG's other text chunks, read from
// the original and written into the corrected file beside what Exiv2 writes.
#include "workflow/io/container_metadata.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "workflow/io/bytes.hpp"

namespace tintsmith {
namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::size_t kPngHeaderEnd = 33;  // the signature and the IHDR chunk
// PNG text chunks Exiv2 reads and writes itself, by their keyword.
const char* const kExiv2PngKeywords[] = {"XML:com.adobe.xmp",     "Raw profile type exif",
                                         "Raw profile type APP1", "Raw profile type iptc",
                                         "Raw profile type xmp",  "Description"};
// A JPEG's blocks carried whole: APP3 to APP13 (Photoshop's, with the IPTC)
// and APP15, makers' own. Not APP2 (the profile, and the multi-picture index
// of previews that stay behind) nor APP14 (the encoder's colour transform).
constexpr int kFirstCarriedApp = 0xe3, kLastCarriedApp = 0xef, kAdobeApp = 0xee;
// A PNG's pixels per metre in one pixel per inch.
constexpr double kInchesPerMetre = 1 / 0.0254;

bool isPng(const std::uint8_t* data, std::size_t size) {
    return size >= kPngHeaderEnd && std::memcmp(data, kPngSignature, 8) == 0;
}

// A JPEG's JFIF segment: where its units and density lie, 0 when it has none.
// It is the first segment, always, so no walk is needed.
std::size_t jfifDensityAt(const std::uint8_t* data, std::size_t size) {
    const bool jfif = size >= 20 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff &&
                      data[3] == 0xe0 && bigEndian16(data + 4) >= 16 &&
                      std::memcmp(data + 6, "JFIF\0", 5) == 0;
    return jfif ? 13 : 0;
}

// Calls `visit(marker, segment, size)` for each segment of a JPEG's header, up
// to its first scan: the whole segment, its marker and length included, in place.
template <class Visit>
void eachJpegSegment(const std::uint8_t* b, std::size_t n, Visit visit) {
    for (std::size_t pos = 2; pos + 4 <= n;) {
        const int marker = b[pos + 1];
        if (b[pos] != 0xff || marker == 0xff || marker == 0x00) {  // stray bytes or fill
            ++pos;
            continue;
        }
        if (marker == 0xda || marker == 0xd9) return;
        const std::size_t length = std::size_t(bigEndian16(b + pos + 2));
        if (length < 2 || pos + 2 + length > n) return;
        visit(marker, b + pos, 2 + length);
        pos += 2 + length;
    }
}

// Calls `visit(type, data)` for each chunk of a PNG before its pixels.
template <class Visit>
void eachPngHeaderChunk(const std::uint8_t* b, std::size_t n, Visit visit) {
    for (std::size_t pos = 8; pos + 12 <= n;) {
        const std::size_t length = bigEndian32(b + pos);
        if (length > n - pos - 12) return;
        const std::string type(reinterpret_cast<const char*>(b + pos + 4), 4);
        if (type == "IDAT" || type == "IEND") return;
        visit(type, std::string(reinterpret_cast<const char*>(b + pos + 8), length));
        pos += length + 12;
    }
}

std::string pngChunk(const std::string& type, const std::string& data) {
    std::string chunk;
    appendUnsigned(chunk, data.size(), 4, true);
    chunk += type + data;
    const auto* typed = reinterpret_cast<const std::uint8_t*>(chunk.data() + 4);
    appendUnsigned(chunk, crc32(typed, 4 + data.size()), 4, true);
    return chunk;
}

// Pixels per unit, as `unit` states it per inch.
double perInch(const Resolution& resolution, std::uint32_t value) {
    switch (resolution.unit) {
        case Resolution::Unit::Centimetre:
            return value * 2.54;
        case Resolution::Unit::Metre:
            return value / kInchesPerMetre;
        default:
            return value;
    }
}

}  // namespace

bool readBesideExiv2(const std::uint8_t* data, std::size_t size, PhotoMetadata& metadata) {
    if (const std::size_t at = jfifDensityAt(data, size)) {
        const int unit = data[at];
        metadata.resolution = {unit == 1   ? Resolution::Unit::Inch
                               : unit == 2 ? Resolution::Unit::Centimetre
                                           : Resolution::Unit::None,
                               std::uint32_t(bigEndian16(data + at + 1)),
                               std::uint32_t(bigEndian16(data + at + 3))};
    }
    if (size >= 4 && data[0] == 0xff && data[1] == 0xd8) {
        eachJpegSegment(data, size, [&](int marker, const std::uint8_t* segment, std::size_t n) {
            if (marker >= kFirstCarriedApp && marker <= kLastCarriedApp && marker != kAdobeApp)
                metadata.jpegSegments.emplace_back(reinterpret_cast<const char*>(segment), n);
        });
    }
    if (!isPng(data, size)) return false;
    bool srgb = false;
    eachPngHeaderChunk(data, size, [&](const std::string& type, const std::string& chunk) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(chunk.data());
        srgb = srgb || type == "sRGB";
        if (type == "pHYs" && chunk.size() == 9)
            metadata.resolution = {bytes[8] == 1 ? Resolution::Unit::Metre : Resolution::Unit::None,
                                   bigEndian32(bytes), bigEndian32(bytes + 4)};
        if (type != "tEXt" && type != "zTXt" && type != "iTXt") return;
        const std::string keyword = chunk.substr(0, chunk.find('\0'));
        for (const char* known : kExiv2PngKeywords)
            if (keyword == known) return;
        metadata.pngText.push_back(type + chunk);
    });
    return srgb;
}

void insertJpegSegments(std::string& encoded, const PhotoMetadata& metadata) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(encoded.data());
    std::string added;
    for (const std::string& segment : metadata.jpegSegments) added += segment;
    const std::size_t at =
        jfifDensityAt(data, encoded.size()) ? 4 + std::size_t(bigEndian16(data + 4)) : 2;
    encoded.insert(std::min(at, encoded.size()), added);
}

bool writtenPerInch(const Resolution& resolution) {
    return resolution.unit == Resolution::Unit::Inch || resolution.unit == Resolution::Unit::None;
}

double writtenDensity(const Resolution& resolution, std::uint32_t value) {
    const double inch = perInch(resolution, value);
    return writtenPerInch(resolution) ? inch : inch / 2.54;
}

void writeBesideExiv2(std::string& encoded, const PhotoMetadata& metadata) {
    auto* data = reinterpret_cast<std::uint8_t*>(&encoded[0]);
    const Resolution& r = metadata.resolution;
    const bool stated = r.x > 0 && r.y > 0;
    if (const std::size_t at = jfifDensityAt(data, encoded.size())) {
        if (!stated) return;
        const auto density = [&](std::uint32_t value) {
            return std::uint64_t(std::clamp(std::lround(writtenDensity(r, value)), 1L, 65535L));
        };
        data[at] = r.unit == Resolution::Unit::None ? 0 : writtenPerInch(r) ? 1 : 2;
        writeUnsigned(data + at + 1, density(r.x), 2, true);
        writeUnsigned(data + at + 3, density(r.y), 2, true);
    } else if (isPng(data, encoded.size())) {
        std::string added;
        if (stated) {
            const bool metric = r.unit != Resolution::Unit::None;
            const auto perMetre = [&](std::uint32_t value) {
                return std::uint64_t(metric ? std::lround(perInch(r, value) * kInchesPerMetre)
                                            : value);
            };
            std::string phys;
            appendUnsigned(phys, perMetre(r.x), 4, true);
            appendUnsigned(phys, perMetre(r.y), 4, true);
            phys.push_back(metric ? 1 : 0);
            added += pngChunk("pHYs", phys);
        }
        for (const std::string& chunk : metadata.pngText)
            added += pngChunk(chunk.substr(0, 4), chunk.substr(4));
        encoded.insert(kPngHeaderEnd, added);
    }
}

}  // namespace tintsmith
