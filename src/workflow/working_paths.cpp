// The working folder Tintsmith inside the Documents folder, and every path in it.
#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

std::string lutImagePathFor(const std::string& referenceImagePath) {
    // The stem keeps its folder: only the file name's last '.' counts.
    std::size_t slash = referenceImagePath.find_last_of("/\\");
    std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = referenceImagePath.rfind('.');
    std::string stem = (dot == std::string::npos || dot < nameStart)
                           ? referenceImagePath
                           : referenceImagePath.substr(0, dot);
    return stem + "_LUT.png";
}

WorkingPaths buildWorkingPaths(const std::string& documents) {
    const std::string sep(1, platform::kPathSeparator);
    const std::string folder = documents + sep + "Tintsmith" + sep;
    WorkingPaths paths;
    paths.documents = documents;
    paths.referenceImage = folder + "cc.jpg";
    paths.inputPhotos = folder + "Photos" + sep;
    paths.outputPhotos = folder + "ccPhotos" + sep;
    paths.lattice = folder + "original.png";
    paths.lutImage = lutImagePathFor(paths.referenceImage);
    paths.cube = folder + "cc_LUT.cube";
    return paths;
}

}  // namespace tintsmith
