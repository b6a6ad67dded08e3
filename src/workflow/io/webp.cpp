// WebP through libwebp: the size and the animation flag by WebPGetFeatures
// from the file's first bytes, and the Exif and XMP chunks, which follow the
// pixels, by the demux API once the file is read. Built where libwebp is found.
#include <cstring>

#include <webp/decode.h>
#include <webp/demux.h>

#include "workflow/io/bytes.hpp"
#include "workflow/io/formats.hpp"

namespace tintsmith {
namespace {

// A chunk's payload, or "" when the file has none.
std::string chunkOf(const WebPDemuxer* demuxer, const char* fourcc) {
    WebPChunkIterator chunk;
    std::string payload;
    if (WebPDemuxGetChunk(demuxer, fourcc, 1, &chunk))
        payload.assign(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    return payload;
}

}  // namespace

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

int webpOrientation(const std::vector<std::uint8_t>& bytes) {
    const WebPData data = {bytes.data(), bytes.size()};
    WebPDemuxer* demuxer = WebPDemux(&data);
    if (!demuxer) return 1;
    std::string exif = chunkOf(demuxer, "EXIF");
    const std::string xmp = chunkOf(demuxer, "XMP ");
    WebPDemuxDelete(demuxer);
    // some writers keep the JPEG segment's "Exif\0\0" before the TIFF structure
    if (exif.compare(0, 6, std::string("Exif\0\0", 6)) == 0) exif.erase(0, 6);
    const int fromExif =
        exif.empty()
            ? -1
            : tiffOrientation(reinterpret_cast<const std::uint8_t*>(exif.data()), exif.size());
    if (fromExif != -1 || xmp.empty()) return usableOrientation(fromExif);
    return usableOrientation(xmpOrientation(xmp));
}

}  // namespace tintsmith
