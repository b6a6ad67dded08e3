// Files in and out. Pictures are read whole or not at all, and every output
// file is written whole or not at all, through a temporary file beside it that
// is renamed over the old one only when complete and on disk. The rules for
// file names and for what a photo can be written as live here and nowhere
// else. Returns values and outcomes; prints nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/platform.hpp"
#include "workflow/io/metadata.hpp"
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
    // How its pixels are turned to stand upright, 1 to 8 as in Exif: its
    // metadata's, once the file is read (PhotoMetadata::orientation). The one
    // decision both decode paths follow.
    int orientation = 1;
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
    FileSniff file;          // what the file is, as far as it was looked at
    PhotoMetadata metadata;  // what a corrected copy carries, once the bytes are read
    cv::Mat image;           // 8-bit BGR when read, turned as file.orientation says
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

// --- Writing files -----------------------------------------------------------
// Every file complete and on disk under a temporary name
// (.tintsmith-<process>-<n>.tmp beside it) before it replaces the old one. On
// failure the old file is left as it was and no temporary file remains. A
// temporary file is ours by a lock held on it from its creation until it is
// renamed or removed: a run that finds one nobody holds knows its writer has
// gone, whatever process now bears the number in its name.

// What writing asks of the system, one call each. Tests swap members to make
// a step fail, to record the order of the steps or to stop between them.
struct FileSystem {
    std::function<std::FILE*(const std::string& path)> open;          // a new file, for writing
    std::function<platform::FileLock(const std::string& path)> lock;  // on the new file
    std::function<bool(std::FILE* stream, const std::string& bytes)> write;  // all of them
    std::function<bool(std::FILE* stream)> sync;                             // to the disk
    std::function<bool(std::FILE* stream)> close;
    std::function<bool(const std::string& from, const std::string& to)> rename;  // over `to`
    std::function<void(const std::string& path)> remove;
};

// The operating system's own.
const FileSystem& systemFiles();

// Writes `bytes` to a temporary file beside `path` and renames it over `path`.
Outcome replaceFileContents(const std::string& path, const std::string& bytes,
                            const FileSystem& files = systemFiles());

// A file written whole under a temporary name, and the lock that keeps it
// ours until it is renamed or removed (not taken where the file system has
// no locks: such a file is then never taken for a left one).
struct Temporary {
    std::string path;  // "" when none was written
    platform::FileLock lock;
};

// The two steps of replaceFileContents, for a caller that gets files ready on
// several threads and puts them in place in its own order. writeTemporary
// leaves `bytes` complete on disk beside `path`, or returns no path with
// `outcome` set (no file is then left); moveIntoPlace renames it over `path`,
// removes it when that fails, and gives its lock up either way.
Temporary writeTemporary(const std::string& path, const std::string& bytes, Outcome& outcome,
                         const FileSystem& files = systemFiles());
Outcome moveIntoPlace(Temporary temporary, const std::string& path,
                      const FileSystem& files = systemFiles());

struct FileContents {
    std::string path;
    std::string bytes;
};

struct FilesReplaced {
    Outcome outcome;
    std::size_t failedIndex = 0;  // the file that could not be written, when not done
    bool mismatched = false;      // one already replaced could not get its old contents back
};

// As replaceFileContents for files of one folder that belong together: every
// one is written to its temporary file first (with a copy of each older file
// but the last), then a marker beside them notes what is about to be
// replaced, and only then do they replace the old ones. On failure none of the
// old files has changed: one already replaced when a later one cannot be gets
// its old contents back (or is removed when it is new), and `mismatched` tells
// when that failed too. A run stopped at any instant leaves the marker for
// resumeStoppedReplacements.
FilesReplaced replaceFilesTogether(const std::vector<FileContents>& contents,
                                   const FileSystem& files = systemFiles());

// A replacement of files together that a stopped run left in `folder`, as the
// next run found and settled it.
struct ReplacementResumed {
    std::vector<std::string> paths;  // the files it was replacing, in order
    bool finished = false;           // all are the new ones now; else all the older ones again
    bool mismatched = false;         // neither could be done: they may not belong together
    Outcome outcome;                 // why the new ones could not all be put in place
};

// Finishes every replacement a stopped run left half done in `folder`, or puts
// the older files back where the new ones cannot be put in place, so that the
// files are all old or all new again; then removes its marker. Leaves alone a
// replacement that a live run is making. To run before anything else writes there.
std::vector<ReplacementResumed> resumeStoppedReplacements(const std::string& folder,
                                                          const FileSystem& files = systemFiles());

// The whole of a file into `content`.
Outcome readWholeFile(const std::string& path, std::string& content);

// The temporary file beside `path`: .tintsmith-<process>-<n>.tmp in the same
// folder, short whatever the length of the name it stands for.
std::string temporaryPathFor(const std::string& path);

// Removes the temporary files in `folder` that no one holds the lock of (only
// names of temporaryPathFor's form, and none a stopped replacement's marker
// still needs); returns how many.
int removeLeftTemporaries(const std::string& folder);

// The file `image` makes under `path`'s name, encoded as `extension` (the
// name's own when "") with OpenCV's encoder `parameters`, into `bytes`.
Outcome encodeImage(const std::string& path, const cv::Mat& image, std::string& bytes,
                    const std::string& extension = "", const std::vector<int>& parameters = {});

// encodeImage, then replaceFileContents.
Outcome writeImageFile(const std::string& path, const cv::Mat& image);

}  // namespace tintsmith
