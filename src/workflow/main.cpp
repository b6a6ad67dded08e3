// Tintsmith: a colour chart photo in, a 3D LUT out.
#include <opencv2/core/utils/logger.hpp>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

int main(int argc, char** argv) {
    // First of all: a closed descriptor 1 would otherwise go to the display's
    // connection, and a closed pipe or the file-size limit would end the run.
    platform::secureStandardStreams();
    // The run tells every failure in its own words; the library's warnings
    // about the same files would only repeat them.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    // Process-wide, so set here: the batch's threads then allocate from the
    // heaps the detection's threads have warmed up.
    platform::shareWarmHeaps();
    return tintsmith::runTintsmith(std::vector<std::string>(argv + 1, argv + argc));
}
