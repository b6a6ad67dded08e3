// Whether measured colours can be the chosen chart: real photos pass under
// any light, a wrong chart and a scene without one do not.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "workflow/chart/chart.hpp"
#include "workflow/patch_sets.hpp"

namespace tintsmith {
namespace {

constexpr int kClassic = 1, kClone = 0, kPassportVideo = 2, kLegacy = 3, kSpyder = 4;

const MeasuredSet* const kRealSets[] = {&kSampleChart,      &kDeskChart,         &kFloorChart,
                                        &kFloorBrightChart, &kLaptopScreenChart, &kKeyboardChart};

// Every real photo the first look finds, under its own, warm, cool and dim
// light, and over-exposed or on a screen (for the verdict to judge), is let
// through for each chart printed in the classic's order.
TEST(ChartColours, RealPhotosPassUnderAnyLight) {
    for (const MeasuredSet* set : kRealSets)
        for (Shot shot : {Shot::AsTaken, Shot::Warm, Shot::Cool, Shot::Dim, Shot::Screen})
            for (int choice : {kClassic, kClone, kLegacy}) {
                const Outcome matched =
                    chartColoursMatch(patchSet(*set, shot), chartReference(choice));
                EXPECT_TRUE(matched.done)
                    << "set " << (set - kRealSets[0]) << ", shot " << int(shot) << ", choice "
                    << choice << ": " << matched.reason;
            }
    EXPECT_TRUE(
        chartColoursMatch(patchSet(kSampleChart, Shot::Over18), chartReference(kClassic)).done);
}

TEST(ChartColours, AnotherChartOrNoChartIsRefusedWithWhatDiffers) {
    // the sample's right third: bark, wood chips and stone, six by four
    cv::Mat photo = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR);
    ASSERT_FALSE(photo.empty());
    cv::Mat scene(24, 1, CV_64FC3);
    for (int i = 0; i < 24; ++i) {
        const cv::Rect cell(860 + (i % 6) * 60, (i / 6) * 200, 60, 200);
        const cv::Scalar mean = cv::mean(photo(cell));
        scene.at<cv::Vec3d>(i) = cv::Vec3d(mean[2], mean[1], mean[0]) / 255;
    }
    const struct {
        cv::Mat measured;
        int choice;
        const char* reason;
    } rows[] = {
        {patchSet(kSampleChart), kPassportVideo, "of its 12 grey patches show colour"},
        {patchSet(kDeskChart, Shot::Warm), kPassportVideo, "grey patches show colour"},
        {patchSet(kSampleChart), kSpyder, "coloured patches are not in the chart's hues"},
        {patchSet(kKeyboardChart, Shot::Cool), kSpyder, "not in the chart's hues"},
        {scene, kClassic, "coloured patches are not in the chart's hues"},
        {patchSet(kSampleChart).rowRange(0, 18), kClassic, "it has 18 patches, the chart 24"},
    };
    for (const auto& row : rows) {
        const Outcome matched = chartColoursMatch(row.measured, chartReference(row.choice));
        EXPECT_FALSE(matched.done) << row.reason;
        EXPECT_NE(matched.reason.find(row.reason), std::string::npos) << matched.reason;
    }
}

// The greys are found in the reference itself, lightest first, for every
// chart: the Passport Video's twelve, in its own order, as well.
TEST(ChartColours, TheGreysOfEachReference) {
    EXPECT_EQ(neutralPatches(referenceSrgb(chartReference(kClassic))),
              (std::vector<int>{18, 19, 20, 21, 22, 23}));
    EXPECT_EQ(neutralPatches(referenceSrgb(chartReference(kPassportVideo))).size(), 12u);
    EXPECT_GE(neutralPatches(referenceSrgb(chartReference(5))).size(), 6u);  // Digital SG
}

// The sample is a classic chart: read as the clone, the closest other is it.
TEST(ChartColours, TheClosestOtherChartOfTheSampleIsTheClassic) {
    EXPECT_EQ(closestChartChoice(patchSet(kSampleChart), kClone), kClassic);
}

}  // namespace
}  // namespace tintsmith
