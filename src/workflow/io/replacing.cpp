// Files of one folder replaced together, all or none, even across a run
// stopped half way: the marker that notes a replacement, its settling, and the
// removal of left temporary files, which spares those a marker still names.
// Sections: files together · stopped replacements · left temporaries.
#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/platform.hpp"
#include "workflow/io/io.hpp"
#include "workflow/io/temporary_names.hpp"
#include "workflow/io/writing.hpp"

namespace tintsmith {

// --- Files together ----------------------------------------------------------
// A marker beside the files notes, before the first rename, each file's name,
// its new contents' temporary file and its older contents' copy. Forward, the
// temporary files are renamed in order, and one gone has been renamed. Should
// one rename fail, the marker is renamed to say so before the way back is
// taken: the copies are put back over the files whose temporary files are
// gone. Each step can be taken again, so a run stopped anywhere is settled by
// the next one from the marker's name and text and the files still there.
namespace {

namespace fs = std::filesystem;

// The marker of a replacement of files together, named like a temporary file;
// its extension says which way the replacement goes. Renamed from the one to
// the other, it turns back in one step, even while held.
constexpr char kForwardExtension[] = ".replacing";
constexpr char kBackExtension[] = ".restoring";
constexpr char kMarkerHeading[] = "Tintsmith files replaced together";
constexpr char kMarkerEnd[] = "end";
// A marker's fields are split by '/', which no file name holds on any system.
constexpr char kFieldSeparator = '/';
// What stands in a marker for an older file's copy when there is none.
constexpr char kNoOlder[] = "none";           // there was no older file: the new one goes
constexpr char kOlderNotKept[] = "not kept";  // it could not be read, or is never needed

// True when something bears the name `path` (a dangling link included).
bool present(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(fs::path(path), error));
}

struct MarkerEntry {
    std::string name;      // the file's name in the folder
    std::string incoming;  // the temporary file with its new contents
    std::string older;     // the copy of its older contents, kNoOlder or kOlderNotKept
};

struct Marker {
    std::string folder;  // with its separator
    std::vector<MarkerEntry> entries;
};

std::string markerText(const Marker& marker) {
    std::string text = std::string(kMarkerHeading) + "\n";
    for (const MarkerEntry& entry : marker.entries)
        text +=
            entry.name + kFieldSeparator + entry.incoming + kFieldSeparator + entry.older + "\n";
    return text + kMarkerEnd + "\n";
}

// A plain name in its folder, and never one that leads out of it.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("\n\r\\") + kFieldSeparator) == std::string::npos;
}

// Reads a marker's text; false when it is not one of ours, whole.
bool parseMarker(const std::string& text, Marker& marker) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;  // every line ends
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.size() < 3 || lines.front() != kMarkerHeading || lines.back() != kMarkerEnd)
        return false;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::size_t first = line.find(kFieldSeparator);
        const std::size_t second = line.find(kFieldSeparator, first + 1);
        if (first == std::string::npos || second == std::string::npos) return false;
        MarkerEntry entry{line.substr(0, first), line.substr(first + 1, second - first - 1),
                          line.substr(second + 1)};
        if (!plainName(entry.name) || !isTemporaryName(entry.incoming) ||
            (entry.older != kNoOlder && entry.older != kOlderNotKept &&
             !isTemporaryName(entry.older)))
            return false;
        marker.entries.push_back(entry);
    }
    return true;
}

// Gives up the lock held on `path`, if any: once renamed over its file, a
// temporary file is no longer one, and on Windows a file held open cannot be
// replaced, as the way back has to.
void letGo(std::vector<Temporary>& held, const std::string& path) {
    for (Temporary& temporary : held)
        if (temporary.path == path) temporary.lock.release();
}

// Takes the replacement the marker at `path` notes from where it stands to its
// end, forward or back, then removes the marker and what is left of its files.
// Done when it went forward: all the new files are in place.
FilesReplaced settle(const Marker& marker, std::string path, std::vector<Temporary>& held,
                     const FileSystem& files) {
    FilesReplaced settled;
    const std::string& folder = marker.folder;
    bool back = lowercaseExtension(path) == kBackExtension;
    if (back) settled.outcome = failed("the stopped run had found one it could not replace");
    for (std::size_t i = 0; i < marker.entries.size() && !back; ++i) {
        const std::string incoming = folder + marker.entries[i].incoming;
        if (!present(incoming)) continue;  // renamed before a stop
        errno = 0;
        if (files.rename(incoming, folder + marker.entries[i].name)) {
            letGo(held, incoming);
            continue;
        }
        settled.outcome = renameFailure();
        settled.failedIndex = i;
        // the way back noted before it is taken; if even that rename fails,
        // it is taken all the same
        const std::string backPath = replaceExtension(path, kBackExtension);
        if (files.rename(path, backPath)) path = backPath;
        back = true;
    }
    for (const MarkerEntry& entry : marker.entries) {
        if (!back || present(folder + entry.incoming)) continue;  // never replaced
        const std::string file = folder + entry.name;
        if (entry.older == kNoOlder) {
            files.remove(file);
        } else if (entry.older == kOlderNotKept) {
            settled.mismatched = true;
        } else if (present(folder + entry.older)) {  // else put back before a stop
            errno = 0;
            if (!files.rename(folder + entry.older, file)) settled.mismatched = true;
        }
    }
    for (const MarkerEntry& entry : marker.entries)
        if (isTemporaryName(entry.older)) files.remove(folder + entry.older);
    files.remove(path);
    // the new files that were never put in place, once no marker names them
    for (const MarkerEntry& entry : marker.entries)
        if (back) files.remove(folder + entry.incoming);
    return settled;
}

// `folder` with its separator, so that a name can follow.
std::string withSeparator(const std::string& folder) {
    return folder.empty() || folderOf(folder) == folder ? folder
                                                        : folder + platform::kPathSeparator;
}

// The markers of `folder` (with its separator), either way, by name.
std::vector<std::string> markersIn(const std::string& folder) {
    std::vector<std::string> markers;
    std::error_code error;
    for (fs::directory_iterator it(fs::path(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (isOurName(name, kForwardExtension) || isOurName(name, kBackExtension))
            markers.push_back(folder + name);
    }
    std::sort(markers.begin(), markers.end());
    return markers;
}

// True when a file the marker at `path` names changed after the marker was
// written: its own renames keep the older times of the files they bring in,
// so only a later run's writing makes one newer.
bool overtaken(const Marker& marker, const std::string& path) {
    std::error_code error;
    const fs::file_time_type noted = fs::last_write_time(fs::path(path), error);
    if (error) return false;
    for (const MarkerEntry& entry : marker.entries) {
        const fs::file_time_type changed =
            fs::last_write_time(fs::path(marker.folder + entry.name), error);
        if (!error && changed > noted) return true;
    }
    return false;
}

}  // namespace

FilesReplaced replaceFilesTogether(const std::vector<FileContents>& contents,
                                   const FileSystem& files) {
    FilesReplaced result;
    if (contents.empty()) return result;
    Marker marker{folderOf(contents.front().path), {}};
    std::vector<Temporary> held;  // every file this replacement made, ours to its end
    auto discard = [&] {
        for (const Temporary& temporary : held) files.remove(temporary.path);
    };
    // every file complete on the disk before any of them replaces its old one
    std::size_t& index = result.failedIndex;
    for (index = 0; index < contents.size(); ++index) {
        const std::string& path = contents[index].path;
        std::error_code error;
        if (folderOf(path) != marker.folder || !plainName(fileNameOf(path))) {
            discard();
            result.outcome = failed("the files are not all plain names in one folder");
            return result;
        }
        result.outcome = replaceable(path);
        if (!result.outcome.done) {
            discard();
            return result;
        }
        MarkerEntry entry{fileNameOf(path), "", fs::exists(path, error) ? kOlderNotKept : kNoOlder};
        // a copy of each older file but the last, which is replaced last and
        // so never has to be put back (on Windows, a file another program
        // holds open cannot be replaced)
        std::string older;
        if (index + 1 < contents.size() && entry.older != kNoOlder &&
            readWholeFile(path, older).done) {
            Temporary copy = writeTemporary(path, older, result.outcome, files);
            if (copy.path.empty()) {
                discard();
                return result;
            }
            entry.older = fileNameOf(copy.path);
            held.push_back(std::move(copy));
        }
        Temporary incoming = writeTemporary(path, contents[index].bytes, result.outcome, files);
        if (incoming.path.empty()) {
            discard();
            return result;
        }
        entry.incoming = fileNameOf(incoming.path);
        held.push_back(std::move(incoming));
        marker.entries.push_back(entry);
    }
    // the marker, written whole before it bears its name; from then on a stop
    // at any instant is settled by the next run
    index = 0;
    const std::string markerPath = ourName(marker.folder, kForwardExtension);
    Temporary note = writeTemporary(markerPath, markerText(marker), result.outcome, files);
    errno = 0;
    if (!note.path.empty() && !files.rename(note.path, markerPath)) {
        result.outcome = renameFailure();
        files.remove(note.path);
        note.path.clear();
    }
    if (note.path.empty()) {
        discard();
        result.outcome =
            failed("what was about to be replaced could not be noted: " + result.outcome.reason);
        return result;
    }
    note.path = markerPath;
    held.push_back(std::move(note));
    return settle(marker, markerPath, held, files);
}

// --- Stopped replacements ----------------------------------------------------

std::vector<ReplacementResumed> resumeStoppedReplacements(const std::string& anyFolder,
                                                          const FileSystem& files) {
    const std::string folder = withSeparator(anyFolder);
    std::vector<ReplacementResumed> resumed;
    for (const std::string& path : markersIn(folder)) {
        // a marker still held is a live run's replacement, under way
        const platform::FileLock lock = files.lock(path);
        if (!lock.taken()) continue;
        std::string text;
        Marker marker{folder, {}};
        if (!readWholeFile(path, text).done) continue;
        if (!parseMarker(text, marker)) {
            // written whole before it bears its name: only a stranger's file
            // of that name can be cut short
            files.remove(path);
            continue;
        }
        if (overtaken(marker, path)) {
            // a later run wrote these files anew: replaying this would mix its pair
            for (const MarkerEntry& entry : marker.entries) {
                files.remove(folder + entry.incoming);
                if (isTemporaryName(entry.older)) files.remove(folder + entry.older);
            }
            files.remove(path);
            continue;
        }
        ReplacementResumed settling;
        for (const MarkerEntry& entry : marker.entries)
            settling.paths.push_back(folder + entry.name);
        std::vector<Temporary> held;
        const FilesReplaced settled = settle(marker, path, held, files);
        settling.finished = settled.outcome.done;
        settling.mismatched = settled.mismatched;
        settling.outcome = settled.outcome;
        resumed.push_back(std::move(settling));
    }
    return resumed;
}

// --- Left temporaries ----------------------------------------------------------

int removeLeftTemporaries(const std::string& anyFolder) {
    const std::string folder = withSeparator(anyFolder);
    // a stopped replacement's files wait for its marker to be settled, even
    // while a run settling it holds no lock on them
    std::vector<std::string> awaited;
    for (const std::string& path : markersIn(folder)) {
        std::string text;
        Marker marker{folder, {}};
        if (!readWholeFile(path, text).done || !parseMarker(text, marker)) continue;
        for (const MarkerEntry& entry : marker.entries) {
            awaited.push_back(entry.incoming);
            awaited.push_back(entry.older);
        }
    }
    std::error_code error;
    int removed = 0;
    for (fs::directory_iterator it(fs::path(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (!isTemporaryName(name) ||
            std::find(awaited.begin(), awaited.end(), name) != awaited.end())
            continue;
        const fs::file_status status = it->symlink_status(ignored);
        // a link under a name of ours is never ours, only a trap: it goes, its target stays
        if (fs::is_symlink(status)) {
            if (fs::remove(it->path(), ignored)) ++removed;
            continue;
        }
        if (!fs::is_regular_file(status)) continue;
        // its writer holds the lock until it is renamed; a free one's writer is gone
        const platform::FileLock lock = platform::lockFile(it->path().string());
        if (lock.taken() && fs::remove(it->path(), ignored)) ++removed;
    }
    return removed;
}

}  // namespace tintsmith
