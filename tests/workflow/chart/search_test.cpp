// The further chart search: the sample chart photo placed in larger frames is
// found by the views and handed back as the first look finds it in the photo
// itself; the first look stays as it was; refused patterns are counted.
#include <memory>
#include <utility>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "workflow/chart/chart.hpp"
#include "workflow/fixtures.hpp"

namespace tintsmith {
namespace {

// A test that refuses the first chart it is shown and accepts every later
// one: the first look's chart then sends the search on.
ChartTest refusingFirst() {
    auto seen = std::make_shared<bool>(false);
    return [seen](const cv::Ptr<cv::mcc::CChecker>&) { return std::exchange(*seen, true); };
}

// The sample photo at `at` in a frame of `size` filled with noise of a grey
// scene, so that the frame's edges hold nothing chart-like.
cv::Mat framedSample(cv::Size size, cv::Point at) {
    cv::Mat frame(size, CV_8UC3);
    cv::randn(frame, cv::Scalar::all(110), cv::Scalar::all(12));
    fittedSample().photo.copyTo(frame(cv::Rect(at, fittedSample().photo.size())));
    return frame;
}

// A frame's size, and where the sample photo goes in it.
struct Placement {
    cv::Size frame;
    cv::Point at;
};

TEST(ChartSearch, AChartPlacedAnywhereIsMappedBackAndMeasuredAsInThePhotoItself) {
    const cv::Ptr<cv::mcc::CChecker>& sample = fittedSample().checkers.front();
    const std::vector<cv::Point2f> sampleBox = sample->getBox();
    const Placement placements[] = {
        {{1300, 900}, {0, 0}},         // views at full size, the chart near the top edge
        {{1600, 1100}, {360, 276}},    // the bottom right corner
        {{3000, 2200}, {1500, 1100}},  // shrunk views: measured again at full size
        {{2600, 3400}, {20, 2500}},    // upright, the chart low at the left edge
    };
    for (const Placement& placement : placements) {
        SCOPED_TRACE(::testing::Message() << placement.frame << " at " << placement.at);
        const cv::Mat framed = framedSample(placement.frame, placement.at);
        const ChartFound found = findChart(framed, cv::mcc::MCC24, refusingFirst());
        EXPECT_TRUE(found.searched);
        EXPECT_EQ(found.refused, 1);
        ASSERT_EQ(found.checkers.size(), 1u);
        // the detector's own first look at these frames places the corners up
        // to 12 pixels from where it places them in the sample photo (a sixth
        // of the 73-pixel patch pitch); a wrong border, offset or scale moves
        // them by a patch or more
        constexpr double kCornerTolerance = 15;
        const std::vector<cv::Point2f> box = found.checkers.front()->getBox();
        ASSERT_EQ(box.size(), sampleBox.size());
        for (size_t i = 0; i < box.size(); ++i)
            EXPECT_LE(cv::norm(box[i] - (sampleBox[i] + cv::Point2f(placement.at))),
                      kCornerTolerance)
                << "corner " << i;
        // the patch means are taken inside each patch, so corners that far
        // apart move them by well under one step of 255 (measured: all within
        // one step); a chart measured on shrunk pixels blurs the patch edges in
        constexpr double kColourTolerance = 1.0 / 255;
        const cv::Mat measured = measuredPatchColours(found.checkers.front());
        ASSERT_EQ(measured.rows, fittedSample().measured.rows);
        for (int patch = 0; patch < measured.rows; ++patch)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(measured.at<cv::Vec3d>(patch)[c],
                            fittedSample().measured.at<cv::Vec3d>(patch)[c], kColourTolerance)
                    << "patch " << patch << ", channel " << c;
    }
}

// A chart 120 pixels wide in a 12-megapixel frame is found in an enlarged
// tile and mapped back through the enlargement.
TEST(ChartSearch, ASmallChartIsMappedBackFromAnEnlargedTile) {
    constexpr double kShrink = 0.27;  // the sample's chart, 437 pixels wide, to 118
    const cv::Point at(2700, 2100);
    cv::Mat frame(3000, 4000, CV_8UC3), small;
    cv::randn(frame, cv::Scalar::all(110), cv::Scalar::all(12));
    cv::resize(fittedSample().photo, small, {}, kShrink, kShrink, cv::INTER_AREA);
    small.copyTo(frame(cv::Rect(at, small.size())));
    const ChartFound found = findChart(frame, cv::mcc::MCC24, refusingFirst());
    ASSERT_EQ(found.checkers.size(), 1u);
    // the sample's corners shrunk, within the 15 pixels above shrunk alike
    constexpr double kCornerTolerance = 15 * kShrink;
    const std::vector<cv::Point2f> sampleBox = fittedSample().checkers.front()->getBox();
    const std::vector<cv::Point2f> box = found.checkers.front()->getBox();
    for (size_t i = 0; i < box.size(); ++i)
        EXPECT_LE(cv::norm(box[i] - (sampleBox[i] * float(kShrink) + cv::Point2f(at))),
                  kCornerTolerance)
            << "corner " << i;
}

// The first look is the detection of old: its chart is taken as it comes and
// the search never runs.
TEST(ChartSearch, TheFirstLooksChartIsTakenAsItIs) {
    const ChartFound found = findChart(fittedSample().photo, cv::mcc::MCC24);
    EXPECT_FALSE(found.searched);
    EXPECT_EQ(found.refused, 0);
    ASSERT_EQ(found.checkers.size(), 1u);
    EXPECT_EQ(found.checkers.front()->getBox(), fittedSample().checkers.front()->getBox());
    EXPECT_TRUE(sameBytes(fittedSample().measured, measuredPatchColours(found.checkers.front())));
}

TEST(ChartSearch, NothingAcceptableEndsEmptyAndCountsWhatWasRefused) {
    // no chart at all: searched, nothing seen. Regression: in smooth noise
    // the views found loose chart-like patterns, and the run wrote their LUT
    cv::Mat smoothNoise;
    cv::resize(randomImage(31, 41, 7), smoothNoise, {640, 480}, 0, 0, cv::INTER_CUBIC);
    const ChartFound none = findChart(smoothNoise, cv::mcc::MCC24);
    EXPECT_TRUE(none.searched);
    EXPECT_EQ(none.refused, 0);
    EXPECT_TRUE(none.checkers.empty());
    // a chart refused wherever it is seen: the first look and the views count
    const ChartFound refused = findChart(fittedSample().photo, cv::mcc::MCC24,
                                         [](const cv::Ptr<cv::mcc::CChecker>&) { return false; });
    EXPECT_TRUE(refused.checkers.empty());
    EXPECT_GT(refused.refused, 1);
    // nothing the detector could look at is not searched
    EXPECT_FALSE(findChart(cv::Mat(), cv::mcc::MCC24).searched);
}

}  // namespace
}  // namespace tintsmith
