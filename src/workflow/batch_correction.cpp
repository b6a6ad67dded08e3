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
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <new>
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
    bool failed = false;       // ...and the run is then incomplete
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

// Reads one listed file: decoded whole, or marked as skipped. Only files no
// decoder recognises are skipped without making the run incomplete.
Entry readEntry(const std::string& file, const std::string& outputFolder) {
    Entry entry;
    try {
        entry.file = file;
        ImageRead read = readImageWhole(file);
        const std::string problem = read.outcome == ReadOutcome::Read
                                        ? colourFormatProblem(outputFolder + fileNameOf(file))
                                        : std::string();
        if (read.outcome != ReadOutcome::Read) {
            entry.skipReason = read.reason;
            entry.failed = read.outcome != ReadOutcome::NotAnImage;
        } else if (!problem.empty()) {
            entry.skipReason = problem;
            entry.failed = true;
        } else {
            entry.image = read.image;
        }
    } catch (...) {
        entry.image.release();
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
        if (error.code == cv::Error::StsNoMem) entry.skipReason = kNoMemory;
        else entry.error = std::current_exception();
    } catch (...) {
        entry.error = std::current_exception();
    }
    if (!entry.skipReason.empty()) entry.failed = true;
    if (entry.failed || entry.error) entry.image.release();
}

// Tells a skipped entry or writes a corrected one, and counts it. Runs on the
// calling thread, so that lines and errors come in listing order.
void writeEntry(Entry& entry, const std::string& outputFolder, BatchReport& report) {
    if (entry.error) std::rethrow_exception(entry.error);
    if (!entry.skipReason.empty()) {
        std::cout << "Skipping " << entry.file << ": " << entry.skipReason << std::endl;
        if (entry.failed) report.failed++;
        else report.skipped++;
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
    // a backslash is an ordinary character in a POSIX name
#if defined(_WIN32)
    std::size_t separator = path.find_last_of("/\\");
#else
    std::size_t separator = path.rfind('/');
#endif
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

BatchReport batchCorrectPhotos(std::string inputFolder, std::string outputFolder,
                               cv::ccm::ColorCorrectionModel model) {
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
    CorrectionCache cache;
    if (files.size() < 2) {  // nothing to overlap, so no threads
        for (const std::string& file : files) {
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
        for (const std::string& file : files)
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
