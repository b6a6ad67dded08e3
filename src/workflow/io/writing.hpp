// Every output file written whole or not at all: through a temporary file
// beside it that is renamed over the old one only when complete and on disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "workflow/outcome.hpp"

namespace tintsmith {

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
// Never over a folder, a link (which may lead anywhere) or a file made
// read-only: those are refused, and the reason says what to do.
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
// removes it when that fails, and gives its lock up either way. The new file
// takes the mode of `permissionsOf` (by default the file it replaces).
Temporary writeTemporary(const std::string& path, const std::string& bytes, Outcome& outcome,
                         const FileSystem& files = systemFiles(),
                         const std::string& permissionsOf = "");
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

}  // namespace tintsmith
