// The result window: the fitted chart shown as soon as it exists, the batch's
// count in its title while photos are corrected, then a wait for any key.
#include <string>

#include <opencv2/highgui.hpp>

#include "ui/ui.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr int kResultPollMs = 50;  // how often a closed window is noticed

// The result window, made when there is first something to show in it, so
// that it never stands empty under its own title while a batch runs.
struct ResultWindow {
    bool made = false;
    bool shown = false;  // an image was shown
    std::string title;   // the title it bears
};

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

void showResult(ResultWindow& window, const cv::Mat& image, const std::string& title) {
    setResultTitle(window, title);
    ui::endFrame();
    cv::imshow(kResultTitle, image);
    window.shown = true;
}

}  // namespace

int runResultPhase(cv::Mat& image, const CheckerList& checkers, const ChartReference& reference,
                   bool batchMode, const WorkingPaths& paths) {
    ResultWindow window;
    ExportProgress progress;
    // without a batch the fitted chart shows at once; with one, under its count
    progress.fitted = [&] {
        if (batchMode) return;
        showResult(window, image, kResultTitle);
        cv::waitKey(1);
    };
    progress.photos = [&](int done, int total) {
        const std::string title =
            "Correcting photos: " + std::to_string(done) + " of " + std::to_string(total);
        if (window.shown)
            setResultTitle(window, title);
        else
            showResult(window, image, title);
        cv::waitKey(1);  // the window's events; a key pressed during the batch is dropped
    };
    progress.photosDone = [&] {
        if (!window.made) return;
        cv::waitKey(1);
        setResultTitle(window, kResultTitle);
    };

    bool complete = true;
    for (const auto& checker : checkers) {
        if (!exportChart(image, checker, reference, batchMode, paths, progress)) complete = false;
        showResult(window, image, kResultTitle);
    }
    // any key ends it, and so does closing the window
    while (cv::waitKey(kResultPollMs) == -1 && !windowClosed(kResultTitle)) {
    }
    cv::destroyAllWindows();
    return complete ? kExitDone : kExitIncomplete;
}

}  // namespace tintsmith
