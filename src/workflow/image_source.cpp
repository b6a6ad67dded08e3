// The reference image's sources (cc.jpg read whole, or the camera's live
// detection window) with their messages, and the one form every chart
// detection takes.
#include <cstdio>
#include <iostream>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "ui/ui.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

const cv::Scalar kOutlineColour(0, 250, 0, 0);  // green in BGR
constexpr int kOutlineThickness = 2;

// The detector wants 8-bit BGR; a camera may deliver grey or BGRA frames.
cv::Mat asBgr8(const cv::Mat& image) {
    if (image.type() == CV_8UC3) return image;
    cv::Mat bytes = image;
    if (image.depth() != CV_8U) {
        double scale = image.depth() == CV_16U ? 1.0 / 257 : 1.0;
        image.convertTo(bytes, CV_8U, scale);
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

}  // namespace

CheckerList detectCharts(const cv::Mat& image, int detectorType) {
    // The library throws on an empty image; an empty image holds no chart.
    if (image.empty() || (image.channels() != 1 && image.channels() != 3 && image.channels() != 4))
        return {};
    cv::Ptr<cv::mcc::CCheckerDetector> detector = cv::mcc::CCheckerDetector::create();
    cv::Ptr<cv::mcc::DetectorParameters> parameters = cv::mcc::DetectorParameters::create();
    bool found = detector->process(asBgr8(image), static_cast<cv::mcc::TYPECHART>(detectorType), 1,
                                   false, parameters);
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

cv::Mat previewFrame(const cv::Mat& frame, int detectorType) {
    cv::Mat preview = frame.clone();
    CheckerList checkers = detectCharts(frame, detectorType);
    if (checkers.empty()) {
        std::printf("ChartColor not detected - Show the ColorChecker to the Camera\n");
        std::fflush(stdout);
    } else {
        outlineCharts(preview, checkers);
    }
    return preview;
}

cv::Mat runPreviewLoop(cv::VideoCapture& capture, int detectorType) {
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
        int key = cv::waitKey(10);
        // closing the window is taken as ESC
        if ((key & 0xff) == 27 || (shown && windowClosed(kDetectionTitle))) {
            cv::destroyAllWindows();
            break;
        }
        // At the end of the stream the last frame and its window stay.
        if (!capture.grab()) break;
    }
    return frame.clone();
}

int acquireChartImage(const Settings& settings, const WorkingPaths& paths, int detectorType,
                      cv::Mat& image) {
    switch (settings.source) {
        case Source::File: {
            ImageRead read = readImageWhole(paths.referenceImage);
            if (read.outcome != ReadOutcome::Read) {
                // a missing cc.jpg needs no more words; anything else says why
                std::cout << "Invalid Image!" << std::endl;
                if (read.outcome != ReadOutcome::Missing)
                    std::cout << paths.referenceImage << ": " << read.reason << std::endl;
                return kExitInvalidImage;
            }
            image = read.image;
            break;
        }
        case Source::Camera: {
            cv::VideoCapture capture;
            if (!capture.open(settings.cameraIndex, cv::CAP_ANY)) {
                std::cout << "Unable to open camera!" << std::endl;
                return kExitNoCamera;
            }
            image = runPreviewLoop(capture, detectorType);
            break;
        }
        case Source::None:
            break;
    }
    return kExitDone;
}

}  // namespace tintsmith
