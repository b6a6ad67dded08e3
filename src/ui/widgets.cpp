// The interactive widgets: tick box, slider and push button. Each one decides
// what the pointer did, and then draws into the caller's image from that
// decision alone.
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "ui/ui_internal.hpp"

namespace ui {

namespace {

constexpr int kTickBoxSide = 15;

cv::Size textSize(const std::string& text, double fontScale) {
    int baseline = 0;
    return cv::getTextSize(text, kFont, fontScale, 1, &baseline);
}

// Tick box and slider have only two looks: under the pointer or not.
Interaction hoverLook(bool inside) {
    return inside ? Interaction::Hover : Interaction::Outside;
}

}  // namespace

bool tickBox(cv::Mat image, int x, int y, const std::string& label, bool& state, double fontScale) {
    const cv::Size labelSize = textSize(label, fontScale);

    // hit test: box, 6-pixel gap and label, one band as tall as the box whatever the font
    const Interaction hit = interactionAt({x, y, kTickBoxSide + 6 + labelSize.width, kTickBoxSide});

    // handle the click; a held button does nothing
    if (hit == Interaction::Clicked) state = !state;

    // draw, with the new state so that a toggle shows in this frame
    renderTickBox(image, {x, y, kTickBoxSide, kTickBoxSide}, hoverLook(hit != Interaction::Outside),
                  label, labelSize.height, state, fontScale);
    return state;
}

bool slider(cv::Mat image, int x, int y, int width, double& value, const SliderSettings& settings) {
    const WindowContext& ctx = context();
    const int height =
        static_cast<int>(std::lround(settings.fontScale * kSliderBaseHeight / kSliderBaseScale));
    const cv::Rect area(x, y, width, height);
    const double entryValue = value;

    // hit test
    const bool inside = interactionAt(area) != Interaction::Outside;

    // handle the drag: a held button over the slider moves the value to the
    // pointer; leaving the rectangle pauses the drag
    if (inside && ctx.any.isDown) {
        const double t = std::clamp(
            (ctx.pointerX - (x + kTrackInset)) / static_cast<double>(width - 2 * kTrackInset), 0.0,
            1.0);
        value = settings.min + t * (settings.max - settings.min);
        if ((settings.options & SliderSnapToStep) && settings.step != 0) {
            // nearbyint in the default rounding mode: ties go to the even step
            const double steps = std::nearbyint((value - settings.min) / settings.step);
            value = steps * settings.step + settings.min;
        }
    }

    // draw at the value on entry: a drag shows from the next frame on
    renderSlider(image, area, hoverLook(inside), entryValue, settings);
    return value != entryValue;
}

// What the button sees, frame by frame (events arrive in the waitKey before
// the frame; endFrame clears wentUp and wentDown after it):
//
//   frame | events before it        | pointer | interactionAt | look             | returns
//   ------+-------------------------+---------+---------------+------------------+--------
//     1   | press                   | inside  | Pressed       | sunken, -0.01    | false
//     2   | none, button held       | inside  | Pressed       | sunken, -0.01    | false
//     3   | release                 | inside  | Clicked       | sunken, full     | true
//     4   | none                    | inside  | Hover         | raised, lighter  | false
//     -   | press and release       | inside  | Clicked       | sunken, full     | true
//     -   | press inside, release   | outside | Outside       | raised           | false
//     -   | press outside, release  | inside  | Clicked       | sunken, full     | true
bool pushButton(cv::Mat image, int x, int y, const std::string& label, double fontScale) {
    const cv::Size labelSize = textSize(label, fontScale);
    const cv::Rect rect(x, y, labelSize.width + 30, labelSize.height + 18);

    // hit test
    const Interaction hit = interactionAt(rect);

    // handle the click
    const bool clicked = hit == Interaction::Clicked;

    // draw
    renderPushButton(image, rect, hit, label, labelSize, fontScale);
    return clicked;
}

LabelParts splitLabel(const std::string& label) {
    LabelParts parts;
    for (std::size_t i = 0; i < label.size(); ++i) {
        // a '&' marks the character after it; a later marker replaces it
        if (label[i] == '&' && i + 1 < label.size()) {
            parts.hasMarker = true;
            parts.marked = label[++i];
            continue;
        }
        (parts.hasMarker ? parts.after : parts.before) += label[i];
    }
    return parts;
}

}  // namespace ui
