// The LUT export of one chart as the program runs it, without its windows, for
// the benchmarks: outline, measure, lattice, fit, loss, infer, the LUT pair and
// its check.
#pragma once

#include "workflow/chart/chart.hpp"
#include "workflow/colour/colour.hpp"
#include "workflow/lut/lut.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

// True when both LUT files and both check files were written.
inline bool exportLut(cv::Mat& image, const cv::Ptr<cv::mcc::CChecker>& checker,
                      const ChartReference& reference, const WorkingPaths& paths) {
    const cv::Mat checkPhoto = lutCheckPhoto(image);
    outlineCharts(image, {checker});
    const cv::Mat measured = measuredPatchColours(checker);
    const ImageRead lattice = readImageWhole(paths.lattice);
    if (!lattice.outcome.done) return false;
    Fit fit = fitModel(measured, reference);
    if (!fit.outcome.done) return false;
    ResultWindow window;  // as the program draws into a photo that fits the screen
    drawLoss(window, image, fit.loss);
    LutCheckInput check = lutCheckInput(checkPhoto, measured, reference, *fit.model, fit.loss);
    check.chartOutline = chartOutline(checker, double(checkPhoto.cols) / image.cols);
    const cv::Mat lut = correctImage(lattice.image, *fit.model);
    fit.model.reset();
    LutVerdict verdict;  // judged before writing, as the program does
    if (!judgeLut(check, lut, verdict).done) return false;
    const LutFilesWritten written = writeLutFiles(lut, paths.lutImage, paths.cube);
    if (!written.png.done || !written.cube.done) return false;
    const LutCheckWritten checked =
        writeLutCheck(check, paths.cube, paths.checkCsv, paths.checkPicture);
    return checked.check.done && checked.csv.done && checked.picture.done;
}

}  // namespace tintsmith
