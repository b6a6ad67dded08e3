// The run from start-up to the exit code, top to bottom: the display, the
// working folder, the Settings window, the chart image, the detection, then
// for the chart found the fit, the result window, the batch under the window's
// count, the LUT pair and its check, and the wait for a key. The one place
// that speaks on the console and picks the exit code; anything a phase throws
// is caught and told here.
#include <cstdio>
#include <filesystem>

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

void say(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
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

namespace {

// One line, whatever the exception's text holds.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// What befell an entry of the batch, or one of its folders, as a line.
std::string batchLine(const BatchNote& note, const WorkingPaths& paths) {
    switch (note.kind) {
        case BatchNote::Kind::Skipped:
            return "Skipping " + note.path + ": " + note.reason;
        case BatchNote::Kind::NotWritten:
            return "Could not write " + note.path + ": " + note.reason;
        case BatchNote::Kind::NotListed:
            return "Could not list the photo folder " + note.path + ": " + note.reason;
        case BatchNote::Kind::ListedInPart:
            return "Could not list the photo folder " + note.path + " to its end";
        case BatchNote::Kind::SameFolder:
            return "Not correcting photos: " + note.path + " is the same folder as " +
                   paths.inputPhotos + ", so the originals would be overwritten";
        case BatchNote::Kind::Video:
            return "Skipping " + note.path + ": " + note.reason + ". To correct a video, apply " +
                   paths.cube +
                   " to it in your video editor, or with ffmpeg's lut3d filter, for instance "
                   "in the folder " +
                   paths.folder + ": ffmpeg -i \"Photos/" + fileNameOf(note.path) +
                   "\" -vf lut3d=cc_LUT.cube \"" + replaceExtension(fileNameOf(note.path), "") +
                   "_cc.mp4\"";
        case BatchNote::Kind::Remark:
            return note.path + ": " + note.reason;
        case BatchNote::Kind::NotEntered:
            return "Photos in the subfolders of " + note.path +
                   " are not corrected; not entered: " + note.reason;
        case BatchNote::Kind::NoneCorrected:
            return "No photo was corrected: " + note.path + " " + note.reason;
    }
    return note.path + ": " + note.reason;
}

// Tells what kept the LUT pair from being written; true when both were.
// Scripts look for "File Not Opened" whenever the cube was not written.
bool toldLutFiles(const LutFilesWritten& written, const WorkingPaths& paths) {
    if (!written.png.done) say("Could not write " + paths.lutImage + ": " + written.png.reason);
    if (!written.cube.done) {
        say("File Not Opened");
        say((written.cubeTried ? "Could not write " : "Not writing ") + paths.cube + ": " +
            written.cube.reason);
    }
    return written.png.done && written.cube.done;
}

// Tells what kept the check from being made or written; true when it was.
bool toldLutCheck(const LutCheckWritten& written, const WorkingPaths& paths) {
    if (!written.check.done) {
        say("Could not check " + paths.cube + ": " + written.check.reason);
        return false;
    }
    if (!written.csv.done) say("Could not write " + paths.checkCsv + ": " + written.csv.reason);
    if (!written.picture.done)
        say("Could not write " + paths.checkPicture + ": " + written.picture.reason);
    return written.csv.done && written.picture.done;
}

int runPhases(const char*& phase) {
    // a display to show the windows on
    phase = "looking for a display";
    const std::string noDisplay = platform::missingDisplay();
    if (!noDisplay.empty()) {
        say("Tintsmith needs a graphical desktop session to show its windows: " + noDisplay);
        return kExitIncomplete;
    }

    // the working folder, never the root of the file system in its place
    phase = "looking up the working folder";
    const std::string documents = platform::documentsFolder();
    std::error_code error;
    if (documents.empty() || !std::filesystem::is_directory(documents, error)) {
        say(std::string("No Documents folder found") +
            (documents.empty() ? " (HOME is not set)" : ": " + documents + " does not exist") +
            "; Tintsmith works in the folder Tintsmith inside it");
        return kExitIncomplete;
    }
    const WorkingPaths paths = buildWorkingPaths(documents);

    phase = "showing the Settings window";
    const Settings settings = runSettingsWindow();

    phase = "preparing the reference colours";
    const ChartReference reference = chartReference(settings.chartChoice);

    // the chart image: cc.jpg read whole, or the camera's live detection window
    phase = "acquiring the chart image";
    cv::Mat image;
    if (settings.source == Source::File) {
        ImageRead read = readImageWhole(paths.referenceImage);
        if (!read.outcome.done) {
            // a missing cc.jpg needs no more words; anything else says why
            say("Invalid Image!");
            if (read.problem != ReadProblem::Missing)
                say(paths.referenceImage + ": " + read.outcome.reason);
            return kExitInvalidImage;
        }
        image = read.image;
    } else if (settings.source == Source::Camera) {
        cv::VideoCapture capture;
        if (!capture.open(settings.cameraIndex, cv::CAP_ANY)) {
            say("Unable to open camera!");
            return kExitNoCamera;
        }
        image = runPreviewLoop(capture, reference.detectorType);
    }

    phase = "detecting the chart";
    const CheckerList checkers = detectCharts(image, reference.detectorType);
    if (checkers.empty()) {
        say("ChartColor not detected ");
        return kExitNoChart;
    }

    phase = "fitting the correction and writing the LUT files";
    ResultWindow window;
    bool complete = true;
    for (const auto& checker : checkers) {
        // outline, measure and fit; the lattice is read before the model
        // exists, so that a missing one is told even when the fit then fails
        const cv::Mat checkPhoto = lutCheckPhoto(image);  // before the outline and the loss
        outlineCharts(image, {checker});
        const cv::Mat measured = measuredPatchColours(checker);
        const ImageRead latticeRead = readLattice(paths.lattice);
        const cv::Mat& lattice = latticeRead.image;
        cv::Mat latticeInput;
        if (!latticeRead.outcome.done) {
            say("Could not read the lattice image original.png (" + paths.lattice +
                "): " + latticeRead.outcome.reason +
                ", so no LUT files were written; make one with the command: "
                "tintsmith-make-lattice \"" +
                paths.lattice + "\"");
            complete = false;
        } else {
            latticeInput = bgrToModelInput(lattice);
        }
        // a chart photographed without colour gives a LUT of tones alone
        if (!chartHasColour(measured))
            say("The chart shows no colour (a black-and-white or grey photo?): the LUT files "
                "correct its tones alone; photograph the chart in colour for a colour "
                "correction");
        Fit fit = fitModel(measured, reference);
        if (!fit.outcome.done) {
            say(fit.outcome.reason);
            complete = false;
            showResult(window, image, kResultTitle);
            continue;
        }
        drawLoss(image, fit.loss);
        const LutCheckInput check =
            lutCheckInput(checkPhoto, measured, reference, *fit.model, fit.loss);

        // the fitted chart at once; with a batch, under the batch's count
        if (!settings.batchMode) showResult(window, image, kResultTitle, true);
        cv::Mat latticeOutput;
        if (!latticeInput.empty()) latticeOutput = fit.model->infer(latticeInput, false);

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
            endBatchProgress(window);
        }
        fit.model.reset();

        // the LUT pair, and the check of a pair written whole; a cube only from
        // the identity lattice, which alone makes it the correction
        if (!latticeOutput.empty()) {
            const cv::Mat lut = modelOutputToBgr(latticeOutput);
            const std::string notIdentity = latticeProblem(lattice);
            if (!notIdentity.empty() && cubeProblem(lut).empty()) {
                LutFilesWritten written;
                written.png = writeImageFile(paths.lutImage, lut);
                written.cube =
                    failed("original.png is " + notIdentity +
                           "; the older cube is kept. Make the identity lattice with the command: "
                           "tintsmith-make-lattice \"" +
                           paths.lattice + "\"");
                written.cubeTried = false;
                toldLutFiles(written, paths);
                complete = false;
            } else if (!toldLutFiles(writeLutFiles(lut, paths.lutImage, paths.cube), paths) ||
                       !toldLutCheck(
                           writeLutCheck(check, paths.cube, paths.checkCsv, paths.checkPicture),
                           paths)) {
                complete = false;
            }
        }
        showResult(window, image, kResultTitle);
    }
    waitForAnyKey();
    return complete ? kExitDone : kExitIncomplete;
}

}  // namespace

int runCalibration() {
    const char* phase = "starting";
    try {
        return runPhases(phase);
    } catch (const cv::Exception& error) {
        say("Stopped while " + std::string(phase) + ": " + oneLine(error.err) +
            (error.func.empty() ? "" : " (in " + error.func + ")"));
    } catch (const std::exception& error) {
        say("Stopped while " + std::string(phase) + ": " + oneLine(error.what()));
    } catch (...) {
        say("Stopped while " + std::string(phase) + ": an unknown error");
    }
    return kExitIncomplete;
}

}  // namespace tintsmith
