// What the result window shows, drawn off-screen: a photo that fits the screen
// as it is, a larger one scaled to fit with its outline and loss as legible.
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "workflow/fixtures.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

// Pixels of the loss's red and of the outline's green in `area`.
int redPixels(const cv::Mat& area) {
    cv::Mat red;
    cv::inRange(area, cv::Scalar(0, 0, 200), cv::Scalar(60, 60, 255), red);
    return cv::countNonZero(red);
}
int greenPixels(const cv::Mat& image) {
    cv::Mat green;
    cv::inRange(image, cv::Scalar(0, 240, 0), cv::Scalar(10, 255, 10), green);
    return cv::countNonZero(green);
}

TEST(ResultWindow, APhotoThatFitsIsShownAsItIs) {
    // room for the window's frame: 24 pixels across and 72 down
    EXPECT_EQ(fitScale({1240, 824}, {1920, 1080}), 1.0);
    EXPECT_EQ(fitScale({1896, 1008}, {1920, 1080}), 1.0);
    EXPECT_DOUBLE_EQ(fitScale({3792, 1008}, {1920, 1080}), 0.5);
    EXPECT_DOUBLE_EQ(fitScale({2448, 3264}, {1920, 1080}), 1008.0 / 3264);
    EXPECT_EQ(fitScale({8000, 6000}, {0, 0}), 1.0);  // no screen known: as today

    cv::Mat image(300, 400, CV_8UC3, cv::Scalar::all(128));
    ResultWindow window;
    prepareResult(window, image, {1920, 1080});
    drawLoss(window, image, 4.25);
    EXPECT_TRUE(window.view.empty());
    EXPECT_GT(redPixels(image(cv::Rect(10, 10, 200, 50))), 50);
    EXPECT_EQ(cv::countNonZero(image(cv::Rect(0, 70, 400, 230)).reshape(1) != 128), 0);
    EXPECT_EQ(batchTitle(3, 40), "Correcting photos: 3 of 40");
}

// A 12-megapixel chart photo on a 1920 x 1080 screen: the view is within the
// screen, and its outline and loss are drawn at the view's own scale, as
// thick and as large as on the photo itself.
TEST(ResultWindow, ALargePhotoIsScaledToFitWithItsOutlineAndLossLegible) {
    cv::Mat photo;
    cv::resize(fittedSample().photo, photo, {4000, 2658}, 0, 0, cv::INTER_CUBIC);
    const cv::Ptr<cv::mcc::CChecker> checker = detectCharts(photo, cv::mcc::MCC24).at(0);
    ResultWindow window;
    prepareResult(window, photo, {1920, 1080});
    ASSERT_FALSE(window.view.empty());
    EXPECT_LE(window.view.cols, 1920 - 24);
    EXPECT_LE(window.view.rows, 1080 - 72);
    cv::Mat image = photo.clone();
    outlineResult(window, image, checker);
    drawLoss(window, image, 4.25);
    // the loss is as large in the view as on the photo; the outline, drawn 2
    // pixels wide at both scales, covers as much of the view as a scaled copy
    // of the photo's outline covers about a third of
    EXPECT_NEAR(redPixels(window.view(cv::Rect(10, 10, 200, 50))),
                redPixels(image(cv::Rect(10, 10, 200, 50))), 10);
    cv::Mat shrunk;
    cv::resize(image, shrunk, window.view.size(), 0, 0, cv::INTER_AREA);
    EXPECT_GT(greenPixels(window.view), 2 * greenPixels(shrunk));
}

}  // namespace
}  // namespace tintsmith
