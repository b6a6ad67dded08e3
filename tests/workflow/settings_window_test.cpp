// The Settings window's frame function driven by synthetic mouse events,
// headless: the context is registered without a HighGUI window.
#include <gtest/gtest.h>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "ui/headless_window.hpp"
#include "ui/ui.hpp"
#include "workflow/chart/chart.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

// Pixels inside each tick box's 9 x 9 mark square (the box corner + 7).
const cv::Point kFileBox(22, 37);
const cv::Point kCameraBox(22, 52);
const cv::Point kBatchBox(207, 167);
cv::Point chartBox(int i) {
    return {207, 37 + 15 * i};
}

const cv::Vec3b kMark(255, 191, 117);
const cv::Vec3b kBoxFill(41, 41, 41);

class SettingsWindowTest : public HeadlessWindowTest {
  protected:
    // One frame as runSettingsWindow runs it; returns what settingsFrame did.
    bool frame() {
        const bool leave = settingsFrame(state, image);
        if (!leave) ui::endFrame();
        return leave;
    }
    bool clickAndFrame(cv::Point p) {
        send(cv::EVENT_LBUTTONDOWN, p);
        send(cv::EVENT_LBUTTONUP, p);
        return frame();
    }
    bool ticked(cv::Point p) const { return image.at<cv::Vec3b>(p) == kMark; }
    bool clear(cv::Point p) const { return image.at<cv::Vec3b>(p) == kBoxFill; }
    int tickedChartBoxes() const {
        int n = 0;
        for (bool box : state.chartBoxes) n += box;
        return n;
    }

    SettingsState state;
    cv::Mat image = cv::Mat(kSettingsHeight, kSettingsWidth, CV_8UC3);
};

TEST_F(SettingsWindowTest, OpensWithFileSourceFirstChartAndCameraZero) {
    EXPECT_FALSE(frame());
    EXPECT_TRUE(ticked(kFileBox));
    EXPECT_TRUE(clear(kCameraBox));
    EXPECT_TRUE(ticked(chartBox(0)));
    for (int i = 1; i < kChartChoices; ++i) EXPECT_TRUE(clear(chartBox(i))) << i;
    EXPECT_TRUE(clear(kBatchBox));
    EXPECT_EQ(image.at<cv::Vec3b>(5, 545), cv::Vec3b(200, 200, 200));
    // handle at the track's left end, x 29: inner fill 0x424242 up to LINE_AA's 6-level miss
    EXPECT_NEAR(image.at<cv::Vec3b>(114, 29)[0], 66, 6);
    EXPECT_EQ(image.at<cv::Vec3b>(114, 90)[0], 41);  // bare bar where value 1.5 would be
}

TEST_F(SettingsWindowTest, TheButtonAtOnceGivesTheInitialRecord) {
    EXPECT_TRUE(clickAndFrame({40, 170}));
    EXPECT_EQ(state.settings.source, Source::File);
    EXPECT_EQ(state.settings.cameraIndex, 0);
    EXPECT_EQ(state.settings.chartChoice, 0);
    EXPECT_FALSE(state.settings.batchMode);
}

TEST_F(SettingsWindowTest, ClickingTheChosenChartBoxClearsItButKeepsTheChoice) {
    clickAndFrame(chartBox(3));
    EXPECT_EQ(state.settings.chartChoice, 3);
    EXPECT_TRUE(state.chartBoxes[3]);
    EXPECT_EQ(tickedChartBoxes(), 1);

    clickAndFrame(chartBox(3));
    EXPECT_EQ(tickedChartBoxes(), 0);
    EXPECT_EQ(state.settings.chartChoice, 3);

    clickAndFrame(chartBox(3));
    EXPECT_EQ(tickedChartBoxes(), 1);
    EXPECT_EQ(state.settings.chartChoice, 3);
}

TEST_F(SettingsWindowTest, ClearingTheFileBoxLeavesNoSource) {
    clickAndFrame(kFileBox);
    frame();
    EXPECT_EQ(state.settings.source, Source::None);
    EXPECT_TRUE(clear(kFileBox));
    EXPECT_TRUE(clear(kCameraBox));
}

TEST_F(SettingsWindowTest, ABoxClearedByARuleShowsTickedForOneFrame) {
    clickAndFrame(kCameraBox);
    EXPECT_EQ(state.settings.source, Source::Camera);
    EXPECT_TRUE(ticked(kFileBox));
    EXPECT_TRUE(ticked(kCameraBox));
    frame();
    EXPECT_TRUE(clear(kFileBox));

    clickAndFrame(chartBox(5));
    EXPECT_TRUE(ticked(chartBox(0)));
    frame();
    EXPECT_TRUE(clear(chartBox(0)));
    EXPECT_TRUE(ticked(chartBox(5)));

    clickAndFrame(kFileBox);  // and back to the file
    EXPECT_EQ(state.settings.source, Source::File);
}

TEST_F(SettingsWindowTest, CameraThreeOnlyAtTheRightEndOfTheTrack) {
    send(cv::EVENT_LBUTTONDOWN, {15, 110});
    for (int x = 15; x < 165; ++x) {
        send(cv::EVENT_MOUSEMOVE, {x, 110});
        frame();
        EXPECT_EQ(state.settings.cameraIndex == 3, x >= 151) << x;
    }
    send(cv::EVENT_MOUSEMOVE, {90, 110});
    frame();
    EXPECT_EQ(state.settings.cameraIndex, 1);  // 1.5 truncated
}

TEST_F(SettingsWindowTest, BatchBoxIsIndependent) {
    clickAndFrame(kBatchBox);
    EXPECT_TRUE(state.settings.batchMode);
    EXPECT_EQ(state.settings.source, Source::File);
    EXPECT_EQ(state.settings.chartChoice, 0);
}

}  // namespace
}  // namespace tintsmith
