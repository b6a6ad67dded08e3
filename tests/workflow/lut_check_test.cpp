// The LUT check: CIEDE2000, the cube read back and applied as editors apply
// it, the patches against the fit's own reference, and the two check files.
#include <algorithm>
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

// Sharma, Wu and Dalal (2005), "The CIEDE2000 color-difference formula:
// implementation notes, supplementary test data, and mathematical
// observations", Table 1: the 34 pairs and their published differences.
struct SharmaPair {
    double l1, a1, b1, l2, a2, b2, difference;
};
constexpr SharmaPair kSharmaPairs[] = {
    {50.0000, 2.6772, -79.7751, 50.0000, 0.0000, -82.7485, 2.0425},
    {50.0000, 3.1571, -77.2803, 50.0000, 0.0000, -82.7485, 2.8615},
    {50.0000, 2.8361, -74.0200, 50.0000, 0.0000, -82.7485, 3.4412},
    {50.0000, -1.3802, -84.2814, 50.0000, 0.0000, -82.7485, 1.0000},
    {50.0000, -1.1848, -84.8006, 50.0000, 0.0000, -82.7485, 1.0000},
    {50.0000, -0.9009, -85.5211, 50.0000, 0.0000, -82.7485, 1.0000},
    {50.0000, 0.0000, 0.0000, 50.0000, -1.0000, 2.0000, 2.3669},
    {50.0000, -1.0000, 2.0000, 50.0000, 0.0000, 0.0000, 2.3669},
    {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0009, 7.1792},
    {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0010, 7.1792},
    {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0011, 7.2195},
    {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0012, 7.2195},
    {50.0000, -0.0010, 2.4900, 50.0000, 0.0009, -2.4900, 4.8045},
    {50.0000, -0.0010, 2.4900, 50.0000, 0.0010, -2.4900, 4.8045},
    {50.0000, -0.0010, 2.4900, 50.0000, 0.0011, -2.4900, 4.7461},
    {50.0000, 2.5000, 0.0000, 50.0000, 0.0000, -2.5000, 4.3065},
    {50.0000, 2.5000, 0.0000, 73.0000, 25.0000, -18.0000, 27.1492},
    {50.0000, 2.5000, 0.0000, 61.0000, -5.0000, 29.0000, 22.8977},
    {50.0000, 2.5000, 0.0000, 56.0000, -27.0000, -3.0000, 31.9030},
    {50.0000, 2.5000, 0.0000, 58.0000, 24.0000, 15.0000, 19.4535},
    {50.0000, 2.5000, 0.0000, 50.0000, 3.1736, 0.5854, 1.0000},
    {50.0000, 2.5000, 0.0000, 50.0000, 3.2972, 0.0000, 1.0000},
    {50.0000, 2.5000, 0.0000, 50.0000, 1.8634, 0.5757, 1.0000},
    {50.0000, 2.5000, 0.0000, 50.0000, 3.2592, 0.3350, 1.0000},
    {60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644},
    {63.0109, -31.0961, -5.8663, 62.8187, -29.7946, -4.0864, 1.2630},
    {61.2901, 3.7196, -5.3901, 61.4292, 2.2480, -4.9620, 1.8731},
    {35.0831, -44.1164, 3.7933, 35.0232, -40.0716, 1.5901, 1.8645},
    {22.7233, 20.0904, -46.6940, 23.0331, 14.9730, -42.5619, 2.0373},
    {36.4612, 47.8580, 18.3852, 36.2715, 50.5065, 21.2231, 1.4146},
    {90.8027, -2.0831, 1.4410, 91.1528, -1.6435, 0.0447, 1.4441},
    {90.9257, -0.5406, -0.9208, 88.6381, -0.8985, -0.7239, 1.5381},
    {6.7747, -0.2908, -2.4247, 5.8714, -0.0985, -2.2286, 0.6377},
    {2.0776, 0.0795, -1.1350, 0.9033, -0.0636, -0.5514, 0.9082},
};

TEST(ColourDifference, TheThirtyFourPublishedPairs) {
    int row = 0;
    for (const SharmaPair& pair : kSharmaPairs) {
        ++row;
        cv::Vec3d one(pair.l1, pair.a1, pair.b1), two(pair.l2, pair.a2, pair.b2);
        // the table prints four decimals, so 1e-4 is its own rounding
        EXPECT_NEAR(ciede2000(one, two), pair.difference, 1e-4) << "pair " << row;
        EXPECT_NEAR(ciede2000(two, one), pair.difference, 1e-4) << "pair " << row << " swapped";
    }
    EXPECT_EQ(row, 34);
}

TEST(ColourDifference, SrgbToLabUnderD65) {
    // Lindbloom's sRGB primaries under D65, printed to four decimals
    struct Row {
        cv::Vec3d rgb, lab;
    } rows[] = {
        {{1, 1, 1}, {100, 0, 0}},
        {{0, 0, 0}, {0, 0, 0}},
        {{1, 0, 0}, {53.2408, 80.0925, 67.2032}},
        {{0, 1, 0}, {87.7347, -86.1827, 83.1793}},
        {{0, 0, 1}, {32.2970, 79.1875, -107.8602}},
    };
    for (const Row& row : rows) {
        cv::Vec3d lab = srgbToLab(row.rgb);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(lab[c], row.lab[c], 2e-3) << row.rgb << " " << c;
    }
    // beyond 0..1 the curve goes on mirrored, as the model's own does
    EXPECT_LT(srgbToLab({-0.1, 0.5, 0.5})[1], srgbToLab({0.0, 0.5, 0.5})[1]);
}

// ---------------------------------------------------------------------------
// Cube text.
// ---------------------------------------------------------------------------

TEST(CubeText, ReadsHeadersCommentsAndEveryNumberForm) {
    const std::string text =
        "# made by hand\n"
        "TITLE \"two points\"\r\n"
        "\n"
        "LUT_3D_SIZE 2\n"
        "DOMAIN_MIN 0 0 0\n"
        "DOMAIN_MAX 1.0 1.0 2.0\n"
        "0 0 0\n1 0 0\n0 1 0\n1 1 0\n"
        "0 0 1\n+1 1e0 1\n0.0 1. .5\n  1.000000 1.000000 1.000000  \r\n";
    CubeLut cube;
    std::string why;
    ASSERT_TRUE(parseCube(text, cube, &why)) << why;
    EXPECT_EQ(cube.size, 2);
    EXPECT_EQ(cube.domainMax, cv::Vec3d(1, 1, 2));
    EXPECT_EQ(cube.entries[5], cv::Vec3f(1, 1, 1));
    EXPECT_EQ(cube.entries[6], cv::Vec3f(0, 1, 0.5f));
    // trilinear: the centre of the domain mixes all eight corners equally
    cv::Vec3d centre = applyCube(cube, {0.5, 0.5, 1.0});
    EXPECT_NEAR(centre[0], 0.5, 1e-12);
    EXPECT_NEAR(centre[2], 0.4375, 1e-12);
    // outside the domain the nearest edge is used
    EXPECT_EQ(applyCube(cube, {-3, 7, 0}), cv::Vec3d(0, 1, 0));
    EXPECT_EQ(applyCube(cube, {NAN, 0, 0}), cv::Vec3d(0, 0, 0));
}

TEST(CubeText, RefusesWhatIsNotAWhole3dLut) {
    const std::string eight = "0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n";
    struct Row {
        std::string text, words;
    } rows[] = {
        {"", "no LUT_3D_SIZE"},
        {eight, "before LUT_3D_SIZE"},
        {"LUT_3D_SIZE 2\n" + eight.substr(6), "7 entries"},
        {"LUT_3D_SIZE 2\n" + eight + "0 0 0\n", "more entries"},
        {"LUT_3D_SIZE 2\n" + eight.substr(6) + "0 x 0\n", "not three numbers (line 9)"},
        {"LUT_3D_SIZE 2\n" + eight.substr(6) + "-nan 0 0\n", "not three numbers"},
        {"LUT_3D_SIZE 2\n" + eight.substr(6) + "0 1e300 0\n", "far out of range"},
        {"LUT_3D_SIZE 1\n0 0 0\n", "from 2 to 256"},
        {"LUT_1D_SIZE 2\n0 0 0\n0 0 0\n", "1D LUT"},
        {"LUT_3D_SIZE 2\nDOMAIN_MAX 1 0 1\n" + eight, "DOMAIN_MAX is not above"},
        {"LUT_3D_SIZE 2\n0 0 0\nTITLE \"late\"\n", "keyword after the entries"},
    };
    for (const Row& row : rows) {
        CubeLut cube;
        std::string why;
        EXPECT_FALSE(parseCube(row.text, cube, &why)) << row.words;
        EXPECT_NE(why.find(row.words), std::string::npos) << "said: " << why;
        EXPECT_EQ(cube.size, 0) << row.words;
    }
}

// ---------------------------------------------------------------------------
// The cube as written against the model it came from.
// ---------------------------------------------------------------------------

TEST(CubeAgainstModel, TheCubeAppliedFollowsTheModel) {
    FitResult fit = fitModel(fittedSample().measured, chartReference(1));
    ASSERT_TRUE(fit.ok);
    const cv::Mat lut = correctImage(identityLattice(), *fit.model);
    CubeLut cube;
    ASSERT_TRUE(parseCube(cubeText(lut), cube));
    ASSERT_EQ(cube.size, kLutSize);

    // at every lattice point the cube gives the entry itself: the model's
    // 8-bit output for that point's colour (the file prints six decimals)
    int wrong = 0;
    for (int k = 0; k < 64; ++k)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                cv::Vec3d applied = applyCube(cube, cv::Vec3d(x, y, k) / 63.0);
                cv::Vec3b bgr = lut.at<cv::Vec3b>(64 * (k / 8) + y, 64 * (k % 8) + x);
                for (int c = 0; c < 3; ++c)
                    if (std::abs(applied[c] - bgr[2 - c] / 255.0) > 1e-6) ++wrong;
            }
    EXPECT_EQ(wrong, 0);

    // between the lattice points: random colours through the cube and
    // through the model (saturated to 0..1, as the LUT image is)
    cv::Mat colours(20000, 1, CV_64FC3);
    cv::RNG rng(11);
    rng.fill(colours, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::Mat modelled = fit.model->infer(colours, false);
    double total = 0;
    for (int i = 0; i < colours.rows; ++i) {
        cv::Vec3d applied = applyCube(cube, colours.at<cv::Vec3d>(i));
        cv::Vec3d truth = modelled.at<cv::Vec3d>(i);
        for (int c = 0; c < 3; ++c) total += std::abs(applied[c] - std::clamp(truth[c], 0.0, 1.0));
    }
    const double meanSteps = 255 * total / (3.0 * colours.rows);
    EXPECT_LT(meanSteps, 0.5) << "mean difference in 8-bit steps";
    RecordProperty("mean_difference_8bit", std::to_string(meanSteps));

    // the whole-image path gives what the single-colour path gives
    cv::Mat bgr(64, 64, CV_8UC3);
    rng.fill(bgr, cv::RNG::UNIFORM, 0, 256);
    cv::Mat out = applyCubeToImage(cube, bgr);
    int off = 0;
    for (int i = 0; i < 64 * 64; ++i) {
        cv::Vec3b in = bgr.at<cv::Vec3b>(i);
        cv::Vec3d applied = applyCube(cube, cv::Vec3d(in[2], in[1], in[0]) / 255.0);
        for (int c = 0; c < 3; ++c)
            if (std::abs(out.at<cv::Vec3b>(i)[2 - c] - applied[c] * 255) > 0.51) ++off;
    }
    EXPECT_EQ(off, 0);
}

// The reference colours of a built-in chart are the ones the fit converted:
// on every patch it used, the model's own destination colours.
TEST(CubeAgainstModel, BuiltInAndOwnReferencesAreTheFitsOwn) {
    const cv::Mat& measured = fittedSample().measured;
    for (int choice : {1, 3}) {
        const ChartReference reference = chartReference(choice);
        FitResult fit = fitModel(measured, reference);
        ASSERT_TRUE(fit.ok);
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
            cv::Vec3d encoded = input.reference.at<cv::Vec3d>(i), linear;
            for (int c = 0; c < 3; ++c) {  // back through the sRGB curve, mirrored below 0
                double v = std::abs(encoded[c]);
                v = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
                linear[c] = encoded[c] < 0 ? -v : v;
            }
            EXPECT_LT(cv::norm(linear - destination.at<cv::Vec3d>(used++)), 1e-9)
                << "chart choice " << choice << ", patch " << i + 1;
        }
    }
}

// ---------------------------------------------------------------------------
// The check files.
// ---------------------------------------------------------------------------

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
              "de2000_before,de2000_after,used\n"
              "1,115.00,82.00,69.00,127.50,63.75,255.00,0.26,254.49,31.48,11.00,5.00,0\n"
              "2,115.00,82.00,69.00,127.50,63.75,255.00,0.26,254.49,31.48,11.00,5.00,0\n");
}

TEST(LutCheckFiles, NamedAfterTheLutImage) {
    EXPECT_EQ(lutCheckPathFor("/h/Documents/Tintsmith/cc_LUT.png", ".png"),
              "/h/Documents/Tintsmith/cc_LUT_check.png");
    EXPECT_EQ(lutCheckPathFor("C:\\Users\\a.b\\cc_LUT.png", ".csv"),
              "C:\\Users\\a.b\\cc_LUT_check.csv");
    EXPECT_EQ(lutCheckPathFor("/a.b/cc_LUT", ".csv"), "/a.b/cc_LUT_check.csv");
}

TEST(LutCheckFiles, ThePictureStaysWithin1600PixelsForEveryLayout) {
    CubeLut cube;
    ASSERT_TRUE(parseCube(cubeText(identityLattice()), cube));
    for (int choice : {0, 5, 6}) {
        const ChartReference reference = chartReference(choice);
        LutCheckInput input;
        input.photo = cv::Mat(3000, 4000, CV_8UC3, cv::Scalar(30, 90, 200));
        input.photo = lutCheckPhoto(input.photo);
        input.detectorType = reference.detectorType;
        input.measured = cv::Mat(reference.patchCount, 1, CV_64FC3, cv::Scalar(0.2, 0.4, 0.6));
        input.reference = input.measured.clone();
        input.used.assign(std::size_t(reference.patchCount), true);
        cv::Mat picture = lutCheckPicture(input, cube, checkPatches(input, cube), "cc_LUT.cube");
        EXPECT_LE(picture.cols, 1600) << choice;
        EXPECT_LE(input.photo.cols * 2, picture.cols) << choice;
        EXPECT_LT(picture.rows, 2000) << choice;
    }
}

// A working folder of its own for each run of the export.
struct CheckExport : TempFolderTest {
    void SetUp() override {
        TempFolderTest::SetUp();
        paths = buildWorkingPaths(root.string());
        std::filesystem::create_directories(paths.inputPhotos);
        ASSERT_TRUE(cv::imwrite(paths.lattice, identityLattice()));
    }
    bool exportOnce() {
        cv::Mat image = photo.clone();
        testing::internal::CaptureStdout();
        bool complete =
            exportChart(image, fittedSample().checkers.at(0), chartReference(0), false, paths);
        said = testing::internal::GetCapturedStdout();
        return complete;
    }
    const cv::Mat& photo = fittedSample().photo;
    std::string said;
    WorkingPaths paths;
};

TEST_F(CheckExport, WritesBothCheckFilesBesideTheLut) {
    ASSERT_TRUE(exportOnce()) << said;
    EXPECT_EQ(said, "");
    std::ifstream csv(lutCheckPathFor(paths.lutImage, ".csv"));
    std::string line;
    int rows = -1;
    while (std::getline(csv, line)) ++rows;
    EXPECT_EQ(rows, 24);
    cv::Mat picture = cv::imread(lutCheckPathFor(paths.lutImage, ".png"));
    ASSERT_FALSE(picture.empty());
    EXPECT_LE(picture.cols, 1600);
    // the before half is the photo as it was, without the outline drawn on
    // the chart: a crop across the patches is found there pixel for pixel
    cv::Mat before = lutCheckPhoto(photo);
    cv::Mat patches =
        before(cv::Rect(before.cols / 4, before.rows / 6, before.cols / 4, before.rows / 3));
    cv::Mat match;
    cv::matchTemplate(picture, patches, match, cv::TM_SQDIFF);
    cv::Point best;
    cv::minMaxLoc(match, nullptr, nullptr, &best);
    EXPECT_EQ(cv::norm(picture(cv::Rect(best, patches.size())), patches, cv::NORM_INF), 0);
}

TEST_F(CheckExport, ACheckFileThatCannotBeWrittenIsToldAndIncomplete) {
    const std::string blocked = lutCheckPathFor(paths.lutImage, ".png");
    ASSERT_TRUE(std::filesystem::create_directory(blocked));
    EXPECT_FALSE(exportOnce());
    EXPECT_EQ(said.find("Could not write " + blocked), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    // the LUT files and the other check file are whole
    EXPECT_EQ(cv::imread(paths.lutImage).size(), cv::Size(512, 512));
    EXPECT_TRUE(std::ifstream(lutCheckPathFor(paths.lutImage, ".csv")).good());
}

}  // namespace
}  // namespace tintsmith
