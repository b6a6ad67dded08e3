// Prints the working folder the program uses, so scripts can put sample inputs there.
#include <iostream>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

int main() {
    std::cout << tintsmith::buildWorkingPaths(platform::documentsFolder()).folder << std::endl;
    return 0;
}
