// How the widgets look: every rectangle, line and text of the tick box, the
// slider and the push button, drawn into the widget's image. Colours are
// cv::Scalar (B, G, R) unless a function takes packed 0xRRGGBB values.
// Sections: the shared pieces · tick box · slider · push button.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "ui/ui_internal.hpp"

namespace ui {

namespace {

// Tick box.
const cv::Scalar kTickOutline(99, 99, 99);
const cv::Scalar kTickOutlineHover(128, 128, 128);
const cv::Scalar kTickInnerOutline(23, 23, 23);
const cv::Scalar kTickFill(41, 41, 41);
const cv::Scalar kTickMark(255, 191, 117);
const cv::Scalar kTickLabel(0, 0, 0);

// Push button: light and dark bevel edges, the three faces, the label.
const cv::Scalar kBevelLight(146, 146, 146);
const cv::Scalar kBevelDark(0, 0, 0);
const cv::Scalar kFaceOutside(66, 66, 66);
const cv::Scalar kFaceHover(82, 82, 82);
const cv::Scalar kFaceSunken(50, 50, 50);

// Light text on dark widgets: button labels and slider labels.
const cv::Scalar kLightText(206, 206, 206);

// Slider; packed where drawPanel takes them.
constexpr std::uint32_t kBarBorder = 0x3E3E3E;
constexpr std::uint32_t kBarBorderHover = 0x4E4E4E;
constexpr std::uint32_t kBarFill = 0x292929;
constexpr std::uint32_t kHandleOuter = 0x212121;
constexpr std::uint32_t kHandleInnerBorder = 0x515151;
constexpr std::uint32_t kHandleInnerFill = 0x424242;
constexpr std::uint32_t kHandleInnerFillHover = 0x525252;
const cv::Scalar kGroove(14, 14, 14);
const cv::Scalar kScaleMark(81, 81, 81);

cv::Rect shrunk(const cv::Rect& rect) {
    return {rect.x + 1, rect.y + 1, rect.width - 2, rect.height - 2};
}

int textWidth(const std::string& text, double fontScale) {
    int baseline = 0;
    return cv::getTextSize(text, kFont, fontScale, 1, &baseline).width;
}

void drawText(cv::Mat& image, const std::string& text, cv::Point origin, double fontScale,
              const cv::Scalar& colour) {
    cv::putText(image, text, origin, kFont, fontScale, colour, 1, cv::LINE_AA);
}

// The x of value u on the track (min at its left end, max at its right);
// values beyond the range sit at the nearer end.
int trackX(const cv::Rect& rect, const SliderSettings& settings, double u) {
    const double t = std::clamp((u - settings.min) / (settings.max - settings.min), 0.0, 1.0);
    return static_cast<int>(t * (rect.width - 2 * kTrackInset) + rect.x + kTrackInset);
}

// The top of the bar, halfway down the slider rectangle.
int barTop(const cv::Rect& rect) {
    return rect.y + rect.height / 2;
}

// Formats one slider label into the shared format buffer.
const char* sliderLabel(const SliderSettings& settings, double u) {
    std::snprintf(formatBuffer(), kFormatBufferSize, settings.labelFormat.c_str(),
                  static_cast<long double>(u));
    return formatBuffer();
}

void drawPanel(cv::Mat& image, const cv::Rect& rect, std::uint32_t border, std::uint32_t fill) {
    cv::rectangle(image, rect, unpackColour(fill), cv::FILLED, cv::LINE_AA);
    cv::rectangle(image, rect, unpackColour(border), 1, cv::LINE_AA);
}

void drawCentredText(cv::Mat& image, cv::Point anchor, const std::string& text, double fontScale) {
    const int width = textWidth(text, fontScale);
    drawText(image, text, {anchor.x - width / 2, anchor.y}, fontScale, kLightText);
}

void renderSliderMark(cv::Mat& image, const cv::Rect& rect, const SliderSettings& settings,
                      double value, bool labelled) {
    const double f = settings.fontScale;
    const int cy = barTop(rect);
    const int px = trackX(rect, settings, value);
    cv::line(image, {px, cy}, {px, cy - static_cast<int>(std::lround(f * 8 / kSliderBaseScale))},
             kScaleMark, 1, cv::LINE_8);
    if (labelled) {
        const int baseline = cy - static_cast<int>(std::lround(f * 11 / kSliderBaseScale));
        drawCentredText(image, {px, baseline}, sliderLabel(settings, value), f - 0.1);
    }
}

void renderSliderHandle(cv::Mat& image, const cv::Rect& rect, Interaction look, double value,
                        const SliderSettings& settings) {
    const double f = settings.fontScale;
    const double k = f / kSliderBaseScale;
    const int cy = barTop(rect);
    const int px = trackX(rect, settings, value);
    const int a = static_cast<int>(std::lround(k * 3));
    const int b = static_cast<int>(std::lround(k * 4));

    // outer panel, then the inner one a pixel in
    const cv::Rect handle(px - a, cy - b, 2 * a, 7 + 2 * b);
    drawPanel(image, handle, kHandleOuter, kHandleOuter);
    const bool hover = look != Interaction::Outside;
    drawPanel(image, shrunk(handle), kHandleInnerBorder,
              hover ? kHandleInnerFillHover : kHandleInnerFill);

    // value label below the bar
    if (!(settings.options & SliderNoValueLabel)) {
        const int baseline = cy + 7 + b + static_cast<int>(std::lround(k * 11));
        drawCentredText(image, {px, baseline}, sliderLabel(settings, value), f - 0.1);
    }
}

// The bevel rings and the face; returns the face's rectangle.
cv::Rect renderButtonBody(cv::Mat& image, cv::Rect rect, Interaction look, double fontScale) {
    const bool sunken = look == Interaction::Pressed || look == Interaction::Clicked;
    const cv::Scalar& lowerRight = sunken ? kBevelLight : kBevelDark;
    const cv::Scalar& upperLeft = sunken ? kBevelDark : kBevelLight;

    // one ring below font scale 0.6, two from 0.6 to below 1.2, ...
    const int rings = static_cast<int>(fontScale / 0.6) + 1;
    for (int ring = 0; ring < rings; ++ring) {
        const cv::Point topLeft(rect.x, rect.y);
        const cv::Point topRight(rect.x + rect.width - 1, rect.y);
        const cv::Point bottomLeft(rect.x, rect.y + rect.height - 1);
        const cv::Point bottomRight(rect.x + rect.width - 1, rect.y + rect.height - 1);
        cv::line(image, bottomRight, bottomLeft, lowerRight, 1, cv::LINE_8);
        cv::line(image, bottomRight, topRight, lowerRight, 1, cv::LINE_8);
        cv::line(image, topLeft, bottomLeft, upperLeft, 1, cv::LINE_8);
        cv::line(image, topLeft, topRight, upperLeft, 1, cv::LINE_8);
        rect = shrunk(rect);
    }

    const cv::Scalar& face = sunken                       ? kFaceSunken
                             : look == Interaction::Hover ? kFaceHover
                                                          : kFaceOutside;
    cv::rectangle(image, rect, face, cv::FILLED, cv::LINE_8);
    return rect;
}

// A marked label sits half a '&' width left of the centre, since `labelSize`
// counts the marker.
void renderButtonLabel(cv::Mat& image, const cv::Rect& face, Interaction look,
                       const std::string& label, cv::Size labelSize, double fontScale) {
    cv::Point origin(face.x + face.width / 2 - labelSize.width / 2,
                     face.y + face.height / 2 + labelSize.height / 2);
    // a pressed button's label shrinks a little, as if pushed away
    const double scale = look == Interaction::Pressed ? fontScale - 0.01 : fontScale;

    const LabelParts parts = splitLabel(label);
    if (!parts.hasMarker) {
        if (!label.empty()) drawText(image, label, origin, scale, kLightText);
        return;
    }
    if (!parts.before.empty()) {
        drawText(image, parts.before, origin, scale, kLightText);
        origin.x += textWidth(parts.before, scale);
    }
    const std::string marked(1, parts.marked);
    const int x1 = origin.x;
    drawText(image, marked, origin, scale, kLightText);
    origin.x += textWidth(marked, scale);
    const int x2 = origin.x;
    if (!parts.after.empty()) drawText(image, parts.after, origin, scale, kLightText);
    cv::line(image, {x1, origin.y + 3}, {x2, origin.y + 3}, kLightText, 1, cv::LINE_AA);
}

}  // namespace

// ---------------------------------------------------------------------------
// Tick box: three nested squares in the box, then the label and the mark.
// ---------------------------------------------------------------------------

void renderTickBox(cv::Mat& image, const cv::Rect& box, Interaction look, const std::string& label,
                   int labelHeight, bool state, double fontScale) {
    const bool hover = look != Interaction::Outside;
    const cv::Rect inner = shrunk(box);
    const cv::Rect fill = shrunk(inner);
    cv::rectangle(image, box, hover ? kTickOutlineHover : kTickOutline, 1, cv::LINE_8);
    cv::rectangle(image, inner, kTickInnerOutline, 1, cv::LINE_8);
    cv::rectangle(image, fill, kTickFill, cv::FILLED, cv::LINE_8);
    // the label starts 6 pixels right of the fill
    drawText(image, label, {fill.x + fill.width + 6, box.y + 6 + labelHeight - labelHeight / 2},
             fontScale, kTickLabel);
    if (state) cv::rectangle(image, shrunk(fill), kTickMark, cv::FILLED, cv::LINE_8);
}

// ---------------------------------------------------------------------------
// Slider: bar, groove, scale, then the handle with its value label.
// ---------------------------------------------------------------------------

void renderSlider(cv::Mat& image, const cv::Rect& rect, Interaction look, double value,
                  const SliderSettings& settings) {
    const int cy = barTop(rect);
    const double range = settings.max - settings.min;

    // bar and groove
    const bool hover = look != Interaction::Outside;
    drawPanel(image, {rect.x + kTrackInset, cy, rect.width - 2 * kTrackInset, 7},
              hover ? kBarBorderHover : kBarBorder, kBarFill);
    cv::line(image, {rect.x + kTrackInset + 1, cy + 5},
             {rect.x + rect.width - kTrackInset - 2, cy + 5}, kGroove, 1, cv::LINE_8);

    if (!(settings.options & SliderNoScale)) {
        // step ticks (a non-positive distance would never reach max)
        if (!(settings.options & SliderNoStepTicks)) {
            const double d = (settings.options & SliderSnapToStep) ? settings.step : range / 20;
            for (double u = settings.min; d > 0 && u <= settings.max; u += d) {
                const int px = trackX(rect, settings, u);
                cv::line(image, {px, cy}, {px, cy - 3}, kScaleMark, 1, cv::LINE_8);
            }
        }

        // segment marks; the walk marks the ends a second time in place
        const double g = range / std::max(settings.segments, 1);
        const bool endLabels = !(settings.options & SliderNoEndLabels);
        const bool innerLabels = !(settings.options & SliderNoSegmentLabels);
        renderSliderMark(image, rect, settings, settings.min, endLabels);
        for (double u = settings.min; g > 0 && u <= settings.max; u += g) {
            renderSliderMark(image, rect, settings, u, innerLabels);
        }
        renderSliderMark(image, rect, settings, settings.max, endLabels);
    }

    renderSliderHandle(image, rect, look, value, settings);
}

// ---------------------------------------------------------------------------
// Push button: bevel rings, face, label with an optional underlined letter.
// ---------------------------------------------------------------------------

void renderPushButton(cv::Mat& image, const cv::Rect& rect, Interaction look,
                      const std::string& label, cv::Size labelSize, double fontScale) {
    const cv::Rect face = renderButtonBody(image, rect, look, fontScale);
    renderButtonLabel(image, face, look, label, labelSize, fontScale);
}

}  // namespace ui
