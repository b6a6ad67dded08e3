// The colour table against the plain correction sequence (bgrToModelInput,
// infer, modelOutputToBgr), byte for byte, and its rounding.
#include <cmath>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/batch/batch.hpp"
#include "workflow/colour/colour.hpp"
#include "workflow/fixtures.hpp"

namespace tintsmith {
namespace {

// A model fitted onto references pushed far outside 0..1, so that its output
// leaves 0..1 in both directions for much of the colour cube.
cv::ccm::ColorCorrectionModel harshModel() {
    const cv::Mat& measured = fittedSample().measured;
    ChartReference reference = chartReference(0);
    reference.colours = measured * 1.6 - cv::Scalar::all(0.2);
    Fit fit = fitModel(measured, reference);
    if (!fit.outcome.done) throw std::runtime_error(fit.outcome.reason);
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

// A copy of `image` corrected through the table.
cv::Mat corrected(ColourTable& table, const cv::Mat& image) {
    cv::Mat copy = image.clone();
    table.correctInPlace(copy);
    return copy;
}

// The table, fresh, against the plain sequence.
void expectExact(const cv::Mat& image, cv::ccm::ColorCorrectionModel& model) {
    ColourTable table(model);
    EXPECT_TRUE(sameBytes(correctImage(image, model), corrected(table, image)));
}

// --- Exactness of the table --------------------------------------------------

TEST(ColourTable, MatchesThePlainSequenceOnRandomPhotos) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    // a small one takes the plain path, the larger ones the table
    for (cv::Size size : {cv::Size(37, 23), cv::Size(640, 480), cv::Size(1001, 333)}) {
        SCOPED_TRACE(size);
        expectExact(randomImage(size.height, size.width, 7 + size.area()), model);
        expectExact(paletteImage(size.height, size.width, 5000, 11 + size.area()), model);
    }
}

TEST(ColourTable, MatchesThePlainSequenceOnTheSampleChartPhoto) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    cv::Mat chart = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR);
    ASSERT_FALSE(chart.empty());
    expectExact(chart, model);
}

TEST(ColourTable, MatchesThePlainSequenceOnEveryColour) {
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
    ColourTable table(model);
    EXPECT_TRUE(sameBytes(plain, corrected(table, image)));
    // through the table, each colour through the model exactly once
    EXPECT_TRUE(table.hasTable());
    EXPECT_EQ(table.evaluated(), std::size_t(side) * side);
}

// Batch workers correct their photos through one table at once: photos that
// share many colours meet them new on several threads together.
TEST(ColourTable, ThreadsSharingOneCacheMatchThePlainSequence) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    std::vector<cv::Mat> photos, plain;
    for (int i = 0; i < 4; ++i) {
        photos.push_back(paletteImage(480, 640, 30000, 40 + i % 2));
        plain.push_back(correctImage(photos.back(), model));
    }
    cv::Mat both;
    cv::hconcat(photos[0], photos[1], both);
    ColourTable table(model);
    std::vector<std::thread> threads;
    for (cv::Mat& photo : photos) threads.emplace_back([&] { table.correctInPlace(photo); });
    for (std::thread& thread : threads) thread.join();
    for (std::size_t i = 0; i < photos.size(); ++i)
        EXPECT_TRUE(sameBytes(plain[i], photos[i])) << i;
    EXPECT_EQ(table.evaluated(), distinctColours(both));  // each stored once
}

TEST(ColourTable, SaturatesOutputsOutside0To1LikeThePlainSequence) {
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
TEST(ColourTable, AModelTheFormulaDoesNotReproduceTakesThePlainSequence) {
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        cv::ccm::ColorCorrectionModel model(fittedSample().measured, cv::ccm::COLORCHECKER_Macbeth);
        if (variant == 0)
            model.setCCM_TYPE(cv::ccm::CCM_4x3);
        else
            model.setLinear(cv::ccm::LINEARIZATION_COLORPOLYFIT);
        model.run();
        const cv::Mat image = randomImage(480, 640, 21);
        ColourTable table(model);
        EXPECT_TRUE(sameBytes(correctImage(image, model), corrected(table, image)));
        EXPECT_TRUE(table.formulaChecked());
        EXPECT_FALSE(table.usesFormula());
    }
    // the sample model is the one it was written for
    cv::ccm::ColorCorrectionModel sample = fittedSample().model;
    ColourTable table(sample);
    corrected(table, randomImage(480, 640, 22));
    EXPECT_TRUE(table.usesFormula());
}

TEST(ColourTable, EachColourGoesThroughTheModelOnce) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    ColourTable table(model);
    cv::Mat first = paletteImage(600, 800, 20000, 5);
    corrected(table, first);
    EXPECT_EQ(table.evaluated(), distinctColours(first));

    // the same photo again costs no model call; a second one only its new colours
    corrected(table, first);
    EXPECT_EQ(table.evaluated(), distinctColours(first));
    cv::Mat both;
    cv::Mat second = paletteImage(600, 800, 20000, 6);
    cv::hconcat(first, second, both);
    cv::Mat again = corrected(table, second);
    EXPECT_EQ(table.evaluated(), distinctColours(both));
    EXPECT_TRUE(sameBytes(correctImage(second, model), again));
}

TEST(ColourTable, ReadsAndWritesOnlyTheRegionOfAView) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    cv::Mat whole = randomImage(700, 900, 9);
    const cv::Mat original = whole.clone();
    const cv::Rect inner(13, 17, 800, 600);  // rows are not continuous
    cv::Mat view = whole(inner);
    const cv::Mat plain = correctImage(view, model);

    ColourTable table(model);
    table.correctInPlace(view);
    EXPECT_TRUE(sameBytes(plain, whole(inner)));
    // outside the view nothing changed
    whole(inner).setTo(cv::Scalar::all(0));
    cv::Mat outside = original.clone();
    outside(inner).setTo(cv::Scalar::all(0));
    EXPECT_TRUE(sameBytes(outside, whole));
}

TEST(ColourTable, LeavesOtherImageTypesToThePlainSequence) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    ColourTable table(model);
    cv::Mat grey(400, 400, CV_8UC1), withAlpha(400, 400, CV_8UC4), deep(400, 400, CV_16UC3);
    cv::randu(grey, 0, 256);
    cv::randu(withAlpha, 0, 256);
    cv::randu(deep, 0, 65536);
    for (const cv::Mat& other : {grey, withAlpha, deep}) {
        SCOPED_TRACE(other.type());
        EXPECT_TRUE(sameBytes(correctImage(other, model), corrected(table, other)));
    }
    cv::Mat empty;
    EXPECT_THROW(correctImage(empty, model), cv::Exception);
    EXPECT_THROW(table.correctInPlace(empty), cv::Exception);
    EXPECT_FALSE(table.hasTable());  // nothing of theirs belongs in the table
}

// Regression: a view too small for the table got a new picture of its own
// instead of having its corrected pixels written into its parent image.
TEST(ColourTable, ASmallViewIsCorrectedInItsParent) {
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    cv::Mat whole = randomImage(40, 60, 3);
    const cv::Rect inner(5, 7, 30, 20);
    cv::Mat view = whole(inner);
    const cv::Mat plain = correctImage(view, model);
    ColourTable table(model);
    table.correctInPlace(view);
    EXPECT_FALSE(table.hasTable());
    EXPECT_TRUE(sameBytes(plain, whole(inner)));
    EXPECT_EQ(view.data, whole(inner).data);
}

// Guards against a failed model call leaving its colours marked as known with
// empty table entries: the next photo would come out black there.
TEST(ColourTable, AFailedModelCallLeavesNoColourBehind) {
    const cv::Mat& chart = fittedSample().photo;
    cv::ccm::ColorCorrectionModel model(fittedSample().measured, chartReference(0).colours,
                                        cv::ccm::COLOR_SPACE_sRGB);
    ColourTable table(model);
    EXPECT_THROW(corrected(table, chart), cv::Exception);  // not fitted yet
    ASSERT_TRUE(table.hasTable());                         // it failed on the table's path
    EXPECT_EQ(table.evaluated(), 0u);
    // the same table once its model is fitted: every colour is evaluated
    model.run();
    EXPECT_TRUE(sameBytes(correctImage(chart, model), corrected(table, chart)));
    EXPECT_EQ(table.evaluated(), distinctColours(chart));
}

// --- Rounding ----------------------------------------------------------------

// A channel whose output times 255 lies within a millionth of a half step is
// left to the model (-1); just outside it, both roundings give the byte of
// the side it lies on. A margin made narrower or wider fails a row.
TEST(ColourTable, RoundingLeavesHalfStepsToTheModel) {
    // the linear value whose output times 255 is `level`, by bisection
    const auto linearAt = [](double level) {
        double low = 0, high = 1;
        for (int i = 0; i < 200; ++i) {
            const double middle = (low + high) / 2;
            (srgbEncode(middle, modelSrgbCurve()) * 255 < level ? low : high) = middle;
        }
        return (low + high) / 2;
    };
    for (const int k : {0, 1, 17, 128, 254})
        for (const double offset : {-3e-6, -0.5e-6, 0.5e-6, 3e-6}) {
            const double linear = linearAt(k + 0.5 + offset);
            const int expected = std::abs(offset) < 1e-6 ? -1 : offset < 0 ? k : k + 1;
            EXPECT_EQ(outputByte(linear), expected) << k << " " << offset;
            EXPECT_EQ(fastOutputByte(linear), expected) << k << " " << offset;
        }
}

}  // namespace
}  // namespace tintsmith
