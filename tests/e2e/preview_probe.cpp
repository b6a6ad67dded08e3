// Runs the live detection window on a recorded sequence instead of a camera.
//   preview_probe SEQUENCE OUT.png   (SEQUENCE: a video file or frame_%03d.png)
// Prints "loop ended" when the loop returns a frame (and writes it to OUT.png)
// or "loop cancelled" when its window was closed, then waits for a key so a
// test can see which windows are still open.
#include <iostream>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include "workflow/workflow.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cout << "usage: preview_probe SEQUENCE OUT.png" << std::endl;
        return 2;
    }
    cv::VideoCapture capture(argv[1], cv::CAP_ANY);
    if (!capture.isOpened()) {
        std::cout << "cannot open " << argv[1] << std::endl;
        return 3;
    }
    const std::optional<cv::Mat> reference = tintsmith::runPreviewLoop(capture, cv::mcc::MCC24);
    capture.release();
    std::cout << (reference ? "loop ended" : "loop cancelled") << std::endl;
    if (reference && !reference->empty()) cv::imwrite(argv[2], *reference);
    cv::waitKey(0);
    return 0;
}
