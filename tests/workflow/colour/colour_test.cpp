// The model's domain, the sRGB curve and colour difference.
#include <gtest/gtest.h>

#include "workflow/colour/colour.hpp"

namespace tintsmith {
namespace {

// --- The model's domain ------------------------------------------------------

TEST(LutTransform, EveryByteValueSurvivesTheRoundTrip) {
    cv::Mat bgr(1, 256, CV_8UC3);
    for (int v = 0; v < 256; ++v) bgr.at<cv::Vec3b>(v) = cv::Vec3b(v, 255 - v, (v * 7) % 256);
    cv::Mat input = bgrToModelInput(bgr.clone());
    EXPECT_EQ(input.type(), CV_64FC3);
    cv::Mat back = modelOutputToBgr(input);
    EXPECT_EQ(back.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(back, bgr, cv::NORM_INF), 0);
}

TEST(LutTransform, ChannelOrderAndScale) {
    cv::Mat red(1, 1, CV_8UC3, cv::Scalar(0, 0, 255));  // BGR
    cv::Vec3d rgb = bgrToModelInput(red).at<cv::Vec3d>(0);
    EXPECT_EQ(rgb, cv::Vec3d(1.0, 0.0, 0.0));
    cv::Mat out(1, 1, CV_64FC3, cv::Scalar(0.2, 0.4, 0.6));  // RGB
    EXPECT_EQ(modelOutputToBgr(out).at<cv::Vec3b>(0), cv::Vec3b(153, 102, 51));
}

// Regression: values far outside 0..1 wrapped around through int rounding
// (1e9 came out as 0) instead of saturating.
TEST(LutTransform, OutputOutsideZeroToOneSaturates) {
    cv::Mat out(1, 3, CV_64FC3);
    out.at<cv::Vec3d>(0) = cv::Vec3d(-0.5, 1.5, 0.5);
    out.at<cv::Vec3d>(1) = cv::Vec3d(-1e9, 1e9, 1.0);
    out.at<cv::Vec3d>(2) = cv::Vec3d(0.0019, 0.002, 0.9981);  // rounding at the edges
    cv::Mat bgr = modelOutputToBgr(out);
    EXPECT_EQ(bgr.at<cv::Vec3b>(0), cv::Vec3b(128, 255, 0));
    EXPECT_EQ(bgr.at<cv::Vec3b>(1), cv::Vec3b(255, 255, 0));
    EXPECT_EQ(bgr.at<cv::Vec3b>(2), cv::Vec3b(255, 1, 0));
}

// --- Colour difference -------------------------------------------------------

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

}  // namespace
}  // namespace tintsmith
