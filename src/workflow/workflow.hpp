// The calibration workflow: the settings record, the working paths, the exit
// codes and the phase functions in the order a run calls them.
// Sections: run · working paths · chart catalogue · image reading · image source ·
// fit and result · LUT transform · cube file · batch · file output · LUT check.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/mcc.hpp>
#include <opencv2/videoio.hpp>

namespace tintsmith {

// ---------------------------------------------------------------------------
// Run: exit codes, the settings record and the driver.
// ---------------------------------------------------------------------------

enum ExitCode : int {
    kExitDone = 0,          // the result window was closed with a key
    kExitInvalidImage = 1,  // file source and cc.jpg unreadable
    kExitNoChart = 2,       // the final detection found no chart
    kExitNoCamera = 3,      // camera source and the camera would not open
    kExitIncomplete = 4,    // the run could not produce all it set out to
};

// Where the chart image comes from; None when both source boxes were cleared.
enum class Source { None, File, Camera };

// What the user chose in the Settings window.
struct Settings {
    Source source = Source::File;
    int cameraIndex = 0;  // 0..3
    int chartChoice = 0;  // 0..6, an index into kChartCatalogue
    bool batchMode = false;
};

// One whole run from start-up to the exit code. Never throws.
int runCalibration();

// Window titles.
extern const char* const kSettingsTitle;
extern const char* const kDetectionTitle;
extern const char* const kResultTitle;

// True once the window is gone, for instance closed by the window manager.
bool windowClosed(const std::string& title);

// ---------------------------------------------------------------------------
// Settings window.
// ---------------------------------------------------------------------------

struct SettingsState {
    Settings settings;
    bool chartBoxes[7] = {true, false, false, false, false, false, false};
};

constexpr int kSettingsWidth = 550;
constexpr int kSettingsHeight = 200;

// One frame of the Settings window into `frame` (550 x 200, 8-bit BGR): clears,
// draws every control, applies the two exclusion rules. Returns true when
// "Use selected settings" was clicked. Needs ui::init of the window first.
bool settingsFrame(SettingsState& state, cv::Mat& frame);

// Shows the Settings window until ESC or the button; returns what was shown.
Settings runSettingsWindow();

// ---------------------------------------------------------------------------
// Working paths.
// ---------------------------------------------------------------------------

struct WorkingPaths {
    std::string documents;       // "" when the lookup failed
    std::string folder;          // .../Tintsmith
    std::string referenceImage;  // .../Tintsmith/cc.jpg
    std::string inputPhotos;     // .../Tintsmith/Photos/   (trailing separator)
    std::string outputPhotos;    // .../Tintsmith/ccPhotos/ (trailing separator)
    std::string lattice;         // .../Tintsmith/original.png
    std::string lutImage;        // .../Tintsmith/cc_LUT.png
    std::string cube;            // .../Tintsmith/cc_LUT.cube
};

WorkingPaths buildWorkingPaths(const std::string& documents);

// The working paths in the user's Documents folder. Without one (or when it
// does not exist) tells so on one line and gives nothing: never the root.
std::optional<WorkingPaths> findWorkingPaths();

// The reference image path with its extension replaced by "_LUT.png".
std::string lutImagePathFor(const std::string& referenceImagePath);

// ---------------------------------------------------------------------------
// Chart catalogue.
// ---------------------------------------------------------------------------

struct ChartReference {
    int detectorType = cv::mcc::MCC24;
    bool builtIn = false;  // use constColor
    cv::ccm::CONST_COLOR constColor = cv::ccm::COLORCHECKER_Macbeth;
    cv::Mat colours;      // 24 x 1 CV_64FC3 sRGB in 0..1, or empty when builtIn
    int patchCount = 24;  // patches the reference describes
    std::string label;    // the chart's name as the Settings window shows it
};

// 24 sRGB colours on 0..255, one row per patch in the detector's patch order.
using PatchTable = unsigned char[24][3];

// One chart choice of the Settings window. The detector's enum (MCC24, SG140,
// VINYL18) and the colour module's (Macbeth, Vinyl, DigitalSG) are separate
// lists in their own orders, so Vinyl is 2 in one and 1 in the other: a
// record names each by its enumerator, never by a shared number.
struct ChartRecord {
    const char* label;  // as the Settings window shows it
    cv::mcc::TYPECHART detectorType;
    const PatchTable* table;              // our own reference colours, or nullptr for
    cv::ccm::CONST_COLOR builtInColours;  // the library's built-in ones
    int patchCount;
};

constexpr int kChartChoices = 7;
extern const ChartRecord kChartCatalogue[kChartChoices];

// The reference for chart choice 0..6.
ChartReference chartReference(int chartChoice);

// The constant 0..255 table of a table-backed choice (0, 2, 3, 4), else empty.
cv::Mat referenceTable(int chartChoice);

// ---------------------------------------------------------------------------
// Image reading: whole or not at all.
// ---------------------------------------------------------------------------

// What a file's first bytes say: JPEG, PNG and BMP are recognised; `whole` is
// true when a JPEG or PNG runs to its end marker with nothing damaged.
struct ImageHeader {
    std::string format;  // "JPEG", "PNG", "BMP", or "" when not recognised
    int width = 0;
    int height = 0;
    bool whole = false;
    std::string damage;  // why it is not whole, when that is known
};

ImageHeader inspectImage(const std::vector<std::uint8_t>& bytes);

// The orientation an Exif APP1 segment ("Exif\0\0" and a TIFF header) asks
// for: 1 when it names none, 0 when it cannot be read or names two.
int exifOrientation(const std::uint8_t* data, std::size_t size);

// The most pixels a picture may have on this machine: its memory, shared.
std::size_t largestImagePixels();

enum class ReadOutcome {
    Read,
    Missing,     // no such file
    Unreadable,  // a folder, not a regular file, cannot be opened
    NotAnImage,  // no decoder recognises it
    Damaged,     // cut short or corrupt: it would decode only in part
    TooLarge,    // more pixels than largestImagePixels()
};

struct ImageRead {
    cv::Mat image;  // 8-bit BGR when read
    ReadOutcome outcome = ReadOutcome::Unreadable;
    std::string reason;  // plain words for the console when not read
};

// Reads an image as 8-bit BGR only when the whole picture can be decoded and
// fits `maxPixels` (checked from the header, before decoding). Never opens
// anything but a regular file, never prints. The picture's memory comes from
// `allocator` when one is given.
ImageRead readImageWhole(const std::string& path, std::size_t maxPixels = largestImagePixels(),
                         cv::MatAllocator* allocator = nullptr);

// readImageWhole in two steps: the file's bytes, read and checked (outcome
// Read, with no picture yet, when they may be decoded)...
ImageRead readImageBytes(const std::string& path, std::size_t maxPixels,
                         std::vector<std::uint8_t>& bytes);
// ...then decoded into `read`, which tells when they cannot be.
void decodeImageBytes(const std::vector<std::uint8_t>& bytes, ImageRead& read,
                      cv::MatAllocator* allocator = nullptr);

// ---------------------------------------------------------------------------
// Image source and chart detection.
// ---------------------------------------------------------------------------

using CheckerList = std::vector<cv::Ptr<cv::mcc::CChecker>>;

// A new detector, default parameters, at most one chart, no network. An empty
// or too small image is never handed to the detector and finds nothing.
CheckerList detectCharts(const cv::Mat& image, int detectorType);

// Outlines every checker into `image` in green, thickness 2.
void outlineCharts(cv::Mat& image, const CheckerList& checkers);

// One preview pass: detects on `frame`, outlines into a deep copy, prints the
// "not detected" line when nothing was found. Returns the preview image.
cv::Mat previewFrame(const cv::Mat& frame, int detectorType);

// Runs the live detection window on an opened capture until ESC or the end of
// the stream; returns the last raw frame (empty when none came).
cv::Mat runPreviewLoop(cv::VideoCapture& capture, int detectorType);

// The chart image from the chosen source: cc.jpg read whole, or the camera's
// live detection window until ESC; left empty with no source. A failure is
// told on its console line and gives its exit code; kExitDone means go on.
int acquireChartImage(const Settings& settings, const WorkingPaths& paths, int detectorType,
                      cv::Mat& image);

// ---------------------------------------------------------------------------
// Fit and result.
// ---------------------------------------------------------------------------

// The mean patch colours of one chart as N x 1, 3 channels, scaled to 0..1.
cv::Mat measuredPatchColours(const cv::Ptr<cv::mcc::CChecker>& checker);

struct FitResult {
    bool ok = false;
    std::string failure;  // one line for the console when !ok
    std::optional<cv::ccm::ColorCorrectionModel> model;
    double loss = 0;
};

// Builds and runs the model for `reference`; refuses a patch count that does
// not match and turns a library failure into words.
FitResult fitModel(const cv::Mat& measured, const ChartReference& reference);

// What a window does while one chart is exported; every member may be empty.
struct ExportProgress {
    std::function<void()> fitted;                     // the outline and the loss are drawn
    std::function<void(int done, int total)> photos;  // the batch's progress (BatchProgress)
    std::function<void()> photosDone;                 // the batch is over; LUT files come next
};

// One chart of the result phase: outlines it into `image`, fits the model,
// draws "Loss: ..." and exports the LUT files (and the batch), telling
// `progress` on the way. Returns true when everything asked for was produced;
// each failure is told on its own console line.
bool exportChart(cv::Mat& image, const cv::Ptr<cv::mcc::CChecker>& checker,
                 const ChartReference& reference, bool batchMode, const WorkingPaths& paths,
                 const ExportProgress& progress = {});

// The result window: every chart exported and shown, then a wait for any key.
// Returns kExitDone, or kExitIncomplete when something was not produced.
int runResultPhase(cv::Mat& image, const CheckerList& checkers, const ChartReference& reference,
                   bool batchMode, const WorkingPaths& paths);

// ---------------------------------------------------------------------------
// LUT transform and the correction sequence.
// ---------------------------------------------------------------------------

// 8-bit BGR -> CV_64FC3 RGB in 0..1.
cv::Mat bgrToModelInput(cv::Mat bgr);

// CV_64FC3 RGB (any range) -> 8-bit BGR, rounded and saturated.
cv::Mat modelOutputToBgr(const cv::Mat& rgb);

// The identity lattice: 512 x 512, 8 x 8 tiles of 64 x 64, red level x, green
// level y and blue level k (the tile) at lattice point (x, y, k); level i of
// 64 is round(i * 255 / 63).
cv::Mat identityLattice();

// bgrToModelInput, infer (not linear), modelOutputToBgr.
cv::Mat correctImage(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model);

struct ModelFormula;

// Corrected colours of one fitted model, remembered per 24-bit colour so that
// every distinct colour is computed only once. The table is allocated once
// small images alone no longer pay for it, and only touched pages cost memory.
// Several threads may correct photos through one cache at the same time.
struct CorrectionCache {
    // per colour: corrected B, G, R and a flag; 64 MiB of address space
    std::shared_ptr<std::atomic<std::uint32_t>> table;
    std::shared_ptr<const ModelFormula> formula;  // the model's arithmetic, checked against it
    bool checked = false;  // the formula was tried; null then means the plain sequence
    std::atomic<std::size_t> evaluated{0};  // colours stored so far (every pixel before the table)
    std::mutex model;  // held for the table's set-up and every call of the model itself
};

// The same result as correctImage, byte for byte, from the cache; colours not
// seen before are corrected through `model` and remembered.
cv::Mat correctImageCached(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model,
                           CorrectionCache& cache);

// As correctImageCached, but the result replaces the pixels of `bgr`.
void correctImageCachedInPlace(cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model,
                               CorrectionCache& cache);

// Corrects a JPEG photo, the checked bytes of its file, straight into the
// bytes of its corrected file at `outputPath`, band by band: the bytes that
// imdecode, correctImageCached and imencode would give. A photo its Exif
// orientation turns is gathered whole, turned, from `allocator` when given.
// False, with `encoded` left alone, when the photo or the output's format is
// not one it can promise that for; the photo then goes the whole-image way.
// An error of the model is thrown, as from correctImageCached.
bool correctJpegInBands(const std::vector<std::uint8_t>& input, const std::string& outputPath,
                        cv::ccm::ColorCorrectionModel& model, CorrectionCache& cache,
                        std::string& encoded, cv::MatAllocator* allocator = nullptr);

// Readies the cache's table for an image of `pixels` pixels; false when such
// an image is corrected only by correctImageCached and its kin.
bool correctionTableReady(std::size_t pixels, cv::ccm::ColorCorrectionModel& model,
                          CorrectionCache& cache);

// As correctImageCachedInPlace for a few rows of an 8-bit BGR image, all on
// the calling thread, once correctionTableReady said yes.
void correctRowsCachedInPlace(cv::Mat& rows, cv::ccm::ColorCorrectionModel& model,
                              CorrectionCache& cache);

// ---------------------------------------------------------------------------
// Cube file.
// ---------------------------------------------------------------------------

constexpr int kLutSize = 64;

// `value` with `decimals` digits after the point, as "%.*f" in the C locale
// whatever the user's locale.
std::string formatFixed(double value, int decimals);

// The cube text of an 8-bit BGR continuous LUT image of exactly 512 x 512;
// "" with `why` set when the image cannot be used.
std::string cubeText(const cv::Mat& lut, std::string* why = nullptr);

// Writes the cube file (CR LF lines, "%f" values, locale-independent) through
// a temporary file. On any failure prints "File Not Opened", then a line
// naming the file and the reason, and returns false.
bool writeCubeLut(const cv::Mat& lut, std::string path);

// Writes cc_LUT.png and cc_LUT.cube as a pair: both replaced, or both left as
// they were. A LUT image not of 512 x 512 still gives its PNG, but no cube.
// Every failure is told (the cube's starting with "File Not Opened").
bool writeLutFiles(const cv::Mat& lut, const std::string& pngPath, const std::string& cubePath);

// ---------------------------------------------------------------------------
// Batch correction.
// ---------------------------------------------------------------------------

struct BatchReport {
    int corrected = 0;
    int skipped = 0;  // not images, not regular files: told, not failures
    int failed = 0;   // not read whole, not corrected or not written: incomplete
};

// Photos finished (written or told) and photos listed; called on the calling
// thread of the batch when it starts and then at least every 50 ms.
using BatchProgress = std::function<void(int done, int total)>;

// Corrects every regular file of `inputFolder` (no recursion), in name order,
// into `outputFolder` under its own name; one photo that fails never stops the
// others. Refuses an output folder that is the input folder. One console line
// per skipped or failed entry.
BatchReport batchCorrectPhotos(std::string inputFolder, std::string outputFolder,
                               cv::ccm::ColorCorrectionModel model,
                               const BatchProgress& progress = nullptr);

// ---------------------------------------------------------------------------
// File output.
// ---------------------------------------------------------------------------

// Writes all of `bytes` to `stream` and syncs it; false on any error.
bool writeAndSync(std::FILE* stream, const std::string& bytes);

// Opens the temporary file; tests swap it to inject failing streams.
using StreamOpener = std::function<std::FILE*(const std::string& path)>;

enum class WriteOutcome { Written, NotOpened, Failed };

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Written;
    std::string reason;       // the system's words when not written
    bool mismatched = false;  // files written together: one replaced could not be put back
};

// Writes `bytes` to a temporary file beside `path` and renames it over `path`
// once complete and flushed. On failure the old file is left as it was and
// no temporary file remains.
WriteResult replaceFileContents(const std::string& path, const std::string& bytes,
                                const StreamOpener& open = nullptr);

// The two steps of replaceFileContents, for a caller that gets files ready on
// several threads and puts them in place in its own order. writeTemporary
// leaves `bytes` complete on disk beside `path` and returns that file's name,
// or "" and the reason (no file is then left); moveIntoPlace renames it over
// `path`, and removes it when that fails.
std::string writeTemporary(const std::string& path, const std::string& bytes,
                           const StreamOpener& open, WriteResult& result);
WriteResult moveIntoPlace(const std::string& temporary, const std::string& path);

struct FileContents {
    std::string path;
    std::string bytes;
};

// As replaceFileContents for several files that belong together: all are
// written to temporary files first, and only when every one is complete do
// they replace the old ones. On failure `failedIndex` names the file and none
// of the old files has changed: one already replaced when a later one cannot
// be gets its old contents back (`mismatched` when that fails too).
WriteResult replaceFilesTogether(const std::vector<FileContents>& files, std::size_t& failedIndex,
                                 const StreamOpener& open = nullptr);

// Reads a whole file into `content`; false and the system's words in `why`
// when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::string& content, std::string& why);

// The temporary file beside `path`: .tintsmith-<process>-<n>.tmp in the same
// folder, short whatever the length of the name it stands for.
std::string temporaryPathFor(const std::string& path);

// Removes the temporary files that runs which have ended left in `folder`
// (only names of temporaryPathFor's form); returns how many.
int removeLeftTemporaries(const std::string& folder);

// The part of a path after its last separator ('/'; on Windows also '\').
std::string fileNameOf(const std::string& path);

// The extension of a path's file name from its last dot on, in lower case;
// "" without a dot.
std::string lowercaseExtension(const std::string& path);

// "" when a corrected photo can be written under `path`'s extension in 8-bit
// colour; else why not (no writer, grey only, floating point only).
std::string colourFormatProblem(const std::string& path);

// Encodes `image` by the extension of `path` and writes it as above. Prints one
// line naming the file on failure.
bool writeImageFile(const std::string& path, const cv::Mat& image);

// Its two halves, for encoding on one thread and writing on another: the
// encoded file into `bytes`, or the line that tells why not; and the write.
std::string encodeImageFile(const std::string& path, const cv::Mat& image, std::string& bytes);

// Replaces the file with `bytes` as replaceFileContents does; prints one line
// naming the file on failure, notWrittenLine's, as writtenOrTold does for a
// result of its own.
bool writeWholeFile(const std::string& path, const std::string& bytes);
std::string notWrittenLine(const std::string& path, const WriteResult& result);
bool writtenOrTold(const std::string& path, const WriteResult& result);

// ---------------------------------------------------------------------------
// LUT check: the cube file as written, applied to the chart photo and to every
// patch, shown against the chart's reference (cc_LUT_check.png and .csv).
// ---------------------------------------------------------------------------

// CIELAB under D65 of an sRGB colour on 0..1; values outside 0..1 follow the
// sRGB curve mirrored through zero, as the colour-correction model does.
cv::Vec3d srgbToLab(const cv::Vec3d& rgb);

// The CIEDE2000 difference of two CIELAB colours (kL = kC = kH = 1).
double ciede2000(const cv::Vec3d& lab1, const cv::Vec3d& lab2);

// A 3D LUT as read from Cube text: size^3 output colours (RGB), red fastest,
// then green, then blue.
struct CubeLut {
    int size = 0;
    cv::Vec3d domainMin{0, 0, 0};
    cv::Vec3d domainMax{1, 1, 1};
    std::vector<cv::Vec3f> entries;
};

// Reads Cube text: LUT_3D_SIZE, DOMAIN_MIN/MAX, TITLE, comments, then the
// entries. Returns false with `why` set when the text is not a usable 3D LUT.
bool parseCube(const std::string& text, CubeLut& cube, std::string* why = nullptr);

// The cube applied to one RGB colour as editors apply it: clamped to the
// domain, trilinear between the eight surrounding entries.
cv::Vec3d applyCube(const CubeLut& cube, const cv::Vec3d& rgb);

// The same for every pixel of an 8-bit BGR image; the result is 8-bit BGR.
cv::Mat applyCubeToImage(const CubeLut& cube, const cv::Mat& bgr);

// What the check needs of one chart, gathered while the fitted model exists.
struct LutCheckInput {
    cv::Mat photo;  // the chart photo before the outline and the loss, 8-bit BGR, scaled
    std::string chartName;
    int detectorType = cv::mcc::MCC24;  // the chart's layout of patches
    double loss = 0;
    cv::Mat reference;       // N x 1 CV_64FC3: the sRGB colours the fit aimed at, about 0..1
    cv::Mat measured;        // N x 1 CV_64FC3: the RGB colours the fit was given, 0..1
    std::vector<bool> used;  // per patch; false where the fit left it out (saturated)
};

// A copy of an 8-bit BGR chart photo that fits one half of the check picture
// (never enlarged); empty for anything else.
cv::Mat lutCheckPhoto(const cv::Mat& image);

// The reference colours, measured colours and used patches of a fitted model.
// Built-in chart data is read from the library in the model's own conversion.
LutCheckInput lutCheckInput(const cv::Mat& photo, const cv::Mat& measured,
                            const ChartReference& reference, cv::ccm::ColorCorrectionModel& model,
                            double loss);

// One patch of the check: sRGB colours on 0..1 and CIEDE2000 to the reference.
struct PatchCheck {
    cv::Vec3d reference, measured, after;  // after: the cube applied to measured
    double before = 0, afterCube = 0;      // CIEDE2000 of measured and of after
    bool used = true;
};

// Every patch in the chart's order; empty when the reference is missing.
std::vector<PatchCheck> checkPatches(const LutCheckInput& input, const CubeLut& cube);

// The CSV text: a header row, then one row per patch in the chart's order.
std::string lutCheckCsv(const std::vector<PatchCheck>& patches);

// The check picture: heading, the photo before | after the cube, then one tile
// per patch (reference | as photographed | after) in the chart's rows.
cv::Mat lutCheckPicture(const LutCheckInput& input, const CubeLut& cube,
                        const std::vector<PatchCheck>& patches, const std::string& cubeName);

// The check files' paths: the LUT image path with "_check.png" / "_check.csv"
// in place of ".png".
std::string lutCheckPathFor(const std::string& lutImagePath, const std::string& extension);

// Reads the cube file back and writes both check files beside the LUT image,
// each complete or not at all. Prints one line per failure and returns false.
bool writeLutCheck(const LutCheckInput& input, const WorkingPaths& paths);

}  // namespace tintsmith
