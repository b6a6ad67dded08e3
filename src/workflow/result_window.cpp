// The result window: the fitted chart shown as soon as it exists, the batch's
// count in its title while photos are corrected, then a wait for any key.
#include <cstdint>
#include <string>

#include <opencv2/highgui.hpp>

#include "ui/ui.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr double kLossFontScale = 2.0;
constexpr std::uint32_t kLossColour = 0xff0000;  // red
constexpr int kResultPollMs = 50;                // how often a closed window is noticed

// A new title is set before the window's next round of events, so that the
// image is never seen under the title it had before.
void setResultTitle(ResultWindow& window, const std::string& title) {
    if (!window.made) {
        ui::init(kResultTitle);  // makes the window
        window.made = true;
        window.title = kResultTitle;
    }
    if (title == window.title) return;
    cv::setWindowTitle(kResultTitle, title);
    window.title = title;
}

}  // namespace

void drawLoss(cv::Mat& image, double loss) {
    ui::formattedText(image, 10, 10, kLossFontScale, kLossColour, "Loss: %.1f", loss);
}

std::string batchTitle(int done, int total) {
    return "Correcting photos: " + std::to_string(done) + " of " + std::to_string(total);
}

void showResult(ResultWindow& window, const cv::Mat& image, const std::string& title, bool now) {
    setResultTitle(window, title);
    ui::endFrame();
    cv::imshow(kResultTitle, image);
    window.shown = true;
    if (now) cv::waitKey(1);
}

void showBatchProgress(ResultWindow& window, const cv::Mat& image, int done, int total) {
    if (window.shown)
        setResultTitle(window, batchTitle(done, total));
    else
        showResult(window, image, batchTitle(done, total));
    cv::waitKey(1);  // the window's events; a key pressed during the batch is dropped
}

void endBatchProgress(ResultWindow& window) {
    if (!window.made) return;
    cv::waitKey(1);
    setResultTitle(window, kResultTitle);
}

void waitForAnyKey() {
    // any key ends it, and so does closing the window
    while (cv::waitKey(kResultPollMs) == -1 && !windowClosed(kResultTitle)) {
    }
    cv::destroyAllWindows();
}

}  // namespace tintsmith
