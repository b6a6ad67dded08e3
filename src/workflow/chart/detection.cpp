// The one form every chart detection takes, the outline drawn around a chart
// found, and the mean colours measured on its patches.
#include <algorithm>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "workflow/chart/chart.hpp"

namespace tintsmith {
namespace {

const cv::Scalar kOutlineColour(0, 250, 0, 0);  // green in BGR
constexpr int kOutlineThickness = 2;

}  // namespace

cv::Mat detectorImage(const cv::Mat& frame) {
    if (frame.type() == CV_8UC3) return frame;
    cv::Mat bytes = frame;
    if (frame.depth() != CV_8U) {
        const double scale = frame.depth() == CV_16U ? 1.0 / 257 : 1.0;
        frame.convertTo(bytes, CV_8U, scale);
    }
    cv::Mat bgr;
    if (bytes.channels() == 1)
        cv::cvtColor(bytes, bgr, cv::COLOR_GRAY2BGR);
    else if (bytes.channels() == 4)
        cv::cvtColor(bytes, bgr, cv::COLOR_BGRA2BGR);
    else
        bgr = bytes;
    return bgr;
}

CheckerList detectCharts(const cv::Mat& image, cv::mcc::TYPECHART detectorType) {
    // The library throws on an empty image; an empty image holds no chart.
    if (image.empty() || (image.channels() != 1 && image.channels() != 3 && image.channels() != 4))
        return {};
    cv::Ptr<cv::mcc::CCheckerDetector> detector = cv::mcc::CCheckerDetector::create();
    cv::Ptr<cv::mcc::DetectorParameters> parameters = cv::mcc::DetectorParameters::create();
    const bool found = detector->process(detectorImage(image), detectorType, 1, false, parameters);
    parameters.release();
    if (!found) return {};
    return detector->getListColorChecker();
}

void outlineCharts(cv::Mat& image, const CheckerList& checkers) {
    for (const auto& checker : checkers) {
        cv::Ptr<cv::mcc::CCheckerDraw> drawer =
            cv::mcc::CCheckerDraw::create(checker, kOutlineColour, kOutlineThickness);
        drawer->draw(image);
    }
}

cv::Mat measuredPatchColours(const cv::Ptr<cv::mcc::CChecker>& checker) {
    // three profile rows per patch; column 1 holds each channel's mean on 0..255
    cv::Mat profile = checker->getChartsRGB();
    cv::Mat measured = profile.col(1).clone().reshape(3, profile.rows / 3);
    measured.convertTo(measured, -1, 1.0 / 255, 0);
    return measured;
}

double chartSide(const cv::Ptr<cv::mcc::CChecker>& checker) {
    const std::vector<cv::Point2f> box = checker->getBox();
    double side = 0;
    for (std::size_t i = 0; i < box.size(); ++i) {
        const double length = cv::norm(box[i] - box[(i + 1) % box.size()]);
        side = i == 0 ? length : std::min(side, length);
    }
    return side;
}

std::vector<cv::Point2f> chartOutline(const cv::Ptr<cv::mcc::CChecker>& checker, double scale) {
    std::vector<cv::Point2f> outline;
    for (const cv::Point2f& corner : checker->getBox()) outline.push_back(corner * scale);
    return outline;
}

ChartLayout chartLayout(cv::mcc::TYPECHART detectorType, int patches) {
    if (detectorType == cv::mcc::SG140 && patches == 140) return {14, 10};
    if (detectorType == cv::mcc::VINYL18 && patches == 18) return {6, 3};
    ChartLayout layout;
    layout.rows = std::max(1, (patches + layout.columns - 1) / layout.columns);
    return layout;
}

bool chartHasColour(const cv::Mat& measured) {
    // a grey JPEG's patches stay within a step or two of grey; the chart's
    // coloured patches lie tens of steps from it under any light
    constexpr double kLeastSpread = 8.0 / 255;
    cv::Mat colours;
    measured.reshape(3, int(measured.total())).convertTo(colours, CV_64FC3);
    for (int i = 0; i < colours.rows; ++i) {
        const cv::Vec3d c = colours.at<cv::Vec3d>(i);
        const double spread = std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});
        if (spread > kLeastSpread) return true;
    }
    return false;
}

}  // namespace tintsmith
