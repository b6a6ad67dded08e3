// The result window: the fitted chart shown as soon as it exists, the batch's
// count in its title while photos are corrected, then a wait for any key.
#include <algorithm>
#include <cstdint>
#include <string>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "ui/ui.hpp"
#include "workflow/chart/chart.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr double kLossFontScale = 2.0;
constexpr std::uint32_t kLossColour = 0xff0000;  // red
constexpr int kResultPollMs = 50;                // how often a closed window is noticed
// Room the window manager's frame takes around the picture: its borders and title bar.
const cv::Size kFrameRoom(24, 72);

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

double fitScale(cv::Size photo, cv::Size screen) {
    const cv::Size room = screen - kFrameRoom;
    if (screen.width <= 0 || screen.height <= 0 || room.width <= 0 || room.height <= 0 ||
        photo.empty())
        return 1;
    return std::min({1.0, double(room.width) / photo.width, double(room.height) / photo.height});
}

void prepareResult(ResultWindow& window, const cv::Mat& photo, cv::Size screen) {
    window.scale = fitScale(photo.size(), screen);
    window.view.release();
    if (window.scale < 1)
        cv::resize(photo, window.view, cv::Size(), window.scale, window.scale, cv::INTER_AREA);
}

void outlineResult(ResultWindow& window, cv::Mat& image,
                   const cv::Ptr<cv::mcc::CChecker>& checker) {
    outlineCharts(image, {checker});
    if (window.view.empty()) return;
    // the same chart at the view's scale, so that its lines keep their width
    cv::Ptr<cv::mcc::CChecker> scaled = cv::mcc::CChecker::create();
    scaled->setTarget(checker->getTarget());
    std::vector<cv::Point2f> box = checker->getBox();
    for (cv::Point2f& corner : box) corner *= window.scale;
    scaled->setBox(box);
    scaled->setCenter(checker->getCenter() * window.scale);
    outlineCharts(window.view, {scaled});
}

void drawLoss(ResultWindow& window, cv::Mat& image, double loss) {
    for (cv::Mat* target : {&image, &window.view})
        if (!target->empty())
            ui::formattedText(*target, 10, 10, kLossFontScale, kLossColour, "Loss: %.1f", loss);
}

std::string batchTitle(int done, int total) {
    return "Correcting photos: " + std::to_string(done) + " of " + std::to_string(total);
}

void showResult(ResultWindow& window, const cv::Mat& image, const std::string& title, bool now) {
    setResultTitle(window, title);
    ui::endFrame();
    cv::imshow(kResultTitle, window.view.empty() ? image : window.view);
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
