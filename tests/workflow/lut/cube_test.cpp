// The cube file in one place: the lattice, the text written from the LUT
// image, parsed back and applied as an editor applies it, against the model.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "workflow/colour/colour.hpp"
#include "workflow/fixtures.hpp"
#include "workflow/lut/lut.hpp"

namespace tintsmith {
namespace {

// Line `entry` of the cube after its size line, without CR LF.
std::string cubeEntry(const std::string& text, long entry) {
    const std::size_t header = 16, line = 28;
    return text.substr(header + entry * line, line - 2);
}

// --- Writing -----------------------------------------------------------------

TEST(Lattice, HoldsRedXGreenYBlueTile) {
    cv::Mat lattice = identityLattice();
    ASSERT_EQ(lattice.size(), cv::Size(512, 512));
    EXPECT_EQ(lattice.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(lattice.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 4));    // red level 1 = round(255 / 63)
    EXPECT_EQ(lattice.at<cv::Vec3b>(1, 0), cv::Vec3b(0, 4, 0));    // green level 1
    EXPECT_EQ(lattice.at<cv::Vec3b>(0, 64), cv::Vec3b(4, 0, 0));   // tile 1: blue level 1
    EXPECT_EQ(lattice.at<cv::Vec3b>(64, 0), cv::Vec3b(32, 0, 0));  // tile 8: round(8 * 255 / 63)
    EXPECT_EQ(lattice.at<cv::Vec3b>(511, 511), cv::Vec3b(255, 255, 255));
    // through the cube writer, the identity lattice is the Cube format's own order
    std::string text = cubeText(lattice);
    EXPECT_EQ(cubeEntry(text, 1), "0.015686 0.000000 0.000000");
    EXPECT_EQ(cubeEntry(text, 64), "0.000000 0.015686 0.000000");
    EXPECT_EQ(cubeEntry(text, 4096), "0.000000 0.000000 0.015686");
}

std::string expectedEntry(const cv::Mat& image, int row, int col) {
    cv::Vec3b p = image.at<cv::Vec3b>(row, col);
    char text[64];
    std::snprintf(text, sizeof text, "%f %f %f", p[2] / 255.0, p[1] / 255.0, p[0] / 255.0);
    return text;
}

TEST(CubeWriter, EntriesFollowTilesThenRowsThenColumns) {
    cv::Mat lut = positionImage(512, 512);
    std::string text = cubeText(lut);
    ASSERT_EQ(text.size(), 7340048u);
    EXPECT_EQ(text.substr(0, 16), "LUT_3D_SIZE 64\r\n");
    const struct {
        long entry;
        int row, col;
    } cases[] = {{0, 0, 0},     {1, 0, 1},      {64, 1, 0},
                 {4096, 0, 64}, {32768, 64, 0}, {262143, 511, 511}};
    for (const auto& c : cases)
        EXPECT_EQ(cubeEntry(text, c.entry), expectedEntry(lut, c.row, c.col))
            << "entry " << c.entry;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(CubeWriter, ValuesAreRedGreenBlueOverTwoFiftyFive) {
    cv::Mat lut(512, 512, CV_8UC3, cv::Scalar(10, 20, 30));
    lut.at<cv::Vec3b>(0, 1) = cv::Vec3b(255, 128, 1);
    lut.at<cv::Vec3b>(0, 2) = cv::Vec3b(0, 0, 254);
    std::string text = cubeText(lut);
    EXPECT_EQ(cubeEntry(text, 0), "0.117647 0.078431 0.039216");
    EXPECT_EQ(cubeEntry(text, 1), "0.003922 0.501961 1.000000");
    EXPECT_EQ(cubeEntry(text, 2), "0.996078 0.000000 0.000000");
}

// Regression: a user locale with decimal commas must not reach the file.
TEST(CubeWriter, TextIsTheSameInAnyLocale) {
    cv::Mat lut = positionImage(512, 512);
    std::string plain = cubeText(lut);
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) {
        if (!std::setlocale(LC_ALL, name)) continue;
        EXPECT_EQ(cubeText(lut), plain) << name;
    }
    std::setlocale(LC_ALL, "C");
}

// Regression: a larger lattice gave a cube of its top-left corner, a LUT that
// looked valid but mapped colours to the wrong points.
TEST(CubeWriter, ALargerImageIsRefusedNotCropped) {
    for (cv::Size size : {cv::Size(700, 600), cv::Size(513, 512), cv::Size(512, 1024)}) {
        const cv::Mat lut = positionImage(size.height, size.width);
        EXPECT_EQ(cubeText(lut), "") << size;
        EXPECT_NE(cubeProblem(lut).find("not 512 x 512"), std::string::npos) << cubeProblem(lut);
    }
}

TEST(CubeWriter, RefusesImagesItCannotReadWholly) {
    cv::Mat fine(512, 512, CV_8UC3, cv::Scalar::all(0));
    cv::Mat wide(600, 600, CV_8UC3, cv::Scalar::all(0));
    const std::pair<const char*, cv::Mat> refused[] = {
        {"empty", cv::Mat()},
        {"1 x 1", cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(0))},
        {"511 x 512", cv::Mat(512, 511, CV_8UC3, cv::Scalar::all(0))},
        {"512 x 511", cv::Mat(511, 512, CV_8UC3, cv::Scalar::all(0))},
        {"4 channels", cv::Mat(512, 512, CV_8UC4, cv::Scalar::all(0))},
        {"16-bit", cv::Mat(512, 512, CV_16UC3, cv::Scalar::all(0))},
        {"grey", cv::Mat(512, 512, CV_8UC1, cv::Scalar::all(0))},
        {"non-continuous view", wide(cv::Rect(1, 1, 512, 512))},
    };
    for (const auto& [name, image] : refused) {
        EXPECT_EQ(cubeText(image), "") << name;
        EXPECT_FALSE(cubeProblem(image).empty()) << name;
    }
    EXPECT_EQ(cubeText(fine).size(), 7340048u);
}

// --- Parsing and applying ----------------------------------------------------

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
    const Outcome parsed = parseCube(text, cube);
    ASSERT_TRUE(parsed.done) << parsed.reason;
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
        const Outcome parsed = parseCube(row.text, cube);
        EXPECT_FALSE(parsed.done) << row.words;
        EXPECT_NE(parsed.reason.find(row.words), std::string::npos) << "said: " << parsed.reason;
        EXPECT_EQ(cube.size, 0) << row.words;
    }
}

// --- The cube as written against the model it came from ----------------------

TEST(CubeAgainstModel, TheCubeAppliedFollowsTheModel) {
    Fit fit = fitModel(fittedSample().measured, chartReference(1));
    ASSERT_TRUE(fit.outcome.done);
    const cv::Mat lut = correctImage(identityLattice(), *fit.model);
    CubeLut cube;
    ASSERT_TRUE(parseCube(cubeText(lut), cube).done);
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

// The cube, applied as editors do (trilinear interpolation), brings the
// measured patches closer to the chart's true colours.
TEST(CubeAgainstModel, TheCubeBringsThePatchesCloserToTheReference) {
    const cv::Mat& measured = fittedSample().measured;
    ChartReference reference = chartReference(3);  // the sample is a classic chart
    Fit fit = fitModel(measured, reference);
    ASSERT_TRUE(fit.outcome.done);
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

// Regression: a lattice that was not the identity (resaved as JPEG, another
// image) gave a cube that was not the correction, in silence.
TEST(Lattice, OnlyTheIdentityLatticeIsTheLattice) {
    const cv::Mat identity = identityLattice();
    EXPECT_EQ(latticeProblem(identity), "");
    cv::Mat touched = identity.clone();
    touched.at<cv::Vec3b>(511, 511)[1] ^= 1;  // one step of one channel of one pixel
    EXPECT_NE(latticeProblem(touched).find("1 of its 262144 pixels"), std::string::npos)
        << latticeProblem(touched);
    std::vector<std::uint8_t> jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", identity, jpeg, {cv::IMWRITE_JPEG_QUALITY, 100}));
    EXPECT_NE(latticeProblem(cv::imdecode(jpeg, cv::IMREAD_COLOR)), "");
    EXPECT_NE(latticeProblem(cv::Mat(256, 256, CV_8UC3)).find("256 x 256"), std::string::npos);
}

}  // namespace
}  // namespace tintsmith
