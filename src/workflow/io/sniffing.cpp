// What a file is, from its name and its first bytes, before it is read: RAW
// camera files and videos by their name, then every file by its signature,
// and a picture's record from its format's reader.
// Sections: the bytes looked at · everything else · the verdict.
#include <algorithm>
#include <cstring>

#include "workflow/io/bytes.hpp"
#include "workflow/io/formats.hpp"

namespace tintsmith {

// --- The bytes looked at -----------------------------------------------------

Source::Source(const ReadAt& read, std::uint64_t size) : read_(read), size_(size) {
    head_.resize(std::size_t(std::min<std::uint64_t>(size, kHeadBytes)));
    if (!head_.empty()) head_.resize(read_(0, head_.data(), head_.size()));
}

bool Source::get(std::uint64_t offset, std::uint8_t* into, std::size_t count) const {
    if (offset > size_ || count > size_ - offset) return false;
    if (offset + count <= head_.size()) {
        std::memcpy(into, head_.data() + offset, count);
        return true;
    }
    if (count > kHeadBytes) return read_(offset, into, count) == count;
    if (offset < windowAt_ || offset + count > windowAt_ + window_.size()) {
        window_.resize(std::size_t(std::min<std::uint64_t>(size_ - offset, kHeadBytes)));
        window_.resize(read_(offset, window_.data(), window_.size()));
        windowAt_ = offset;
        if (window_.size() < count) return false;
    }
    std::memcpy(into, window_.data() + (offset - windowAt_), count);
    return true;
}

std::size_t Source::some(std::uint64_t offset, std::uint8_t* into, std::size_t count) const {
    if (offset >= size_) return 0;
    count = std::size_t(std::min<std::uint64_t>(count, size_ - offset));
    return get(offset, into, count) ? count : 0;
}

bool Source::number(std::uint64_t offset, int bytes, bool big, std::uint64_t& value) const {
    std::uint8_t at[8];
    if (!get(offset, at, std::size_t(bytes))) return false;
    value = readUnsigned(at, bytes, big);
    return true;
}

bool Source::starts(const char* text, std::size_t offset) const {
    const std::size_t n = std::strlen(text);
    return head_.size() >= offset + n && std::memcmp(head_.data() + offset, text, n) == 0;
}

bool Source::startsBytes(std::initializer_list<int> bytes, std::size_t offset) const {
    if (head_.size() < offset + bytes.size()) return false;
    for (int b : bytes)
        if (head_[offset++] != b) return false;
    return true;
}

std::uint64_t Source::headNumber(std::size_t offset, int bytes, bool big) const {
    return head_.size() >= offset + std::size_t(bytes)
               ? readUnsigned(head_.data() + offset, bytes, big)
               : 0;
}

void picture(FileSniff& sniff, const char* format, const char* extension) {
    sniff.kind = FileKind::Picture;
    sniff.format = format;
    sniff.extension = extension;
}

void setSize(FileSniff& sniff, std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) {
        sniff.damage = "is damaged: its header gives no size";
        return;
    }
    sniff.width = int(width);
    sniff.height = int(height);
}

// The formats read through a library the build may lack; without it, named
// only, so that they are told as formats this build does not read.
#ifndef TINTSMITH_HAVE_TIFF
void readTiffHeader(const Source&, FileSniff& sniff) {
    picture(sniff, "TIFF", ".tif");
}
#endif
#ifndef TINTSMITH_HAVE_WEBP
void readWebpHeader(const Source&, FileSniff& sniff) {
    picture(sniff, "WebP", ".webp");
}
#endif
#ifndef TINTSMITH_HAVE_OPENJPEG
void readJpeg2000Header(const Source&, FileSniff& sniff, bool) {
    picture(sniff, "JPEG 2000", ".jp2");
}
#endif

namespace {

// --- Everything else ---------------------------------------------------------

void other(FileSniff& sniff, FileKind kind, const char* format) {
    sniff.kind = kind;
    sniff.format = format;
}

// An ISO media file names its brands: still pictures (HEIF, AVIF), Canon's
// CR3, or a video.
void sniffIsoMedia(const Source& b, FileSniff& sniff) {
    const std::uint64_t boxEnd = std::min<std::uint64_t>(b.headNumber(0, 4, true), 256);
    auto brand = [&](std::size_t at) {
        return b.head().size() >= at + 4
                   ? std::string(b.head().begin() + long(at), b.head().begin() + long(at) + 4)
                   : std::string();
    };
    std::vector<std::string> brands = {brand(8)};
    for (std::size_t at = 16; at + 4 <= boxEnd; at += 4) brands.push_back(brand(at));
    for (const std::string& name : brands) {
        if (name == "crx ") return other(sniff, FileKind::Raw, "CR3");
        if (name == "avif" || name == "avis") return other(sniff, FileKind::Unsupported, "AVIF");
        if (name == "heic" || name == "heix" || name == "hevc" || name == "hevx" ||
            name == "heim" || name == "heis" || name == "mif1" || name == "msf1")
            return other(sniff, FileKind::Unsupported, "HEIC/HEIF");
    }
    other(sniff, FileKind::Video, brands.front() == "qt  " ? "QuickTime (MOV)" : "MP4");
}

// True when the file's name ends in one of `extensions` (lower case, no dot).
bool namedAs(const std::string& name, std::initializer_list<const char*> extensions) {
    const std::string extension = lowercaseExtension(name);
    for (const char* candidate : extensions)
        if (extension.size() > 1 && extension.substr(1) == candidate) return true;
    return false;
}

bool rawByName(const std::string& name) {
    return namedAs(name, {"3fr", "ari", "arw", "bay", "cap", "cr2", "cr3", "crw", "dcr", "dcs",
                          "dng", "drf", "eip", "erf", "fff", "gpr", "iiq", "k25", "kdc", "mdc",
                          "mef", "mos", "mrw", "nef", "nrw", "orf", "pef", "ptx", "pxn", "raf",
                          "raw", "rw2", "rwl", "rwz", "sr2", "srf", "srw", "x3f"});
}

bool videoByName(const std::string& name) {
    return namedAs(name, {"3g2", "3gp",  "asf", "avi", "braw", "dv",   "flv",  "insv", "lrv",
                          "m2t", "m2ts", "m4v", "mkv", "mov",  "mp4",  "mpeg", "mpg",  "mts",
                          "mxf", "ogv",  "r3d", "ts",  "vob",  "webm", "wmv"});
}

std::string upperExtension(const std::string& name) {
    std::string extension = extensionOf(name);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return extension.empty() ? extension : extension.substr(1);
}

}  // namespace

// --- The verdict -------------------------------------------------------------

FileSniff sniffFile(const std::string& name, std::uint64_t fileSize, const ReadAt& read) {
    FileSniff sniff;
    if (rawByName(name)) {
        other(sniff, FileKind::Raw, "");
        sniff.format = upperExtension(name);
        return sniff;
    }
    if (videoByName(name)) {
        other(sniff, FileKind::Video, "");
        sniff.format = upperExtension(name);
        return sniff;
    }
    const Source b(read, fileSize);
    const std::vector<std::uint8_t>& h = b.head();
    const bool netpbm = h.size() >= 3 && h[0] == 'P' &&
                        ((h[1] >= '1' && h[1] <= '7') || h[1] == 'F' || h[1] == 'f') &&
                        asciiSpace(char(h[2]));
    // pictures Tintsmith reads
    if (b.startsBytes({0xff, 0xd8, 0xff}))
        readJpegHeader(b, sniff);
    else if (b.startsBytes({0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}))
        readPngHeader(b, sniff);
    else if (b.starts("BM") && h.size() >= 26)
        readBmpHeader(b, sniff);
    else if ((b.starts("II") || b.starts("MM")) && h.size() >= 16 &&
             (b.headNumber(2, 2, h[0] == 'M') == 42 || b.headNumber(2, 2, h[0] == 'M') == 43))
        b.starts("CR", 8) ? other(sniff, FileKind::Raw, "CR2") : readTiffHeader(b, sniff);
    else if (b.starts("RIFF") && b.starts("WEBP", 8))
        readWebpHeader(b, sniff);
    else if (netpbm)
        readNetpbmHeader(b, sniff);
    else if (b.startsBytes({0x59, 0xa6, 0x6a, 0x95}))
        readSunRasterHeader(b, sniff);
    else if (b.startsBytes({0xff, 0x4f, 0xff, 0x51}))
        readJpeg2000Header(b, sniff, false);
    else if (b.startsBytes({0, 0, 0, 0x0c, 'j', 'P', ' ', ' ', 0x0d, 0x0a, 0x87, 0x0a}))
        readJpeg2000Header(b, sniff, true);
    else if (b.starts("#?RADIANCE") || b.starts("#?RGBE"))
        readRadianceHeader(b, sniff);
    // pictures it does not read
    else if (b.starts("GIF87a") || b.starts("GIF89a"))
        other(sniff, FileKind::Unsupported, "GIF");
    else if (b.starts("8BPS"))
        other(sniff, FileKind::Unsupported, "Photoshop (PSD)");
    else if (b.startsBytes({0xff, 0x0a}) ||
             b.startsBytes({0, 0, 0, 0x0c, 'J', 'X', 'L', ' ', 0x0d, 0x0a, 0x87, 0x0a}))
        other(sniff, FileKind::Unsupported, "JPEG XL");
    else if (b.startsBytes({0x76, 0x2f, 0x31, 0x01}))
        other(sniff, FileKind::Unsupported, "OpenEXR");
    // camera RAW files with signatures of their own
    else if (b.starts("FUJIFILMCCD-RAW"))
        other(sniff, FileKind::Raw, "RAF");
    else if (b.starts("IIRO") || b.starts("IIRS") || b.starts("MMOR"))
        other(sniff, FileKind::Raw, "ORF");
    else if (b.startsBytes({'I', 'I', 'U', 0}))
        other(sniff, FileKind::Raw, "RW2");
    else if (b.starts("FOVb"))
        other(sniff, FileKind::Raw, "X3F");
    else if (b.startsBytes({0, 'M', 'R', 'M'}))
        other(sniff, FileKind::Raw, "MRW");
    // videos
    else if (b.starts("ftyp", 4))
        sniffIsoMedia(b, sniff);
    else if (b.starts("moov", 4) || b.starts("mdat", 4) || b.starts("wide", 4))
        other(sniff, FileKind::Video, "QuickTime (MOV)");
    else if (b.startsBytes({0x1a, 0x45, 0xdf, 0xa3}))
        other(sniff, FileKind::Video, "Matroska (MKV or WebM)");
    else if (b.starts("RIFF") && b.starts("AVI ", 8))
        other(sniff, FileKind::Video, "AVI");
    else if (b.startsBytes({0x30, 0x26, 0xb2, 0x75, 0x8e, 0x66, 0xcf, 0x11}))
        other(sniff, FileKind::Video, "Windows Media (WMV)");
    else if (b.startsBytes({'F', 'L', 'V', 1}))
        other(sniff, FileKind::Video, "Flash (FLV)");
    else if (b.startsBytes({0, 0, 1, 0xba}) || b.startsBytes({0, 0, 1, 0xb3}))
        other(sniff, FileKind::Video, "MPEG");
    else if ((h.size() > 376 && h[0] == 0x47 && h[188] == 0x47 && h[376] == 0x47) ||
             (h.size() > 388 && h[4] == 0x47 && h[196] == 0x47 && h[388] == 0x47))
        other(sniff, FileKind::Video, "MPEG transport stream (TS or MTS)");
    return sniff;
}

FileSniff sniffBytes(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const ReadAt read = [&](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
        if (offset >= size) return std::size_t(0);
        const std::size_t n = std::min<std::size_t>(count, std::size_t(size - offset));
        std::memcpy(into, data + offset, n);
        return n;
    };
    return sniffFile(name, size, read);
}

}  // namespace tintsmith
