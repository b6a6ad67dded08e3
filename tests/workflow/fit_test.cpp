// Detection, measurement, the fit and the LUT export on the sample chart photo.
#include <cmath>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "temp_folder.hpp"
#include "workflow/fixtures.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

struct SampleChart : ::testing::Test {
    const CheckerList& checkers = fittedSample().checkers;
};

TEST_F(SampleChart, MeasuresTwentyFourPatchesOnZeroToOne) {
    ASSERT_EQ(checkers.size(), 1u);
    cv::Mat measured = measuredPatchColours(checkers[0]);
    EXPECT_EQ(measured.rows, 24);
    EXPECT_EQ(measured.cols, 1);
    EXPECT_EQ(measured.channels(), 3);
    double low, high;
    cv::minMaxLoc(measured.reshape(1), &low, &high);
    EXPECT_GE(low, 0.0);
    EXPECT_LE(high, 1.0);
}

TEST_F(SampleChart, EveryTwentyFourPatchChoiceFits) {
    ASSERT_EQ(checkers.size(), 1u);
    cv::Mat measured = measuredPatchColours(checkers[0]);
    for (int choice : {0, 1, 2, 3, 4}) {
        FitResult fit = fitModel(measured, chartReference(choice));
        ASSERT_TRUE(fit.ok) << choice << ": " << fit.failure;
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
        FitResult fit = fitModel(eighteen, chartReference(choice));
        EXPECT_FALSE(fit.ok);
        EXPECT_NE(fit.failure.find("18 patches"), std::string::npos) << fit.failure;
    }
    cv::Mat twentyFour(24, 1, CV_64FC3, cv::Scalar(0.2, 0.4, 0.6));
    EXPECT_FALSE(fitModel(twentyFour, chartReference(6)).ok);  // vinyl has 18
}

// Regression: with every patch saturated the library threw out of run().
TEST(Fit, AnOverExposedChartIsToldInWords) {
    cv::Mat white(24, 1, CV_64FC3, cv::Scalar::all(1.0));
    FitResult fit = fitModel(white, chartReference(0));
    EXPECT_FALSE(fit.ok);
    EXPECT_NE(fit.failure.find("too bright"), std::string::npos) << fit.failure;
}

// The cube, applied as editors do (trilinear interpolation), brings the
// measured patches closer to the chart's true colours.
TEST_F(SampleChart, TheCubeBringsThePatchesCloserToTheReference) {
    ASSERT_EQ(checkers.size(), 1u);
    cv::Mat measured = measuredPatchColours(checkers[0]);
    ChartReference reference = chartReference(3);  // the sample is a classic chart
    FitResult fit = fitModel(measured, reference);
    ASSERT_TRUE(fit.ok);
    cv::Mat lut = correctImage(identityLattice(), *fit.model);
    std::string text = cubeText(lut);
    ASSERT_EQ(text.size(), 7340048u);

    // parse: entry index r + 64 g + 4096 b
    std::vector<cv::Vec3d> table(64 * 64 * 64);
    const char* line = text.c_str() + 16;
    for (auto& entry : table) {
        char* end;
        entry[0] = std::strtod(line, &end);
        entry[1] = std::strtod(end, &end);
        entry[2] = std::strtod(end, &end);
        line = end + 2;
    }
    auto at = [&](int r, int g, int b) { return table[r + 64 * g + 4096 * b]; };
    auto apply = [&](cv::Vec3d rgb) {
        double f[3];
        int i[3];
        for (int c = 0; c < 3; ++c) {
            double p = std::min(std::max(rgb[c], 0.0), 1.0) * 63;
            i[c] = std::min(static_cast<int>(p), 62);
            f[c] = p - i[c];
        }
        cv::Vec3d out(0, 0, 0);
        for (int corner = 0; corner < 8; ++corner) {
            int dr = corner & 1, dg = (corner >> 1) & 1, db = (corner >> 2) & 1;
            double w = (dr ? f[0] : 1 - f[0]) * (dg ? f[1] : 1 - f[1]) * (db ? f[2] : 1 - f[2]);
            out += w * at(i[0] + dr, i[1] + dg, i[2] + db);
        }
        return out;
    };
    double before = 0, after = 0;
    for (int p = 0; p < 24; ++p) {
        cv::Vec3d seen = measured.at<cv::Vec3d>(p), truth = reference.colours.at<cv::Vec3d>(p);
        before += cv::norm(seen - truth);
        after += cv::norm(apply(seen) - truth);
    }
    EXPECT_LT(after, 0.6 * before)
        << "mean error before " << before / 24 << ", after " << after / 24;
}

// A working folder of its own for each export test.
struct Export : TempFolderTest {
    void SetUp() override {
        TempFolderTest::SetUp();
        paths = buildWorkingPaths(root.string());
        std::filesystem::create_directories(paths.inputPhotos);
        std::filesystem::create_directories(paths.outputPhotos);
    }
    bool exportOnce(bool batch = false) {
        testing::internal::CaptureStdout();
        bool complete = exportChart(image, checkers.at(0), chartReference(0), batch, paths);
        said = testing::internal::GetCapturedStdout();
        return complete;
    }
    bool exists(const std::string& path) { return std::ifstream(path).good(); }
    const cv::Mat& photo = fittedSample().photo;
    const CheckerList& checkers = fittedSample().checkers;
    cv::Mat image = photo.clone();
    std::string said;
    WorkingPaths paths;
};

TEST_F(Export, WritesBothLutFilesAndDrawsTheLoss) {
    ASSERT_TRUE(cv::imwrite(paths.lattice, identityLattice()));
    EXPECT_TRUE(exportOnce()) << said;
    EXPECT_EQ(said, "");
    EXPECT_EQ(cv::imread(paths.lutImage).size(), cv::Size(512, 512));
    EXPECT_TRUE(exists(paths.cube));
    // the outline and the red loss text went into the photo
    EXPECT_GT(cv::norm(image, photo, cv::NORM_L1), 0);
    cv::Mat lossArea = image(cv::Rect(10, 10, 200, 50));
    cv::Mat red;
    cv::inRange(lossArea, cv::Scalar(0, 0, 200), cv::Scalar(60, 60, 255), red);
    EXPECT_GT(cv::countNonZero(red), 50);
}

TEST_F(Export, AMissingLatticeStillFitsButWritesNoLut) {
    std::ofstream(paths.cube) << "older cube";
    EXPECT_FALSE(exportOnce());
    EXPECT_NE(said.find("original.png"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_FALSE(exists(paths.lutImage));
    std::ifstream cube(paths.cube);
    std::string kept;
    std::getline(cube, kept);
    EXPECT_EQ(kept, "older cube");
}

TEST_F(Export, ASmallLatticeGivesItsPngButNoCube) {
    cv::Mat small;
    cv::resize(identityLattice(), small, {256, 256}, 0, 0, cv::INTER_NEAREST);
    ASSERT_TRUE(cv::imwrite(paths.lattice, small));
    EXPECT_FALSE(exportOnce());
    EXPECT_NE(said.find("smaller than 512 x 512"), std::string::npos) << said;
    EXPECT_EQ(cv::imread(paths.lutImage).size(), cv::Size(256, 256));
    EXPECT_FALSE(exists(paths.cube));
}

}  // namespace
}  // namespace tintsmith
