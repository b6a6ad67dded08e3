// Prints the working folder the program uses, so scripts can put sample inputs there.
#include <iostream>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

int main() {
    tintsmith::WorkingPaths paths = tintsmith::buildWorkingPaths(platform::documentsFolder());
    std::string folder = paths.referenceImage.substr(0, paths.referenceImage.size() - 6);
    std::cout << folder << std::endl;
    return 0;
}
