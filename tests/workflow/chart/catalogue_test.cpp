// The seven chart choices: detector types and reference colours.
#include <gtest/gtest.h>

#include "workflow/chart/chart.hpp"

namespace tintsmith {
namespace {

TEST(ChartCatalogue, DetectorTypesAndBuiltInReferences) {
    for (int choice : {0, 2, 3, 4}) {
        ChartReference reference = chartReference(choice);
        EXPECT_EQ(reference.detectorType, cv::mcc::MCC24) << choice;
        EXPECT_FALSE(reference.builtIn) << choice;
        EXPECT_EQ(reference.colours.rows, 24);
        EXPECT_EQ(reference.colours.cols, 1);
        EXPECT_EQ(reference.colours.type(), CV_64FC3);
    }
    ChartReference classic = chartReference(1);
    EXPECT_EQ(classic.detectorType, cv::mcc::MCC24);
    EXPECT_TRUE(classic.builtIn);
    EXPECT_EQ(classic.constColor, cv::ccm::COLORCHECKER_Macbeth);
    EXPECT_TRUE(classic.colours.empty());

    // The last two rows cross: detector type 1 with colours 2, type 2 with colours 1.
    ChartReference digitalSg = chartReference(5);
    EXPECT_EQ(digitalSg.detectorType, 1);
    EXPECT_EQ(digitalSg.constColor, 2);
    EXPECT_EQ(digitalSg.patchCount, 140);
    ChartReference vinyl = chartReference(6);
    EXPECT_EQ(vinyl.detectorType, 2);
    EXPECT_EQ(vinyl.constColor, 1);
    EXPECT_EQ(vinyl.patchCount, 18);
    EXPECT_TRUE(vinyl.colours.empty());
}

TEST(ChartCatalogue, TablesAreScaledCopiesOfTheConstants) {
    ChartReference clone = chartReference(0);
    // OpenCV divides a matrix by multiplying with 1/255, one rounding away from v/255.
    const double ulp = 1e-16;
    EXPECT_NEAR(clone.colours.at<cv::Vec3d>(0)[0], 115 / 255.0, ulp);
    EXPECT_NEAR(clone.colours.at<cv::Vec3d>(0)[1], 82 / 255.0, ulp);
    EXPECT_NEAR(clone.colours.at<cv::Vec3d>(0)[2], 69 / 255.0, ulp);
    EXPECT_EQ(clone.colours.at<cv::Vec3d>(11)[0], 1.0);  // 255 scales to exactly 1
    EXPECT_EQ(chartReference(3).colours.at<cv::Vec3d>(17)[0], 0.0);
    EXPECT_EQ(chartReference(2).colours.at<cv::Vec3d>(23)[1], 1.0);
    EXPECT_NEAR(chartReference(2).colours.at<cv::Vec3d>(23)[2], 249 / 255.0, ulp);
    EXPECT_EQ(chartReference(4).colours.at<cv::Vec3d>(12)[0], 0.0);
    EXPECT_NEAR(chartReference(4).colours.at<cv::Vec3d>(12)[2], 158 / 255.0, ulp);

    // scaling works on a copy: the constants stay on 0..255
    cv::Mat table = referenceTable(0);
    EXPECT_EQ(table.at<cv::Vec3d>(0), cv::Vec3d(115, 82, 69));
    for (int choice : {0, 2, 3, 4}) {
        double low, high;
        cv::minMaxLoc(referenceTable(choice).reshape(1), &low, &high);
        EXPECT_GE(low, 0);
        EXPECT_LE(high, 255);
        cv::Mat scaled = referenceTable(choice) / 255.0;
        EXPECT_EQ(cv::norm(scaled, chartReference(choice).colours, cv::NORM_INF), 0) << choice;
    }
    EXPECT_TRUE(referenceTable(1).empty());
}

}  // namespace
}  // namespace tintsmith
