// printf-style text placed by its top-left corner, and the packed colours.
#include <gtest/gtest.h>

#include <cstring>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "ui/ui_internal.hpp"

namespace {

const cv::Vec3b kWhite(255, 255, 255);

// The bounding box of the pixels that differ from `background`.
cv::Rect touched(const cv::Mat& image, const cv::Vec3b& background) {
    std::vector<cv::Point> points;
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            if (image.at<cv::Vec3b>(y, x) != background) points.emplace_back(x, y);
        }
    }
    return points.empty() ? cv::Rect() : cv::boundingRect(points);
}

TEST(FormattedText, TopOfTheTextIsAtYWhateverTheScale) {
    for (double scale : {0.4, 2.0}) {
        cv::Mat image(120, 400, CV_8UC3, cv::Scalar(255, 255, 255));
        ui::formattedText(image, 10, 10, scale, 0x000000, "Loss: %.1f", 3.14159);
        const cv::Rect box = touched(image, kWhite);
        EXPECT_EQ(box.y, 10) << scale;  // no anti-aliasing fringe above the capitals: exact
        EXPECT_GT(box.height, 5) << scale;
    }
}

TEST(FormattedText, FormatsItsArgumentsLikePrintf) {
    cv::Mat formatted(40, 200, CV_8UC3, cv::Scalar(255, 255, 255));
    cv::Mat literal = formatted.clone();
    ui::formattedText(formatted, 5, 5, 0.4, 0x000000, "Loss: %.1f", 3.14159);
    ui::formattedText(literal, 5, 5, 0.4, 0x000000, "Loss: 3.1");
    EXPECT_EQ(cv::norm(formatted, literal, cv::NORM_INF), 0);
}

TEST(FormattedText, RedIsBitsSixteenToTwentyThree) {
    EXPECT_EQ(ui::unpackColour(0xff0000), cv::Scalar(0, 0, 255, 0));
    EXPECT_EQ(ui::unpackColour(0x80123456), cv::Scalar(0x56, 0x34, 0x12, 0x80));

    cv::Mat image(40, 200, CV_8UC3, cv::Scalar(0, 0, 0));
    ui::formattedText(image, 5, 5, 0.6, 0xff0000, "Red");
    std::vector<cv::Mat> channels;
    cv::split(image, channels);
    EXPECT_EQ(cv::countNonZero(channels[0]) + cv::countNonZero(channels[1]), 0);
    double maxRed = 0;
    cv::minMaxLoc(channels[2], nullptr, &maxRed);
    EXPECT_GE(maxRed, 240);  // LINE_AA never covers a pixel fully at thickness 1: 247 measured
}

TEST(FormattedText, DrawsBeforeInitIntoTheCallersPixels) {
    ui::setActiveWindow("");
    cv::Mat parent(60, 200, CV_8UC3, cv::Scalar(255, 255, 255));
    ui::formattedText(parent(cv::Rect(100, 20, 100, 40)), 0, 0, 0.4, 0x000000, "shared");
    const cv::Rect box = touched(parent, kWhite);
    EXPECT_GE(box.x, 100);
    EXPECT_EQ(box.y, 20);
}

TEST(FormattedText, LongTextIsCutAt1023Characters) {
    cv::Mat image(40, 200, CV_8UC3, cv::Scalar(255, 255, 255));
    const std::string longText(2000, 'x');
    ui::formattedText(image, 0, 0, 0.4, 0x000000, "%s", longText.c_str());
    EXPECT_EQ(std::strlen(ui::formatBuffer()), 1023u);
}

}  // namespace
