// What a corrected photo carries over from its original, read and written
// through Exiv2, and the colour profile it does not carry. Safe to call from
// several threads at once; prints nothing and never throws: a file whose
// metadata cannot be read simply has none to carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tintsmith {

// --- Metadata ----------------------------------------------------------------
// What a corrected JPEG, PNG, TIFF or WebP keeps of its original: its Exif
// (upright, with the written picture's size, without the thumbnail that shows
// it uncorrected), XMP, IPTC, comment and resolution, and a JPEG's Photoshop
// and makers' blocks. Its colour profile is not kept: a corrected photo is sRGB.

// A picture's resolution as its container states it: a JPEG's JFIF density, a
// PNG's pHYs chunk, a TIFF's resolution tags.
struct Resolution {
    enum class Unit { None, Inch, Centimetre, Metre };
    Unit unit = Unit::None;      // None: no resolution, only an aspect ratio
    std::uint32_t x = 0, y = 0;  // pixels per unit
};

// The Exif, XMP, IPTC and comment as Exiv2 holds them; metadata.cpp's own.
struct CarriedMetadata;

struct PhotoMetadata {
    // How the decoded pixels are to be turned: the picture's own Exif
    // orientation (IFD0's), else XMP's tiff:Orientation, else 1. The
    // thumbnail's (IFD1's) never counts. 1 to 8.
    int orientation = 1;
    // The name of a JPEG's, PNG's, TIFF's or WebP's colour profile when it is
    // not sRGB ("unnamed" when it has none); "" when there is none, or it is
    // sRGB or grey.
    std::string nonSrgbProfile;
    Resolution resolution;
    std::vector<std::string> pngText;  // a PNG's other text chunks: type, then data
    // a JPEG's Photoshop and makers' blocks (APP3 to APP13, APP15), whole
    std::vector<std::string> jpegSegments;
    std::shared_ptr<const CarriedMetadata> carried;  // none when there is nothing to carry
    bool empty() const;
};

// The metadata of a picture file's bytes; empty (orientation 1) for a file
// that has none or cannot be read.
PhotoMetadata photoMetadata(const std::uint8_t* data, std::size_t size);

// The encoded JPEG, PNG, TIFF or WebP file `encoded` with `metadata` put in:
// orientation 1 (in Exif and XMP, as the pixels are turned already), the
// pixel sizes those of `encoded`, no thumbnail, no colour profile. Any other
// file, or one Exiv2 cannot write, as it is.
std::string withMetadata(std::string encoded, const PhotoMetadata& metadata);

// The parameters that have OpenCV's encoder for `extension` write the
// resolution itself, where Exiv2 cannot add it afterwards (a TIFF's, which
// belongs to its picture); none for other formats.
std::vector<int> resolutionParameters(const PhotoMetadata& metadata, const std::string& extension);

}  // namespace tintsmith
