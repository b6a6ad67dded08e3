// Files in and out. Pictures are read whole or not at all, and every output
// file is written whole or not at all (writing.hpp, included here for every
// user of pictures). The rules for file names and for what a photo can be
// written as live here and nowhere else. Returns values and outcomes; prints
// nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/platform.hpp"
#include "workflow/io/metadata.hpp"
#include "workflow/io/writing.hpp"
#include "workflow/outcome.hpp"

namespace tintsmith {

// --- Names and formats -------------------------------------------------------
// A path's folder part ends at its last separator ('/', and on Windows '\'
// too); a file name's extension starts at its last dot, unless that dot begins
// the name, as a hidden file's does.

// The part of a path after its last separator.
std::string fileNameOf(const std::string& path);

// The folder part of a path with its separator; "" for a bare name.
std::string folderOf(const std::string& path);

// The file name's extension with its dot, as written; "" when it has none.
std::string extensionOf(const std::string& path);

// extensionOf in lower case.
std::string lowercaseExtension(const std::string& path);

// `text` with A to Z made a to z and every other byte kept: never through the
// locale, in which (Turkish) 'I' is no upper-case 'i'.
std::string asciiLower(std::string text);

// The path with its file name's extension (if any) replaced by `suffix`.
std::string replaceExtension(const std::string& path, const std::string& suffix);

// The extension, in lower case with its dot, that a photo named `path` is
// encoded as: its name's when a writer has it, else that of its content's
// format (`contentExtension`, as FileSniff gives it); "" when neither has one.
std::string encodingFor(const std::string& path, const std::string& contentExtension = "");

// "" when a photo can be written under `path`'s name in 8-bit colour, encoded
// as `extension` (its name's own when ""); else why not (no writer for it,
// grey only, floating point only).
std::string colourFormatProblem(const std::string& path, const std::string& extension = "");

// True when a photo encoded as `extension` is written as a JPEG.
bool writtenAsJpeg(const std::string& extension);

// A key under which every two names that a file system may take for one
// (upper and lower case, accented letters in either Unicode form) meet: the
// name in ASCII lower case, without its bytes beyond ASCII. Names of one key
// may still be two files; sameFileOnDisk decides.
std::string nameMeetingKey(const std::string& name);

// True when the names `a` and `b` (different, of one key) lead to one file in
// a folder where both lead to a file and whose entries are `listed`: a
// folder that holds two files lists both names as they are.
bool sameFileOnDisk(const std::string& a, const std::string& b,
                    const std::vector<std::string>& listed);

// --- What a file is ----------------------------------------------------------
// Told from its name and first bytes before it is read, so that a file that is
// not a picture Tintsmith reads, or is too large for the machine, is never
// read whole.

enum class FileKind {
    Unknown,      // nothing Tintsmith recognises
    Picture,      // a picture in a format Tintsmith reads
    Unsupported,  // a picture in a format it does not read (GIF, HEIC, animated WebP...)
    Raw,          // a camera's RAW file
    Video,
};

struct FileSniff {
    FileKind kind = FileKind::Unknown;
    std::string format;         // what to call it: "JPEG", "TIFF", "GIF", "NEF", "MP4"...
    std::string extension;      // a picture's: the one its format is written as (".jpg")
    int width = 0, height = 0;  // a picture's size, from its header
    int pages = 1;              // the full-size pictures in it (a TIFF's pages)
    std::string damage;  // what its header already shows ("is cut short (...)"); "" when none
};

// Reads up to `size` bytes at `offset` into `into`; gives how many it read.
using ReadAt =
    std::function<std::size_t(std::uint64_t offset, std::uint8_t* into, std::size_t size)>;

// What the file named `name`, of `fileSize` bytes, is: RAW camera files and
// videos by their name, then any file by its bytes, of which it reads through
// `read` the first 64 KiB and, as a format needs, its directories and its end.
FileSniff sniffFile(const std::string& name, std::uint64_t fileSize, const ReadAt& read);

// sniffFile on a file's bytes in memory.
FileSniff sniffBytes(const std::string& name, const std::uint8_t* data, std::size_t size);

// --- Reading pictures --------------------------------------------------------
// What a file is and its size come from its first bytes, checked against what
// the machine can hold before it is read whole; a picture is read only when
// every pixel decodes: one cut short or damaged is refused rather than decoded
// with grey rows.

// The most pixels a picture may have on this machine: its memory, shared.
std::size_t largestImagePixels();

// Why a picture was not read; None when it was.
enum class ReadProblem {
    None,
    Missing,     // no such file
    Unreadable,  // a folder, not a regular file, cannot be opened
    NotAnImage,  // nothing Tintsmith recognises
    NotRead,     // a picture in a format Tintsmith does not read (GIF, HEIC...)
    Raw,         // a camera's RAW file: to be exported to JPEG or TIFF first
    Video,       // a video
    Damaged,     // a picture cut short or corrupt: it would decode only in part
    TooLarge,    // more pixels than the limit, or more bytes than memory holds
};

// True for a file that is no photo of Tintsmith's to read (not an image, a
// format it does not read, RAW, video): told, but no failure of the run.
bool notAPhoto(ReadProblem problem);

struct ImageRead {
    Outcome outcome;
    ReadProblem problem = ReadProblem::None;
    FileSniff file;  // what the file is, as far as it was looked at
    // what a corrected copy carries, once the bytes are read, and the
    // orientation both decode paths turn the pixels by
    PhotoMetadata metadata;
    cv::Mat image;  // 8-bit BGR when read, turned as metadata.orientation says
};

// Reads a picture as 8-bit BGR only when every pixel of it decodes and it fits
// `maxPixels` (checked from the header, before the file is read whole). Never
// opens anything but a regular file; a file that is no picture it reads is
// never read past its first bytes.
ImageRead readImageWhole(const std::string& path, std::size_t maxPixels = largestImagePixels());

// readImageWhole in two steps: the file's bytes, read and checked (done, with
// no picture yet and `file` and `metadata` told, when they may be decoded)...
ImageRead readImageBytes(const std::string& path, std::size_t maxPixels,
                         std::vector<std::uint8_t>& bytes);
// ...then decoded into `read` (in memory from `allocator`, when given), which
// tells when they cannot be. A JPEG is first decoded for its damage alone.
void decodeImageBytes(const std::vector<std::uint8_t>& bytes, ImageRead& read,
                      cv::MatAllocator* allocator = nullptr);

// --- Encoding ----------------------------------------------------------------

// The file `image` makes under `path`'s name, encoded as `extension` (the
// name's own when "") with OpenCV's encoder `parameters`, into `bytes`.
Outcome encodeImage(const std::string& path, const cv::Mat& image, std::string& bytes,
                    const std::string& extension = "", const std::vector<int>& parameters = {});

// encodeImage, then replaceFileContents.
Outcome writeImageFile(const std::string& path, const cv::Mat& image);

}  // namespace tintsmith
