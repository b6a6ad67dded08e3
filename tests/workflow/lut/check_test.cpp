// The LUT check: the patches against the fit's own reference, and the two
// check files.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "temp_folder.hpp"
#include "workflow/colour/colour.hpp"
#include "workflow/fixtures.hpp"
#include "workflow/io/io.hpp"
#include "workflow/lut/lut.hpp"
#include "workflow/patch_sets.hpp"

namespace tintsmith {
namespace {

// The reference colours of a built-in chart are the ones the fit converted:
// on every patch it used, the model's own destination colours.
TEST(CheckInput, BuiltInAndOwnReferencesAreTheFitsOwn) {
    const cv::Mat& measured = fittedSample().measured;
    for (int choice : {1, 3}) {
        const ChartReference reference = chartReference(choice);
        Fit fit = fitModel(measured, reference);
        ASSERT_TRUE(fit.outcome.done);
        LutCheckInput input = lutCheckInput(cv::Mat(), measured, reference, *fit.model, fit.loss);
        ASSERT_EQ(input.reference.rows, 24) << choice;
        ASSERT_EQ(input.used.size(), 24u);
        // the sample's saturated orange, red, orange yellow and yellow
        EXPECT_EQ(std::count(input.used.begin(), input.used.end(), false), 4) << choice;
        EXPECT_FALSE(input.used[6]);

        cv::Mat destination = fit.model->get_dst_rgbl().reshape(3, 20);
        int used = 0;
        for (int i = 0; i < 24; ++i) {
            if (!input.used[std::size_t(i)]) continue;
            const cv::Vec3d encoded = input.reference.at<cv::Vec3d>(i);
            const cv::Vec3d linear(srgbDecode(encoded[0]), srgbDecode(encoded[1]),
                                   srgbDecode(encoded[2]));
            EXPECT_LT(cv::norm(linear - destination.at<cv::Vec3d>(used++)), 1e-9)
                << "chart choice " << choice << ", patch " << i + 1;
        }
    }
}

// --- The check files ---------------------------------------------------------

TEST(LutCheckFiles, CsvRowsHoldEveryColourOnTheByteScale) {
    PatchCheck patch;
    patch.reference = cv::Vec3d(115, 82, 69) / 255.0;
    patch.measured = cv::Vec3d(0.5, 0.25, 1.0);
    patch.after = cv::Vec3d(0.001, 0.998, 0.12345);
    patch.before = 11.004;
    patch.afterCube = 4.9951;
    patch.used = false;
    EXPECT_EQ(lutCheckCsv({patch, patch}),
              "patch,ref_r,ref_g,ref_b,measured_r,measured_g,measured_b,after_r,after_g,after_b,"
              "de2000_before,de2000_after,used,clipped\n"
              "1,115.00,82.00,69.00,127.50,63.75,255.00,0.26,254.49,31.48,11.00,5.00,0,1\n"
              "2,115.00,82.00,69.00,127.50,63.75,255.00,0.26,254.49,31.48,11.00,5.00,0,1\n");
}

// The verdict over the whole chart, on real measured sets as other light,
// exposure, a screen or the wrong chart type would give them: each row its
// verdict and the reason a photographer reads first.
TEST(LutVerdict, EachSetGetsItsVerdictAndReason) {
    constexpr int kClassic = 1, kClone = 0, kPassportVideo = 2;
    const struct {
        const MeasuredSet& set;
        Shot shot;
        int choice;
        const char* reason;         // "" for "Better"; nullptr when the fit itself refuses
        bool screenAround = false;  // the chart amid a screen's white, as shown on one
    } rows[] = {
        {kSampleChart, Shot::AsTaken, kClassic, ""},
        {kDeskChart, Shot::Warm, kClassic, ""},
        {kFloorChart, Shot::Cool, kClassic, ""},
        {kKeyboardChart, Shot::Dim, kClassic, ""},
        // regression: the clone's greys worse (2.0 -> 4.9) under a better mean was "Better"
        {kSampleChart, Shot::AsTaken, kClone,
         "the grey patches get worse (2.0 before, 4.9 after): likely the wrong chart type. "
         "ColorChecker clone is chosen; the closest other is Classic ColorChecker"},
        // regression: 20 of 24 left out of the fit, "Better" over the other four
        {kSampleChart, Shot::Over18, kClassic, "20 of 24 patches are clipped"},
        {kFloorBrightChart, Shot::AsTaken, kClassic, "8 of 24 patches are clipped"},
        {kSampleChart, Shot::Over26, kClassic, nullptr},
        {kDeskChart, Shot::Screen, kClassic, "as on a chart shown on a screen"},
        {kSampleChart, Shot::AsTaken, kPassportVideo, "the grey patches get worse"},
        // regression: the laptop screen's chart was "Better 18.0 -> 6.6", its screen turned cyan
        {kLaptopScreenChart, Shot::AsTaken, kClassic,
         "far brighter than its lightest grey, turn cyan", true},
        {kLaptopScreenChart, Shot::AsTaken, kClone, "turn cyan", true},
        {kDeskChart, Shot::Warm, kClassic, "turn blue", true},
        // a dim chart amid light greys: the cube lightens them, tints nothing
        {kSampleChart, Shot::Dim, kClassic, "", true},
    };
    for (const auto& row : rows) {
        const cv::Mat measured = patchSet(row.set, row.shot);
        const ChartReference reference = chartReference(row.choice);
        Fit fit = fitModel(measured, reference);
        ASSERT_EQ(fit.outcome.done, row.reason != nullptr) << fit.outcome.reason;
        if (!row.reason) continue;
        LutCheckInput input = lutCheckInput(cv::Mat(), measured, reference, *fit.model, fit.loss);
        input.closestOther = kChartCatalogue[closestChartChoice(measured, row.choice)].label;
        if (row.screenAround) {
            input.photo = cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(245));
            input.chartOutline = {{60, 40}, {100, 40}, {100, 80}, {60, 80}};
        }
        LutVerdict verdict;
        ASSERT_TRUE(judgeLut(input, correctImage(identityLattice(), *fit.model), verdict).done);
        CubeLut cube;
        ASSERT_TRUE(parseCube(cubeText(correctImage(identityLattice(), *fit.model)), cube).done);
        const std::vector<std::string> lines =
            verdictLines(verdict, input, checkPatches(input, cube));
        const std::string reason = row.reason;
        EXPECT_EQ(verdict.good(), reason.empty()) << lines.front();
        if (reason.empty()) {
            EXPECT_EQ(lines.front().rfind("Better: ", 0), 0u);
            continue;
        }
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front().rfind("Warning: the cube does not correct the chart", 0), 0u);
        EXPECT_NE(lines[1].find(reason), std::string::npos) << lines[1];
        EXPECT_EQ(lines.back().rfind("Worst patches after the cube: ", 0), 0u) << lines.back();
    }
}

// The worst patches by the chart's own names where it has them, else by row
// and column, with which way they are off.
TEST(LutVerdict, TheWorstPatchesAreNamed) {
    LutCheckInput input;
    input.reference = cv::Mat(24, 1, CV_64FC3, cv::Scalar(0.5, 0.5, 0.5));
    input.measured = input.reference.clone();
    std::vector<PatchCheck> patches(24);
    for (PatchCheck& patch : patches) patch.reference = patch.after = cv::Vec3d(0.5, 0.5, 0.5);
    patches[7].after = cv::Vec3d(0.8, 0.8, 0.8), patches[7].afterCube = 20;    // lighter
    patches[9].after = cv::Vec3d(0.7, 0.3, 0.3), patches[9].afterCube = 15;    // saturated
    patches[3].after = cv::Vec3d(0.45, 0.45, 0.45), patches[3].afterCube = 4;  // darker
    patches[0].before = 30;  // so that the chart is not closer after the cube
    const LutVerdict verdict = lutVerdict(input, patches);
    EXPECT_EQ(verdictLines(verdict, input, patches).back(),
              "Worst patches after the cube: row 2 column 2 0.0 -> 20.0, lighter; row 2 column 4 "
              "0.0 -> 15.0, more saturated; row 1 column 4 0.0 -> 4.0, darker.");
    input.names =
        std::vector<std::string>(chartReference(1).patchNames, chartReference(1).patchNames + 24);
    EXPECT_EQ(verdictLines(verdict, input, patches).back().substr(0, 45),
              "Worst patches after the cube: purplish blue 0");
}

TEST(LutCheckFiles, ThePictureStaysWithin1600PixelsForEveryLayout) {
    CubeLut cube;
    ASSERT_TRUE(parseCube(cubeText(identityLattice()), cube).done);
    for (int choice : {0, 5, 6}) {
        const ChartReference reference = chartReference(choice);
        LutCheckInput input;
        input.photo = cv::Mat(3000, 4000, CV_8UC3, cv::Scalar(30, 90, 200));
        input.photo = lutCheckPhoto(input.photo);
        input.detectorType = reference.detectorType;
        input.measured = cv::Mat(reference.patchCount, 1, CV_64FC3, cv::Scalar(0.2, 0.4, 0.6));
        input.reference = input.measured.clone();
        input.used.assign(std::size_t(reference.patchCount), true);
        const std::vector<PatchCheck> patches = checkPatches(input, cube);
        cv::Mat picture = lutCheckPicture(input, applyCubeToImage(cube, input.photo), patches,
                                          lutVerdict(input, patches), "cc_LUT.cube");
        EXPECT_LE(picture.cols, 1600) << choice;
        EXPECT_LE(input.photo.cols * 2, picture.cols) << choice;
        EXPECT_LT(picture.rows, 2000) << choice;
    }
}

// A cube written from the sample's fitted model, and what the check needs of
// the sample chart.
struct CheckFiles : TempFolderTest {
    void SetUp() override {
        TempFolderTest::SetUp();
        cube = folder + "cc_LUT.cube";
        csv = folder + "cc_LUT_check.csv";
        picture = folder + "cc_LUT_check.png";
        ASSERT_TRUE(
            replaceFileContents(cube, cubeText(correctImage(identityLattice(), model))).done);
        input = lutCheckInput(lutCheckPhoto(photo), fittedSample().measured, chartReference(0),
                              model, 1.5);
    }
    LutCheckWritten write() { return writeLutCheck(input, cube, csv, picture); }
    const cv::Mat& photo = fittedSample().photo;
    cv::ccm::ColorCorrectionModel model = fittedSample().model;
    LutCheckInput input;
    std::string cube, csv, picture;
};

TEST_F(CheckFiles, WritesBothBesideTheLut) {
    const LutCheckWritten written = write();
    ASSERT_TRUE(written.check.done && written.csv.done && written.picture.done)
        << written.check.reason << written.csv.reason << written.picture.reason;
    std::ifstream rows(csv);
    std::string line;
    int count = -1;
    while (std::getline(rows, line)) ++count;
    EXPECT_EQ(count, 24);
    cv::Mat drawn = cv::imread(picture);
    ASSERT_FALSE(drawn.empty());
    EXPECT_LE(drawn.cols, 1600);
    // the before half is the photo as it was: a crop across the patches is
    // found there pixel for pixel
    cv::Mat before = lutCheckPhoto(photo);
    cv::Mat patches =
        before(cv::Rect(before.cols / 4, before.rows / 6, before.cols / 4, before.rows / 3));
    cv::Mat match;
    cv::matchTemplate(drawn, patches, match, cv::TM_SQDIFF);
    cv::Point best;
    cv::minMaxLoc(match, nullptr, nullptr, &best);
    EXPECT_EQ(cv::norm(drawn(cv::Rect(best, patches.size())), patches, cv::NORM_INF), 0);
}

TEST_F(CheckFiles, AFileThatCannotBeWrittenLeavesTheOtherWhole) {
    ASSERT_TRUE(std::filesystem::create_directory(picture));
    const LutCheckWritten written = write();
    EXPECT_TRUE(written.check.done);
    EXPECT_TRUE(written.csv.done);
    EXPECT_FALSE(written.picture.done);
    EXPECT_TRUE(std::ifstream(csv).good());
}

}  // namespace
}  // namespace tintsmith
