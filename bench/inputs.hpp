// What the benchmarks measure on: the sample chart photo, the real camera
// photos, and the size of a 12-megapixel photo.
#pragma once

// The build passes the absolute paths; a bare compile (the Windows syntax
// check) falls back to the paths from the source tree.
#if !defined(TINTSMITH_SAMPLE_CHART)
#define TINTSMITH_SAMPLE_CHART "assets/cc.jpg"
#endif
#if !defined(TINTSMITH_REAL_PHOTOS)
#define TINTSMITH_REAL_PHOTOS "bench/photos"
#endif

namespace tintsmith {

constexpr int kPhotoWidth = 4000;  // 12 megapixels, 4:3
constexpr int kPhotoHeight = 3000;

}  // namespace tintsmith
