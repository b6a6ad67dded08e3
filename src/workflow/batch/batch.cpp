// Applies the fitted correction to every photo of Photos and writes each one
// under its own name into ccPhotos. Input photos are only ever read.
// Sections: a decoded photo's memory · one photo's stages · scheduling · the batch.
//
// Photo workers, one per core and one more, each take a listed photo and read,
// correct and encode it, all on their own thread: the codec's two halves are
// most of the work and run side by side this way, and corrections share one
// colour table. A JPEG written as a JPEG goes band by band from file bytes to
// file bytes; any other photo is decoded whole. Each worker puts its photo's
// file on disk under a temporary name, with the original's metadata, ours by
// its lock until it is renamed; one writer thread renames them into place in
// listing order, never over a photo of this batch whose name the disk takes
// for the same, and notes what befell each. The calling thread only waits and
// hands on the notes and the progress, so a window it owns keeps answering. A
// worker starts only a photo close enough behind the writer (a few photos, or
// a few tens of MiB of files), which bounds the files waiting for their turn,
// and the largest file among those, so that the batch ends on small ones.
// Every note comes in listing order, and an error thrown for one photo stops
// the batch there: the photos before it are written, none after it, and the
// error is rethrown on the calling thread, exactly as if the photos went one
// by one.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include <opencv2/core/utility.hpp>

#include "platform/platform.hpp"
#include "workflow/batch/batch.hpp"
#include "workflow/io/io.hpp"
#include "workflow/io/metadata.hpp"

namespace tintsmith {
namespace {

namespace fs = std::filesystem;

// Photo workers at most: each holds a decoded photo. There is one more worker
// than cores, so that the last photos of a batch share every core out.
constexpr int kMostWorkers = 4;

// Photos taken ahead beyond one per worker, so that no worker waits on the writer.
constexpr std::size_t kSpareHeld = 2;

// More photos may be taken ahead while their files add up to at most this
// much, so that a slow photo (the first meets the most new colours) leaves
// no worker idle behind it. Their finished files wait on disk meanwhile.
constexpr std::uintmax_t kAheadBytes = 48 * 1024 * 1024;
constexpr std::size_t kMostAhead = 16;

// A lone photo of fewer bytes is done on the calling thread: threads would
// cost more than the photo, and it is done long before a window misses an event.
constexpr std::uintmax_t kInlineBytes = 256 * 1024;

// How often the calling thread reports progress while the batch runs.
constexpr std::chrono::milliseconds kProgressPeriod(50);

// --- A decoded photo's memory ------------------------------------------------

// Gives every photo one worker decodes the same block of memory. A photo of
// over 32 MiB is otherwise mapped afresh each time, and touching its pages for
// the first time costs more than correcting it. The block lies on huge pages
// where the system has them. One photo holds it at a time; a Mat made while
// it is held gets the usual memory.
class PhotoBlock : public cv::MatAllocator {
  public:
    PhotoBlock() = default;
    PhotoBlock(const PhotoBlock&) = delete;
    PhotoBlock& operator=(const PhotoBlock&) = delete;
    ~PhotoBlock() override { platform::releaseZeroed(block_, size_); }

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, std::size_t* step,
                           cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
        std::size_t total = CV_ELEM_SIZE(type);
        for (int i = 0; i < dims; ++i) total *= std::size_t(sizes[i]);
        if (data || held_ || !fits(total))
            return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags,
                                                        usage);
        if (step) {  // continuous rows, as the standard allocator lays them out
            std::size_t stride = CV_ELEM_SIZE(type);
            for (int i = dims - 1; i >= 0; --i) {
                step[i] = stride;
                stride *= std::size_t(sizes[i]);
            }
        }
        auto* u = new cv::UMatData(this);
        u->data = u->origdata = static_cast<uchar*>(block_);
        u->size = total;
        held_ = true;
        return u;
    }
    bool allocate(cv::UMatData* u, cv::AccessFlag, cv::UMatUsageFlags) const override {
        return u != nullptr;
    }
    void deallocate(cv::UMatData* u) const override {
        if (!u) return;
        held_ = false;
        delete u;
    }

  private:
    // Grows the block to `bytes` if needed; false when that memory is not to be had.
    bool fits(std::size_t bytes) const {
        if (bytes <= size_) return true;
        platform::releaseZeroed(block_, size_);
        block_ = platform::allocateZeroed(bytes);
        size_ = block_ ? bytes : 0;
        return block_ != nullptr;
    }

    mutable void* block_ = nullptr;
    mutable std::size_t size_ = 0;
    mutable std::atomic<bool> held_{false};
};

// --- One photo's stages ------------------------------------------------------
// Read, correct, encode, stage on disk, put in place.

// One entry of the folder listing on its way through the stages.
struct Entry {
    std::string file;
    std::string output;                       // its name in ccPhotos
    Temporary temporary;                      // its corrected photo on disk there, ours, to rename
    std::string skipReason;                   // set when the entry is left out
    std::string unwritten;                    // why the corrected photo could not be written
    bool failed = false;                      // the entry left out makes the run incomplete
    ReadProblem problem = ReadProblem::None;  // why the entry left out was
    std::vector<std::string> remarks;         // worth knowing of a photo corrected
    std::exception_ptr error;                 // thrown while it was made, rethrown in turn
};

// Running out of memory belongs to the photo that met it; any other error to
// the model.
constexpr char kNoMemory[] = "there was not enough memory to correct it";

// Marks an entry as left out for a file that was not read. Files that are no
// photos Tintsmith reads are skipped without making the run incomplete.
void skipEntry(Entry& entry, const ImageRead& read) {
    entry.skipReason = read.outcome.reason;
    entry.failed = !notAPhoto(read.problem);
    entry.problem = read.problem;
}

// What listing the photo folder found.
struct PhotoListing {
    std::vector<std::string> files;    // regular files and links to them, by name
    std::vector<std::string> folders;  // subfolders, by name, each with its separator
    std::vector<BatchNote> notes;      // everything else, and a listing that failed
};

// Subfolders named at most in the line that tells they are not entered.
constexpr std::size_t kMostFoldersNamed = 10;

// The entries of `folder` (ending in its separator), without entering
// subfolders. Anything else that is not a folder (a pipe would hang the
// reader) is noted as skipped.
PhotoListing listPhotos(const std::string& folder) {
    PhotoListing listing;
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error), end;
    if (error) {
        // a folder that may not be read or searched is no missing one
        const bool missing = error == std::errc::no_such_file_or_directory;
        listing.notes.push_back({BatchNote::Kind::NotListed, folder,
                                 missing ? "it is missing or cannot be read"
                                         : "it cannot be read (" + error.message() + ")",
                                 true});
        return listing;
    }
    for (; !error && it != end; it.increment(error)) {
        std::error_code statusError;
        const fs::file_status status = it->status(statusError);
        const std::string name = it->path().filename().string();
        const std::string path = folder + name;
        if (fs::is_directory(status)) {
            listing.folders.push_back(name + "/");
            continue;
        }
        if (fs::is_regular_file(status)) {
            listing.files.push_back(path);
            continue;
        }
        // listed, but not to be looked into: a folder that may be read, not searched
        if (statusError && statusError != std::errc::no_such_file_or_directory) {
            listing.notes.push_back({BatchNote::Kind::Skipped, path,
                                     "it cannot be reached (" + statusError.message() + ")", true,
                                     ReadProblem::Unreadable});
            continue;
        }
        listing.notes.push_back({BatchNote::Kind::Skipped, path,
                                 fs::is_symlink(it->symlink_status(statusError))
                                     ? "a link that leads to no file"
                                     : "not a regular file, so it is never opened",
                                 false});
    }
    if (error) listing.notes.push_back({BatchNote::Kind::ListedInPart, folder, "", true});
    std::sort(listing.files.begin(), listing.files.end());
    std::sort(listing.folders.begin(), listing.folders.end());
    if (!listing.folders.empty()) {
        std::string named;
        for (std::size_t i = 0; i < listing.folders.size() && i < kMostFoldersNamed; ++i)
            named += (i == 0 ? "" : ", ") + listing.folders[i];
        if (listing.folders.size() > kMostFoldersNamed)
            named += " and " + std::to_string(listing.folders.size() - kMostFoldersNamed) + " more";
        listing.notes.insert(listing.notes.begin(),
                             {BatchNote::Kind::NotEntered, folder, named, false});
    }
    return listing;
}

// True when both paths lead to the same folder, by a link or otherwise.
bool sameFolder(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(fs::path(a), fs::path(b), error);
}

// Decodes the checked bytes whole into `block` (when given) and corrects
// read.image in place, to be encoded as `format`; colours shared between
// photos go through the model only once.
void decodeAndCorrect(Entry& entry, const std::string& format,
                      const std::vector<std::uint8_t>& bytes, ImageRead& read, ColourTable& table,
                      PhotoBlock* block) {
    decodeImageBytes(bytes, read, block);
    if (read.image.empty()) return skipEntry(entry, read);
    entry.skipReason = colourFormatProblem(entry.output, format);
    entry.failed = !entry.skipReason.empty();
    if (entry.failed) return;
    // running out of memory here is processEntry's to tell
    try {
        table.correctInPlace(read.image);
    } catch (const cv::Exception& error) {
        if (error.code != cv::Error::StsNoMem) throw;
        entry.skipReason = kNoMemory;
        entry.problem = ReadProblem::TooLarge;
    }
    entry.failed = !entry.skipReason.empty();
}

// Corrects and encodes a photo whose bytes were read and checked, with the
// original's metadata, then puts its file on disk beside its output, complete,
// so that the writer has only to rename it; or keeps why not. A JPEG written
// as a JPEG goes band by band where it allows, any other photo is decoded
// whole into `block`. Workers stage side by side, so the batch does not end
// waiting on the writer's fsyncs one after another.
void correctAndStage(Entry& entry, const std::string& format, std::vector<std::uint8_t>& bytes,
                     ImageRead& read, ColourTable& table, PhotoBlock* block) {
    // what the corrected photo keeps of the original, and what it does not
    const PhotoMetadata& metadata = read.metadata;
    const std::string& profile = metadata.nonSrgbProfile;
    std::string encoded;
    bool inBands = false;
    try {
        // the whole-image way meets any error of a band, and tells it as usual
        inBands =
            correctJpegInBands(bytes, read.metadata.orientation, format, table, encoded, block);
    } catch (...) {
    }
    if (!inBands) {
        decodeAndCorrect(entry, format, bytes, read, table, block);
        bytes = std::vector<std::uint8_t>();
        if (!entry.skipReason.empty()) return;
        // a picture its format cannot take (too wide for WebP) is left out
        // as one whose format cannot hold colour is
        const Outcome encodedOk = encodeImage(entry.output, read.image, encoded, format,
                                              resolutionParameters(metadata, format));
        read.image.release();
        entry.skipReason = encodedOk.reason;
        entry.failed = !encodedOk.done;
        if (!encodedOk.done) return;
    }
    encoded = withMetadata(std::move(encoded), metadata);
    if (!profile.empty())
        entry.remarks.push_back("its colour profile is " + profile +
                                ", not sRGB: it was corrected as its values stand, and the "
                                "corrected photo is sRGB (that profile is not copied)");
    if (read.file.pages > 1)
        entry.remarks.push_back("a " + read.file.format + " of " + std::to_string(read.file.pages) +
                                " pages, of which only the first is corrected");
    Outcome staged;
    entry.temporary = writeTemporary(entry.output, encoded, staged, systemFiles(), entry.file);
    entry.unwritten = staged.reason;
}

// One listed photo through every stage but the last.
Entry processEntry(const std::string& file, const std::string& outputFolder, std::size_t maxPixels,
                   ColourTable& table, PhotoBlock* block = nullptr) {
    Entry entry;
    try {
        entry.file = file;
        entry.output = outputFolder + fileNameOf(file);
        std::vector<std::uint8_t> bytes;
        ImageRead read = readImageBytes(file, maxPixels, bytes);
        if (read.outcome.done)
            correctAndStage(entry, encodingFor(entry.output, read.file.extension), bytes, read,
                            table, block);
        else
            skipEntry(entry, read);
    } catch (const std::bad_alloc&) {
        entry.skipReason = kNoMemory;
        entry.failed = true;
        entry.problem = ReadProblem::TooLarge;
    } catch (...) {
        entry.error = std::current_exception();
    }
    if (!entry.skipReason.empty() && !entry.temporary.path.empty()) {
        platform::removeFile(entry.temporary.path);
        entry.temporary = Temporary();
    }
    return entry;
}

// The names put in ccPhotos so far, by the key under which names a disk may
// take for one meet.
struct WrittenNames {
    std::string folder;
    std::map<std::string, std::vector<std::string>> byKey;
};

// The name written before that `name` leads to the same file on the output
// folder's disk (one that does not tell case, or an accent's forms, apart);
// "" when none does.
std::string sameFileAs(const WrittenNames& written, const std::string& name) {
    const auto found = written.byKey.find(nameMeetingKey(name));
    std::error_code error;
    if (found == written.byKey.end() || !fs::exists(fs::path(written.folder + name), error))
        return {};
    std::vector<std::string> listed;
    for (fs::directory_iterator it(fs::path(written.folder), error), end; !error && it != end;
         it.increment(error))
        listed.push_back(it->path().filename().string());
    if (error) return {};
    for (const std::string& other : found->second)
        if (other != name && sameFileOnDisk(other, name, listed)) return other;
    return {};
}

// Puts a corrected photo in place, or notes why an entry was not, and counts
// it. Runs on the writer thread, in listing order, so notes and errors come in
// that order.
std::vector<BatchNote> writeEntry(Entry& entry, BatchReport& report, WrittenNames& written) {
    if (entry.error) std::rethrow_exception(entry.error);
    std::vector<BatchNote> notes;
    if (!entry.skipReason.empty()) {
        notes.push_back({entry.problem == ReadProblem::Video ? BatchNote::Kind::Video
                                                             : BatchNote::Kind::Skipped,
                         entry.file, entry.skipReason, entry.failed, entry.problem});
    } else {
        const std::string name = fileNameOf(entry.output);
        const std::string other = entry.unwritten.empty() ? sameFileAs(written, name) : "";
        if (!other.empty()) {
            platform::removeFile(entry.temporary.path);
            notes.push_back({BatchNote::Kind::NameTaken, entry.file,
                             "the disk of " + written.folder + " takes " + name + " and " + other +
                                 " for one name, so its corrected photo would overwrite "
                                 "that of " +
                                 other + "; rename one of the two photos",
                             true});
        } else {
            std::string unwritten = entry.unwritten;
            if (unwritten.empty())
                unwritten = moveIntoPlace(std::move(entry.temporary), entry.output).reason;
            if (!unwritten.empty()) {
                notes.push_back({BatchNote::Kind::NotWritten, entry.output, unwritten, true});
            } else {
                written.byKey[nameMeetingKey(name)].push_back(name);
                for (const std::string& remark : entry.remarks)
                    notes.push_back({BatchNote::Kind::Remark, entry.file, remark, false});
            }
        }
    }
    const bool left = !notes.empty() && notes.front().kind != BatchNote::Kind::Remark;
    if (!left)
        report.corrected++;
    else if (notes.front().failed)
        report.failed++;
    else
        report.skipped++;
    entry = Entry();
    return notes;
}

// --- Scheduling --------------------------------------------------------------
// Workers take photos, one writer puts them in place in order.

// What the workers, the writer and the calling thread share.
struct BatchState {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Entry> entries;  // by listing index, from read and corrected to written
    std::vector<char> ready;     // the entry waits for the writer
    std::vector<std::uintmax_t> bytesBefore;  // file bytes of the listed photos before each
    std::vector<char> taken;                  // a worker has started the photo
    std::size_t untaken = 0;
    std::size_t written = 0;       // entries written or noted, in listing order
    std::vector<BatchNote> notes;  // noted by the writer, not yet handed to the caller
    bool finished = false;         // the writer is done or gave up
    bool stopped = false;          // nobody starts another photo
    std::exception_ptr error;
};

// True when listed photo `index` lies close enough behind the writer to be
// started: few enough photos, or few enough of their file bytes, between.
bool closeToWriter(const BatchState& state, std::size_t index, std::size_t heldPhotos) {
    const std::size_t ahead = index - state.written;
    return ahead < heldPhotos ||
           (ahead < kMostAhead &&
            state.bytesBefore[index + 1] - state.bytesBefore[state.written] <= kAheadBytes);
}

// The photo to start next: the largest file not yet taken among those close
// enough behind the writer, so that small photos are left for the end, when
// they keep every core busy. The listing's length when none may start now.
std::size_t nextToStart(const BatchState& state, std::size_t heldPhotos) {
    const std::size_t none = state.taken.size();
    const auto bytesOf = [&](std::size_t i) {
        return state.bytesBefore[i + 1] - state.bytesBefore[i];
    };
    std::size_t best = none;
    for (std::size_t i = state.written; i < none && closeToWriter(state, i, heldPhotos); ++i)
        if (!state.taken[i] && (best == none || bytesOf(i) > bytesOf(best))) best = i;
    return best;
}

// Takes listed photos one by one and hands each over read, corrected and encoded.
void photoWorker(BatchState& state, const std::vector<std::string>& files,
                 const std::string& outputFolder, std::size_t heldPhotos, std::size_t maxPixels,
                 ColourTable& table, PhotoBlock& block) {
    for (;;) {
        std::size_t index = files.size();
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            state.changed.wait(lock, [&] {
                if (state.stopped || state.untaken == 0) return true;
                index = nextToStart(state, heldPhotos);
                return index < files.size();
            });
            if (state.stopped || state.untaken == 0) return;
            state.taken[index] = 1;
            state.untaken--;
        }
        Entry entry = processEntry(files[index], outputFolder, maxPixels, table, &block);
        std::lock_guard<std::mutex> lock(state.mutex);
        state.entries[index] = std::move(entry);
        state.ready[index] = 1;
        state.changed.notify_all();
    }
}

// Writes or notes the entries in listing order; the first error stops it.
void photoWriter(BatchState& state, BatchReport& report, WrittenNames& written) {
    for (std::size_t index = 0; index < state.entries.size(); ++index) {
        Entry entry;
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            state.changed.wait(lock, [&] { return state.ready[index] || state.stopped; });
            if (!state.ready[index]) break;
            entry = std::move(state.entries[index]);
            state.entries[index] = Entry();
        }
        std::vector<BatchNote> notes;
        try {
            notes = writeEntry(entry, report, written);
        } catch (...) {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.error = std::current_exception();
            break;
        }
        std::lock_guard<std::mutex> lock(state.mutex);
        for (BatchNote& note : notes) state.notes.push_back(std::move(note));
        state.written++;
        state.changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(state.mutex);
    state.finished = state.stopped = true;
    state.changed.notify_all();
}

// Stops and joins every thread of the batch, on every way out of it.
struct BatchThreads {
    BatchState& state;
    std::vector<std::thread> threads;

    ~BatchThreads() {
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.stopped = true;
            state.changed.notify_all();
        }
        for (std::thread& thread : threads)
            if (thread.joinable()) thread.join();
        // photos done after one that stopped the batch are never put in place
        for (const Entry& entry : state.entries)
            if (!entry.temporary.path.empty()) platform::removeFile(entry.temporary.path);
    }
};

}  // namespace

// --- The batch ---------------------------------------------------------------

BatchReport batchCorrectPhotos(std::string inputFolder, std::string outputFolder,
                               cv::ccm::ColorCorrectionModel model, const BatchObserver& observer) {
    BatchReport report;
    const auto tell = [&](const BatchNote& note) {
        if (observer.note) observer.note(note);
    };
    // corrected photos named cc.jpg or original.png would replace the run's own inputs
    std::string photos = inputFolder;
    while (photos.size() > 1 && (photos.back() == '/' || photos.back() == platform::kPathSeparator))
        photos.pop_back();
    const std::string workingFolder = folderOf(photos);
    const bool working = !workingFolder.empty() && sameFolder(workingFolder, outputFolder);
    if (working || sameFolder(inputFolder, outputFolder)) {
        tell({BatchNote::Kind::SameFolder, outputFolder, working ? workingFolder : "", true});
        report.failed++;
        return report;
    }
    const PhotoListing listing = listPhotos(inputFolder);
    for (const BatchNote& note : listing.notes) {
        tell(note);
        if (note.kind != BatchNote::Kind::NotEntered)
            (note.failed ? report.failed : report.skipped)++;
    }
    // a batch that corrects nothing, and has no failure to tell, says so
    const auto tellNoneCorrected = [&] {
        if (report.corrected > 0 || report.failed > 0) return;
        const bool onlyFolders = listing.files.empty() && report.skipped == 0;
        tell({BatchNote::Kind::NoneCorrected, inputFolder,
              onlyFolders && listing.folders.empty() ? "is empty"
              : onlyFolders ? "holds only subfolders, which are not entered"
                            : "holds no photo that Tintsmith reads",
              false});
    };
    const std::vector<std::string>& files = listing.files;
    if (files.empty()) {
        tellNoneCorrected();
        return report;
    }
    // a folder that takes no file is told once, not once for every photo
    Outcome writable;
    Temporary probe = writeTemporary(outputFolder + "probe", "", writable);
    if (!probe.path.empty()) {
        probe.lock.release();
        platform::removeFile(probe.path);
    }
    if (!writable.done) {
        tell({BatchNote::Kind::FolderNotWritten, outputFolder, writable.reason, true});
        report.failed += static_cast<int>(files.size());
        return report;
    }
    const int total = static_cast<int>(files.size());
    if (observer.progress) observer.progress(0, total);
    ColourTable table(model);
    WrittenNames written{outputFolder, {}};
    const std::size_t maxPixels = largestImagePixels();
    // the file bytes of the listed photos before each; a size that cannot be
    // read counts as the whole allowance
    std::vector<std::uintmax_t> bytesBefore{0};
    for (const std::string& file : files) {
        std::error_code unknown;
        const std::uintmax_t bytes = fs::file_size(file, unknown);
        bytesBefore.push_back(bytesBefore.back() + (unknown ? kAheadBytes : bytes));
    }
    if (total == 1 && bytesBefore[1] < kInlineBytes) {
        Entry entry = processEntry(files.front(), outputFolder, maxPixels, table);
        for (const BatchNote& note : writeEntry(entry, report, written)) tell(note);
        if (observer.progress) observer.progress(1, total);
        tellNoneCorrected();
        return report;
    }
    const std::size_t workers =
        std::min<std::size_t>(files.size(), std::clamp(cv::getNumberOfCPUs() + 1, 1, kMostWorkers));
    std::vector<PhotoBlock> blocks(workers);  // outlives every entry and thread
    BatchState state;
    state.entries.resize(files.size());
    state.ready.assign(files.size(), 0);
    state.taken.assign(files.size(), 0);
    state.untaken = files.size();
    state.bytesBefore = std::move(bytesBefore);
    {
        BatchThreads threads{state, {}};
        for (std::size_t i = 0; i < workers; ++i)
            threads.threads.emplace_back(photoWorker, std::ref(state), std::cref(files),
                                         std::cref(outputFolder), workers + kSpareHeld, maxPixels,
                                         std::ref(table), std::ref(blocks[i]));
        threads.threads.emplace_back(photoWriter, std::ref(state), std::ref(report),
                                     std::ref(written));
        std::unique_lock<std::mutex> lock(state.mutex);
        // the notes are taken after the writer is seen finished, so that none
        // it adds while the calling thread tells the earlier ones is lost
        for (bool finished = false; !finished;) {
            state.changed.wait_for(lock, kProgressPeriod, [&] { return state.finished; });
            finished = state.finished;
            const int done = static_cast<int>(state.written);
            std::vector<BatchNote> notes;
            notes.swap(state.notes);
            lock.unlock();
            for (const BatchNote& note : notes) tell(note);
            if (observer.progress) observer.progress(done, total);
            lock.lock();
        }
    }
    if (state.error) std::rethrow_exception(state.error);
    tellNoneCorrected();
    return report;
}

}  // namespace tintsmith
