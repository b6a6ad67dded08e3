// The fit of the model on the sample chart photo, and what it refuses.
#include <gtest/gtest.h>

#include "workflow/chart/chart.hpp"
#include "workflow/fixtures.hpp"

namespace tintsmith {
namespace {

struct SampleChart : ::testing::Test {
    const CheckerList& checkers = fittedSample().checkers;
};

TEST_F(SampleChart, EveryTwentyFourPatchChoiceFits) {
    ASSERT_EQ(checkers.size(), 1u);
    cv::Mat measured = measuredPatchColours(checkers[0]);
    for (int choice : {0, 1, 2, 3, 4}) {
        Fit fit = fitModel(measured, chartReference(choice));
        ASSERT_TRUE(fit.outcome.done) << choice << ": " << fit.outcome.reason;
        EXPECT_GT(fit.loss, 0.0) << choice;
    }
    // the classic chart against its built-in reference: about 4.3 for this photo
    EXPECT_NEAR(fitModel(measured, chartReference(1)).loss, 4.3, 0.5);
}

// Regression: an 18-patch measurement paired with a 24-patch reference
// corrupted the library's heap and aborted the process.
TEST(Fit, APatchCountMismatchIsRefusedBeforeTheLibrary) {
    cv::Mat eighteen(18, 1, CV_64FC3, cv::Scalar(0.2, 0.4, 0.6));
    for (int choice : {0, 1}) {
        Fit fit = fitModel(eighteen, chartReference(choice));
        EXPECT_FALSE(fit.outcome.done);
        EXPECT_NE(fit.outcome.reason.find("18 patches"), std::string::npos) << fit.outcome.reason;
    }
    cv::Mat twentyFour(24, 1, CV_64FC3, cv::Scalar(0.2, 0.4, 0.6));
    EXPECT_FALSE(fitModel(twentyFour, chartReference(6)).outcome.done);  // vinyl has 18
}

// Regression: with every patch saturated the library threw out of run().
TEST(Fit, AnOverExposedChartIsToldInWords) {
    cv::Mat white(24, 1, CV_64FC3, cv::Scalar::all(1.0));
    Fit fit = fitModel(white, chartReference(0));
    EXPECT_FALSE(fit.outcome.done);
    EXPECT_NE(fit.outcome.reason.find("24 of 24 patches are clipped, too bright to measure; "
                                      "expose the chart darker"),
              std::string::npos)
        << fit.outcome.reason;
}

// Regression: a chart photographed in grey gave a LUT pair and exit 0 in silence.
TEST_F(SampleChart, AChartWithoutColourIsToldApart) {
    const cv::Mat measured = measuredPatchColours(checkers[0]);
    EXPECT_TRUE(chartHasColour(measured));
    cv::Mat grey = measured.clone();
    for (int i = 0; i < grey.rows; ++i) {
        cv::Vec3d& c = grey.at<cv::Vec3d>(i);
        const double mean = (c[0] + c[1] + c[2]) / 3;
        c = cv::Vec3d(mean, mean + 2.0 / 255, mean - 2.0 / 255);  // a grey JPEG's two steps
    }
    EXPECT_FALSE(chartHasColour(grey));
}

}  // namespace
}  // namespace tintsmith
