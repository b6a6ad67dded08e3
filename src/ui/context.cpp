// The UI layer's process-wide state and its input side: the context registry,
// the active window, the mouse handler, endFrame, interactionAt and the one
// fatal path.
#include <cstdlib>
#include <iostream>
#include <map>
#include <opencv2/highgui.hpp>

#include "ui/ui_internal.hpp"

namespace ui {

namespace {

// Process-wide state, alive from first use to process exit. Only the GUI
// thread touches it: HighGUI runs mouseHandler inside cv::waitKey on that
// thread, so nothing here is locked.
//  - registry: one context per window name. A std::map is node-based, so a
//    context never moves and its address can be HighGUI's mouse user data.
//  - activeName: the window that widgets, interactionAt and endFrame read.
//  - windowOpened: a HighGUI window exists, so fatalError can wait for a key.
//  - formatText: where formattedText and the slider labels format their text.
std::map<std::string, WindowContext> registry;
std::string activeName;
bool windowOpened = false;
char formatText[kFormatBufferSize];

void recordPress(ButtonFlags& button, ButtonFlags& any) {
    button.wentDown = button.isDown = true;
    any.wentDown = any.isDown = true;
}

void recordRelease(ButtonFlags& button, ButtonFlags& any) {
    button.wentUp = true;
    button.isDown = false;
    any.wentUp = true;
    any.isDown = false;
}

void clearFrameFlags(ButtonFlags& button) {
    button.wentUp = false;
    button.wentDown = false;
}

}  // namespace

char* formatBuffer() {
    return formatText;
}

void init(const std::string& windowName) {
    setActiveWindow(windowName);
    registerWindow(windowName);
}

void registerWindow(const std::string& windowName) {
    // an existing window of that name is left as it is; GUI_NORMAL keeps Qt's
    // toolbar and wheel zoom away: one image pixel per window pixel
    cv::namedWindow(windowName, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
    windowOpened = true;
    WindowContext& ctx = registerContext(windowName);
    cv::setMouseCallback(windowName, mouseHandler, &ctx);
}

WindowContext& registerContext(const std::string& windowName) {
    // reset in place: the handler may already hold this address
    WindowContext& ctx = registry[windowName];
    ctx = WindowContext();
    ctx.windowName = windowName;
    return ctx;
}

void setActiveWindow(const std::string& windowName) {
    activeName = windowName;
}

// Records only: the flags set here are cleared by endFrame, never here.
void mouseHandler(int event, int x, int y, int /*flags*/, void* userData) {
    auto* ctx = static_cast<WindowContext*>(userData);
    if (ctx == nullptr) return;
    switch (event) {
        case cv::EVENT_LBUTTONDOWN:
            recordPress(ctx->left, ctx->any);
            break;
        case cv::EVENT_RBUTTONDOWN:
            recordPress(ctx->right, ctx->any);
            break;
        case cv::EVENT_MBUTTONDOWN:
            recordPress(ctx->middle, ctx->any);
            break;
        case cv::EVENT_LBUTTONUP:
            recordRelease(ctx->left, ctx->any);
            break;
        case cv::EVENT_RBUTTONUP:
            recordRelease(ctx->right, ctx->any);
            break;
        case cv::EVENT_MBUTTONUP:
            recordRelease(ctx->middle, ctx->any);
            break;
        default:
            break;  // moves, double clicks and the wheel only move the pointer
    }
    ctx->pointerX = x;
    ctx->pointerY = y;
}

WindowContext& context(const std::string& windowName) {
    const std::string& name = windowName.empty() ? activeName : windowName;
    if (name.empty()) fatalError(5, "Unable to read context. Did you forget to call ui::init()?");
    return registry[name];
}

void endFrame(const std::string& windowName) {
    WindowContext& ctx = context(windowName);
    clearFrameFlags(ctx.left);
    clearFrameFlags(ctx.middle);
    clearFrameFlags(ctx.right);
    clearFrameFlags(ctx.any);
}

Interaction interactionAt(const cv::Rect& area) {
    const WindowContext& ctx = context();
    const bool outside = ctx.pointerX < area.x || ctx.pointerX >= area.x + area.width ||
                         ctx.pointerY < area.y || ctx.pointerY >= area.y + area.height;
    if (outside) return Interaction::Outside;
    if (ctx.any.wentUp) return Interaction::Clicked;
    if (ctx.any.isDown) return Interaction::Pressed;
    return Interaction::Hover;
}

void fatalError(int code, const std::string& message) {
    std::cout << "[UI] Fatal error (code " << code << "): " << message << "\n" << std::flush;
    // without a window no key can arrive, and Qt's waitKey needs a display
    if (windowOpened) cv::waitKey(100000);
    std::exit(-1);
}

}  // namespace ui
