// lut_check_bench: what the LUT check (cc_LUT_check.png and .csv) costs, as a
// share of a whole file-source run on a 12-megapixel cc.jpg timed side by side
// in the same process, in elapsed time and in processor time (the steadier of
// the two on a busy machine). Usage: lut_check_bench [REPEATS] (default 5; medians).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "cost.hpp"
#include "export_steps.hpp"
#include "inputs.hpp"

namespace fs = std::filesystem;
using namespace tintsmith;

namespace {

constexpr int kTarget = 5;  // per cent of a run

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path folder = fs::temp_directory_path() / "tintsmith_lut_check_bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "Tintsmith");
    const WorkingPaths paths = buildWorkingPaths(folder.string());

    cv::Mat chart = cv::imread(TINTSMITH_SAMPLE_CHART, cv::IMREAD_COLOR), big;
    if (chart.empty()) {
        std::printf("cannot read %s\n", TINTSMITH_SAMPLE_CHART);
        return 1;
    }
    cv::resize(chart, big, cv::Size(kPhotoWidth, kPhotoHeight), 0, 0, cv::INTER_CUBIC);
    cv::imwrite(paths.referenceImage, big);
    cv::imwrite(paths.lattice, identityLattice());
    const ChartReference reference = chartReference(0);

    std::vector<Cost> runs, checks, scale, gather, files;
    for (int i = 0; i < repeats; ++i) {
        // a whole run's work, the check included: read, detect, fit, export
        cv::Mat image;
        CheckerList checkers;
        runs.push_back(timed([&] {
            image = cv::imread(paths.referenceImage, cv::IMREAD_COLOR);
            checkers = detectCharts(image, reference.detectorType);
            if (!checkers.empty()) exportLut(image, checkers.front(), reference, paths);
        }));
        if (checkers.empty()) {
            std::printf("no chart found in the 12-megapixel cc.jpg\n");
            return 1;
        }
        // the check's own steps, on the same chart with the cube of that run
        image = cv::imread(paths.referenceImage, cv::IMREAD_COLOR);
        cv::Mat measured = measuredPatchColours(checkers.front());
        Fit fit = fitModel(measured, reference);
        cv::Mat photo;
        LutCheckInput input;
        Cost a = timed([&] { photo = lutCheckPhoto(image); });
        Cost b = timed([&] {
            input = lutCheckInput(photo, measured, reference, *fit.model, fit.loss);
            input.chartOutline = chartOutline(checkers.front(), double(photo.cols) / image.cols);
        });
        Cost c =
            timed([&] { writeLutCheck(input, paths.cube, paths.checkCsv, paths.checkPicture); });
        scale.push_back(a);
        gather.push_back(b);
        files.push_back(c);
        checks.push_back(
            {a.elapsed + b.elapsed + c.elapsed, a.processor + b.processor + c.processor});
    }

    const Cost run = median(runs), check = median(checks);
    std::printf("LUT check on a %d x %d cc.jpg, medians of %d      elapsed   processor\n",
                kPhotoWidth, kPhotoHeight, repeats);
    auto line = [](const char* what, const Cost& cost) {
        std::printf("  %-44s %7.3f s %7.3f s\n", what, cost.elapsed, cost.processor);
    };
    line("whole run (read, detect, fit, LUT files, check)", run);
    line("the check", check);
    line("  scale the photo", median(scale));
    line("  reference colours and used patches", median(gather));
    line("  read the cube, apply it, draw, write both", median(files));
    std::printf(
        "  the check's share of the run: %.1f %% elapsed, %.1f %% processor (target < %d %%)\n",
        100 * check.elapsed / run.elapsed, 100 * check.processor / run.processor, kTarget);
    fs::remove_all(folder);
    return 0;
}
