// The working folder Tintsmith inside the Documents folder, and every path in it.
#include <filesystem>
#include <iostream>
#include <string>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

namespace {

// '/' ends a folder name on Windows too.
bool isSeparator(char c) {
    return c == '/' || c == platform::kPathSeparator;
}

}  // namespace

// Paths stay plain strings joined as they are: a path class re-encodes a narrow
// path, which on Windows is in the ANSI code page, and loses what is not ASCII.
std::string lutImagePathFor(const std::string& referenceImagePath) {
    // only the file name's last '.' counts: a dot in a folder is no extension,
    // nor is the leading dot of a hidden name
    std::size_t nameStart = referenceImagePath.size();
    while (nameStart > 0 && !isSeparator(referenceImagePath[nameStart - 1])) --nameStart;
    std::string stem = referenceImagePath;
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > nameStart) stem.erase(dot);
    return stem + "_LUT.png";
}

WorkingPaths buildWorkingPaths(const std::string& documents) {
    // a failed lookup ("") leaves the folder at the root, never in the current one
    const std::string separator(1, platform::kPathSeparator);
    const std::string folder = documents + separator + "Tintsmith";
    WorkingPaths paths;
    paths.documents = documents;
    paths.folder = folder;
    paths.referenceImage = folder + separator + "cc.jpg";
    paths.inputPhotos = folder + separator + "Photos" + separator;
    paths.outputPhotos = folder + separator + "ccPhotos" + separator;
    paths.lattice = folder + separator + "original.png";
    paths.lutImage = lutImagePathFor(paths.referenceImage);
    paths.cube = folder + separator + "cc_LUT.cube";
    return paths;
}

std::optional<WorkingPaths> findWorkingPaths() {
    const std::string documents = platform::documentsFolder();
    std::error_code error;
    if (documents.empty() || !std::filesystem::is_directory(documents, error)) {
        // never the root of the file system in its place
        const std::string where =
            documents.empty() ? " (HOME is not set)" : ": " + documents + " does not exist";
        std::cout << "No Documents folder found" << where
                  << "; Tintsmith works in the folder Tintsmith inside it" << std::endl;
        return std::nullopt;
    }
    return buildWorkingPaths(documents);
}

}  // namespace tintsmith
