// The run from start-up to the exit code: the phases in their fixed order, and
// the one place where anything a phase throws is caught and told.
#include <cstdio>
#include <iostream>

#include <opencv2/highgui.hpp>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

const char* const kSettingsTitle = "Settings";
const char* const kDetectionTitle = "ColorChecker detection | Press ESC when ready to create LUT";
const char* const kResultTitle = "Image and areas used to create LUTs | Press any key to exit";

bool windowClosed(const std::string& title) {
    // Qt only hides a window the window manager closed (and reads a missing
    // one as hidden); showing the image again would bring it back
    try {
        return cv::getWindowProperty(title, cv::WND_PROP_VISIBLE) <= 0;
    } catch (const cv::Exception&) {
        return true;
    }
}

namespace {

// One line, whatever the exception's text holds.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

int runPhases(const char*& phase) {
    phase = "looking for a display";
    const std::string noDisplay = platform::missingDisplay();
    if (!noDisplay.empty()) {
        std::cout << "Tintsmith needs a graphical desktop session to show its windows: "
                  << noDisplay << std::endl;
        return kExitIncomplete;
    }

    phase = "looking up the working folder";
    const std::optional<WorkingPaths> found = findWorkingPaths();
    if (!found) return kExitIncomplete;
    const WorkingPaths& paths = *found;

    phase = "showing the Settings window";
    const Settings settings = runSettingsWindow();

    phase = "preparing the reference colours";
    const ChartReference reference = chartReference(settings.chartChoice);

    phase = "acquiring the chart image";
    cv::Mat image;
    const int acquired = acquireChartImage(settings, paths, reference.detectorType, image);
    if (acquired != kExitDone) return acquired;

    phase = "detecting the chart";
    const CheckerList checkers = detectCharts(image, reference.detectorType);
    if (checkers.empty()) {
        std::printf("ChartColor not detected \n");
        std::fflush(stdout);
        return kExitNoChart;
    }

    phase = "fitting the correction and writing the LUT files";
    return runResultPhase(image, checkers, reference, settings.batchMode, paths);
}

}  // namespace

int runCalibration() {
    const char* phase = "starting";
    try {
        return runPhases(phase);
    } catch (const cv::Exception& error) {
        std::cout << "Stopped while " << phase << ": " << oneLine(error.err)
                  << (error.func.empty() ? "" : " (in " + error.func + ")") << std::endl;
    } catch (const std::exception& error) {
        std::cout << "Stopped while " << phase << ": " << oneLine(error.what()) << std::endl;
    } catch (...) {
        std::cout << "Stopped while " << phase << ": an unknown error" << std::endl;
    }
    return kExitIncomplete;
}

}  // namespace tintsmith
