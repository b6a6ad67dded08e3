// The input side of the UI layer fed through the real mouse handler, headless:
// contexts come from registerContext, never from a HighGUI window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <opencv2/highgui.hpp>
#include <string>

#include "ui/headless_window.hpp"
#include "ui/ui.hpp"

namespace {

const cv::Rect kWidget(10, 10, 20, 20);

using InputTest = HeadlessWindowTest;

TEST_F(InputTest, PointerStartsAtTheOriginSoATopLeftWidgetHovers) {
    EXPECT_EQ(ctx->pointerX, 0);
    EXPECT_EQ(ctx->pointerY, 0);
    EXPECT_EQ(ui::interactionAt({0, 0, 5, 5}), ui::Interaction::Hover);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Outside);
}

TEST_F(InputTest, RightAndBottomEdgesAreOutside) {
    send(cv::EVENT_MOUSEMOVE, 29, 29);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Hover);
    send(cv::EVENT_MOUSEMOVE, 30, 20);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Outside);
    send(cv::EVENT_MOUSEMOVE, 20, 30);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Outside);
}

TEST_F(InputTest, AClickIsARelease) {
    send(cv::EVENT_LBUTTONDOWN, 100, 100);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Outside);
    send(cv::EVENT_LBUTTONUP, 15, 15);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Clicked);
    ui::endFrame();

    send(cv::EVENT_LBUTTONDOWN, 15, 15);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Pressed);
    ui::endFrame();
    send(cv::EVENT_LBUTTONUP, 100, 100);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Outside);
}

TEST_F(InputTest, RightAndMiddleButtonsWriteTheAnyGroup) {
    for (const auto& [down, up] : {std::pair{cv::EVENT_RBUTTONDOWN, cv::EVENT_RBUTTONUP},
                                   std::pair{cv::EVENT_MBUTTONDOWN, cv::EVENT_MBUTTONUP}}) {
        send(down, 15, 15);
        EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Pressed);
        send(up, 15, 15);
        EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Clicked);
        ui::endFrame();
    }
    EXPECT_FALSE(ctx->left.wentDown || ctx->left.wentUp || ctx->left.isDown);
    send(cv::EVENT_RBUTTONDOWN, 15, 15);
    EXPECT_TRUE(ctx->right.isDown);
    EXPECT_FALSE(ctx->middle.isDown);
}

TEST_F(InputTest, ReleasingOneButtonClearsAnyHeldWhileAnotherIsHeld) {
    send(cv::EVENT_LBUTTONDOWN, 15, 15);
    send(cv::EVENT_RBUTTONDOWN, 15, 15);
    send(cv::EVENT_RBUTTONUP, 15, 15);
    EXPECT_TRUE(ctx->left.isDown);
    EXPECT_FALSE(ctx->any.isDown);
}

TEST_F(InputTest, PressAndReleaseInOneFrameReadAsOneClick) {
    send(cv::EVENT_LBUTTONDOWN, 15, 15);
    send(cv::EVENT_LBUTTONUP, 15, 15);
    EXPECT_TRUE(ctx->any.wentDown);
    EXPECT_TRUE(ctx->any.wentUp);
    EXPECT_FALSE(ctx->any.isDown);
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Clicked);
    ui::endFrame();
    EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Hover);
}

TEST_F(InputTest, EndFrameKeepsAHeldButtonAndThePointer) {
    send(cv::EVENT_MBUTTONDOWN, 12, 17);
    for (int frame = 0; frame < 3; ++frame) {
        ui::endFrame();
        EXPECT_FALSE(ctx->middle.wentDown);
        EXPECT_FALSE(ctx->any.wentDown);
        EXPECT_TRUE(ctx->middle.isDown);
        EXPECT_EQ(ui::interactionAt(kWidget), ui::Interaction::Pressed);
    }
    EXPECT_EQ(ctx->pointerX, 12);
    EXPECT_EQ(ctx->pointerY, 17);
}

TEST_F(InputTest, OtherEventsOnlyMoveThePointer) {
    for (int event : {cv::EVENT_MOUSEMOVE, cv::EVENT_LBUTTONDBLCLK, cv::EVENT_RBUTTONDBLCLK,
                      cv::EVENT_MOUSEWHEEL, cv::EVENT_MOUSEHWHEEL}) {
        send(event, event + 40, 7);
        EXPECT_EQ(ctx->pointerX, event + 40);
        EXPECT_FALSE(ctx->any.wentDown || ctx->any.wentUp || ctx->any.isDown) << "event " << event;
    }
}

TEST_F(InputTest, RegisteringAgainResetsTheContextInPlace) {
    send(cv::EVENT_LBUTTONDOWN, 15, 15);
    ui::WindowContext& again = ui::registerContext(kHeadlessWindow);
    EXPECT_EQ(&again, ctx);  // HighGUI keeps writing through the old address
    EXPECT_EQ(again.windowName, kHeadlessWindow);
    EXPECT_FALSE(again.left.isDown || again.any.isDown || again.any.wentDown);
    EXPECT_EQ(again.pointerX, 0);
    EXPECT_EQ(again.pointerY, 0);
}

TEST_F(InputTest, EndFrameOfANamedWindowLeavesTheActiveOneAlone) {
    ui::WindowContext& other = ui::registerContext("input other");
    ui::mouseHandler(cv::EVENT_LBUTTONUP, 1, 1, 0, &other);
    send(cv::EVENT_LBUTTONUP, 15, 15);
    ui::endFrame("input other");
    EXPECT_FALSE(other.any.wentUp);
    EXPECT_TRUE(ctx->any.wentUp);
    EXPECT_EQ(&ui::context(), ctx);
}

TEST(ContextLookup, AnUnknownNameGetsAnEmptyContextThatStays) {
    ui::WindowContext& first = ui::context("input never registered");
    EXPECT_TRUE(first.windowName.empty());
    EXPECT_EQ(&ui::context("input never registered"), &first);
}

// Death tests re-run the binary for the one test, so nothing here leaks into
// the other tests' process state.
class FatalErrorDeathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousStyle = GTEST_FLAG_GET(death_test_style);
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    void TearDown() override { GTEST_FLAG_SET(death_test_style, previousStyle); }
    std::string previousStyle;
};

// The death test reads the child's stderr; pointing stdout there and stderr
// at /dev/null makes the match prove the text went to stdout.
void stdoutOnly() {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
}

const char kNoContext[] =
    "^\\[UI\\] Fatal error \\(code 5\\): Unable to read context\\. Did you forget to call "
    "ui::init\\(\\)\\?\n$";

TEST_F(FatalErrorDeathTest, PrintsTheLineOnStdoutAndExitsWithMinusOne) {
    EXPECT_EXIT((stdoutOnly(), ui::fatalError(7, "disk on fire")), ::testing::ExitedWithCode(255),
                "^\\[UI\\] Fatal error \\(code 7\\): disk on fire\n$");
}

TEST_F(FatalErrorDeathTest, EveryWidgetBeforeInitDiesWithCodeFive) {
    cv::Mat image(50, 50, CV_8UC3);
    bool state = false;
    double value = 0;
    auto beforeInit = [] {
        ui::setActiveWindow("");
        stdoutOnly();
    };
    EXPECT_EXIT((beforeInit(), ui::tickBox(image, 0, 0, "x", state, 0.4)),
                ::testing::ExitedWithCode(255), kNoContext);
    EXPECT_EXIT((beforeInit(), ui::slider(image, 0, 0, 40, value, ui::SliderSettings())),
                ::testing::ExitedWithCode(255), kNoContext);
    EXPECT_EXIT((beforeInit(), ui::pushButton(image, 0, 0, "x", 0.4)),
                ::testing::ExitedWithCode(255), kNoContext);
    EXPECT_EXIT((beforeInit(), ui::endFrame()), ::testing::ExitedWithCode(255), kNoContext);
}

}  // namespace
