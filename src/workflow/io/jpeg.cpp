// JPEG through libjpeg-turbo: the header read by jpeg_read_header from the
// file's first bytes, and the pixels checked by decoding them at an eighth of
// their size, the codec's own warnings telling damage from stray bytes.
// Sections: the header · the pixels checked.
#include <csetjmp>
#include <cstdio>  // jpeglib.h wants FILE and size_t declared first
#include <limits>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "workflow/io/formats.hpp"

namespace tintsmith {
namespace {

// Sends libjpeg's errors to `failed` (which jumps back, never returning) and
// its warnings to `warned`, with `owner` at hand in client_data.
void routeMessages(jpeg_decompress_struct& decoder, jpeg_error_mgr& manager, void* owner,
                   void (*failed)(j_common_ptr), void (*warned)(j_common_ptr, int)) {
    decoder.err = jpeg_std_error(&manager);
    decoder.client_data = owner;
    manager.error_exit = failed;
    manager.emit_message = warned;
}

// --- The header --------------------------------------------------------------

// A JPEG's header (its segments before the first scan) spans at most this much.
constexpr std::uint64_t kMostHeaderBytes = std::uint64_t(64) << 20;

// libjpeg reads the header through `source` from the file, a chunk at a time,
// and reports an error by calling error_exit, which jumps back to the read.
struct HeaderRead {
    jpeg_decompress_struct decoder{};
    jpeg_error_mgr manager{};
    jpeg_source_mgr source{};
    std::jmp_buf jump{};
    const Source* file = nullptr;
    std::uint64_t next = 0;  // where the next chunk starts
    std::vector<std::uint8_t> chunk = std::vector<std::uint8_t>(kHeadBytes);
    bool ranOut = false;   // the file ended before the header did
    bool tooLong = false;  // the header went on past kMostHeaderBytes
    char message[JMSG_LENGTH_MAX] = {};
};

HeaderRead& headerRead(j_decompress_ptr info) {
    return *reinterpret_cast<HeaderRead*>(info->client_data);
}

[[noreturn]] void headerFailed(j_common_ptr info) {
    auto& read = *reinterpret_cast<HeaderRead*>(info->client_data);
    read.manager.format_message(info, read.message);
    std::longjmp(read.jump, 1);
}

void quiet(j_common_ptr, int) {}

void startSource(j_decompress_ptr) {}
void endSource(j_decompress_ptr) {}

// The next chunk; past the file's end (or the header's limit) an end marker,
// as libjpeg's own sources give, which ends the header with an error.
boolean nextChunk(j_decompress_ptr info) {
    HeaderRead& read = headerRead(info);
    std::size_t got = 0;
    if (read.next >= kMostHeaderBytes)
        read.tooLong = true;
    else
        got = read.file->some(read.next, read.chunk.data(), read.chunk.size());
    if (got == 0) {
        read.ranOut = !read.tooLong;
        read.chunk[0] = 0xff;
        read.chunk[1] = JPEG_EOI;
        got = 2;
    }
    read.next += got;
    read.source.next_input_byte = read.chunk.data();
    read.source.bytes_in_buffer = got;
    return TRUE;
}

// Segments libjpeg has no use for are skipped without being read.
void skipBytes(j_decompress_ptr info, long count) {
    HeaderRead& read = headerRead(info);
    if (count <= 0) return;
    if (std::size_t(count) <= read.source.bytes_in_buffer) {
        read.source.next_input_byte += count;
        read.source.bytes_in_buffer -= std::size_t(count);
        return;
    }
    read.next += std::uint64_t(count) - read.source.bytes_in_buffer;
    read.source.bytes_in_buffer = 0;
}

// Reads the header into `sniff`. Holds no object with a destructor, so that
// libjpeg may jump out of it; false when the decoder gave up.
bool readHeader(HeaderRead& read, FileSniff& sniff) {
    jpeg_decompress_struct& decoder = read.decoder;
    routeMessages(decoder, read.manager, &read, headerFailed, quiet);
    if (setjmp(read.jump)) return false;
    jpeg_create_decompress(&decoder);  // keeps err and client_data
    read.source.init_source = startSource;
    read.source.fill_input_buffer = nextChunk;
    read.source.skip_input_data = skipBytes;
    read.source.resync_to_restart = jpeg_resync_to_restart;
    read.source.term_source = endSource;
    decoder.src = &read.source;
    jpeg_read_header(&decoder, TRUE);
    setSize(sniff, decoder.image_width, decoder.image_height);
    return true;
}

// --- The pixels checked ------------------------------------------------------

// Stray bytes before a JPEG marker that are no damage: what a writer's padding
// leaves. Zeroed scan data end the scan thousands of bytes early (3602 in a
// 400 x 300 test photo).
constexpr int kMostStrayBytes = 64;

// libjpeg reports an error by calling error_exit, which must not return: it
// jumps back to the check. Warnings are sorted as they come.
struct JpegCheck {
    jpeg_decompress_struct decoder{};
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    bool scanning = false;  // the header is read: warnings now concern the pixels
    bool endMissing = false;
    bool cutShort = false;  // the source ran out before any other damage was seen
    bool dataMissing = false;
    char damage[JMSG_LENGTH_MAX] = {};  // the first other warning about the pixels, or the error
};

[[noreturn]] void checkFailed(j_common_ptr info) {
    auto* check = reinterpret_cast<JpegCheck*>(info->client_data);
    check->manager.format_message(info, check->damage);
    std::longjmp(check->jump, 1);
}

void checkWarning(j_common_ptr info, int level) {
    auto* check = reinterpret_cast<JpegCheck*>(info->client_data);
    if (level >= 0) return;  // trace messages
    const int code = check->manager.msg_code;
    if (code == JWRN_JPEG_EOF) {
        check->endMissing = true;  // the source ran out; whether pixels did is told apart
        // ...and a file is short when that came first: garbled data may run on to its end
        check->cutShort = check->damage[0] == 0;
        return;
    }
    if (code == JWRN_HIT_MARKER) check->dataMissing = true;  // a scan ended before its last pixel
    // a few stray bytes before a marker are skipped once the scan has all its
    // data; thousands mean the scan ended long before its data did: garbage decoded
    const bool stray =
        code == JWRN_EXTRANEOUS_DATA && check->manager.msg_parm.i[0] <= kMostStrayBytes;
    // stray bytes between the header's segments are skipped harmlessly too;
    // any other warning once the pixels are read means pixels made up
    if (check->scanning && !stray && check->damage[0] == 0)
        check->manager.format_message(info, check->damage);
}

// Decodes the picture at an eighth of its size, which reads every coded bit but
// spares the rest of the work. Holds no object with a destructor, so that
// libjpeg may jump out of it; false when the decoder gave up.
bool decodeForDamage(JpegCheck& check, const std::vector<std::uint8_t>& bytes, bool& complete) {
    jpeg_decompress_struct& decoder = check.decoder;
    routeMessages(decoder, check.manager, &check, checkFailed, checkWarning);
    if (setjmp(check.jump)) return false;
    jpeg_create_decompress(&decoder);  // keeps err and client_data
    jpeg_mem_src(&decoder, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&decoder, TRUE);
    check.scanning = true;
    decoder.scale_num = 1;
    decoder.scale_denom = 8;
    decoder.dct_method = JDCT_IFAST;
    decoder.do_fancy_upsampling = FALSE;
    if (decoder.jpeg_color_space == JCS_YCbCr || decoder.jpeg_color_space == JCS_GRAYSCALE)
        decoder.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&decoder);
    JSAMPARRAY row = (*decoder.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
        decoder.output_width * JDIMENSION(decoder.output_components), 1);
    while (decoder.output_scanline < decoder.output_height)
        if (jpeg_read_scanlines(&decoder, row, 1) == 0) break;
    complete = decoder.output_scanline == decoder.output_height && !check.dataMissing;
    // a progressive file that ends early may end between two scans: then some
    // coefficient lacks its last refinement
    if (complete && check.endMissing && decoder.progressive_mode && decoder.coef_bits)
        for (int c = 0; c < decoder.num_components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (decoder.coef_bits[c][k] != 0) complete = false;
    if (complete) jpeg_finish_decompress(&decoder);
    return true;
}

}  // namespace

void readJpegHeader(const Source& source, FileSniff& sniff) {
    picture(sniff, "JPEG", ".jpg");
    HeaderRead read;
    read.file = &source;
    const bool done = readHeader(read, sniff);
    const int code = read.manager.msg_code;
    jpeg_destroy_decompress(&read.decoder);
    if (done) return;
    if (read.ranOut)
        sniff.damage = kCutShort;
    else if (read.tooLong)
        sniff.damage = "is damaged: it never comes to its picture";
    else if (code == JERR_NO_IMAGE || code == JERR_SOS_NO_SOF)
        sniff.damage = "holds no picture";
    else
        sniff.damage = std::string("is damaged (") + read.message + ")";
}

// Why a JPEG's pixels cannot all be decoded; "" when they can. A file that
// lacks only its end marker is whole (`endMissing` then tells); so is one with
// stray bytes between its header's segments or a few before a later marker,
// which the decoder skips. Cut short only when its bytes run out.
std::string jpegDamage(const std::vector<std::uint8_t>& bytes, bool& endMissing) {
    if (bytes.size() > std::numeric_limits<unsigned long>::max()) return "is too large";
    JpegCheck check;
    bool complete = false;
    const bool decoded = decodeForDamage(check, bytes, complete);
    jpeg_destroy_decompress(&check.decoder);
    endMissing = check.endMissing;
    if (!decoded) return std::string("is damaged (") + check.damage + ")";
    if (complete && check.damage[0] == 0) return "";
    // short only when the source ran out; a full-length file lacks data in its middle
    if (check.cutShort) return kCutShort;
    return std::string("is damaged (") +
           (check.damage[0] == 0 ? "its picture data end early" : check.damage) + ")";
}

}  // namespace tintsmith
