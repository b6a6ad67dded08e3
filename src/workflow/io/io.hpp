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

// The path with its file name's extension (if any) replaced by `suffix`.
std::string replaceExtension(const std::string& path, const std::string& suffix);

// "" when a photo can be written under `path`'s name in 8-bit colour; else why
// not (no writer for the extension, grey only, floating point only).
std::string colourFormatProblem(const std::string& path);

// True when `path`'s name is written as a JPEG.
bool writtenAsJpeg(const std::string& path);

// --- Reading pictures --------------------------------------------------------
// The size comes from the header and is checked against what the machine can
// hold before anything is decoded, and a JPEG or PNG that ends early or fails
// its checks is refused rather than decoded with grey rows.

// The most pixels a picture may have on this machine: its memory, shared.
std::size_t largestImagePixels();

// Why a picture was not read; None when it was.
enum class ReadProblem {
    None,
    Missing,     // no such file
    Unreadable,  // a folder, not a regular file, cannot be opened
    NotAnImage,  // no decoder recognises it
    Damaged,     // cut short or corrupt: it would decode only in part
    TooLarge,    // more pixels than the limit
};

struct ImageRead {
    Outcome outcome;
    ReadProblem problem = ReadProblem::None;
    cv::Mat image;  // 8-bit BGR when read
};

// Reads a picture as 8-bit BGR only when the whole of it can be decoded and it
// fits `maxPixels` (checked from the header, before decoding). Never opens
// anything but a regular file.
ImageRead readImageWhole(const std::string& path, std::size_t maxPixels = largestImagePixels());

// readImageWhole in two steps: the file's bytes, read and checked (done, with
// no picture yet, when they may be decoded)...
ImageRead readImageBytes(const std::string& path, std::size_t maxPixels,
                         std::vector<std::uint8_t>& bytes);
// ...then decoded into `read` (in memory from `allocator`, when given), which
// tells when they cannot be.
void decodeImageBytes(const std::vector<std::uint8_t>& bytes, ImageRead& read,
                      cv::MatAllocator* allocator = nullptr);

// --- Exif --------------------------------------------------------------------

// The orientation an Exif APP1 segment ("Exif\0\0" and a TIFF header) asks
// for: 1 when it names none, 0 when it cannot be read or names two.
int exifOrientation(const std::uint8_t* data, std::size_t size);

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

// The file `image` makes under `path`'s extension, into `bytes`.
Outcome encodeImage(const std::string& path, const cv::Mat& image, std::string& bytes);

// encodeImage, then replaceFileContents.
Outcome writeImageFile(const std::string& path, const cv::Mat& image);

}  // namespace tintsmith
