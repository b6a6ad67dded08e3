// The batch: every photo of Photos corrected into ccPhotos under its own name;
// one photo that fails never stops the others. Prints nothing: what befalls an
// entry is handed to the caller as a note, in listing order, on the calling
// thread, and the run's incompleteness is in the report. Each distinct colour
// goes through the model once, in the colour table, and a JPEG written as a
// JPEG is corrected band by band.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/mcc.hpp>

#include "workflow/io/io.hpp"

namespace tintsmith {

// --- The batch ---------------------------------------------------------------

struct BatchReport {
    int corrected = 0;
    int skipped = 0;  // not photos it reads (RAW, video...), not regular files: told, not failures
    int failed = 0;   // not read whole, not corrected or not written: incomplete
};

// One thing the batch tells of.
struct BatchNote {
    enum class Kind {
        Skipped,           // the entry `path` of Photos was left out, for `reason`
        NotWritten,        // the photo `path` in ccPhotos could not be written, for `reason`
        NotListed,         // the folder `path` could not be listed, for `reason`
        ListedInPart,      // the folder `path` could not be listed to its end
        SameFolder,        // `path`, the output folder, is the photo folder (or `reason`) itself
        Video,             // the entry `path` is a video, for `reason`; left out
        NameTaken,         // the photo `path` would overwrite another's corrected photo: `reason`
        Remark,            // the photo `path` was corrected, and `reason` is worth knowing
        NotEntered,        // the subfolders of `path` (listed in `reason`) were not entered
        NoneCorrected,     // nothing in the folder `path` was corrected: it `reason`
        FolderNotWritten,  // nothing can be written into the output folder `path`, for `reason`
    };
    Kind kind = Kind::Skipped;
    std::string path;
    std::string reason;
    bool failed = true;  // false for an entry that is no photo: the run stays complete
    // Why an entry left out was: as it was read, or None for a photo read
    // whole that its own format cannot take corrected (grey only, too wide).
    ReadProblem problem = ReadProblem::None;
};

// What the caller hears while the batch runs, on its own thread: the photos
// finished (written or told) of those listed, when the batch starts and then at
// least every 50 ms, and every note as it comes. Either may be empty.
struct BatchObserver {
    std::function<void(int done, int total)> progress;
    std::function<void(const BatchNote& note)> note;
};

// Corrects every regular file of `inputFolder` (no recursion), in name order,
// into `outputFolder` under its own name, each photo exactly as the correction
// sequence would, with the original's Exif, XMP and comments. Refuses an
// output folder that is the input folder, or one nothing can be written into
// (each photo then failed, told once for the folder), and a photo whose output
// name the output folder's disk takes for one already written. An error of the model
// stops the batch after the photos before it and is thrown.
BatchReport batchCorrectPhotos(std::string inputFolder, std::string outputFolder,
                               cv::ccm::ColorCorrectionModel model,
                               const BatchObserver& observer = {});

// --- The colour table --------------------------------------------------------
// The corrected value of every 24-bit colour, computed once and then read, byte
// for byte what the correction sequence gives. A new colour is computed with
// the model's own arithmetic written out, checked against the model before it
// is trusted; a colour within a hair of a rounding step goes through the model
// itself. Several threads may correct through one table.

struct ModelFormula;

class ColourTable {
  public:
    // Corrects with `model`, which must outlive the table.
    explicit ColourTable(cv::ccm::ColorCorrectionModel& model);
    ColourTable(const ColourTable&) = delete;
    ColourTable& operator=(const ColourTable&) = delete;

    // Replaces the pixels of `bgr` (a view writes into its parent) by their
    // corrected colours, exactly as correctImage gives them. 8-bit BGR images
    // go through the table once it repays its set-up, any other the plain way.
    // An error of the model is thrown.
    void correctInPlace(cv::Mat& bgr);

    // Readies the table for an image of `pixels` pixels; false when such an
    // image is corrected the plain way, by correctInPlace alone.
    bool readyFor(std::size_t pixels);

    // As correctInPlace for a few rows of an 8-bit BGR image, all on the
    // calling thread, once readyFor said yes.
    void correctRows(cv::Mat& rows);

    std::size_t evaluated() const { return evaluated_; }  // colours through the model so far
    bool hasTable() const { return table_ != nullptr; }
    bool formulaChecked() const { return checked_; }
    bool usesFormula() const { return formula_ != nullptr; }

  private:
    bool useTable(std::size_t pixels);
    std::size_t resolveUnsure(std::vector<std::uint32_t>& keys);
    void mapThroughTable(cv::Mat& image, bool onThisThread);

    cv::ccm::ColorCorrectionModel& model_;
    std::shared_ptr<std::atomic<std::uint32_t>> table_;  // per colour: B, G, R and a flag
    std::shared_ptr<const ModelFormula> formula_;        // the model's arithmetic, checked
    bool checked_ = false;                   // the formula was tried; null then means plain
    std::atomic<std::size_t> evaluated_{0};  // colours stored (every pixel before the table)
    std::mutex modelLock_;  // held for the table's set-up and every call of the model itself
};

// How the table rounds one output channel from its linear value: the model's
// sRGB curve, times 255, rounded to nearest and saturated. A value within a
// millionth of a half step gives -1: the formula could differ from the model
// there by a last bit, so only the model decides. fastOutputByte gives the
// same as outputByte without a pow.
int outputByte(double linear);
int fastOutputByte(double linear);

// --- JPEG bands --------------------------------------------------------------

// Corrects a JPEG photo, the checked bytes of its file, straight into the
// bytes of its corrected file encoded as `outputExtension` (".jpg"), band by
// band: the bytes that decodeImageBytes, the correction and imencode would
// give. A photo its `orientation` (1 to 8, its metadata's) turns is gathered
// whole, turned, from `allocator` when given. False, with `encoded` left
// alone, when the photo or the output's format is not one it can promise that
// for; the photo then goes the whole-image way. An error of the model is
// thrown.
bool correctJpegInBands(const std::vector<std::uint8_t>& input, int orientation,
                        const std::string& outputExtension, ColourTable& table,
                        std::string& encoded, cv::MatAllocator* allocator = nullptr);

}  // namespace tintsmith
