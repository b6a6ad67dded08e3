// Detection and measuring on the sample chart photo, and the frames a camera
// may deliver.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/chart/chart.hpp"
#include "workflow/fixtures.hpp"

namespace tintsmith {
namespace {

// The sample chart's patch means (R, G, B on 0..255), as the detector of OpenCV 4.6
// measures them. The detector is deterministic, but its means are sums of
// floating-point work that another build may order differently: a quarter of
// a byte step covers that, where a wrong scale (1/256, 1/257) moves the
// bright patches by nearly a whole step or more.
constexpr double kPatchMeans[24][3] = {
    {152.4759, 102.7558, 75.4189},  {236.0009, 185.8692, 178.8876}, {105.6837, 149.9923, 189.1049},
    {111.6765, 133.6263, 64.8702},  {164.3157, 162.5995, 204.8763}, {138.3257, 217.4135, 210.2634},
    {254.2389, 157.0787, 67.1973},  {60.3200, 104.7674, 203.7424},  {250.9563, 119.5570, 126.8316},
    {113.7950, 63.6168, 114.4563},  {190.7191, 221.3152, 106.4601}, {254.1341, 192.4369, 54.3988},
    {0.7284, 67.6633, 184.0917},    {69.4083, 185.2367, 94.0248},   {239.6564, 85.9675, 78.0705},
    {254.5152, 224.0533, 79.5592},  {241.7213, 128.4561, 180.3900}, {0.6776, 156.7845, 207.6028},
    {246.9773, 246.9773, 246.8561}, {231.5900, 231.6061, 231.5672}, {196.3551, 198.3663, 197.4110},
    {148.5987, 150.7695, 150.0468}, {93.0891, 97.9725, 97.7612},    {39.4417, 41.5611, 40.5390}};
constexpr double kMeanTolerance = 0.25 / 255;

TEST(Measuring, TheSampleChartsTwentyFourPatchesOnZeroToOne) {
    ASSERT_EQ(fittedSample().checkers.size(), 1u);
    const cv::Mat measured = measuredPatchColours(fittedSample().checkers[0]);
    ASSERT_EQ(measured.rows, 24);
    ASSERT_EQ(measured.cols, 1);
    ASSERT_EQ(measured.type(), CV_64FC3);
    for (int patch = 0; patch < 24; ++patch)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(measured.at<cv::Vec3d>(patch)[c], kPatchMeans[patch][c] / 255,
                        kMeanTolerance)
                << "patch " << patch << ", channel " << c;
}

TEST(Detection, EmptyAndOddFramesNeverReachTheDetector) {
    EXPECT_TRUE(detectCharts(cv::Mat(), cv::mcc::SG140).empty());
    // the library throws on one channel; a grey camera frame is detected as colour
    EXPECT_TRUE(detectCharts(cv::Mat(50, 50, CV_8UC1, cv::Scalar(9)), cv::mcc::MCC24).empty());
    EXPECT_TRUE(detectCharts(cv::Mat(50, 50, CV_8UC4, cv::Scalar::all(9)), cv::mcc::MCC24).empty());
    EXPECT_TRUE(
        detectCharts(cv::Mat(50, 50, CV_16UC3, cv::Scalar::all(9)), cv::mcc::MCC24).empty());
    cv::Mat grey;
    cv::cvtColor(fittedSample().photo, grey, cv::COLOR_BGR2GRAY);
    EXPECT_NO_THROW(detectCharts(grey, cv::mcc::MCC24));
}

// A 16-bit camera frame reaches the detector as the 8-bit frame it extends:
// unscaled, every channel would saturate to white and no chart be found.
TEST(Detection, SixteenBitFramesAreScaledToEightBits) {
    const cv::Mat& photo = fittedSample().photo;
    cv::Mat deep, deepWithAlpha;
    photo.convertTo(deep, CV_16UC3, 257);
    cv::cvtColor(deep, deepWithAlpha, cv::COLOR_BGR2BGRA);
    EXPECT_TRUE(sameBytes(photo, detectorImage(deep)));
    EXPECT_TRUE(sameBytes(photo, detectorImage(deepWithAlpha)));
}

// Each chart type drawn from its reference colours, patch i where its layout
// puts it, on a grey ground: the detector finds it and its colours pass the
// colour test. Regression: the Digital SG's layout ran down columns of ten, so
// the check picture scattered its tiles and named its patches wrongly.
TEST(Detection, EachChartDrawnInItsLayoutIsFoundWithItsColours) {
    constexpr int kPatch = 60, kGap = 14;
    for (int choice : {1, 5, 6}) {
        const ChartReference reference = chartReference(choice);
        const cv::Mat colours = referenceSrgb(reference);
        const ChartLayout layout = chartLayout(reference.detectorType, colours.rows);
        const cv::Size chart(layout.columns * (kPatch + kGap) + kGap,
                             layout.rows * (kPatch + kGap) + kGap);
        cv::Mat photo(chart * 2, CV_8UC3, cv::Scalar::all(120));
        cv::Mat drawn =
            photo(cv::Rect(chart.width / 2, chart.height / 2, chart.width, chart.height));
        drawn.setTo(cv::Scalar::all(25));
        for (int i = 0; i < colours.rows; ++i) {
            const cv::Vec3d rgb = colours.at<cv::Vec3d>(i) * 255;
            cv::rectangle(drawn,
                          {kGap + layout.columnOf(i) * (kPatch + kGap),
                           kGap + layout.rowOf(i) * (kPatch + kGap), kPatch, kPatch},
                          cv::Scalar(rgb[2], rgb[1], rgb[0]), cv::FILLED);
        }
        const ChartFound found =
            findChart(photo, reference.detectorType, [&](const cv::Ptr<cv::mcc::CChecker>& c) {
                return chartColoursMatch(measuredPatchColours(c), reference).done;
            });
        EXPECT_EQ(found.checkers.size(), 1u) << reference.label;
    }
}

}  // namespace
}  // namespace tintsmith
