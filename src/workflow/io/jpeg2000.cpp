// JPEG 2000 through OpenJPEG: the size by opj_read_header, read from the
// file's own bytes as OpenJPEG asks for them; a file is whole when its
// codestream's end marker ends it. Built where OpenJPEG is found.
#include <algorithm>

#include <openjpeg.h>

#include "workflow/io/formats.hpp"

namespace tintsmith {
namespace {

// OpenJPEG's stream over the file: read, skip and seek, never past its end.
struct Jpeg2000Read {
    const Source* file = nullptr;
    std::uint64_t at = 0;
};

OPJ_SIZE_T readBytes(void* into, OPJ_SIZE_T count, void* data) {
    auto& read = *static_cast<Jpeg2000Read*>(data);
    const std::size_t got = read.file->some(read.at, static_cast<std::uint8_t*>(into), count);
    read.at += got;
    return got == 0 ? OPJ_SIZE_T(-1) : got;  // OpenJPEG's sign of the end
}

OPJ_OFF_T skipBytes(OPJ_OFF_T count, void* data) {
    auto& read = *static_cast<Jpeg2000Read*>(data);
    const std::uint64_t to =
        std::min<std::uint64_t>(read.at + std::uint64_t(count), read.file->size());
    const OPJ_OFF_T skipped = OPJ_OFF_T(to - read.at);
    read.at = to;
    return skipped;
}

OPJ_BOOL seekTo(OPJ_OFF_T offset, void* data) {
    auto& read = *static_cast<Jpeg2000Read*>(data);
    if (offset < 0 || std::uint64_t(offset) > read.file->size()) return OPJ_FALSE;
    read.at = std::uint64_t(offset);
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

}  // namespace

void readJpeg2000Header(const Source& source, FileSniff& sniff, bool boxes) {
    picture(sniff, "JPEG 2000", ".jp2");
    Jpeg2000Read read;
    read.file = &source;
    opj_stream_t* stream = opj_stream_create(kHeadBytes, OPJ_TRUE);
    opj_codec_t* codec = opj_create_decompress(boxes ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    opj_image_t* image = nullptr;
    bool done = false;
    if (stream && codec) {
        opj_stream_set_user_data(stream, &read, nullptr);
        opj_stream_set_user_data_length(stream, source.size());
        opj_stream_set_read_function(stream, readBytes);
        opj_stream_set_skip_function(stream, skipBytes);
        opj_stream_set_seek_function(stream, seekTo);
        opj_set_error_handler(codec, quiet, nullptr);
        opj_set_warning_handler(codec, quiet, nullptr);
        opj_set_info_handler(codec, quiet, nullptr);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        done = opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &image);
    }
    if (done && image)
        setSize(sniff, image->x1 > image->x0 ? image->x1 - image->x0 : 0,
                image->y1 > image->y0 ? image->y1 - image->y0 : 0);
    if (image) opj_image_destroy(image);
    if (codec) opj_destroy_codec(codec);
    if (stream) opj_stream_destroy(stream);
    // the codestream, the file's last part, ends with its end marker
    std::uint64_t end = 0;
    if (!done ||
        !source.number(source.size() - std::min<std::uint64_t>(source.size(), 2), 2, true, end) ||
        end != 0xffd9)
        sniff.damage =
            done || read.at >= source.size() ? kCutShort : "is damaged: its header cannot be read";
}

}  // namespace tintsmith
