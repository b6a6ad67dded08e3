// The working folder Tintsmith inside the Documents folder, and every path in it.
#include <filesystem>
#include <string>

#include "platform/platform.hpp"
#include "workflow/io/io.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

// Paths stay plain strings joined as they are: a path class re-encodes a narrow
// path, which on Windows is in the ANSI code page, and loses what is not ASCII.
std::string lutImagePathFor(const std::string& referenceImagePath) {
    return replaceExtension(referenceImagePath, "_LUT.png");
}

WorkingPaths buildWorkingPaths(const std::string& documents) {
    // a failed lookup ("") leaves the folder at the root, never in the current one
    const std::string separator(1, platform::kPathSeparator);
    const std::string folder = documents + separator + "Tintsmith";
    WorkingPaths paths;
    paths.folder = folder;
    paths.referenceImage = folder + separator + "cc.jpg";
    paths.inputPhotos = folder + separator + "Photos" + separator;
    paths.outputPhotos = folder + separator + "ccPhotos" + separator;
    paths.lattice = folder + separator + "original.png";
    paths.lutImage = lutImagePathFor(paths.referenceImage);
    paths.cube = folder + separator + "cc_LUT.cube";
    paths.checkPicture = replaceExtension(paths.lutImage, "_check.png");
    paths.checkCsv = replaceExtension(paths.lutImage, "_check.csv");
    paths.previousLutImage = replaceExtension(paths.lutImage, ".previous.png");
    paths.previousCube = replaceExtension(paths.cube, ".previous.cube");
    return paths;
}

std::string chartPhotoNamedOtherwise(const std::string& folder) {
    // the name is the interface, so such a file is only ever named, never read
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::string lower = asciiLower(name);
        if (name != "cc.jpg" && (lower == "cc.jpg" || lower == "cc.jpeg")) return name;
    }
    return {};
}

std::string unusedWorkingFolder(const std::string& documents, const std::string& plainDocuments) {
    if (plainDocuments.empty() || plainDocuments == documents) return {};
    const std::string folder = buildWorkingPaths(plainDocuments).folder;
    std::error_code error;
    return std::filesystem::is_directory(folder, error) ? folder : std::string();
}

}  // namespace tintsmith
