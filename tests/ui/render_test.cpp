// How the widgets look, drawn off-screen and checked pixel by pixel against
// their geometry. Sections: pixel helpers · tick box · slider · push button.
#include <gtest/gtest.h>

#include <cstdlib>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "ui/headless_window.hpp"
#include "ui/ui.hpp"

namespace {

using Bgr = cv::Vec3b;

const Bgr kGrey(200, 200, 200);
const Bgr kBlack(0, 0, 0);
const Bgr kBevelLight(146, 146, 146);

// LINE_AA spreads a 1-pixel edge over its neighbours: on its own pixel it can
// miss the colour by a few levels (2 measured at the bar's border, 6 at the
// handle's inner fill), and beside it it leaves a fringe. kAaSlack covers the miss.
constexpr int kAaSlack = 6;

bool near(const Bgr& pixel, int level, int slack = kAaSlack) {
    for (int c = 0; c < 3; ++c) {
        if (std::abs(pixel[c] - level) > slack) return false;
    }
    return true;
}

Bgr at(const cv::Mat& image, int x, int y) {
    return image.at<Bgr>(y, x);
}

// True when every pixel of `area` equals `colour`.
bool allEqual(const cv::Mat& image, const cv::Rect& area, const Bgr& colour) {
    for (int y = area.y; y < area.y + area.height; ++y) {
        for (int x = area.x; x < area.x + area.width; ++x) {
            if (at(image, x, y) != colour) return false;
        }
    }
    return true;
}

// Checks the 1-pixel ring just inside `r` and returns `r` shrunk by one. The
// top and left edges are drawn last, so they own the top-right and
// bottom-left corners.
cv::Rect expectRing(const cv::Mat& image, const cv::Rect& r, const Bgr& upperLeft,
                    const Bgr& lowerRight) {
    EXPECT_TRUE(allEqual(image, {r.x, r.y, r.width, 1}, upperLeft)) << r;
    EXPECT_TRUE(allEqual(image, {r.x, r.y, 1, r.height}, upperLeft)) << r;
    EXPECT_TRUE(allEqual(image, {r.x + 1, r.y + r.height - 1, r.width - 1, 1}, lowerRight)) << r;
    EXPECT_TRUE(allEqual(image, {r.x + r.width - 1, r.y + 1, 1, r.height - 1}, lowerRight)) << r;
    return {r.x + 1, r.y + 1, r.width - 2, r.height - 2};
}

bool sameArea(const cv::Mat& a, const cv::Mat& b, const cv::Rect& area) {
    return cv::norm(a(area), b(area), cv::NORM_INF) == 0;
}

void putLabel(cv::Mat& image, const std::string& text, cv::Point origin, double scale,
              const cv::Scalar& colour) {
    cv::putText(image, text, origin, cv::FONT_HERSHEY_SIMPLEX, scale, colour, 1, cv::LINE_AA);
}

int labelWidth(const std::string& text, double scale) {
    int baseline = 0;
    return cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, scale, 1, &baseline).width;
}

class RenderTest : public HeadlessWindowTest {
  protected:
    void SetUp() override {
        HeadlessWindowTest::SetUp();
        send(cv::EVENT_MOUSEMOVE, 599, 299);  // away from every widget
    }
    cv::Mat image = cv::Mat(300, 600, CV_8UC3, cv::Scalar(200, 200, 200));
};

// ---------------------------------------------------------------------------
// Tick box at (15, 30).

TEST_F(RenderTest, TickBoxRingsFillAndMark) {
    const Bgr outline(99, 99, 99), inner(23, 23, 23), fill(41, 41, 41);
    bool state = true;
    ui::tickBox(image, 15, 30, "Use file", state, 0.4);
    const cv::Rect filled =
        expectRing(image, expectRing(image, {15, 30, 15, 15}, outline, outline), inner, inner);
    EXPECT_EQ(filled, cv::Rect(17, 32, 11, 11));
    expectRing(image, filled, fill, fill);
    EXPECT_TRUE(allEqual(image, {18, 33, 9, 9}, Bgr(255, 191, 117)));  // mark x 18-26, y 33-41
    expectRing(image, {14, 29, 17, 17}, kGrey, kGrey);

    state = false;
    ui::tickBox(image, 15, 30, "Use file", state, 0.4);
    EXPECT_TRUE(allEqual(image, filled, fill));
}

TEST_F(RenderTest, TickBoxLabelStartsSixPixelsRightOfTheFill) {
    bool state = false;
    ui::tickBox(image, 15, 30, "Use file", state, 0.4);

    // label height 9 at scale 0.4: baseline 30 + 6 + 9 - 4 = 41, black
    cv::Mat expected(image.size(), image.type(), cv::Scalar(200, 200, 200));
    putLabel(expected, "Use file", {34, 41}, 0.4, cv::Scalar(0, 0, 0));
    EXPECT_TRUE(sameArea(image, expected, {30, 20, 200, 40}));
    EXPECT_TRUE(allEqual(image, {30, 30, 4, 15}, kGrey));
}

TEST_F(RenderTest, TickBoxUnderThePointerHasTheLighterOutline) {
    send(cv::EVENT_MOUSEMOVE, 50, 35);  // over the label
    bool state = false;
    ui::tickBox(image, 15, 30, "Use file", state, 0.4);
    const Bgr hover(128, 128, 128), inner(23, 23, 23);
    expectRing(image, expectRing(image, {15, 30, 15, 15}, hover, hover), inner, inner);
}

// ---------------------------------------------------------------------------
// Slider at (15, 90), width 150, font scale 0.4, 0 to 3 in 3 segments: height
// 45, bar top 112, track x 29 (min) to 151 (max). Drawn on black so that the
// light (206) labels stand out.

class SliderRenderTest : public RenderTest {
  protected:
    void draw(double value) {
        image = cv::Scalar(0, 0, 0);
        settings.min = 0;
        settings.max = 3;
        settings.segments = 3;
        settings.options = ui::SliderNoStepTicks;
        ui::slider(image, 15, 90, 150, value, settings);
    }
    // The lowest row in `area` with a pixel above half the label colour: the
    // baseline, since the fringe LINE_AA leaves below a glyph is fainter.
    int baselineIn(const cv::Rect& area) const {
        for (int y = area.y + area.height - 1; y >= area.y; --y) {
            for (int x = area.x; x < area.x + area.width; ++x) {
                if (at(image, x, y)[0] > 103) return y;
            }
        }
        return -1;
    }
    ui::SliderSettings settings;
};

TEST_F(SliderRenderTest, BarAndGroove) {
    draw(0);  // handle at x 26-31, marks at 69, 110 and 151

    for (int x = 33; x <= 148; ++x) {
        if (x == 69 || x == 110) continue;
        EXPECT_TRUE(near(at(image, x, 112), 62)) << x;  // border 0x3E3E3E, x 29-150, y 112-118
        EXPECT_TRUE(near(at(image, x, 118), 62)) << x;
        EXPECT_EQ(at(image, x, 117), Bgr(14, 14, 14)) << x;  // groove
        EXPECT_TRUE(near(at(image, x, 115), 41)) << x;       // fill
        EXPECT_EQ(at(image, x, 110), kBlack) << x;           // past the fringe
        EXPECT_EQ(at(image, x, 120), kBlack) << x;
    }
    for (int y = 113; y <= 117; ++y) {
        EXPECT_TRUE(near(at(image, 150, y), 62)) << y;
        EXPECT_EQ(at(image, 152, y), kBlack) << y;
    }
    EXPECT_EQ(at(image, 149, 117), Bgr(14, 14, 14));  // groove x 30-149
    EXPECT_TRUE(near(at(image, 150, 117), 62));

    draw(3);  // handle out of the way at the right end
    EXPECT_EQ(at(image, 30, 117), Bgr(14, 14, 14));
    EXPECT_TRUE(near(at(image, 29, 117), 62));
    EXPECT_EQ(at(image, 27, 115), kBlack);
}

TEST_F(SliderRenderTest, SegmentMarksAndLabels) {
    draw(3);

    // marks at 29 + 0, 1/3, 2/3 of 122, truncated: 29, 69, 110, and 151 (under the handle)
    for (int x : {29, 69, 110}) {
        EXPECT_TRUE(allEqual(image, {x, 104, 1, 9}, Bgr(81, 81, 81))) << x;  // y 104-112
        EXPECT_LT(at(image, x, 103)[0], 103) << x;  // only label fringe above
    }
    EXPECT_EQ(baselineIn({20, 90, 150, 13}), 101);

    // "1" centred over its mark at scale 0.3; "0" lands twice on itself
    cv::Mat expected(image.size(), image.type(), cv::Scalar(0, 0, 0));
    putLabel(expected, "1", {69 - labelWidth("1", 0.3) / 2, 101}, 0.3, cv::Scalar(206, 206, 206));
    for (int twice = 0; twice < 2; ++twice) {
        putLabel(expected, "0", {29 - labelWidth("0", 0.3) / 2, 101}, 0.3,
                 cv::Scalar(206, 206, 206));
    }
    EXPECT_TRUE(sameArea(image, expected, {60, 88, 20, 15}));
    EXPECT_TRUE(sameArea(image, expected, {20, 88, 20, 15}));
}

TEST_F(SliderRenderTest, HandleAndValueLabel) {
    draw(1.5);  // handle at 29 + 61 = 90: x 87-92, y 108-122

    for (int y = 108; y <= 122; ++y) {
        EXPECT_GE(at(image, 89, y)[0], 33 - kAaSlack) << y;
    }
    EXPECT_TRUE(near(at(image, 89, 114), 66));  // inner fill, normal look
    for (int y : {107, 123}) EXPECT_LT(at(image, 89, y)[0], 33 - kAaSlack) << y;
    EXPECT_EQ(at(image, 89, 106), kBlack);
    EXPECT_EQ(at(image, 89, 124), kBlack);
    EXPECT_EQ(at(image, 85, 109), kBlack);
    EXPECT_EQ(at(image, 94, 109), kBlack);

    EXPECT_EQ(baselineIn({80, 124, 20, 20}), 134);
}

TEST_F(SliderRenderTest, HoverLightensBarBorderAndHandle) {
    send(cv::EVENT_MOUSEMOVE, 120, 95);
    draw(1.5);
    EXPECT_TRUE(near(at(image, 50, 118), 78));  // 0x4E4E4E
    EXPECT_TRUE(near(at(image, 89, 114), 82));  // 0x525252
}

// ---------------------------------------------------------------------------
// Push button "Use selected settings" at (15, 160): the label's size plus
// 30 x 18.

class ButtonRenderTest : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        int baseline = 0;
        labelSize = cv::getTextSize(kLabel, cv::FONT_HERSHEY_SIMPLEX, 0.4, 1, &baseline);
        rect = {15, 160, labelSize.width + 30, labelSize.height + 18};
    }
    const std::string kLabel = "Use selected settings";
    cv::Size labelSize;
    cv::Rect rect;
};

TEST_F(ButtonRenderTest, OneBevelRingBelowScaleSixTenths) {  // and the Outside look
    ui::pushButton(image, 15, 160, kLabel, 0.4);
    const cv::Rect face = expectRing(image, rect, kBevelLight, kBlack);
    EXPECT_TRUE(allEqual(image, {face.x, face.y, face.width, 1}, Bgr(66, 66, 66)));
    EXPECT_TRUE(
        allEqual(image, {face.x, face.y + face.height - 1, face.width, 1}, Bgr(66, 66, 66)));
    EXPECT_TRUE(allEqual(image, {rect.x - 1, rect.y - 1, rect.width + 2, 1}, kGrey));
}

TEST_F(ButtonRenderTest, TwoBevelRingsFromScaleSixTenths) {
    int baseline = 0;
    const cv::Size size = cv::getTextSize(kLabel, cv::FONT_HERSHEY_SIMPLEX, 0.6, 1, &baseline);
    const cv::Rect outer(15, 60, size.width + 30, size.height + 18);
    ui::pushButton(image, 15, 60, kLabel, 0.6);
    const cv::Rect face =
        expectRing(image, expectRing(image, outer, kBevelLight, kBlack), kBevelLight, kBlack);
    EXPECT_EQ(face, cv::Rect(outer.x + 2, outer.y + 2, outer.width - 4, outer.height - 4));
    EXPECT_TRUE(allEqual(image, {face.x, face.y, face.width, 1}, Bgr(66, 66, 66)));
    EXPECT_TRUE(allEqual(image, {face.x, face.y, 1, face.height}, Bgr(66, 66, 66)));
}

TEST_F(ButtonRenderTest, FourLooks) {
    const cv::Point inside(rect.x + 5, rect.y + 5);
    const cv::Rect faceTop(rect.x + 1, rect.y + 1, rect.width - 2, 1);

    send(cv::EVENT_MOUSEMOVE, inside.x, inside.y);  // Hover: raised, lighter face
    ui::pushButton(image, 15, 160, kLabel, 0.4);
    expectRing(image, rect, kBevelLight, kBlack);
    EXPECT_TRUE(allEqual(image, faceTop, Bgr(82, 82, 82)));

    send(cv::EVENT_RBUTTONDOWN, inside.x, inside.y);  // Pressed: sunken, dark face
    ui::pushButton(image, 15, 160, kLabel, 0.4);
    expectRing(image, rect, kBlack, kBevelLight);
    EXPECT_TRUE(allEqual(image, faceTop, Bgr(50, 50, 50)));

    send(cv::EVENT_RBUTTONUP, inside.x, inside.y);  // Clicked: as Pressed
    ui::pushButton(image, 15, 160, kLabel, 0.4);
    expectRing(image, rect, kBlack, kBevelLight);
    EXPECT_TRUE(allEqual(image, faceTop, Bgr(50, 50, 50)));
}

TEST_F(ButtonRenderTest, PressedLabelIsOneHundredthSmaller) {
    // origin: centre of the face (rect shrunk once) less half the label size
    const cv::Rect face(rect.x + 1, rect.y + 1, rect.width - 2, rect.height - 2);
    const cv::Point origin(face.x + face.width / 2 - labelSize.width / 2,
                           face.y + face.height / 2 + labelSize.height / 2);
    const cv::Point inside(rect.x + 5, rect.y + 5);
    auto expectLabel = [&](double scale) {
        cv::Mat expected(image.size(), image.type(), cv::Scalar(50, 50, 50));
        putLabel(expected, kLabel, origin, scale, cv::Scalar(206, 206, 206));
        EXPECT_TRUE(
            sameArea(image, expected, {face.x + 1, face.y + 1, face.width - 2, face.height - 2}))
            << "scale " << scale;
    };

    send(cv::EVENT_LBUTTONDOWN, inside.x, inside.y);
    ui::pushButton(image, 15, 160, kLabel, 0.4);
    expectLabel(0.39);
    send(cv::EVENT_LBUTTONUP, inside.x, inside.y);
    ui::pushButton(image, 15, 160, kLabel, 0.4);
    expectLabel(0.4);
}

TEST_F(ButtonRenderTest, MarkedLetterIsUnderlinedAndTheLabelCentredAsWritten) {
    const std::string label = "&Save";
    int baseline = 0;
    const cv::Size size = cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, 0.4, 1, &baseline);
    const cv::Rect face(16, 161, size.width + 28, size.height + 16);
    const int x1 = face.x + face.width / 2 - size.width / 2;  // centred by the width with '&'
    const int x2 = x1 + labelWidth("S", 0.4);
    const int y = face.y + face.height / 2 + size.height / 2 + 3;

    ui::pushButton(image, 15, 160, label, 0.4);
    cv::Mat expected(image.size(), image.type(), cv::Scalar(66, 66, 66));
    putLabel(expected, "S", {x1, y - 3}, 0.4, cv::Scalar(206, 206, 206));
    putLabel(expected, "ave", {x2, y - 3}, 0.4, cv::Scalar(206, 206, 206));
    cv::line(expected, {x1, y}, {x2, y}, cv::Scalar(206, 206, 206), 1, cv::LINE_AA);
    EXPECT_TRUE(
        sameArea(image, expected, {face.x + 1, face.y + 1, face.width - 2, face.height - 2}));
    // LINE_AA lays about 91% of a 1-pixel line on its own row: 66 + 0.91 x 140 = 193,
    // measured on every pixel; the slack of 2 allows for rounding of that share
    for (int x = x1 + 1; x < x2; ++x) EXPECT_TRUE(near(at(image, x, y), 193, 2)) << x;

    image = cv::Scalar(200, 200, 200);
    ui::pushButton(image, 15, 160, "Save", 0.4);
    EXPECT_TRUE(allEqual(image, {17, y, labelWidth("Save", 0.4) + 26, 1},
                         Bgr(66, 66, 66)));  // no underline
}

}  // namespace
