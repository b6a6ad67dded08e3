// Applies the fitted correction to every photo of Photos and writes each one
// under its own name into ccPhotos. Input photos are only ever read.
//
// Photo workers, one per core and one more, each take a listed photo and read,
// correct and encode it, all on their own thread: the codec's two halves are
// most of the work and run side by side this way, and corrections share one
// colour table. A JPEG written as a JPEG goes band by band from file bytes to
// file bytes; any other photo is decoded whole. Each worker puts its photo's
// file on disk under a temporary name; one writer thread renames them into
// place in listing order and tells about each. The calling thread only waits
// and reports progress, so a window it owns keeps answering. A worker starts
// only a photo close enough behind the writer (a few photos, or a few tens of
// MiB of files), which bounds the files waiting for their turn, and the
// largest file among those, so that the batch ends on small ones. Every line
// comes in listing order, and an error thrown for one photo stops the batch
// there: the photos before it are written, none after it, and the error is
// rethrown on the calling thread, exactly as if the photos went one by one.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <new>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <thread>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

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

// One entry of the folder listing on its way through the stages.
struct Entry {
    std::string file;
    std::string output;        // its name in ccPhotos
    cv::Mat image;             // the decoded photo, corrected in place
    std::string encoded;       // ...then encoded for its file in ccPhotos
    std::string temporary;     // ...then on disk there, complete, for the writer to rename
    std::string skipReason;    // set when the entry is told and left out
    std::string unwritten;     // the line told instead of writing a corrected photo
    bool failed = false;       // ...and the run is then incomplete
    std::exception_ptr error;  // thrown while reading or correcting, rethrown in turn
};

// Marks an entry as told and left out for a file that was not read.
void skipEntry(Entry& entry, const ImageRead& read) {
    entry.skipReason = read.reason;
    entry.failed = read.outcome != ReadOutcome::NotAnImage;
}

// Reads one listed file's bytes and checks them, or marks it as skipped. Only
// files no decoder recognises are skipped without making the run incomplete.
Entry readEntry(const std::string& file, std::vector<std::uint8_t>& bytes) {
    Entry entry;
    try {
        entry.file = file;
        const ImageRead read = readImageBytes(file, largestImagePixels(), bytes);
        if (read.outcome != ReadOutcome::Read) skipEntry(entry, read);
    } catch (...) {
        entry.error = std::current_exception();
    }
    return entry;
}

// The files of `folder` by name, without entering subfolders. Only regular
// files and links to them are listed; anything else that is not a folder (a
// pipe would hang the reader) is told and counted as skipped.
std::vector<std::string> listPhotos(const std::string& folder, BatchReport& report) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error), end;
    if (error) {
        std::cout << "Could not list the photo folder " << folder
                  << ": it is missing or cannot be read" << std::endl;
        report.failed++;
        return files;
    }
    for (; !error && it != end; it.increment(error)) {
        std::error_code statusError;
        const fs::file_status status = it->status(statusError);
        const std::string path = folder + it->path().filename().string();
        if (fs::is_directory(status)) continue;
        if (fs::is_regular_file(status)) {
            files.push_back(path);
            continue;
        }
        std::cout << "Skipping " << path << ": "
                  << (fs::is_symlink(it->symlink_status(statusError))
                          ? "a link that leads to no file"
                          : "not a regular file, so it is never opened")
                  << std::endl;
        report.skipped++;
    }
    if (error) {
        std::cout << "Could not list the photo folder " << folder << " to its end" << std::endl;
        report.failed++;
    }
    std::sort(files.begin(), files.end());
    return files;
}

// True when both paths lead to the same folder, by a link or otherwise.
bool sameFolder(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), error);
}

// Decodes the checked bytes whole, into `block` when one is given.
void decodeEntry(Entry& entry, const std::vector<std::uint8_t>& bytes, PhotoBlock* block) {
    try {
        ImageRead read;
        decodeImageBytes(bytes, read, block);
        if (read.image.empty()) return skipEntry(entry, read);
        const std::string problem = colourFormatProblem(entry.output);
        if (!problem.empty()) {
            entry.skipReason = problem;
            entry.failed = true;
        } else {
            entry.image = read.image;
        }
    } catch (...) {
        entry.image.release();
        entry.error = std::current_exception();
    }
}

// Corrects a decoded photo in place; colours shared between photos go through
// the model only once.
void correctEntry(Entry& entry, cv::ccm::ColorCorrectionModel& model, CorrectionCache& cache) {
    if (entry.image.empty() || entry.error) return;
    // running out of memory belongs to this photo; any other error to the model
    constexpr char kNoMemory[] = "there was not enough memory to correct it";
    try {
        correctImageCachedInPlace(entry.image, model, cache);
    } catch (const std::bad_alloc&) {
        entry.skipReason = kNoMemory;
    } catch (const cv::Exception& error) {
        if (error.code == cv::Error::StsNoMem)
            entry.skipReason = kNoMemory;
        else
            entry.error = std::current_exception();
    } catch (...) {
        entry.error = std::current_exception();
    }
    if (!entry.skipReason.empty()) entry.failed = true;
    if (entry.failed || entry.error) entry.image.release();
}

// Encodes a corrected photo for its file, or keeps the line that tells why not.
void encodeEntry(Entry& entry) {
    if (entry.image.empty() || entry.error) return;
    try {
        entry.unwritten = encodeImageFile(entry.output, entry.image, entry.encoded);
    } catch (...) {
        entry.error = std::current_exception();
    }
    entry.image.release();
}

// Puts a corrected photo's encoding on disk beside its file, complete, so
// that the writer has only to rename it; or keeps the line that tells why not.
// Workers do this side by side, so the batch does not end waiting on the
// writer's fsyncs one after another.
void stageEntry(Entry& entry) {
    if (entry.error || !entry.skipReason.empty() || !entry.unwritten.empty()) return;
    try {
        WriteResult result;
        entry.temporary = writeTemporary(entry.output, entry.encoded, nullptr, result);
        if (entry.temporary.empty()) entry.unwritten = notWrittenLine(entry.output, result);
    } catch (...) {
        entry.error = std::current_exception();
    }
    entry.encoded = std::string();
}

// Reads, corrects, encodes and stages one listed photo: a JPEG written as a
// JPEG band by band where it allows, any other photo decoded whole into `block`.
Entry processEntry(const std::string& file, const std::string& outputFolder,
                   cv::ccm::ColorCorrectionModel& model, CorrectionCache& cache,
                   PhotoBlock* block = nullptr) {
    std::vector<std::uint8_t> bytes;
    Entry entry = readEntry(file, bytes);
    entry.output = outputFolder + fileNameOf(file);
    if (!entry.skipReason.empty() || entry.error) return entry;
    bool inBands = false;
    try {
        // the whole-image way meets any error of a band, and tells it as usual
        inBands = correctJpegInBands(bytes, entry.output, model, cache, entry.encoded, block);
    } catch (...) {
    }
    if (!inBands) {
        decodeEntry(entry, bytes, block);
        bytes = std::vector<std::uint8_t>();
        correctEntry(entry, model, cache);
        encodeEntry(entry);
    }
    stageEntry(entry);
    return entry;
}

// Tells a skipped entry or puts a corrected one in place, and counts it. Runs
// on the writer thread, in listing order, so lines and errors come in that order.
void writeEntry(Entry& entry, BatchReport& report) {
    if (entry.error) std::rethrow_exception(entry.error);
    if (!entry.skipReason.empty()) {
        std::cout << "Skipping " << entry.file << ": " << entry.skipReason << std::endl;
        if (entry.failed)
            report.failed++;
        else
            report.skipped++;
    } else if (!entry.unwritten.empty()) {
        std::cout << entry.unwritten << std::endl;
        report.failed++;
    } else if (writtenOrTold(entry.output, moveIntoPlace(entry.temporary, entry.output))) {
        report.corrected++;
    } else {
        report.failed++;
    }
    entry = Entry();
}

// What the workers, the writer and the calling thread share.
struct BatchState {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Entry> entries;  // by listing index, from read and corrected to written
    std::vector<char> ready;     // the entry waits for the writer
    std::vector<std::uintmax_t> bytesBefore;  // file bytes of the listed photos before each
    std::vector<char> taken;                  // a worker has started the photo
    std::size_t untaken = 0;
    std::size_t written = 0;  // entries written or told, in listing order
    bool finished = false;    // the writer is done or gave up
    bool stopped = false;     // nobody starts another photo
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
                 const std::string& outputFolder, std::size_t heldPhotos,
                 cv::ccm::ColorCorrectionModel& model, CorrectionCache& cache, PhotoBlock& block) {
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
        Entry entry = processEntry(files[index], outputFolder, model, cache, &block);
        std::lock_guard<std::mutex> lock(state.mutex);
        state.entries[index] = std::move(entry);
        state.ready[index] = 1;
        state.changed.notify_all();
    }
}

// Writes or tells the entries in listing order; the first error stops it.
void photoWriter(BatchState& state, BatchReport& report) {
    for (std::size_t index = 0; index < state.entries.size(); ++index) {
        Entry entry;
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            state.changed.wait(lock, [&] { return state.ready[index] || state.stopped; });
            if (!state.ready[index]) break;
            entry = std::move(state.entries[index]);
            state.entries[index] = Entry();
        }
        try {
            writeEntry(entry, report);
        } catch (...) {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.error = std::current_exception();
            break;
        }
        std::lock_guard<std::mutex> lock(state.mutex);
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
            if (!entry.temporary.empty()) platform::removeFile(entry.temporary);
    }
};

}  // namespace

BatchReport batchCorrectPhotos(std::string inputFolder, std::string outputFolder,
                               cv::ccm::ColorCorrectionModel model, const BatchProgress& progress) {
    BatchReport report;
    if (sameFolder(inputFolder, outputFolder)) {
        std::cout << "Not correcting photos: " << outputFolder << " is the same folder as "
                  << inputFolder << ", so the originals would be overwritten" << std::endl;
        report.failed++;
        return report;
    }
    const std::vector<std::string> files = listPhotos(inputFolder, report);
    if (files.empty()) return report;
    removeLeftTemporaries(outputFolder);
    const int total = static_cast<int>(files.size());
    if (progress) progress(0, total);
    CorrectionCache cache;
    std::error_code sizeError;
    if (total == 1 && std::filesystem::file_size(files.front(), sizeError) < kInlineBytes &&
        !sizeError) {
        Entry entry = processEntry(files.front(), outputFolder, model, cache);
        writeEntry(entry, report);
        if (progress) progress(1, total);
        return report;
    }
    const std::size_t workers =
        std::min<std::size_t>(files.size(), std::clamp(cv::getNumberOfCPUs() + 1, 1, kMostWorkers));
    // workers allocate from heaps the fit and the detection have warmed up
    platform::shareWarmHeaps();
    std::vector<PhotoBlock> blocks(workers);  // outlives every entry and thread
    BatchState state;
    state.entries.resize(files.size());
    state.ready.assign(files.size(), 0);
    state.taken.assign(files.size(), 0);
    state.untaken = files.size();
    state.bytesBefore.assign(1, 0);
    for (const std::string& file : files) {
        std::error_code unknown;
        const std::uintmax_t bytes = std::filesystem::file_size(file, unknown);
        // a size that cannot be read counts as the whole allowance
        state.bytesBefore.push_back(state.bytesBefore.back() + (unknown ? kAheadBytes : bytes));
    }
    {
        BatchThreads threads{state, {}};
        for (std::size_t i = 0; i < workers; ++i)
            threads.threads.emplace_back(photoWorker, std::ref(state), std::cref(files),
                                         std::cref(outputFolder), workers + kSpareHeld,
                                         std::ref(model), std::ref(cache), std::ref(blocks[i]));
        threads.threads.emplace_back(photoWriter, std::ref(state), std::ref(report));
        std::unique_lock<std::mutex> lock(state.mutex);
        while (!state.finished) {
            state.changed.wait_for(lock, kProgressPeriod, [&] { return state.finished; });
            const int done = static_cast<int>(state.written);
            lock.unlock();
            if (progress) progress(done, total);
            lock.lock();
        }
    }
    if (state.error) std::rethrow_exception(state.error);
    return report;
}

}  // namespace tintsmith
