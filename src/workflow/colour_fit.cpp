// The fit of the colour-correction model on the measured patches, the LUT
// export that follows it, and the result window.
#include <filesystem>
#include <iostream>
#include <string>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include "ui/ui.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr double kLossFontScale = 2.0;
constexpr std::uint32_t kLossColour = 0xff0000;  // red
constexpr int kResultPollMs = 50;  // how often a closed window is noticed

// The result window, made when there is first something to show in it, so
// that it never stands empty under its own title while a batch runs.
struct ResultWindow {
    bool made = false;
    bool shown = false;  // an image was shown
    std::string title;   // the title it bears
};

// A new title is set before the window's next round of events, so that the
// image is never seen under the title it had before.
void setResultTitle(ResultWindow& window, const std::string& title) {
    if (!window.made) {
        ui::init(kResultTitle);  // makes the window
        window.made = true;
        window.title = kResultTitle;
    }
    if (title == window.title) return;
    cv::setWindowTitle(kResultTitle, title);
    window.title = title;
}

void showResult(ResultWindow& window, const cv::Mat& image, const std::string& title) {
    setResultTitle(window, title);
    ui::endFrame();
    cv::imshow(kResultTitle, image);
    window.shown = true;
}

}  // namespace

cv::Mat measuredPatchColours(const cv::Ptr<cv::mcc::CChecker>& checker) {
    // three profile rows per patch; column 1 holds each channel's mean on 0..255
    cv::Mat profile = checker->getChartsRGB();
    cv::Mat measured = profile.col(1).clone().reshape(3, profile.rows / 3);
    measured.convertTo(measured, -1, 1.0 / 255, 0);
    return measured;
}

FitResult fitModel(const cv::Mat& measured, const ChartReference& reference) {
    FitResult result;
    // A measurement paired with a reference of another patch count corrupts
    // the library's heap, so it never gets that far.
    if (measured.rows != reference.patchCount || measured.cols != 1 || measured.channels() != 3) {
        result.failure = "The detected chart has " + std::to_string(measured.total()) +
                         " patches but the chosen chart type has " +
                         std::to_string(reference.patchCount) +
                         "; choose the chart type that is in the photo";
        return result;
    }
    try {
        cv::ccm::ColorCorrectionModel model =
            reference.builtIn ? cv::ccm::ColorCorrectionModel(measured, reference.constColor)
                              : cv::ccm::ColorCorrectionModel(measured, reference.colours,
                                                              cv::ccm::COLOR_SPACE_sRGB);
        model.run();
        result.loss = model.getLoss();
        result.model = model;
        result.ok = true;
    } catch (const cv::Exception&) {
        result.failure =
            "The colour correction could not be fitted: the chart's patches are too bright "
            "or too dark to measure; photograph the chart again in even, softer light";
    }
    return result;
}

bool exportChart(cv::Mat& image, const cv::Ptr<cv::mcc::CChecker>& checker,
                 const ChartReference& reference, bool batchMode, const WorkingPaths& paths,
                 const ExportProgress& progress) {
    bool complete = true;
    cv::Mat checkPhoto = lutCheckPhoto(image);  // before the outline and the loss are drawn
    outlineCharts(image, {checker});
    cv::Mat measured = measuredPatchColours(checker);

    // the lattice is prepared before the model exists
    cv::Mat lattice = cv::imread(paths.lattice, cv::IMREAD_COLOR);
    cv::Mat latticeInput;
    if (lattice.empty()) {
        std::cout << "Could not read the lattice image original.png (" << paths.lattice
                  << "): missing or not an image, so no LUT files were written; make one with "
                  << "the command: tintsmith-make-lattice \"" << paths.lattice << "\"" << std::endl;
        complete = false;
    } else {
        latticeInput = bgrToModelInput(lattice);
    }

    FitResult fit = fitModel(measured, reference);
    if (!fit.ok) {
        std::cout << fit.failure << std::endl;
        return false;
    }
    ui::formattedText(image, 10, 10, kLossFontScale, kLossColour, "Loss: %.1f", fit.loss);
    LutCheckInput check = lutCheckInput(checkPhoto, measured, reference, *fit.model, fit.loss);
    if (progress.fitted) progress.fitted();

    cv::Mat latticeOutput;
    if (!latticeInput.empty()) latticeOutput = fit.model->infer(latticeInput, false);

    // the batch runs before either LUT file is written
    if (batchMode) {
        BatchReport report =
            batchCorrectPhotos(paths.inputPhotos, paths.outputPhotos, *fit.model, progress.photos);
        if (report.failed > 0) complete = false;
        if (progress.photosDone) progress.photosDone();
    }
    fit.model.reset();

    if (!latticeOutput.empty()) {
        cv::Mat lut = modelOutputToBgr(latticeOutput);
        removeLeftTemporaries(std::filesystem::path(paths.cube).parent_path().string());
        // the check follows only a pair written whole
        if (!writeLutFiles(lut, paths.lutImage, paths.cube) || !writeLutCheck(check, paths))
            complete = false;
    }
    return complete;
}

int runResultPhase(cv::Mat& image, const CheckerList& checkers, const ChartReference& reference,
                   bool batchMode, const WorkingPaths& paths) {
    ResultWindow window;
    ExportProgress progress;
    // without a batch the fitted chart shows at once; with one, under its count
    progress.fitted = [&] {
        if (batchMode) return;
        showResult(window, image, kResultTitle);
        cv::waitKey(1);
    };
    progress.photos = [&](int done, int total) {
        const std::string title =
            "Correcting photos: " + std::to_string(done) + " of " + std::to_string(total);
        if (window.shown)
            setResultTitle(window, title);
        else
            showResult(window, image, title);
        cv::waitKey(1);  // the window's events; a key pressed during the batch is dropped
    };
    progress.photosDone = [&] {
        if (!window.made) return;
        cv::waitKey(1);
        setResultTitle(window, kResultTitle);
    };

    bool complete = true;
    for (const auto& checker : checkers) {
        if (!exportChart(image, checker, reference, batchMode, paths, progress)) complete = false;
        showResult(window, image, kResultTitle);
    }
    // any key ends it, and so does closing the window
    while (cv::waitKey(kResultPollMs) == -1 && !windowClosed(kResultTitle)) {
    }
    cv::destroyAllWindows();
    return complete ? kExitDone : kExitIncomplete;
}

}  // namespace tintsmith
