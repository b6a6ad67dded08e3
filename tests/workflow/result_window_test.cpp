// What the result window shows, drawn off-screen.
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

TEST(ResultWindow, TheLossIsDrawnInRedAtTheTopLeft) {
    cv::Mat image(300, 400, CV_8UC3, cv::Scalar::all(128));
    drawLoss(image, 4.25);
    cv::Mat red;
    cv::inRange(image(cv::Rect(10, 10, 200, 50)), cv::Scalar(0, 0, 200), cv::Scalar(60, 60, 255),
                red);
    EXPECT_GT(cv::countNonZero(red), 50);
    EXPECT_EQ(cv::countNonZero(image(cv::Rect(0, 70, 400, 230)).reshape(1) != 128), 0);
    EXPECT_EQ(batchTitle(3, 40), "Correcting photos: 3 of 40");
}

}  // namespace
}  // namespace tintsmith
