// Tintsmith's own layer: the settings record, the working paths, the exit codes
// and the phases the driver runs in order, three of them windows. The engines
// it drives live in the folders beside it (chart, colour, lut, batch, io) and
// return values and outcomes; only this layer speaks on the console and picks
// the exit code.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/mcc.hpp>
#include <opencv2/videoio.hpp>

namespace tintsmith {

// --- The run -----------------------------------------------------------------

enum ExitCode : int {
    kExitDone = 0,          // the result window was closed with a key
    kExitInvalidImage = 1,  // file source and cc.jpg unreadable
    kExitNoChart = 2,       // the final detection found no chart
    kExitNoCamera = 3,      // camera source and the camera would not open
    kExitIncomplete = 4,    // the run could not produce all it set out to
    kExitCancelled = 5,     // a window was closed with its close button: nothing written
    kExitNotCorrected = 6,  // LUT files written, but the check found they do not correct the chart
    kExitUsage = 64,        // an argument it does not take (sysexits' EX_USAGE): no window
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

// The program as started with `arguments` (those after its name): --help or
// --version tell and end; --hold keeps the console open after the run until
// Enter, as a double click on Windows does by itself; any other argument is
// refused with kExitUsage before anything else. Returns the exit code.
int runTintsmith(const std::vector<std::string>& arguments);

// One whole run from start-up to the exit code. Never throws.
int runCalibration();

// --- Working paths -----------------------------------------------------------
// Fixed names in the folder Tintsmith of the Documents folder.

struct WorkingPaths {
    std::string folder;            // .../Tintsmith
    std::string referenceImage;    // .../Tintsmith/cc.jpg
    std::string inputPhotos;       // .../Tintsmith/Photos/   (trailing separator)
    std::string outputPhotos;      // .../Tintsmith/ccPhotos/ (trailing separator)
    std::string lattice;           // .../Tintsmith/original.png
    std::string lutImage;          // .../Tintsmith/cc_LUT.png
    std::string cube;              // .../Tintsmith/cc_LUT.cube
    std::string checkPicture;      // .../Tintsmith/cc_LUT_check.png
    std::string checkCsv;          // .../Tintsmith/cc_LUT_check.csv
    std::string previousLutImage;  // .../Tintsmith/cc_LUT.previous.png: the pair replaced...
    std::string previousCube;      // .../Tintsmith/cc_LUT.previous.cube ...by a LUT not better
};

// The paths in `documents`; a failed lookup ("") leaves them at the root.
WorkingPaths buildWorkingPaths(const std::string& documents);

// The reference image path with its extension replaced by "_LUT.png".
std::string lutImagePathFor(const std::string& referenceImagePath);

// The name of a chart photo in `folder` that differs from "cc.jpg" only in
// case or by the extension ".jpeg" (cc.JPG, CC.jpg, cc.jpeg), as cameras name
// them; "" when there is none or the folder cannot be listed.
std::string chartPhotoNamedOtherwise(const std::string& folder);

// The working folder in `plainDocuments` ("$HOME/Documents") when it exists
// and the Documents folder in use, `documents`, is another; else "".
std::string unusedWorkingFolder(const std::string& documents, const std::string& plainDocuments);

// --- The console -------------------------------------------------------------
// Every line the program says, whole and flushed. A line standard output
// refuses (a closed pipe, a full disk) goes to standard error, and the run then
// ends with kExitIncomplete where it would have ended with kExitDone.

void say(const std::string& line);

// `text` as it may reach a terminal: control characters (C0, DEL, C1), the
// marks that reorder text (bidirectional overrides) and bytes that are not
// UTF-8 written visibly as escapes (\e, \n, \x9b, \u202e), so that no file
// name can move the cursor, forge a line or retitle the terminal.
std::string consoleSafe(const std::string& text);

// The ffmpeg command, run in the working folder, that applies cc_LUT.cube to
// the video `name` of Photos: 8-bit 4:2:0 H.264 that players and editors take,
// the sound copied, in the video's own container (Matroska for WebM).
std::string videoCommand(const std::string& name);

// --- Windows -----------------------------------------------------------------
// Each a thin loop that shows, waits and reads keys around a per-frame function
// a test can call without a display.

extern const char* const kSettingsTitle;
extern const char* const kDetectionTitle;
extern const char* const kResultTitle;

// True once the window is gone, for instance closed by the window manager.
bool windowClosed(const std::string& title);

// The Settings window.
struct SettingsState {
    Settings settings;
    bool chartBoxes[7] = {true, false, false, false, false, false, false};
};

constexpr int kSettingsWidth = 550;
constexpr int kSettingsHeight = 200;

// One frame into `frame` (550 x 200, 8-bit BGR): clears, draws every control,
// applies the two exclusion rules. True when "Use selected settings" was
// clicked. Needs ui::init of the window first.
bool settingsFrame(SettingsState& state, cv::Mat& frame);

// Shows the Settings window until ESC or the button; returns what was shown,
// or nothing when the window was closed with its close button.
std::optional<Settings> runSettingsWindow();

// The camera's live detection window. One pass: detects on `frame`, outlines
// into a deep copy and returns it, says the "not detected" line when nothing
// was found.
cv::Mat previewFrame(const cv::Mat& frame, cv::mcc::TYPECHART detectorType);

// Runs the window on an opened capture until ESC or the end of the stream;
// returns the last raw frame (empty when none came), or nothing when the
// window was closed with its close button.
std::optional<cv::Mat> runPreviewLoop(cv::VideoCapture& capture, cv::mcc::TYPECHART detectorType);

// The result window, made when there is first something to show in it, so
// that it never stands empty under its own title while a batch runs. A photo
// larger than the screen is shown scaled to fit, with its outline and loss
// drawn again at that scale, as legible as on a small photo.
struct ResultWindow {
    bool made = false;
    bool shown = false;  // an image was shown
    std::string title;   // the title it bears
    double scale = 1;    // of the view against the photo: below 1 when scaled to fit
    cv::Mat view;        // what the window shows of a photo scaled to fit, else empty
};

// The scale at which a photo of `photo` pixels fits a screen area of `screen`
// pixels with room for the window's frame: 1 when it fits or the screen is unknown.
double fitScale(cv::Size photo, cv::Size screen);

// Readies the window's view of `photo` (before anything is drawn into it) for
// a screen area of `screen` pixels.
void prepareResult(ResultWindow& window, const cv::Mat& photo, cv::Size screen);

// Outlines the chart, and draws the fit's loss ("Loss: 4.3" in red at the top
// left), into the photo and into the window's view.
void outlineResult(ResultWindow& window, cv::Mat& image, const cv::Ptr<cv::mcc::CChecker>& checker);
void drawLoss(ResultWindow& window, cv::Mat& image, double loss);

// The window's title while a batch runs: "Correcting photos: k of n".
std::string batchTitle(int done, int total);

// Shows `image` (or the view of it) under `title`; with `now`, lets the window
// draw it at once.
void showResult(ResultWindow& window, const cv::Mat& image, const std::string& title,
                bool now = false);

// The batch's count in the title (the window made with `image` if need be),
// and the window's own title back when the batch is over. Keys pressed
// meanwhile are dropped.
void showBatchProgress(ResultWindow& window, const cv::Mat& image, int done, int total);
void endBatchProgress(ResultWindow& window);

// Waits for any key or the window's closing, then closes every window.
void waitForAnyKey();

}  // namespace tintsmith
