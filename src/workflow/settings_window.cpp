// The Settings window: source, camera, chart type and batch mode, drawn every
// frame by the UI layer until ESC or "Use selected settings".
#include <opencv2/highgui.hpp>

#include "ui/ui.hpp"
#include "workflow/chart/chart.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

namespace {

constexpr double kFontScale = 0.4;               // every text and control of the window
constexpr std::uint32_t kTextColour = 0x000000;  // static labels, black
const cv::Scalar kBackground(200, 200, 200, 0);  // light grey
constexpr int kChartColumnX = 200;               // left edge of the chart column
constexpr int kRowHeight = 15;                   // tick boxes are stacked 15 pixels apart
constexpr int kEscKey = 27;
constexpr int kFrameDelayMs = 20;  // the frame loop's pace

// The camera index slider: whole numbers 0 to 3, one labelled segment each.
ui::SliderSettings cameraSlider() {
    ui::SliderSettings settings;
    settings.min = 0;
    settings.max = 3;
    settings.step = 1;
    settings.segments = 3;
    settings.options = ui::SliderNoStepTicks;
    settings.labelFormat = "%.0Lf";
    settings.fontScale = kFontScale;
    return settings;
}
const ui::SliderSettings kCameraSlider = cameraSlider();

// The box whose tick changed this frame decides: ticked, it becomes the source
// (the other box clears from the next frame on); cleared, there is no source.
Source sourceAfter(Source source, bool fileBox, bool cameraBox) {
    if (fileBox != (source == Source::File)) return fileBox ? Source::File : Source::None;
    if (cameraBox != (source == Source::Camera)) return cameraBox ? Source::Camera : Source::None;
    return source;
}

// The first box ticked that is not the current choice becomes the choice and
// the only ticked box. Clearing the choice's own box keeps the choice.
void applyChartRule(SettingsState& state) {
    for (int i = 0; i < kChartChoices; ++i) {
        if (!state.chartBoxes[i] || state.settings.chartChoice == i) continue;
        state.settings.chartChoice = i;
        for (int j = 0; j < kChartChoices; ++j) state.chartBoxes[j] = j == i;
        return;
    }
}

}  // namespace

bool settingsFrame(SettingsState& state, cv::Mat& frame) {
    Settings& settings = state.settings;
    frame = kBackground;

    // source
    ui::formattedText(frame, 15, 15, kFontScale, kTextColour, "Select camera or file:");
    bool fileBox = settings.source == Source::File;
    bool cameraBox = settings.source == Source::Camera;
    ui::tickBox(frame, 15, 30, "Use file cc.jpg", fileBox, kFontScale);
    ui::tickBox(frame, 15, 45, "Use camera", cameraBox, kFontScale);
    settings.source = sourceAfter(settings.source, fileBox, cameraBox);

    // camera: the index goes in as a whole number and comes back truncated,
    // so 3 needs the handle at the very end of the track
    ui::formattedText(frame, 15, 80, kFontScale, kTextColour, "Select camera in slider:");
    double cameraValue = settings.cameraIndex;
    ui::slider(frame, 15, 90, 150, cameraValue, kCameraSlider);
    settings.cameraIndex = static_cast<int>(cameraValue);

    // chart type; the rule runs after drawing, so a box it clears shows
    // ticked for this one frame
    ui::formattedText(frame, kChartColumnX, 15, kFontScale, kTextColour, "Select ColorChecker:");
    for (int i = 0; i < kChartChoices; ++i) {
        ui::tickBox(frame, kChartColumnX, 30 + kRowHeight * i, kChartCatalogue[i].label,
                    state.chartBoxes[i], kFontScale);
    }
    applyChartRule(state);

    // batch mode and the way out
    ui::tickBox(frame, kChartColumnX, 160, "Batch Process Photos", settings.batchMode, kFontScale);
    return ui::pushButton(frame, 15, 160, "Use selected settings", kFontScale);
}

std::optional<Settings> runSettingsWindow() {
    cv::Mat frame(kSettingsHeight, kSettingsWidth, CV_8UC3);
    ui::init(kSettingsTitle);
    SettingsState state;
    bool cancelled = false;
    for (;;) {
        // a click leaves before the frame is shown
        if (settingsFrame(state, frame)) break;
        ui::endFrame();
        cv::imshow(kSettingsTitle, frame);
        if (cv::waitKey(kFrameDelayMs) == kEscKey) break;
        // the close button is the way to quit without a run
        if ((cancelled = windowClosed(kSettingsTitle))) break;
    }
    cv::destroyAllWindows();
    if (cancelled) return std::nullopt;
    return state.settings;
}

}  // namespace tintsmith
