// The fit of the colour-correction model on the measured patches of one chart.
#include <string>

#include "workflow/chart/chart.hpp"

namespace tintsmith {

Fit fitModel(const cv::Mat& measured, const ChartReference& reference) {
    Fit result;
    // A measurement paired with a reference of another patch count corrupts
    // the library's heap, so it never gets that far.
    if (measured.rows != reference.patchCount || measured.cols != 1 || measured.channels() != 3) {
        result.outcome = failed("The detected chart has " + std::to_string(measured.total()) +
                                " patches but the chosen chart type has " +
                                std::to_string(reference.patchCount) +
                                "; choose the chart type that is in the photo");
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
    } catch (const cv::Exception&) {
        // the library gives up when too few patches are left once the
        // saturated ones are out: name over-exposure when that is the cause
        cv::Mat colours;
        measured.convertTo(colours, CV_64FC3);
        int clipped = 0;
        for (int i = 0; i < colours.rows; ++i)
            clipped += colourClipped(colours.at<cv::Vec3d>(i)) ? 1 : 0;
        result.outcome = failed(
            clipped > measured.rows / 4
                ? "The colour correction could not be fitted: " + std::to_string(clipped) + " of " +
                      std::to_string(measured.rows) +
                      " patches are clipped, too bright to measure; expose the chart darker "
                      "and photograph it again"
                : "The colour correction could not be fitted: the chart's patches are too "
                  "bright or too dark to measure; photograph the chart again in even, softer "
                  "light");
    }
    return result;
}

}  // namespace tintsmith
