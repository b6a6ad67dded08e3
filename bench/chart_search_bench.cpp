// chart_search_bench: what the further chart search costs on a 12-megapixel
// photo without a chart, beside the first look alone on the same photo, in
// elapsed and processor time; and which of the real chart photos each finds.
// Usage: chart_search_bench [REPEATS] (default 3; medians).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "cost.hpp"
#include "inputs.hpp"
#include "workflow/chart/chart.hpp"

namespace fs = std::filesystem;
using namespace tintsmith;

namespace {

constexpr double kBound = 5;  // seconds a photo without a chart may take to answer

// A real scene without a chart: a chart photo with its chart painted over in
// the scene's mean colour, scaled to 12 megapixels.
cv::Mat sceneWithoutChart(const cv::Mat& photo) {
    cv::Mat scene = photo.clone();
    for (const auto& checker : detectCharts(photo, cv::mcc::MCC24)) {
        cv::Rect chart = cv::boundingRect(checker->getBox());
        const int margin = std::max(chart.width, chart.height) / 4;
        chart = cv::Rect(chart.x - margin, chart.y - margin, chart.width + 2 * margin,
                         chart.height + 2 * margin) &
                cv::Rect(0, 0, scene.cols, scene.rows);
        scene(chart).setTo(cv::mean(photo));
    }
    cv::Mat big;
    const bool upright = scene.rows > scene.cols;
    cv::resize(scene, big,
               upright ? cv::Size(kPhotoHeight, kPhotoWidth) : cv::Size(kPhotoWidth, kPhotoHeight),
               0, 0, cv::INTER_CUBIC);
    return big;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<fs::path> photos;
    for (const auto& entry : fs::directory_iterator(TINTSMITH_REAL_PHOTOS))
        if (entry.path().extension() == ".jpg") photos.push_back(entry.path());
    std::sort(photos.begin(), photos.end());
    photos.push_back(TINTSMITH_SAMPLE_CHART);
    if (photos.size() < 2) {
        std::printf("no photos in %s\n", TINTSMITH_REAL_PHOTOS);
        return 1;
    }

    std::printf("the real chart photos                  first look   search   refused\n");
    for (const fs::path& path : photos) {
        const cv::Mat photo = cv::imread(path.string(), cv::IMREAD_COLOR);
        const bool first = !detectCharts(photo, cv::mcc::MCC24).empty();
        // a test that refuses the first look's chart sends the search on
        bool refusedOnce = false;
        const ChartFound found = findChart(
            photo, cv::mcc::MCC24, [&](const auto&) { return std::exchange(refusedOnce, true); });
        std::printf("  %-36s %-12s %-8s %d\n", path.filename().string().c_str(),
                    first ? "found" : "-", found.checkers.empty() ? "-" : "found", found.refused);
    }

    const cv::Mat scene = sceneWithoutChart(cv::imread(photos.front().string(), cv::IMREAD_COLOR));
    std::vector<Cost> looks, searches;
    for (int i = 0; i < repeats; ++i) {
        looks.push_back(timed([&] { detectCharts(scene, cv::mcc::MCC24); }));
        ChartFound found;
        searches.push_back(timed([&] { found = findChart(scene, cv::mcc::MCC24); }));
        if (!found.checkers.empty()) {
            std::printf("a chart was found in the scene without one\n");
            return 1;
        }
    }
    const Cost look = median(looks), search = median(searches);
    std::printf("a %d x %d photo without a chart (%s, chart painted over), medians of %d\n",
                scene.cols, scene.rows, photos.front().filename().string().c_str(), repeats);
    std::printf("                                        elapsed   processor\n");
    std::printf("  the first look alone                %7.2f s %7.2f s\n", look.elapsed,
                look.processor);
    std::printf("  first look and the further search   %7.2f s %7.2f s  (bound %.0f s)\n",
                search.elapsed, search.processor, kBound);
    std::printf("  ratio search / first look           %7.1f\n", search.elapsed / look.elapsed);
    return search.elapsed <= kBound ? 0 : 2;
}
