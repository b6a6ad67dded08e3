// Applies the fitted correction to every photo of Photos and writes each one
// under its own name into ccPhotos. Input photos are only ever read.
#include <iostream>

#include <opencv2/imgcodecs.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {

std::string fileNameOf(const std::string& path) {
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

BatchReport batchCorrectPhotos(std::string inputFolder, std::string outputFolder,
                               cv::ccm::ColorCorrectionModel model) {
    BatchReport report;
    std::vector<cv::String> files;
    try {
        cv::glob(inputFolder + "*", files, false);
    } catch (const cv::Exception&) {
        std::cout << "Could not list the photo folder " << inputFolder
                  << ": it is missing or cannot be read" << std::endl;
        report.failed++;
        return report;
    }

    CorrectionCache cache;
    for (const cv::String& file : files) {
        const std::string name = fileNameOf(file);
        cv::Mat photo = cv::imread(file, cv::IMREAD_COLOR);
        if (photo.empty()) {
            std::cout << "Skipping " << file << ": not an image" << std::endl;
            report.skipped++;
            continue;
        }
        const std::string target = outputFolder + name;
        if (!cv::haveImageWriter(target)) {
            std::cout << "Skipping " << file << ": no image format can be written as " << name
                      << std::endl;
            report.skipped++;
            continue;
        }
        cv::Mat corrected = correctImageCached(photo, model, cache);
        if (writeImageFile(target, corrected)) report.corrected++;
        else report.failed++;
    }
    return report;
}

}  // namespace tintsmith
