// Widget behaviour driven through the real mouse handler, one frame at a time:
// tick box, slider, push button, and the '&' label split.
#include <gtest/gtest.h>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "ui/headless_window.hpp"
#include "ui/ui.hpp"

namespace {

class WidgetTest : public HeadlessWindowTest {
  protected:
    void click(int x, int y, int down = cv::EVENT_LBUTTONDOWN, int up = cv::EVENT_LBUTTONUP) {
        send(down, x, y);
        send(up, x, y);
    }
    // One frame of a single tick box at (15, 30); returns the new state.
    bool tickFrame(const std::string& label, double fontScale) {
        const bool result = ui::tickBox(image, 15, 30, label, box, fontScale);
        ui::endFrame();
        return result;
    }
    cv::Mat image = cv::Mat(300, 600, CV_8UC3, cv::Scalar(200, 200, 200));
    bool box = false;
};

int labelWidth(const std::string& text, double scale) {
    int baseline = 0;
    return cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, scale, 1, &baseline).width;
}

// ---------------------------------------------------------------------------
// Tick box.

TEST_F(WidgetTest, TickBoxToggleShowsInTheSameFrameAndReturnsTheNewState) {
    click(20, 35);
    EXPECT_TRUE(tickFrame("Use file", 0.4));
    EXPECT_TRUE(box);
    EXPECT_EQ(image.at<cv::Vec3b>(37, 22), cv::Vec3b(255, 191, 117));
}

TEST_F(WidgetTest, TickBoxHitBandIsFifteenPixelsTallWhateverTheFont) {
    const int labelEnd = 15 + labelWidth("Tall", 2.0) + 21;  // box, gap, label
    click(labelEnd - 1, 44);
    EXPECT_TRUE(tickFrame("Tall", 2.0));
    click(labelEnd - 1, 45);  // below the band, still on the big glyphs
    EXPECT_TRUE(tickFrame("Tall", 2.0));
    click(labelEnd, 35);
    EXPECT_TRUE(tickFrame("Tall", 2.0));
}

TEST_F(WidgetTest, TickBoxWithoutLabelHasABoxAndAGap) {
    // OpenCV measures "" as 1 pixel wide (the stroke thickness), so the band
    // ends at 15 + 1 + 21
    const int bandEnd = 15 + labelWidth("", 0.4) + 21;
    click(bandEnd - 1, 35);
    EXPECT_TRUE(tickFrame("", 0.4));
    click(bandEnd, 35);
    EXPECT_TRUE(tickFrame("", 0.4));
}

TEST_F(WidgetTest, TickBoxClicksInTwoFramesToggleBackAndAHeldButtonDoesNothing) {
    click(20, 35);
    EXPECT_TRUE(tickFrame("x", 0.4));
    click(20, 35);
    EXPECT_FALSE(tickFrame("x", 0.4));

    send(cv::EVENT_MBUTTONDOWN, 20, 35);
    for (int frame = 0; frame < 3; ++frame) EXPECT_FALSE(tickFrame("x", 0.4));
    send(cv::EVENT_MBUTTONUP, 20, 35);
    EXPECT_TRUE(tickFrame("x", 0.4));
}

TEST_F(WidgetTest, TickBoxAnswersARightClick) {
    click(20, 35, cv::EVENT_RBUTTONDOWN, cv::EVENT_RBUTTONUP);
    EXPECT_TRUE(tickFrame("x", 0.4));
}

// ---------------------------------------------------------------------------
// Slider.

class SliderTest : public WidgetTest {
  protected:
    // One frame of a slider at (15, 90); returns what slider returned.
    bool frame(int width = 150) {
        const bool changed = ui::slider(image, 15, 90, width, value, settings);
        ui::endFrame();
        return changed;
    }
    ui::SliderSettings settings = threeSteps();
    double value = 0;

    static ui::SliderSettings threeSteps() {
        ui::SliderSettings s;
        s.max = 3;
        s.segments = 3;
        return s;
    }
};

TEST_F(SliderTest, DraggingMapsTheTrackOntoTheRange) {
    // exact: t is a multiple of 1/122 times 3, and 0 and 1 are held by the clamp
    for (const auto& [pointerX, expected] :
         {std::pair{29, 0.0}, {151, 3.0}, {90, 1.5}, {16, 0.0}, {164, 3.0}}) {
        value = 2;
        send(cv::EVENT_LBUTTONDOWN, pointerX, 110);
        EXPECT_TRUE(frame());
        EXPECT_DOUBLE_EQ(value, expected) << pointerX;
        send(cv::EVENT_LBUTTONUP, pointerX, 110);
        frame();
    }
}

TEST_F(SliderTest, HandleFollowsOneFrameLater) {
    send(cv::EVENT_LBUTTONDOWN, 145, 110);
    frame();
    EXPECT_EQ(image.at<cv::Vec3b>(114, 145)[0], 41);  // handle still at 0: bar fill at x 145
    frame();
    EXPECT_NE(image.at<cv::Vec3b>(114, 145)[0], 41);  // handle moved there
}

TEST_F(SliderTest, SnappingRoundsHalfStepsToEven) {
    // track of 128 pixels over 0..64: pointer offset d gives d / 2 exactly
    settings.max = 64;
    settings.options = ui::SliderSnapToStep;
    for (const auto& [offset, expected] : {std::pair{5, 2.0}, {7, 4.0}, {6, 3.0}}) {
        send(cv::EVENT_LBUTTONDOWN, 29 + offset, 110);
        frame(156);
        EXPECT_EQ(value, expected) << offset;
    }
}

TEST_F(SliderTest, SnappingCountsStepsFromMin) {
    settings.min = 0.5;
    settings.max = 64.5;
    settings.options = ui::SliderSnapToStep;
    send(cv::EVENT_LBUTTONDOWN, 29 + 5, 110);  // raw 3.0, 2.5 steps from min
    frame(156);
    EXPECT_EQ(value, 2.5);
}

TEST_F(SliderTest, ValueChangesOnlyUnderAHeldButton) {
    send(cv::EVENT_LBUTTONDOWN, 90, 110);
    EXPECT_TRUE(frame());
    EXPECT_FALSE(frame());  // held still
    EXPECT_EQ(value, 1.5);

    send(cv::EVENT_MOUSEMOVE, 90, 135);  // below the 45-pixel rectangle: drag paused
    EXPECT_FALSE(frame());
    send(cv::EVENT_MOUSEMOVE, 29, 134);  // back inside: resumed
    EXPECT_TRUE(frame());
    EXPECT_EQ(value, 0);

    send(cv::EVENT_LBUTTONUP, 29, 134);
    frame();
    send(cv::EVENT_MOUSEMOVE, 151, 110);
    EXPECT_FALSE(frame());
    EXPECT_EQ(value, 0);
}

TEST_F(SliderTest, AValueOutsideTheRangeIsKept) {
    value = 7;
    EXPECT_FALSE(frame());
    EXPECT_EQ(value, 7);
}

// ---------------------------------------------------------------------------
// Push button at (15, 160); one row per line of the table in widgets.cpp.

class ButtonTest : public WidgetTest {
  protected:
    bool frame() {
        const bool clicked = ui::pushButton(image, 15, 160, "Use selected settings", 0.4);
        ui::endFrame();
        return clicked;
    }
};

TEST_F(ButtonTest, AnswersOnceInTheFrameAfterTheRelease) {
    send(cv::EVENT_LBUTTONDOWN, 20, 165);
    EXPECT_FALSE(frame());
    EXPECT_FALSE(frame());
    send(cv::EVENT_LBUTTONUP, 20, 165);
    EXPECT_TRUE(frame());
    EXPECT_FALSE(frame());
}

TEST_F(ButtonTest, IsThirtyWiderAndEighteenTallerThanItsLabel) {
    int baseline = 0;
    const cv::Size label =
        cv::getTextSize("Use selected settings", cv::FONT_HERSHEY_SIMPLEX, 0.4, 1, &baseline);
    const cv::Point lastPixel(15 + label.width + 29, 160 + label.height + 17);
    click(lastPixel.x, lastPixel.y);
    EXPECT_TRUE(frame());
    click(lastPixel.x + 1, lastPixel.y);
    EXPECT_FALSE(frame());
    click(lastPixel.x, lastPixel.y + 1);
    EXPECT_FALSE(frame());
}

TEST_F(ButtonTest, ReleaseDecidesWhereTheClickLands) {
    send(cv::EVENT_LBUTTONDOWN, 20, 165);
    send(cv::EVENT_LBUTTONUP, 400, 165);
    EXPECT_FALSE(frame());

    send(cv::EVENT_LBUTTONDOWN, 400, 165);
    send(cv::EVENT_LBUTTONUP, 20, 165);
    EXPECT_TRUE(frame());

    click(20, 165, cv::EVENT_RBUTTONDOWN, cv::EVENT_RBUTTONUP);
    EXPECT_TRUE(frame());
}

// ---------------------------------------------------------------------------
// Label split.

void expectParts(const std::string& label, bool hasMarker, char marked, const std::string& before,
                 const std::string& after) {
    const ui::LabelParts parts = ui::splitLabel(label);
    EXPECT_EQ(parts.hasMarker, hasMarker) << label;
    if (hasMarker) {
        EXPECT_EQ(parts.marked, marked) << label;
    }
    EXPECT_EQ(parts.before, before) << label;
    EXPECT_EQ(parts.after, after) << label;
}

TEST(SplitLabel, MarkerCases) {
    expectParts("&Save", true, 'S', "", "ave");
    expectParts("Save&", false, 0, "Save&", "");  // a final '&' marks nothing
    expectParts("a&&b", true, '&', "a", "b");
    expectParts("a&bc&de", true, 'd', "a", "ce");  // a later marker replaces the first
}

}  // namespace
