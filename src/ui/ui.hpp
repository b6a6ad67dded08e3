// The immediate-mode UI layer: widgets are plain calls made once per frame that
// draw into the caller's image and answer from the mouse state of the active
// window. Sections: input state and windows · widgets · text.
#pragma once

#include <cstdint>
#include <string>

#include <opencv2/core.hpp>

namespace ui {

// ---------------------------------------------------------------------------
// Input state and windows.
// Contexts live in a process-wide registry from first use to process exit and
// never move, because HighGUI's mouse handler writes through their address.
// Only the GUI thread touches them; HighGUI calls the handler inside
// cv::waitKey on that same thread, so no locks exist.
// ---------------------------------------------------------------------------

// One mouse button. wentUp/wentDown hold until the next endFrame; isDown holds
// until the release arrives.
struct ButtonFlags {
    bool wentUp = false;
    bool wentDown = false;
    bool isDown = false;
};

// The input state of one window; `any` is written by every button.
struct WindowContext {
    std::string windowName;
    ButtonFlags left;
    ButtonFlags middle;
    ButtonFlags right;
    ButtonFlags any;
    int pointerX = 0;
    int pointerY = 0;
};

// The pointer against a widget rectangle.
enum class Interaction {
    Pressed = 2,  // inside, a button is held
    Clicked = 3,  // inside, a button was released since the last endFrame
    Hover = 4,    // inside, no button activity
    Outside = 5,  // outside the rectangle
};

// Makes `windowName` the active window and registers it (its window must exist
// or is created with WINDOW_AUTOSIZE | WINDOW_GUI_NORMAL).
void init(const std::string& windowName);

// Creates the window if needed, resets its context in place and installs the
// mouse handler with the context's address as user data.
void registerWindow(const std::string& windowName);

// The registry half of registerWindow, without HighGUI: resets (or creates) the
// context of `windowName` and returns it. Lets tests feed events headless.
WindowContext& registerContext(const std::string& windowName);

// Sets the active window name without touching HighGUI (init does this too).
void setActiveWindow(const std::string& windowName);

// The HighGUI mouse callback; `userData` is a WindowContext*. Records what
// happened and the pointer position; `flags` is not used.
void mouseHandler(int event, int x, int y, int flags, void* userData);

// The context of `windowName`, or of the active window when it is empty.
// No active window: fatalError(5, ...).
WindowContext& context(const std::string& windowName = std::string());

// Ends a UI frame: clears wentUp and wentDown of all four buttons; isDown and
// the pointer stay. Call after the frame's widgets, before cv::imshow.
void endFrame(const std::string& windowName = std::string());

// Classifies the active window's pointer against `area`.
Interaction interactionAt(const cv::Rect& area);

// Prints "[UI] Fatal error (code N): message" on standard output, waits up to
// 100 s for a key when a UI window exists, and exits with status -1.
[[noreturn]] void fatalError(int code, const std::string& message);

// ---------------------------------------------------------------------------
// Widgets. Each draws itself into `image` (which must be the image shown in the
// active window) and answers at once. tickBox returns the new state; slider
// returns true when the value changed; pushButton returns true when clicked.
// ---------------------------------------------------------------------------

// Slider option bits (SliderSettings::options).
enum SliderOption : std::uint32_t {
    SliderNoSegmentLabels = 1,  // inner segment marks carry no label
    SliderNoStepTicks = 2,      // no small step ticks along the bar
    SliderSnapToStep = 4,       // ticks every `step`; dragged values snap to it
    SliderNoEndLabels = 8,      // the marks at min and max carry no label
    SliderNoValueLabel = 16,    // no value text under the handle
    SliderNoScale = 32,         // no ticks, marks or segment labels
};

struct SliderSettings {
    double min = 0;
    double max = 25;
    double step = 1;
    int segments = 0;                   // below 1 counts as 1
    std::uint32_t options = 0;          // SliderOption bits
    std::string labelFormat = "%.0Lf";  // applied to one long double value
    double fontScale = 0.4;             // sizes scale with fontScale / 0.4
};

// A label split at its '&' marker.
struct LabelParts {
    bool hasMarker = false;
    char marked = 0;
    std::string before;
    std::string after;
};

bool tickBox(cv::Mat image, int x, int y, const std::string& label, bool& state, double fontScale);
bool slider(cv::Mat image, int x, int y, int width, double& value, const SliderSettings& settings);
bool pushButton(cv::Mat image, int x, int y, const std::string& label, double fontScale);
LabelParts splitLabel(const std::string& label);

// ---------------------------------------------------------------------------
// Text. Needs no window context and works before init.
// ---------------------------------------------------------------------------

// 0xRRGGBB (bits 24-31 as the fourth component) as the cv::Scalar (B, G, R, A).
cv::Scalar unpackColour(std::uint32_t packed);

// printf-style text with its top-left corner at (x, y); at most 1023 characters.
void formattedText(cv::Mat image, int x, int y, double fontScale, std::uint32_t colour,
                   const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 6, 7)))
#endif
    ;

}  // namespace ui
