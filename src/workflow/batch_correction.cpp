// Applies the fitted correction to every photo of Photos and writes each one
// under its own name into ccPhotos. Input photos are only ever read.
//
// Three stages overlap, each on its own thread: reading the next photo,
// correcting the current one, encoding and writing the previous one. Entries
// pass between them in listing order through hand-overs of one place, so at
// most five decoded photos exist at once: one being read, one waiting, one
// being corrected in place, one waiting, one being encoded and written.
// Everything the batch tells, and every error it throws, happens on the
// calling thread in listing order, exactly as if the photos went one by one.
// A folder of one photo has nothing to overlap and runs without threads.
#include <condition_variable>
#include <exception>
#include <iostream>
#include <mutex>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

// One entry of the folder listing on its way through the stages.
struct Entry {
    std::string file;
    cv::Mat image;             // the decoded photo, corrected in place
    std::string skipReason;    // set when the entry is told and left out
    std::exception_ptr error;  // thrown while reading or correcting, rethrown in turn
};

// One place for an entry between two stages: put waits while it is occupied,
// take while it is empty. Closing wakes both and makes every later call fail.
class Handover {
  public:
    // false when the consumer has gone
    bool put(Entry&& entry) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !full_ || closed_; });
        if (closed_) return false;
        slot_ = std::move(entry);
        full_ = true;
        changed_.notify_all();
        return true;
    }

    // false when nothing more will come
    bool take(Entry& entry) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return full_ || finished_ || closed_; });
        if (!full_ || closed_) return false;
        entry = std::move(slot_);
        slot_ = Entry();
        full_ = false;
        changed_.notify_all();
        return true;
    }

    // the producer is done: the consumer drains what is left
    void finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }

    // the consumer is done (or gave up): the producer stops
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        slot_ = Entry();
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Entry slot_;
    bool full_ = false;
    bool finished_ = false;
    bool closed_ = false;
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
// calling thread, so that lines and errors come in listing order.
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

// Stops both stage threads and waits for them, on every way out of the batch.
struct StageThreads {
    Handover& decoded;
    Handover& corrected;
    std::thread reader;
    std::thread corrector;

    ~StageThreads() {
        corrected.close();
        decoded.close();
        if (corrector.joinable()) corrector.join();
        if (reader.joinable()) reader.join();
    }
};

}  // namespace

std::string fileNameOf(const std::string& path) {
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

BatchReport batchCorrectPhotos(std::string inputFolder, std::string outputFolder,
                               cv::ccm::ColorCorrectionModel model) {
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
    CorrectionCache cache;
    if (files.size() < 2) {  // nothing to overlap, so no threads
        for (const cv::String& file : files) {
            Entry entry = readEntry(file, outputFolder);
            correctEntry(entry, model, cache);
            writeEntry(entry, outputFolder, report);
        }
        return report;
    }

    Handover decoded;
    Handover corrected;
    StageThreads stages{decoded, corrected, {}, {}};
    stages.reader = std::thread([&] {
        for (const cv::String& file : files)
            if (!decoded.put(readEntry(file, outputFolder))) break;
        decoded.finish();
    });
    stages.corrector = std::thread([&] {
        Entry entry;
        while (decoded.take(entry)) {
            correctEntry(entry, model, cache);
            if (!corrected.put(std::move(entry))) break;
        }
        corrected.finish();
    });
    Entry entry;
    while (corrected.take(entry)) writeEntry(entry, outputFolder, report);
    return report;
}

}  // namespace tintsmith
