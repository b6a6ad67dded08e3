// The run from start-up to the exit code, top to bottom: the working folder
// and what stopped runs left in it, the display, the Settings window, the
// chart image, the detection, then for the chart found the fit, the result
// window, the batch under the window's count, the LUT pair and its check, and
// the wait for a key. The one place that speaks on the console and picks the
// exit code; anything a phase throws is caught and told here.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/highgui.hpp>

#include "platform/platform.hpp"
#include "workflow/batch/batch.hpp"
#include "workflow/chart/chart.hpp"
#include "workflow/colour/colour.hpp"
#include "workflow/io/io.hpp"
#include "workflow/lut/lut.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

const char* const kSettingsTitle = "Settings";
const char* const kDetectionTitle = "ColorChecker detection | Press ESC when ready to create LUT";
const char* const kResultTitle = "Image and areas used to create LUTs | Press any key to exit";

namespace {

// Set once a console line could not be written to standard output: the run
// then ends with kExitIncomplete where it would have ended with kExitDone.
std::atomic<bool> consoleLineLost{false};

}  // namespace

namespace {

// How consoleSafe writes the code point `code` (or, for a byte that is no
// UTF-8, the byte), when it must not reach the terminal as it is.
std::string escaped(std::uint32_t code, bool byte) {
    switch (code) {
        case 0x1b:
            return "\\e";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        default:
            break;
    }
    char text[12];
    std::snprintf(text, sizeof text, byte || code < 0x80 ? "\\x%02x" : "\\u%04x",
                  static_cast<unsigned>(code));
    return text;
}

// True for a code point that controls the terminal or reorders what it shows.
bool controlling(std::uint32_t code) {
    return code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x061c || code == 0x200e ||
           code == 0x200f || (code >= 0x202a && code <= 0x202e) ||
           (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string consoleSafe(const std::string& text) {
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // the sequence's length and smallest code point, as UTF-8 allows them
        const std::size_t length = byte < 0x80                    ? 1
                                   : byte >= 0xc2 && byte <= 0xdf ? 2
                                   : byte >= 0xe0 && byte <= 0xef ? 3
                                   : byte >= 0xf0 && byte <= 0xf4 ? 4
                                                                  : 0;
        std::uint32_t code = length == 1   ? byte
                             : length == 2 ? byte & 0x1f
                             : length == 3 ? byte & 0x0f
                                           : byte & 0x07;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xc0) == 0x80;
            code = code << 6 | (next & 0x3f);
        }
        // overlong forms, surrogates and code points past Unicode's end
        valid = valid && !(length == 3 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))) &&
                !(length == 4 && (code < 0x10000 || code > 0x10ffff));
        if (!valid) {
            safe += escaped(byte, true);
            ++i;
            continue;
        }
        if (controlling(code))
            safe += escaped(code, false);
        else
            safe.append(text, i, length);
        i += length;
    }
    return safe;
}

void say(const std::string& text) {
    const std::string line = consoleSafe(text);
    std::clearerr(stdout);
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
        std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0)
        return;
    // the line where it can still be read, the first time with why it is there
    const int error = errno ? errno : EIO;
    if (!consoleLineLost.exchange(true))
        std::fprintf(stderr, "Standard output cannot be written (%s); its lines follow here\n",
                     std::strerror(error));
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool windowClosed(const std::string& title) {
    // Qt only hides a window the window manager closed (and reads a missing
    // one as hidden); showing the image again would bring it back
    try {
        return cv::getWindowProperty(title, cv::WND_PROP_VISIBLE) <= 0;
    } catch (const cv::Exception&) {
        return true;
    }
}

std::string videoCommand(const std::string& name) {
    // its own container keeps its sound copyable; WebM takes no H.264, Matroska does
    const std::string extension = lowercaseExtension(name) == ".webm" ? ".mkv" : extensionOf(name);
    return "ffmpeg -i \"Photos/" + name + "\" -vf lut3d=cc_LUT.cube -pix_fmt yuv420p -c:a copy \"" +
           replaceExtension(name, "_cc" + extension) + "\"";
}

namespace {

// The fewest descriptors a run needs: the display's connection and the window
// library's own, the batch's threads and its files, with room to spare.
constexpr long kFewestOpenFiles = 64;

// What to do when memory runs out, wherever it does.
constexpr char kNoMemory[] =
    ": there is not enough memory; close other programs (or use a chart photo with fewer "
    "pixels), then run Tintsmith again";

// What to do about an error nothing in the run expected.
constexpr char kReportFault[] =
    "; this is a fault in Tintsmith: please report it with this line and the files you used";

// The line for the file at `path` not written for `reason`, with what to do:
// the general advice, unless the reason ends in its own.
std::string notWrittenLine(const std::string& path, const std::string& reason) {
    const std::string own = "run Tintsmith again";
    const bool advised = reason.size() >= own.size() &&
                         reason.compare(reason.size() - own.size(), own.size(), own) == 0;
    return "Could not write " + path + ": " + reason +
           (advised ? ""
                    : "; check that its folder exists, has free space and may be written to, "
                      "then run Tintsmith again");
}

// What to do about an original.png that cannot serve: it is made anew when missing.
std::string latticeAdvice(const WorkingPaths& paths) {
    return "; delete it, and Tintsmith makes it anew when it next starts (or make one with the "
           "command: tintsmith-make-lattice \"" +
           paths.lattice + "\")";
}

// One line, whatever the exception's text holds.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// What to do about a photo of the batch left out, by why it was.
std::string skipAdvice(ReadProblem problem) {
    switch (problem) {
        case ReadProblem::Damaged:
            return "; copy it again whole, or take it out of the photo folder";
        case ReadProblem::TooLarge:
            return "; put a copy with fewer pixels in its place, or close other programs and run "
                   "Tintsmith again";
        case ReadProblem::Missing:
            return "; it was moved or deleted while Tintsmith ran: put it back and run Tintsmith "
                   "again";
        case ReadProblem::Unreadable:
            return "; check that you may read it and open the folders on its way, or take it out "
                   "of the photo folder";
        default:  // read whole, but its format cannot take it corrected
            return "; save it as a JPEG, PNG or TIFF to have it corrected, or take it out of the "
                   "photo folder";
    }
}

// What befell an entry of the batch, or one of its folders, as a line.
std::string batchLine(const BatchNote& note, const WorkingPaths& paths) {
    switch (note.kind) {
        case BatchNote::Kind::Skipped:
            // a file that is no photo is left as it is
            return "Skipping " + note.path + ": " + note.reason +
                   (note.failed ? skipAdvice(note.problem) : "");
        case BatchNote::Kind::NameTaken:
            return "Skipping " + note.path + ": " + note.reason;
        case BatchNote::Kind::NotWritten:
            return notWrittenLine(note.path, note.reason);
        case BatchNote::Kind::FolderNotWritten:
            return "Could not write into the folder " + note.path + ": " + note.reason +
                   ", so no photo was corrected; make it beside cc.jpg, a folder you may write "
                   "to, then run Tintsmith again";
        case BatchNote::Kind::NotListed:
            return "Could not list the photo folder " + note.path + ": " + note.reason +
                   (note.reason.rfind("it cannot be read (", 0) == 0
                        ? "; check that you may read and open it"
                        : "; make it beside cc.jpg and put the photos to correct in it");
        case BatchNote::Kind::ListedInPart:
            return "Could not list the photo folder " + note.path +
                   " to its end; the photos after the point it stopped were not corrected: check "
                   "the disk, then run Tintsmith again";
        case BatchNote::Kind::SameFolder:
            return "Not correcting photos: " + note.path + " is the same folder as " +
                   (note.reason.empty() ? paths.inputPhotos + ", so the originals"
                                        : note.reason + ", so the chart photo and the lattice") +
                   " would be overwritten; make ccPhotos a folder of its own";
        case BatchNote::Kind::Video:
            return "Skipping " + note.path + ": " + note.reason + ". To correct a video, apply " +
                   paths.cube +
                   " to it in your video editor, or with ffmpeg's lut3d filter, for instance "
                   "in the folder " +
                   paths.folder + ": " + videoCommand(fileNameOf(note.path));
        case BatchNote::Kind::Remark:
            return note.path + ": " + note.reason;
        case BatchNote::Kind::NotEntered:
            return "Photos in the subfolders of " + note.path +
                   " are not corrected; not entered: " + note.reason +
                   "; move the photos into the folder itself to have them corrected";
        case BatchNote::Kind::NoneCorrected:
            return "No photo was corrected: " + note.path + " " + note.reason +
                   "; put the photos to correct (JPEG, PNG or TIFF) in it";
    }
    return note.path + ": " + note.reason;
}

// The batch's count, and where its photos went, or that none was corrected.
std::string batchSummary(const BatchReport& report, const WorkingPaths& paths) {
    return "Batch: " + std::to_string(report.corrected) + " corrected, " +
           std::to_string(report.skipped) + " skipped, " + std::to_string(report.failed) +
           " failed; " +
           (report.corrected > 0 ? "the corrected photos are in " + paths.outputPhotos
                                 : std::string("no photo was corrected"));
}

// The lines after "ChartColor not detected ": where the chart was looked
// for, what was seen there, and what to check: the chart type, the whole chart
// in the photo, its size, the light; or the source, when none was chosen.
std::vector<std::string> noChartLines(const Settings& settings, const ChartReference& reference,
                                      const WorkingPaths& paths, const ChartFound& found,
                                      const std::string& refusal) {
    if (settings.source == Source::None)
        return {
            "No picture was taken: tick \"Use file cc.jpg\" or \"Use camera\" in the "
            "Settings window."};
    std::vector<std::string> lines;
    if (found.searched)
        lines.push_back(
            "Looked for the chart in the whole picture, then in the picture inside a "
            "plain border, in overlapping crops of it and in enlarged parts of it, "
            "for a small chart.");
    const std::string where =
        settings.source == Source::File ? paths.referenceImage : "the camera's last picture";
    // the colour test's refusals are told here
    if (found.refused > 0)
        lines.push_back("A chart-like pattern was seen in " + where +
                        ", but its colours do not match the chosen chart type, " + reference.label +
                        " (" + refusal +
                        "); check the chart choice: tick the chart that is in the photo in the "
                        "Settings window.");
    lines.push_back("No " + reference.label + " was found in " + where +
                    ". Check that this is the chart in the photo (the chart type chosen in the "
                    "Settings window), that the whole chart is in the picture, at least 150 "
                    "pixels across, and that it is evenly lit, without glare.");
    return lines;
}

// Tells what became of the LUT pair; true when both files were written.
// Scripts look for "File Not Opened" whenever the cube was not written.
bool toldLutFiles(const LutFilesWritten& written, const WorkingPaths& paths) {
    if (written.latticeRefused) {
        say("File Not Opened");
        say("Not writing " + paths.cube + " and " + paths.lutImage + ": " + written.cube.reason +
            "; both are left as they were, so they still match" + latticeAdvice(paths));
        return false;
    }
    if (!written.png.done) say(notWrittenLine(paths.lutImage, written.png.reason));
    if (!written.cube.done) {
        say("File Not Opened");
        say(written.cubeTried ? notWrittenLine(paths.cube, written.cube.reason)
                              : "Not writing " + paths.cube + ": " + written.cube.reason);
    }
    if (!written.png.done || !written.cube.done) return false;
    say("Wrote the LUT for your editor: " + paths.cube);
    say("Wrote the same LUT as a PNG LUT image: " + paths.lutImage);
    return true;
}

// Tells where the pair a LUT judged not better replaced was kept, and how to
// go back to it; only after the new pair was written whole.
void toldKeptPair(const LutFilesWritten& written, const WorkingPaths& paths) {
    if (!written.kept.done) {
        say("There was no earlier LUT pair to keep (" + written.kept.reason + ").");
        return;
    }
    say("Kept the LUT it replaced as " + paths.previousCube + " and " + paths.previousLutImage +
        ": to go back to it, rename them to cc_LUT.cube and cc_LUT.png.");
}

// Tells what became of the check, and its verdict; true when both files were
// written.
bool toldLutCheck(const LutCheckWritten& written, const WorkingPaths& paths) {
    if (!written.check.done) {
        say("Could not check " + paths.cube + ": " + written.check.reason +
            "; run Tintsmith again to write the LUT files anew");
        return false;
    }
    if (!written.csv.done) say(notWrittenLine(paths.checkCsv, written.csv.reason));
    if (!written.picture.done) say(notWrittenLine(paths.checkPicture, written.picture.reason));
    if (written.picture.done) say("Wrote the check picture: " + paths.checkPicture);
    for (const std::string& line : written.verdictText) say(line);
    if (!written.verdict.good())
        say("Look at the check picture, then choose the chart type that is in the photo, or "
            "photograph the printed chart again in even light.");
    return written.csv.done && written.picture.done;
}

// Tells how a replacement of files that a stopped run left half done was
// settled; true when the files belong together again.
bool toldResumed(const ReplacementResumed& resumed) {
    std::string files;
    for (std::size_t i = 0; i < resumed.paths.size(); ++i)
        files += (i == 0 ? "" : i + 1 == resumed.paths.size() ? " and " : ", ") + resumed.paths[i];
    const std::string stopped = "An earlier run was stopped while replacing " + files;
    if (resumed.finished)
        say(stopped + "; the replacement is now finished");
    else if (!resumed.mismatched)
        say(stopped + "; the older files are back, as the new ones could not be put in place: " +
            resumed.outcome.reason);
    else
        say(stopped + ", and they could be neither finished nor put back (" +
            resumed.outcome.reason + "): they may not match until a run writes them anew");
    return !resumed.mismatched;
}

// Why no Documents folder was found, when none was.
std::string noDocumentsReason() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return " (HOME is not set)";
    return " (HOME, or the Documents folder named for it, is a path longer than this system "
           "allows; set HOME to a shorter one)";
}

// The line for a chart photo that is not at `paths.referenceImage`: where it
// goes, or which file of another name to rename.
std::string noChartPhotoLine(const WorkingPaths& paths) {
    const std::string other = chartPhotoNamedOtherwise(paths.folder);
    if (!other.empty())
        return "There is no chart photo at " + paths.referenceImage + ", but there is " + other +
               " beside it: rename it cc.jpg (Tintsmith reads the chart photo under that name "
               "alone), or tick \"Use camera\" in the Settings window.";
    return "There is no chart photo at " + paths.referenceImage +
           ": save your photo of the colour chart there as a JPEG named cc.jpg, or tick \"Use "
           "camera\" in the Settings window.";
}

// Tells which Tintsmith folder is used, and why, when the desktop names a
// Documents folder other than ~/Documents and a Tintsmith folder waits there.
void toldDocumentsChoice(const std::string& documents) {
    const std::string unused = unusedWorkingFolder(documents, platform::plainDocumentsFolder());
    if (!unused.empty())
        say("Tintsmith works in " + buildWorkingPaths(documents).folder +
            ", as your desktop names " + documents +
            " its Documents folder (XDG_DOCUMENTS_DIR in ~/.config/user-dirs.dirs); " + unused +
            " is not used: move its files there");
}

// True when the working folder is there; else tells what to make.
bool toldWorkingFolder(const WorkingPaths& paths) {
    std::error_code error;
    if (std::filesystem::is_directory(paths.folder, error)) return true;
    say("There is no working folder " + paths.folder +
        ": make it, with Photos and ccPhotos inside, put your chart photo there as cc.jpg, then "
        "run Tintsmith again");
    return false;
}

// The inputs, before the Settings window: a missing chart photo is told (a
// camera may still serve), a missing identity lattice is made (`madeLattice`).
// False when it cannot be, told: no LUT could be written then.
bool toldInputs(const WorkingPaths& paths, bool& madeLattice) {
    std::error_code error;
    if (!std::filesystem::exists(paths.referenceImage, error) && !error)
        say(noChartPhotoLine(paths));
    if (std::filesystem::exists(paths.lattice, error) || error) return true;
    const Outcome made = writeIdentityLattice(paths.lattice);
    if (!made.done) {
        say("Could not write the identity lattice " + paths.lattice +
            ", which Tintsmith turns into the LUT: " + made.reason +
            "; check that the folder may be written to, then run Tintsmith again");
        return false;
    }
    say("Wrote the identity lattice that Tintsmith turns into the LUT: " + paths.lattice);
    madeLattice = true;
    return true;
}

int runPhases(const char*& phase) {
    bool complete = true;
    bool notCorrected = false;  // a LUT written that the check found does not correct the chart

    // before anything opens a file: the window library aborts, or waits for
    // ever, when it runs out of descriptors
    phase = "checking the open-file limit";
    const long openFiles = platform::openFileLimit();
    if (openFiles > 0 && openFiles < kFewestOpenFiles) {
        say("Tintsmith needs to open at least " + std::to_string(kFewestOpenFiles) +
            " files at once, but this session allows only " + std::to_string(openFiles) +
            "; raise the limit (for instance with: ulimit -n 1024), then run Tintsmith again");
        return kExitIncomplete;
    }

    // the working folder, never the root of the file system in its place
    phase = "looking up the working folder";
    const std::string documents = platform::documentsFolder();
    if (!documents.empty()) toldDocumentsChoice(documents);
    std::error_code error;
    if (documents.empty() || !std::filesystem::is_directory(documents, error)) {
        say(std::string("No Documents folder found") +
            (documents.empty() ? noDocumentsReason()
             : error && error != std::errc::no_such_file_or_directory
                 ? ": " + documents + " cannot be looked into (" + error.message() + ")"
                 : ": " + documents + " does not exist") +
            "; Tintsmith works in the folder Tintsmith inside it, so make that folder, with "
            "Photos and ccPhotos inside, and put your chart photo there as cc.jpg");
        return kExitIncomplete;
    }
    const WorkingPaths paths = buildWorkingPaths(documents);
    if (!toldWorkingFolder(paths)) return kExitIncomplete;

    // one run at a time in the folder, for the whole run: two would mix their
    // LUT pairs, and only the holder may settle what a stopped run left
    phase = "making sure no other run works in the folder";
    const platform::FileLock runLock = platform::lockFolder(paths.folder);
    if (runLock.state() == platform::LockState::HeldElsewhere) {
        say("Another Tintsmith run is working in this folder (" + paths.folder +
            "), so this one touches nothing; let that run finish (or close its windows), then "
            "run Tintsmith again");
        return kExitIncomplete;
    }

    // before anything else: the LUT pair a stopped run left half replaced made
    // whole again, then the temporary files of runs that have ended removed
    // from every folder a run writes
    phase = "tidying the working folder";
    for (const ReplacementResumed& resumed : resumeStoppedReplacements(paths.folder))
        if (!toldResumed(resumed)) complete = false;
    removeLeftTemporaries(paths.folder);
    removeLeftTemporaries(paths.outputPhotos);

    // a display to show the windows on
    phase = "looking for a display";
    const std::string noDisplay = platform::missingDisplay();
    if (!noDisplay.empty()) {
        say("Tintsmith needs a graphical desktop session to show its windows: " + noDisplay +
            "; start it from the desktop's menu, or from a terminal inside the desktop session");
        return kExitIncomplete;
    }

    phase = "preparing the chart photo and the lattice";
    bool madeLattice = false;
    if (!toldInputs(paths, madeLattice)) return kExitIncomplete;

    phase = "showing the Settings window";
    const std::optional<Settings> chosen = runSettingsWindow();
    if (!chosen) {
        say(std::string("Cancelled: the Settings window was closed, so nothing ") +
            (madeLattice ? "more was" : "was") + " read or written.");
        return kExitCancelled;
    }
    const Settings& settings = *chosen;

    phase = "preparing the reference colours";
    const ChartReference reference = chartReference(settings.chartChoice);

    // the chart image: cc.jpg read whole, or the camera's live detection window
    phase = "acquiring the chart image";
    cv::Mat image;
    if (settings.source == Source::File) {
        ImageRead read = readImageWhole(paths.referenceImage);
        if (!read.outcome.done) {
            say("Invalid Image!");
            say(read.problem == ReadProblem::Missing
                    ? noChartPhotoLine(paths)
                    : paths.referenceImage + ": " + read.outcome.reason +
                          "; put your photo of the colour chart there, saved whole as a JPEG.");
            return kExitInvalidImage;
        }
        image = read.image;
    } else if (settings.source == Source::Camera) {
        cv::VideoCapture capture;
        if (!capture.open(settings.cameraIndex, cv::CAP_ANY)) {
            say("Unable to open camera!");
            say("Camera " + std::to_string(settings.cameraIndex) +
                " could not be opened: check that it is connected and no other program uses "
                "it, or choose another camera number in the Settings window.");
            return kExitNoCamera;
        }
        const std::optional<cv::Mat> frame = runPreviewLoop(capture, reference.detectorType);
        if (!frame) {
            say("Cancelled: the camera's window was closed, so nothing was written.");
            return kExitCancelled;
        }
        image = *frame;
    }

    phase = "detecting the chart";
    // the first look as the preview's; only when it finds nothing acceptable,
    // the further search. A pattern is a chart only when its colours can be
    // the chart chosen.
    Outcome refusal;
    const ChartFound found =
        findChart(image, reference.detectorType, [&](const cv::Ptr<cv::mcc::CChecker>& checker) {
            const Outcome matched = chartColoursMatch(measuredPatchColours(checker), reference);
            if (!matched.done) refusal = matched;
            return matched.done;
        });
    const CheckerList& checkers = found.checkers;
    if (checkers.empty()) {
        say("ChartColor not detected ");
        for (const std::string& line :
             noChartLines(settings, reference, paths, found, refusal.reason))
            say(line);
        return kExitNoChart;
    }
    if (found.searched)
        say("The chart was found only by the further search, not at the first look at the "
            "whole picture: check its green outline in the result window.");

    phase = "fitting the correction and writing the LUT files";
    // the lattice, once for the run and before any model exists, so that a
    // missing one is told even when the fit then fails
    const ImageRead lattice = readImageWhole(paths.lattice);
    if (!lattice.outcome.done) {
        say("Could not read the lattice image original.png (" + paths.lattice + "): " +
            lattice.outcome.reason + ", so no LUT files were written" + latticeAdvice(paths));
        complete = false;
    }
    bool wroteAny = false;  // a LUT file or a corrected photo
    ResultWindow window;
    const platform::ScreenArea screen = platform::screenArea();
    prepareResult(window, image, {screen.width, screen.height});
    for (const auto& checker : checkers) {
        // outline, measure and fit
        const cv::Mat checkPhoto = lutCheckPhoto(image);  // before the outline and the loss
        outlineResult(window, image, checker);
        const cv::Mat measured = measuredPatchColours(checker);
        // a chart photographed without colour gives a LUT of tones alone
        if (!chartHasColour(measured))
            say("The chart shows no colour (a black-and-white or grey photo?): the LUT files "
                "correct its tones alone; photograph the chart in colour for a colour "
                "correction");
        Fit fit = fitModel(measured, reference);
        if (!fit.outcome.done) {
            say(fit.outcome.reason);
            complete = false;
            continue;
        }
        drawLoss(window, image, fit.loss);
        LutCheckInput check = lutCheckInput(checkPhoto, measured, reference, *fit.model, fit.loss);
        check.chartSide = chartSide(checker);
        check.uneven = unevenPatches(checker);
        check.chartOutline = chartOutline(checker, double(checkPhoto.cols) / image.cols);

        // the fitted chart at once, when its LUT is to be written; with a
        // batch, under the batch's count
        if (!settings.batchMode && lattice.outcome.done)
            showResult(window, image, kResultTitle, true);

        // the batch, before either LUT file is written
        if (settings.batchMode) {
            BatchObserver observer;
            observer.progress = [&](int done, int total) {
                showBatchProgress(window, image, done, total);
            };
            observer.note = [&](const BatchNote& note) { say(batchLine(note, paths)); };
            const BatchReport report =
                batchCorrectPhotos(paths.inputPhotos, paths.outputPhotos, *fit.model, observer);
            if (report.failed > 0) complete = false;
            if (report.corrected > 0) wroteAny = true;
            endBatchProgress(window);
            say(batchSummary(report, paths));
        }
        cv::Mat lut;
        if (lattice.outcome.done) lut = correctImage(lattice.image, *fit.model);
        fit.model.reset();

        // the LUT pair, and the check of a pair written whole; a cube only from
        // the identity lattice, which alone makes it the correction
        // judged before it is written, so that a LUT not better keeps the
        // pair it replaces in the same replacement
        if (!lut.empty()) {
            const std::string notIdentity = latticeProblem(lattice.image);
            LutVerdict verdict;
            const bool judged = notIdentity.empty() && judgeLut(check, lut, verdict).done;
            // greys made worse name the closest other chart: four fits, so only then
            if (judged && std::count(verdict.reasons.begin(), verdict.reasons.end(),
                                     VerdictReason::GreysWorse) > 0) {
                const int closest = closestChartChoice(measured, settings.chartChoice);
                if (closest != settings.chartChoice)
                    check.closestOther = kChartCatalogue[closest].label;
            }
            const KeptPair keep = judged && !verdict.good()
                                      ? KeptPair{paths.previousLutImage, paths.previousCube}
                                      : KeptPair{};
            const LutFilesWritten written = writeLutFiles(
                lut, paths.lutImage, paths.cube,
                notIdentity.empty() ? "" : "original.png is " + notIdentity, systemFiles(), keep);
            if (written.png.done) wroteAny = true;
            if (!toldLutFiles(written, paths)) {
                complete = false;
            } else {
                const LutCheckWritten checked =
                    writeLutCheck(check, paths.cube, paths.checkCsv, paths.checkPicture);
                if (!toldLutCheck(checked, paths)) complete = false;
                if (checked.check.done && !checked.verdict.good()) notCorrected = true;
                if (!keep.png.empty()) toldKeptPair(written, paths);
            }
        }
        // a window as if a LUT or photo had been written, only when one was
        if (wroteAny) showResult(window, image, kResultTitle);
    }
    if (window.shown)
        waitForAnyKey();
    else
        cv::destroyAllWindows();
    return !complete ? kExitIncomplete : notCorrected ? kExitNotCorrected : kExitDone;
}

// The lines --help gives: what the program does, its working folder on this
// machine and the files in it, and the exit codes.
std::string helpText() {
    const std::string documents = platform::documentsFolder();
    const WorkingPaths paths = buildWorkingPaths(documents);
    std::error_code error;
    const std::string folder =
        documents.empty() ? "none, as no Documents folder is known" + noDocumentsReason()
        : std::filesystem::is_directory(paths.folder, error)
            ? paths.folder
            : paths.folder + " (not there yet: make it, with Photos and ccPhotos inside)";
    return "Tintsmith " TINTSMITH_VERSION
           ": a colour-correction 3D LUT from a photo of a colour chart.\n"
           "\n"
           "Usage: tintsmith [--hold]\n"
           "       tintsmith -h | --help | --version\n"
           "\n"
           "In the Settings window choose the chart photo cc.jpg or a camera, the type of chart\n"
           "in the picture, and whether to correct a folder of photos too. Tintsmith finds the\n"
           "chart, fits a correction onto its true colours and writes it as a 3D LUT.\n"
           "\n"
           "Working folder on this machine: " +
           folder +
           "\n"
           "  reads   cc.jpg            your photo of the chart (\"Use file cc.jpg\")\n"
           "          original.png      the identity lattice, written there when missing\n"
           "          Photos/           photos to correct (\"Batch Process Photos\")\n"
           "  writes  cc_LUT.cube       the LUT for editors: 64 points, sRGB in and out\n"
           "          cc_LUT.png        the same LUT as a PNG LUT image\n"
           "          cc_LUT_check.png  how the LUT does on the chart, and in numbers:\n"
           "          cc_LUT_check.csv\n"
           "          cc_LUT.previous.cube  the LUT pair a LUT judged not better replaced,\n"
           "          cc_LUT.previous.png   kept to go back to\n"
           "          ccPhotos/         the corrected photos, under their own names\n"
           "\n"
           "Options:\n"
           "  --hold     keep the console open at the end until Enter (the menu entry's way)\n"
           "  -h, --help this text\n"
           "  --version  the version\n"
           "Any other argument is refused (exit 64) before anything is read or written.\n"
           "\n"
           "Exit codes: 0 done; 1 cc.jpg cannot be read; 2 no chart found; 3 the camera\n"
           "cannot be opened; 4 not everything asked for was written (or a console line\n"
           "was lost; no working folder); 5 cancelled (the Settings or camera window closed\n"
           "with its close button); 6 LUT files written, but the check found they do not\n"
           "correct the chart; 64 an argument it does not take.";
}

// How a run ended, in words, for a console that closes with the program.
std::string endingText(int code) {
    switch (code) {
        case kExitDone:
            return "Tintsmith is done: the files named above are written.";
        case kExitInvalidImage:
            return "Tintsmith stopped: the chart photo cc.jpg could not be read. The lines above "
                   "say what to do.";
        case kExitNoChart:
            return "Tintsmith stopped: no chart was found. The lines above say what to check.";
        case kExitNoCamera:
            return "Tintsmith stopped: the camera could not be opened. The lines above say what "
                   "to do.";
        case kExitCancelled:
            return "Tintsmith was cancelled: nothing was written.";
        case kExitUsage:
            return "Tintsmith did not start: the line above says why.";
        case kExitNotCorrected:
            return "Tintsmith wrote the LUT files, but the check found they do not correct the "
                   "chart. The lines above say why and how to go back to the LUT before.";
        default:
            return "Tintsmith ended without writing all it set out to. The lines above say what "
                   "was not written and why.";
    }
}

}  // namespace

int runTintsmith(const std::vector<std::string>& arguments) {
    bool hold = platform::consoleClosesAtExit();
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            // line by line: a line break inside a line is escaped as any other control
            const std::string text = helpText();
            for (std::size_t start = 0; start <= text.size();) {
                const std::size_t end = std::min(text.find('\n', start), text.size());
                say(text.substr(start, end - start));
                start = end + 1;
            }
            return kExitDone;
        }
        if (argument == "--version") {
            say("tintsmith " TINTSMITH_VERSION);
            return kExitDone;
        }
        if (argument == "--hold") {
            hold = true;
            continue;
        }
        // a mistyped option must not start a run the user did not mean
        say(argument.size() > 1 && argument[0] == '-'
                ? "Unknown option " + argument + ": tintsmith --help lists the options"
                : "Tintsmith takes no file names (" + argument +
                      "): it reads cc.jpg in its working folder; tintsmith --help tells where");
        return kExitUsage;
    }
    const int code = runCalibration();
    if (hold) {
        say(endingText(code));
        say("Press Enter to close this window.");
        for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
        }
    }
    return (code == kExitDone || code == kExitNotCorrected) && consoleLineLost ? kExitIncomplete
                                                                               : code;
}

// The phase of the run under way; null outside runCalibration.
std::atomic<const char* const*> phaseUnderWay{nullptr};

// The window library ends the whole process (exit 1) when the display's
// connection breaks: told in our words, and with our code, instead. Every file
// already written stays whole, as each is renamed into place complete.
void tellDisplayLost() {
    const char* const* phase = phaseUnderWay.load();
    if (!phase) return;
    say("Stopped while " + std::string(*phase) +
        ": the connection to the display was lost (the desktop session ended, or the display "
        "server stopped); the files written before that are whole, the others were not "
        "written: run Tintsmith again in the desktop session");
    std::fflush(stdout);
    std::_Exit(kExitIncomplete);
}

int runCalibration() {
    const char* phase = "starting";
    static const bool registered = std::atexit(tellDisplayLost) == 0;
    (void)registered;
    phaseUnderWay = &phase;
    // cleared on every way out, so that an ordinary end is never taken for a lost display
    struct Clear {
        ~Clear() { phaseUnderWay = nullptr; }
    } clear;
    try {
        return runPhases(phase);
    } catch (const std::bad_alloc&) {
        say("Stopped while " + std::string(phase) + kNoMemory);
    } catch (const cv::Exception& error) {
        say("Stopped while " + std::string(phase) +
            (error.code == cv::Error::StsNoMem
                 ? kNoMemory
                 : ": " + oneLine(error.err) +
                       (error.func.empty() ? "" : " (in " + error.func + ")") + kReportFault));
    } catch (const std::exception& error) {
        say("Stopped while " + std::string(phase) + ": " + oneLine(error.what()) + kReportFault);
    } catch (...) {
        say("Stopped while " + std::string(phase) + ": an unknown error" + kReportFault);
    }
    return kExitIncomplete;
}

}  // namespace tintsmith
