// Renders the Settings window's opening frame without a display, so a test
// can compare it with a screenshot of the real window.
//   ui_probe OUT.png
#include <opencv2/imgcodecs.hpp>

#include "ui/ui.hpp"
#include "workflow/workflow.hpp"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    ui::registerContext(tintsmith::kSettingsTitle);
    ui::setActiveWindow(tintsmith::kSettingsTitle);
    tintsmith::SettingsState state;
    cv::Mat frame(tintsmith::kSettingsHeight, tintsmith::kSettingsWidth, CV_8UC3);
    tintsmith::settingsFrame(state, frame);
    return cv::imwrite(argv[1], frame) ? 0 : 1;
}
