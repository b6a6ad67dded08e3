// What a corrected photo keeps of its original, and its colour profile.
// Exiv2 reads the original's Exif, XMP, IPTC and comment and writes them into
// the corrected file in memory (what it leaves behind, container_metadata.cpp
// carries). Exiv2 is called under one lock: its XMP toolkit and its registries
// are shared by the whole process.
// Sections: Exiv2 · the colour profile · metadata taken and put back.
#include "workflow/io/metadata.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

// Exiv2 0.27 hands images out in std::auto_ptr, deprecated since C++11
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>
#include <opencv2/imgcodecs.hpp>

#include "workflow/io/bytes.hpp"
#include "workflow/io/container_metadata.hpp"

namespace tintsmith {

struct CarriedMetadata {
    Exiv2::ExifData exif;  // without the thumbnail and the colour profile
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
    std::string comment;
};

namespace {

// --- Exiv2 -------------------------------------------------------------------

// The lock every use of Exiv2 holds; the first one also silences Exiv2's own
// console output and starts its XMP toolkit, which is not safe to start twice.
std::unique_lock<std::mutex> lockExiv2() {
    static std::mutex mutex;
    std::unique_lock<std::mutex> lock(mutex);
    static const bool started = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        return Exiv2::XmpParser::initialize();
    }();
    (void)started;
    return lock;
}

// The formats a corrected photo's metadata is written into.
bool carriesMetadata(int type) {
    return type == Exiv2::ImageType::jpeg || type == Exiv2::ImageType::png ||
           type == Exiv2::ImageType::tiff || type == Exiv2::ImageType::webp;
}

// Sets `key` to `value` where the data hold it; adds nothing.
template <class Data, class Key>
void setIfPresent(Data& data, const char* key, long value) {
    const auto found = data.findKey(Key(key));
    if (found != data.end()) found->setValue(std::to_string(value));
}

// The Exif and XMP made to describe the written picture: upright (its pixels
// are turned already) and `width` x `height`.
void describeWritten(CarriedMetadata& carried, long width, long height) {
    using Exif = Exiv2::ExifKey;
    using Xmp = Exiv2::XmpKey;
    setIfPresent<Exiv2::ExifData, Exif>(carried.exif, "Exif.Image.Orientation", 1);
    setIfPresent<Exiv2::ExifData, Exif>(carried.exif, "Exif.Image.ImageWidth", width);
    setIfPresent<Exiv2::ExifData, Exif>(carried.exif, "Exif.Image.ImageLength", height);
    setIfPresent<Exiv2::ExifData, Exif>(carried.exif, "Exif.Photo.PixelXDimension", width);
    setIfPresent<Exiv2::ExifData, Exif>(carried.exif, "Exif.Photo.PixelYDimension", height);
    setIfPresent<Exiv2::XmpData, Xmp>(carried.xmp, "Xmp.tiff.Orientation", 1);
    setIfPresent<Exiv2::XmpData, Xmp>(carried.xmp, "Xmp.tiff.ImageWidth", width);
    setIfPresent<Exiv2::XmpData, Xmp>(carried.xmp, "Xmp.tiff.ImageLength", height);
    setIfPresent<Exiv2::XmpData, Xmp>(carried.xmp, "Xmp.exif.PixelXDimension", width);
    setIfPresent<Exiv2::XmpData, Xmp>(carried.xmp, "Xmp.exif.PixelYDimension", height);
}

// The orientation the picture's own tags ask for: IFD0's, else XMP's; 1 when
// neither names one of the eight.
int orientationOf(const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp) {
    long value = 0;
    const auto inExif = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    const auto inXmp = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    if (inExif != exif.end() && inExif->count() > 0)
        value = inExif->toLong();
    else if (inXmp != xmp.end() && inXmp->count() > 0)
        value = inXmp->toLong();
    return value >= 1 && value <= 8 ? int(value) : 1;
}

// A TIFF's resolution, from its picture's directory.
Resolution tiffResolution(const Exiv2::ExifData& exif) {
    const auto x = exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution"));
    const auto y = exif.findKey(Exiv2::ExifKey("Exif.Image.YResolution"));
    const auto unit = exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"));
    if (x == exif.end() || y == exif.end() || x->count() == 0 || y->count() == 0) return {};
    // TIFF's default unit is the inch; 3 is the centimetre, 1 none
    const long code = unit == exif.end() || unit->count() == 0 ? 2 : unit->toLong();
    return {code == 3   ? Resolution::Unit::Centimetre
            : code == 1 ? Resolution::Unit::None
                        : Resolution::Unit::Inch,
            std::uint32_t(std::lround(std::max(0.0F, x->toFloat()))),
            std::uint32_t(std::lround(std::max(0.0F, y->toFloat())))};
}

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

}  // namespace

// --- Metadata taken and put back ---------------------------------------------

bool PhotoMetadata::empty() const {
    return !carried && pngText.empty() && jpegSegments.empty() && resolution.x == 0;
}

PhotoMetadata photoMetadata(const std::uint8_t* data, std::size_t size) {
    PhotoMetadata metadata;
    const bool pngSrgb = readBesideExiv2(data, size, metadata);
    try {
        const auto lock = lockExiv2();
        const auto* bytes = reinterpret_cast<const Exiv2::byte*>(data);
        const int type = Exiv2::ImageFactory::getType(bytes, long(size));
        if (type == Exiv2::ImageType::none) return metadata;
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes, long(size));
        try {
            image->readMetadata();
        } catch (...) {
            // a part it cannot read (a colour profile of the wrong size): the rest is kept
        }
        auto carried = std::make_shared<CarriedMetadata>();
        carried->exif = image->exifData();
        carried->xmp = image->xmpData();
        carried->iptc = image->iptcData();
        carried->comment = image->comment();
        metadata.orientation = orientationOf(carried->exif, carried->xmp);
        if (type == Exiv2::ImageType::tiff) metadata.resolution = tiffResolution(carried->exif);
        if (image->iccProfileDefined() && !pngSrgb) {
            const Exiv2::DataBuf* icc = image->iccProfile();
            metadata.nonSrgbProfile =
                judgeProfile(std::string(reinterpret_cast<const char*>(icc->pData_), icc->size_));
        }
        // what shows the photo uncorrected, or in another colour space, stays behind
        Exiv2::ExifThumb(carried->exif).erase();
        const auto profile = carried->exif.findKey(Exiv2::ExifKey("Exif.Image.InterColorProfile"));
        if (profile != carried->exif.end()) carried->exif.erase(profile);
        for (auto it = carried->xmp.begin(); it != carried->xmp.end();)
            it = it->key().rfind("Xmp.xmp.Thumbnails", 0) == 0 ? carried->xmp.erase(it) : it + 1;
        if (!carried->exif.empty() || !carried->xmp.empty() || !carried->iptc.empty() ||
            !carried->comment.empty())
            metadata.carried = std::move(carried);
    } catch (...) {
        // Exiv2 throws for what it cannot read: such a file has nothing to carry
    }
    return metadata;
}

std::string withMetadata(std::string encoded, const PhotoMetadata& metadata) {
    if (metadata.empty()) return encoded;
    try {
        const auto lock = lockExiv2();
        const int type = Exiv2::ImageFactory::getType(
            reinterpret_cast<const Exiv2::byte*>(encoded.data()), long(encoded.size()));
        if (!carriesMetadata(type)) return encoded;
        std::string written = encoded;
        // Photoshop's and makers' blocks first, so that Exiv2 updates the IPTC in its place
        if (type == Exiv2::ImageType::jpeg) insertJpegSegments(written, metadata);
        if (metadata.carried) {
            Exiv2::Image::AutoPtr image =
                Exiv2::ImageFactory::open(Exiv2::BasicIo::AutoPtr(new Exiv2::MemIo(
                    reinterpret_cast<const Exiv2::byte*>(written.data()), long(written.size()))));
            image->readMetadata();
            CarriedMetadata carried = *metadata.carried;
            describeWritten(carried, image->pixelWidth(), image->pixelHeight());
            image->setExifData(carried.exif);
            image->setXmpData(carried.xmp);
            if (type != Exiv2::ImageType::webp) image->setIptcData(carried.iptc);
            if (type == Exiv2::ImageType::jpeg || type == Exiv2::ImageType::png)
                image->setComment(carried.comment);
            image->clearIccProfile();
            image->writeMetadata();
            Exiv2::BasicIo& io = image->io();
            if (io.open() != 0) return encoded;
            std::string out(std::size_t(io.size()), '\0');
            const long read = io.read(reinterpret_cast<Exiv2::byte*>(&out[0]), io.size());
            io.close();
            if (read != long(out.size())) return encoded;
            written = std::move(out);
        }
        writeBesideExiv2(written, metadata);
        return written;
    } catch (...) {
        // a photo whose metadata cannot be written is kept without it
        return encoded;
    }
}

std::vector<int> resolutionParameters(const PhotoMetadata& metadata, const std::string& extension) {
    const Resolution& r = metadata.resolution;
    if ((extension != ".tif" && extension != ".tiff") || r.x == 0 || r.y == 0) return {};
    // libtiff's units: 1 none, 2 inch, 3 centimetre
    const auto value = [&](std::uint32_t v) {
        return int(std::min(std::lround(writtenDensity(r, v)), 1L << 30));
    };
    return {
        cv::IMWRITE_TIFF_RESUNIT, r.unit == Resolution::Unit::None ? 1 : writtenPerInch(r) ? 2 : 3,
        cv::IMWRITE_TIFF_XDPI,    value(r.x),
        cv::IMWRITE_TIFF_YDPI,    value(r.y)};
}

}  // namespace tintsmith
