// The cached correction against the plain sequence (bgrToModelInput, infer,
// modelOutputToBgr), byte for byte.
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/fixtures.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

// A model fitted onto references pushed far outside 0..1, so that its output
// leaves 0..1 in both directions for much of the colour cube.
cv::ccm::ColorCorrectionModel harshModel() {
    const cv::Mat& measured = fittedSample().measured;
    ChartReference reference = chartReference(0);
    reference.colours = measured * 1.6 - cv::Scalar::all(0.2);
    FitResult fit = fitModel(measured, reference);
    if (!fit.ok) throw std::runtime_error(fit.failure);
    return *fit.model;
}

std::size_t distinctColours(const cv::Mat& image) {
    std::set<std::uint32_t> seen;
    for (int row = 0; row < image.rows; ++row)
        for (int col = 0; col < image.cols; ++col) {
            cv::Vec3b pixel = image.at<cv::Vec3b>(row, col);
            seen.insert(pixel[0] | pixel[1] << 8 | std::uint32_t(pixel[2]) << 16);
        }
    return seen.size();
}

// Both forms of the cached correction, each with its own cache, against the
// plain sequence.
void expectExact(const cv::Mat& image, cv::ccm::ColorCorrectionModel& model) {
    const cv::Mat plain = correctImage(image, model);
    CorrectionCache cache;
    EXPECT_TRUE(sameBytes(plain, correctImageCached(image, model, cache)));
    CorrectionCache inPlaceCache;
    cv::Mat copy = image.clone();
    correctImageCachedInPlace(copy, model, inPlaceCache);
    EXPECT_TRUE(sameBytes(plain, copy));
}

// ---------------------------------------------------------------------------
// Exactness of the cached correction.
// ---------------------------------------------------------------------------

TEST(FastCorrection, MatchesThePlainSequenceOnRandomPhotos) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    // a small one takes the plain path, the larger ones the table
    for (cv::Size size : {cv::Size(37, 23), cv::Size(640, 480), cv::Size(1001, 333)}) {
        SCOPED_TRACE(size);
        expectExact(randomImage(size.height, size.width, 7 + size.area()), model);
        expectExact(paletteImage(size.height, size.width, 5000, 11 + size.area()), model);
    }
}

TEST(FastCorrection, MatchesThePlainSequenceOnTheSampleChartPhoto) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    cv::Mat chart = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR);
    ASSERT_FALSE(chart.empty());
    expectExact(chart, model);
}

TEST(FastCorrection, MatchesThePlainSequenceOnEveryColour) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer build slows our own loops about tenfold: a sixteenth of the
    // cube, scattered over all of it, keeps this test within its time budget.
    const int side = 1024;
#else
    const int side = 4096;  // 4096 x 4096 = every 24-bit colour once
#endif
    // pixel i holds colour i * 2654435761 mod 2^24: an odd factor, so distinct
    // pixels get distinct colours, and neighbours land on far-apart table pages
    cv::Mat image(side, side, CV_8UC3);
    for (std::uint32_t i = 0; i < std::uint32_t(side) * side; ++i) {
        const std::uint32_t key = (i * 2654435761u) & 0xFFFFFF;
        std::uint8_t* pixel = image.data + 3 * std::size_t(i);
        pixel[0] = std::uint8_t(key);
        pixel[1] = std::uint8_t(key >> 8);
        pixel[2] = std::uint8_t(key >> 16);
    }
    const cv::Mat plain = correctImage(image, model);
    CorrectionCache cache;
    EXPECT_TRUE(sameBytes(plain, correctImageCached(image, model, cache)));
    // through the table, each colour through the model exactly once
    EXPECT_NE(cache.table, nullptr);
    EXPECT_EQ(cache.evaluated, std::size_t(side) * side);
}

// Batch workers correct their photos through one cache at once: photos that
// share many colours meet them new on several threads together.
TEST(FastCorrection, ThreadsSharingOneCacheMatchThePlainSequence) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    std::vector<cv::Mat> photos, plain;
    for (int i = 0; i < 4; ++i) {
        photos.push_back(paletteImage(480, 640, 30000, 40 + i % 2));
        plain.push_back(correctImage(photos.back(), model));
    }
    cv::Mat both;
    cv::hconcat(photos[0], photos[1], both);
    CorrectionCache cache;
    std::vector<std::thread> threads;
    for (cv::Mat& photo : photos)
        threads.emplace_back([&] { correctImageCachedInPlace(photo, model, cache); });
    for (std::thread& thread : threads) thread.join();
    for (std::size_t i = 0; i < photos.size(); ++i)
        EXPECT_TRUE(sameBytes(plain[i], photos[i])) << i;
    EXPECT_EQ(cache.evaluated, distinctColours(both));  // each stored once
}

TEST(FastCorrection, SaturatesOutputsOutside0To1LikeThePlainSequence) {
    cv::ccm::ColorCorrectionModel model = harshModel();
    cv::Mat image = randomImage(512, 512, 3);
    // the premise: this model leaves 0..1 on both sides by more than a tenth,
    // far enough that saturation, not rounding, decides those bytes
    cv::Mat raw = model.infer(bgrToModelInput(image), false).reshape(1);
    double lowest = 0, highest = 0;
    cv::minMaxLoc(raw, &lowest, &highest);
    ASSERT_LT(lowest, -0.1);
    ASSERT_GT(highest, 1.1);
    expectExact(image, model);
}

// The formula is trusted only for the model it was written for: another
// linearisation or matrix shape takes the plain sequence, still exact.
TEST(FastCorrection, AModelTheFormulaDoesNotReproduceTakesThePlainSequence) {
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        cv::ccm::ColorCorrectionModel model(fittedSample().measured, cv::ccm::COLORCHECKER_Macbeth);
        if (variant == 0)
            model.setCCM_TYPE(cv::ccm::CCM_4x3);
        else
            model.setLinear(cv::ccm::LINEARIZATION_COLORPOLYFIT);
        model.run();
        const cv::Mat image = randomImage(480, 640, 21);
        CorrectionCache cache;
        EXPECT_TRUE(sameBytes(correctImage(image, model), correctImageCached(image, model, cache)));
        EXPECT_TRUE(cache.checked);
        EXPECT_EQ(cache.formula, nullptr);
    }
    // the sample model is the one it was written for
    cv::ccm::ColorCorrectionModel sample = fittedSample().model;
    CorrectionCache cache;
    correctImageCached(randomImage(480, 640, 22), sample, cache);
    EXPECT_NE(cache.formula, nullptr);
}

TEST(FastCorrection, EachColourGoesThroughTheModelOnce) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    CorrectionCache cache;
    cv::Mat first = paletteImage(600, 800, 20000, 5);
    correctImageCached(first, model, cache);
    EXPECT_EQ(cache.evaluated, distinctColours(first));

    // the same photo again costs no model call; a second one only its new colours
    correctImageCached(first, model, cache);
    EXPECT_EQ(cache.evaluated, distinctColours(first));
    cv::Mat both;
    cv::Mat second = paletteImage(600, 800, 20000, 6);
    cv::hconcat(first, second, both);
    cv::Mat again = correctImageCached(second, model, cache);
    EXPECT_EQ(cache.evaluated, distinctColours(both));
    EXPECT_TRUE(sameBytes(correctImage(second, model), again));
}

TEST(FastCorrection, ReadsAndWritesOnlyTheRegionOfAView) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    cv::Mat whole = randomImage(700, 900, 9);
    const cv::Mat original = whole.clone();
    const cv::Rect inner(13, 17, 800, 600);  // rows are not continuous
    cv::Mat view = whole(inner);
    const cv::Mat plain = correctImage(view, model);

    CorrectionCache cache;
    EXPECT_TRUE(sameBytes(plain, correctImageCached(view, model, cache)));
    correctImageCachedInPlace(view, model, cache);
    EXPECT_TRUE(sameBytes(plain, whole(inner)));
    // outside the view nothing changed
    whole(inner).setTo(cv::Scalar::all(0));
    cv::Mat outside = original.clone();
    outside(inner).setTo(cv::Scalar::all(0));
    EXPECT_TRUE(sameBytes(outside, whole));
}

TEST(FastCorrection, LeavesOtherImageTypesToThePlainSequence) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    CorrectionCache cache;
    cv::Mat grey(400, 400, CV_8UC1), withAlpha(400, 400, CV_8UC4), deep(400, 400, CV_16UC3);
    cv::randu(grey, 0, 256);
    cv::randu(withAlpha, 0, 256);
    cv::randu(deep, 0, 65536);
    for (const cv::Mat& other : {grey, withAlpha, deep}) {
        SCOPED_TRACE(other.type());
        EXPECT_TRUE(sameBytes(correctImage(other, model), correctImageCached(other, model, cache)));
    }
    EXPECT_THROW(correctImage(cv::Mat(), model), cv::Exception);
    EXPECT_THROW(correctImageCached(cv::Mat(), model, cache), cv::Exception);
    EXPECT_EQ(cache.table, nullptr);  // nothing of theirs belongs in the table
}

// Guards against a failed model call leaving its colours marked as known with
// empty table entries: the next photo would come out black there.
TEST(FastCorrection, AFailedModelCallLeavesNoColourBehind) {
    cv::Mat chart = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR);
    cv::ccm::ColorCorrectionModel unfitted(cv::Mat(24, 1, CV_64FC3, cv::Scalar::all(0.5)),
                                           cv::ccm::COLORCHECKER_Macbeth);
    CorrectionCache cache;
    EXPECT_THROW(correctImageCached(chart, unfitted, cache), cv::Exception);
    ASSERT_NE(cache.table, nullptr);  // it failed on the table's path
    EXPECT_EQ(cache.evaluated, 0u);
    // the same cache then meets a model that works: every colour is evaluated
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    EXPECT_TRUE(sameBytes(correctImage(chart, model), correctImageCached(chart, model, cache)));
    EXPECT_EQ(cache.evaluated, distinctColours(chart));
}

}  // namespace
}  // namespace tintsmith
