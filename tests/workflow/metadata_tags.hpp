// A written photo's metadata as Exiv2 reads it back, for tests that check
// what a corrected photo kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // Exiv2 0.27's std::auto_ptr
#endif
#include <exiv2/exiv2.hpp>

namespace tintsmith {

// The value of Exif, XMP or IPTC key `key` ("Exif.Image.Orientation"), the
// comment for "comment"; "(none)" when the file does not hold it.
inline std::string metadataTag(const std::vector<std::uint8_t>& file, const std::string& key) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.data(), long(file.size()));
    image->readMetadata();
    if (key == "comment") return image->comment();
    const std::string none = "(none)";
    if (key.rfind("Exif.", 0) == 0) {
        const auto found = image->exifData().findKey(Exiv2::ExifKey(key));
        return found == image->exifData().end() ? none : found->toString();
    }
    if (key.rfind("Xmp.", 0) == 0) {
        const auto found = image->xmpData().findKey(Exiv2::XmpKey(key));
        return found == image->xmpData().end() ? none : found->toString();
    }
    const auto found = image->iptcData().findKey(Exiv2::IptcKey(key));
    return found == image->iptcData().end() ? none : found->toString();
}

}  // namespace tintsmith
