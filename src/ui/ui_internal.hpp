// Inside the UI layer only: the geometry the widgets and their drawing share,
// the format buffer, and the render functions. Callers use ui.hpp.
#pragma once

#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "ui/ui.hpp"

namespace ui {

constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;

// Slider sizes are given at this font scale and scale with it; the track runs
// kTrackInset pixels in from either end of the slider's rectangle.
constexpr double kSliderBaseScale = 0.4;
constexpr int kSliderBaseHeight = 45;
constexpr int kTrackInset = 14;

// Where formattedText and the slider labels format their text; formatted text
// is cut at kFormatBufferSize - 1 characters.
constexpr int kFormatBufferSize = 1024;
char* formatBuffer();

// Each draws one widget into `image` from its rectangle and its look alone.
// `look` is what interactionAt said; `labelSize` is the label measured as written.
void renderTickBox(cv::Mat& image, const cv::Rect& box, Interaction look, const std::string& label,
                   int labelHeight, bool state, double fontScale);
void renderSlider(cv::Mat& image, const cv::Rect& rect, Interaction look, double value,
                  const SliderSettings& settings);
void renderPushButton(cv::Mat& image, const cv::Rect& rect, Interaction look,
                      const std::string& label, cv::Size labelSize, double fontScale);

}  // namespace ui
