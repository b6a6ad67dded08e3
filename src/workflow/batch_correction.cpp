// Applies the fitted correction to every photo of Photos and writes each one
// under its own name into ccPhotos. Input photos are only ever read.
//
// Photo workers, one per core, each read a photo and correct it (one photo at
// a time goes through the shared colour table, a step spread over every core
// itself); one writer thread encodes and writes the corrected photos in
// listing order and tells about each. The calling thread only waits and
// reports progress, so a window it owns keeps answering. A worker starts a
// photo only while fewer than workers + kSpareHeld are read and not yet
// written, which bounds the decoded photos held at once. Every line comes in listing order,
// and an error thrown for one photo stops the batch there: the photos before
// it are written, none after it, and the error is rethrown on the calling
// thread, exactly as if the photos went one by one.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
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

// Photo workers at most: each holds a decoded photo.
constexpr int kMostWorkers = 4;

// Photos read ahead beyond one per worker, so that the writer never waits.
constexpr std::size_t kSpareHeld = 2;

// How often the calling thread reports progress while the batch runs.
constexpr std::chrono::milliseconds kProgressPeriod(50);

// Decoded photos are tens of megabytes each, mapped afresh for every photo
// since several are alive at once: on small pages their first touches cost
// more than correcting them. While the batch runs, new Mats of kLargeBlock
// bytes or more come from huge-page blocks, and smaller ones as ever.
constexpr std::size_t kLargeBlock = std::size_t(1) << 20;

class LargeBlockAllocator : public cv::MatAllocator {
  public:
    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, std::size_t* step,
                           cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
        std::size_t total = CV_ELEM_SIZE(type);
        for (int i = 0; i < dims; ++i) total *= std::size_t(sizes[i]);
        if (data || total < kLargeBlock)
            return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags,
                                                        usage);
        void* block = platform::allocateZeroed(total);
        if (!block) throw std::bad_alloc();
        if (step) {  // continuous rows, as the standard allocator lays them out
            std::size_t stride = CV_ELEM_SIZE(type);
            for (int i = dims - 1; i >= 0; --i) {
                step[i] = stride;
                stride *= std::size_t(sizes[i]);
            }
        }
        auto* u = new cv::UMatData(this);
        u->data = u->origdata = static_cast<uchar*>(block);
        u->size = total;
        return u;
    }
    bool allocate(cv::UMatData* u, cv::AccessFlag, cv::UMatUsageFlags) const override {
        return u != nullptr;
    }
    void deallocate(cv::UMatData* u) const override {
        if (!u) return;
        platform::releaseZeroed(u->origdata, u->size);
        delete u;
    }
};

// Makes the large-block allocator the default for its lifetime. It lives as
// long as the process, since a Mat it made may outlive the batch.
struct LargeBlocksWhileAlive {
    cv::MatAllocator* saved = cv::Mat::getDefaultAllocator();
    LargeBlocksWhileAlive() {
        static auto* allocator = new LargeBlockAllocator();
        cv::Mat::setDefaultAllocator(allocator);
    }
    ~LargeBlocksWhileAlive() { cv::Mat::setDefaultAllocator(saved); }
};

// One entry of the folder listing on its way through the stages.
struct Entry {
    std::string file;
    cv::Mat image;             // the decoded photo, corrected in place
    std::string skipReason;    // set when the entry is told and left out
    std::exception_ptr error;  // thrown while reading or correcting, rethrown in turn
};

// Reads one listed file: decoded, or marked as skipped.
Entry readEntry(const cv::String& file, const std::string& outputFolder) {
    Entry entry;
    try {
        entry.file = file;
        entry.image = cv::imread(file, cv::IMREAD_COLOR);
        const std::string name = fileNameOf(file);
        if (entry.image.empty()) {
            entry.skipReason = "not an image";
        } else if (!cv::haveImageWriter(outputFolder + name)) {
            entry.skipReason = "no image format can be written as " + name;
            entry.image.release();
        }
    } catch (...) {
        entry.image.release();
        entry.error = std::current_exception();
    }
    return entry;
}

// Corrects a decoded photo in place; colours shared between photos go through
// the model only once.
void correctEntry(Entry& entry, cv::ccm::ColorCorrectionModel& model, CorrectionCache& cache) {
    if (entry.image.empty() || entry.error) return;
    try {
        correctImageCachedInPlace(entry.image, model, cache);
    } catch (...) {
        entry.image.release();
        entry.error = std::current_exception();
    }
}

// Tells a skipped entry or writes a corrected one, and counts it. Runs on the
// writer thread, in listing order, so lines and errors come in that order.
void writeEntry(Entry& entry, const std::string& outputFolder, BatchReport& report) {
    if (entry.error) std::rethrow_exception(entry.error);
    if (!entry.skipReason.empty()) {
        std::cout << "Skipping " << entry.file << ": " << entry.skipReason << std::endl;
        report.skipped++;
    } else if (writeImageFile(outputFolder + fileNameOf(entry.file), entry.image)) {
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
    std::size_t nextToRead = 0;
    std::size_t written = 0;  // entries written or told, in listing order
    bool finished = false;    // the writer is done or gave up
    bool stopped = false;     // nobody starts another photo
    std::exception_ptr error;
};

// Takes listed photos one by one and hands each over read and corrected.
void photoWorker(BatchState& state, const std::vector<cv::String>& files,
                 const std::string& outputFolder, std::size_t heldPhotos,
                 cv::ccm::ColorCorrectionModel& model, CorrectionCache& cache,
                 std::mutex& cacheMutex) {
    for (;;) {
        std::size_t index = 0;
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            state.changed.wait(lock, [&] {
                return state.stopped || state.nextToRead >= files.size() ||
                       state.nextToRead < state.written + heldPhotos;
            });
            if (state.stopped || state.nextToRead >= files.size()) return;
            index = state.nextToRead++;
        }
        Entry entry = readEntry(files[index], outputFolder);
        {
            std::lock_guard<std::mutex> lock(cacheMutex);
            correctEntry(entry, model, cache);
        }
        std::lock_guard<std::mutex> lock(state.mutex);
        state.entries[index] = std::move(entry);
        state.ready[index] = 1;
        state.changed.notify_all();
    }
}

// Writes or tells the entries in listing order; the first error stops it.
void photoWriter(BatchState& state, const std::string& outputFolder, BatchReport& report) {
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
            writeEntry(entry, outputFolder, report);
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
    }
};

}  // namespace

std::string fileNameOf(const std::string& path) {
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

BatchReport batchCorrectPhotos(std::string inputFolder, std::string outputFolder,
                               cv::ccm::ColorCorrectionModel model, const BatchProgress& progress) {
    BatchReport report;
    std::vector<cv::String> files;
    try {
        cv::glob(inputFolder + "*", files, false);
    } catch (const cv::Exception&) {
        std::cout << "Could not list the photo folder " << inputFolder
                  << ": it is missing or cannot be read" << std::endl;
        report.failed++;
        return report;
    }
    if (files.empty()) return report;

    const int total = static_cast<int>(files.size());
    if (progress) progress(0, total);
    const std::size_t workers =
        std::min<std::size_t>(files.size(), std::clamp(cv::getNumberOfCPUs(), 1, kMostWorkers));
    LargeBlocksWhileAlive largeBlocks;
    BatchState state;
    state.entries.resize(files.size());
    state.ready.assign(files.size(), 0);
    CorrectionCache cache;
    std::mutex cacheMutex;
    {
        BatchThreads threads{state, {}};
        for (std::size_t i = 0; i < workers; ++i)
            threads.threads.emplace_back(photoWorker, std::ref(state), std::cref(files),
                                         std::cref(outputFolder), workers + kSpareHeld,
                                         std::ref(model), std::ref(cache), std::ref(cacheMutex));
        threads.threads.emplace_back(photoWriter, std::ref(state), std::cref(outputFolder),
                                     std::ref(report));
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
