// Prints the working folder the program uses, so scripts can put sample inputs there.
#include <iostream>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

int main() {
    tintsmith::WorkingPaths paths = tintsmith::buildWorkingPaths(platform::documentsFolder());
    // the reference image path less its separator and "cc.jpg"
    std::string folder = paths.referenceImage.substr(0, paths.referenceImage.size() - 7);
    std::cout << folder << std::endl;
    return 0;
}
