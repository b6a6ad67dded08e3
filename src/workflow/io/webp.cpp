// WebP through libwebp: the size and the animation flag by WebPGetFeatures
// from the file's first bytes. Built where libwebp is found.
#include <webp/decode.h>

#include "workflow/io/formats.hpp"

namespace tintsmith {
void readWebpHeader(const Source& source, FileSniff& sniff) {
    picture(sniff, "WebP", ".webp");
    WebPBitstreamFeatures features;
    const VP8StatusCode status =
        WebPGetFeatures(source.head().data(), source.head().size(), &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) return void(sniff.damage = kCutShort);
    if (status != VP8_STATUS_OK)
        return void(sniff.damage = "is damaged: it holds no picture of a known kind");
    if (features.has_animation) {
        sniff.kind = FileKind::Unsupported;
        sniff.format = "animated WebP";
        return;
    }
    setSize(sniff, std::uint64_t(features.width), std::uint64_t(features.height));
    // the RIFF container names its length
    if (source.headNumber(4, 4, false) + 8 > source.size()) sniff.damage = kCutShort;
}

}  // namespace tintsmith
