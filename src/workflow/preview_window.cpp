// The camera's live detection window: every frame searched for the chart and
// every chart found outlined, until ESC or the end of the stream.
#include <opencv2/highgui.hpp>

#include "ui/ui.hpp"
#include "workflow/chart/chart.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr int kEscKey = 27;
constexpr int kFrameDelayMs = 10;  // the loop's pace

}  // namespace

cv::Mat previewFrame(const cv::Mat& frame, cv::mcc::TYPECHART detectorType) {
    cv::Mat preview = frame.clone();
    const CheckerList checkers = detectCharts(frame, detectorType);
    if (checkers.empty())
        say("ChartColor not detected - Show the ColorChecker to the Camera");
    else
        outlineCharts(preview, checkers);
    return preview;
}

std::optional<cv::Mat> runPreviewLoop(cv::VideoCapture& capture, cv::mcc::TYPECHART detectorType) {
    ui::init(kDetectionTitle);
    cv::Mat frame;
    if (!capture.grab()) return frame;
    bool shown = false;
    for (;;) {
        capture.retrieve(frame, 0);
        cv::Mat preview = previewFrame(frame, detectorType);
        ui::endFrame();
        if (!preview.empty()) {
            cv::imshow(kDetectionTitle, preview);
            shown = true;
        }
        const int key = cv::waitKey(kFrameDelayMs);
        if ((key & 0xff) == kEscKey) {
            cv::destroyAllWindows();
            break;
        }
        // the close button cancels the run
        if (shown && windowClosed(kDetectionTitle)) {
            cv::destroyAllWindows();
            return std::nullopt;
        }
        // At the end of the stream the last frame and its window stay.
        if (!capture.grab()) break;
    }
    return frame.clone();
}

}  // namespace tintsmith
