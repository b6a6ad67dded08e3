// The file layer's own: the metadata a JPEG's or a PNG's own segments and
// chunks hold, which Exiv2 leaves behind, for metadata.cpp to carry beside
// what Exiv2 does. Nothing outside src/workflow/io includes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "workflow/io/metadata.hpp"

namespace tintsmith {

// The resolution of a JPEG or a PNG, a JPEG's own blocks and a PNG's other
// text chunks; true when the PNG says it is sRGB.
bool readBesideExiv2(const std::uint8_t* data, std::size_t size, PhotoMetadata& metadata);

// A JPEG's own blocks put back after its JFIF segment, where Exiv2 finds them.
void insertJpegSegments(std::string& encoded, const PhotoMetadata& metadata);

// The encoded file with what Exiv2 does not write: a JPEG's JFIF density, a
// PNG's pHYs chunk and text chunks.
void writeBesideExiv2(std::string& encoded, const PhotoMetadata& metadata);

// True when a resolution is written per inch (as stated, or as a bare ratio),
// false when per centimetre (stated in metric units).
bool writtenPerInch(const Resolution& resolution);

// Pixels per written unit (writtenPerInch's).
double writtenDensity(const Resolution& resolution, std::uint32_t value);

}  // namespace tintsmith
