// The sample chart photo, its one chart and the model fitted on it with the
// clone reference, as a run on the photo would fit it; made once per process.
#pragma once

#include <stdexcept>

#include <opencv2/imgcodecs.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {

struct FittedSample {
    cv::Mat photo;  // as read: tests draw into copies
    CheckerList checkers;
    cv::Mat measured;  // the chart's patches
    cv::ccm::ColorCorrectionModel model;
};

inline const FittedSample& fittedSample() {
    static const FittedSample sample = [] {
        cv::Mat photo = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR);
        CheckerList checkers = detectCharts(photo, cv::mcc::MCC24);
        if (checkers.size() != 1) throw std::runtime_error("not one chart in the sample photo");
        cv::Mat measured = measuredPatchColours(checkers.front());
        FitResult fit = fitModel(measured, chartReference(0));
        if (!fit.ok) throw std::runtime_error(fit.failure);
        return FittedSample{photo, checkers, measured, *fit.model};
    }();
    return sample;
}

}  // namespace tintsmith
