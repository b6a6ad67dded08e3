// One pass of the live detection window, without a display.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

const char kNotDetected[] = "ChartColor not detected - Show the ColorChecker to the Camera\n";

TEST(Preview, OutlinesGoOnlyIntoThePreviewCopy) {
    cv::Mat frame = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR);
    cv::Mat untouched = frame.clone();
    testing::internal::CaptureStdout();
    cv::Mat preview = previewFrame(frame, cv::mcc::MCC24);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(cv::norm(frame, untouched, cv::NORM_INF), 0);  // the raw frame stays clean
    cv::Mat green;
    cv::inRange(preview, cv::Scalar(0, 240, 0), cv::Scalar(10, 255, 10), green);
    EXPECT_GT(cv::countNonZero(green), 500);  // outlines drawn in (0, 250, 0)
}

TEST(Preview, AFrameWithoutAChartIsToldOncePerFrame) {
    cv::Mat frame(240, 320, CV_8UC3, cv::Scalar(40, 90, 160));
    testing::internal::CaptureStdout();
    cv::Mat first = previewFrame(frame, cv::mcc::MCC24);
    cv::Mat second = previewFrame(frame, cv::mcc::MCC24);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kNotDetected) + kNotDetected);
    EXPECT_EQ(cv::norm(first, frame, cv::NORM_INF), 0);
}

TEST(Preview, AnEmptyFrameGivesAnEmptyPreview) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(previewFrame(cv::Mat(), cv::mcc::MCC24).empty());
    testing::internal::GetCapturedStdout();
}

}  // namespace
}  // namespace tintsmith
