// The working folder Tintsmith inside the Documents folder, and every path in it.
#include <filesystem>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

namespace fs = std::filesystem;

std::string lutImagePathFor(const std::string& referenceImagePath) {
    // only the file name's last '.' counts: a dot in a folder is no extension
    return fs::path(referenceImagePath).replace_extension().string() + "_LUT.png";
}

WorkingPaths buildWorkingPaths(const std::string& documents) {
    // a failed lookup ("") leaves the folder at the root, never in the current one
    const fs::path folder = fs::path(documents + platform::kPathSeparator) / "Tintsmith";
    WorkingPaths paths;
    paths.documents = documents;
    paths.folder = folder.string();
    paths.referenceImage = (folder / "cc.jpg").string();
    paths.inputPhotos = (folder / "Photos" / "").string();
    paths.outputPhotos = (folder / "ccPhotos" / "").string();
    paths.lattice = (folder / "original.png").string();
    paths.lutImage = lutImagePathFor(paths.referenceImage);
    paths.cube = (folder / "cc_LUT.cube").string();
    return paths;
}

}  // namespace tintsmith
