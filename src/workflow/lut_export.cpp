// The LUT export of one chart, the heart of a run: the fit, the lattice through
// the model, the batch, then the LUT pair and its check. The lattice is read
// before the model is built, so a missing one is told even when the fit then
// fails; the batch runs before either LUT file is written; the check follows
// only a pair written whole.
#include <filesystem>
#include <iostream>

#include <opencv2/imgcodecs.hpp>

#include "ui/ui.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr double kLossFontScale = 2.0;
constexpr std::uint32_t kLossColour = 0xff0000;  // red

}  // namespace

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

}  // namespace tintsmith
