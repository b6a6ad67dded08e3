// Test data and checks for the end-to-end tests, so the scripts need no
// image tools of their own.
//   lattice OUT                 the identity lattice (512 x 512), as tintsmith-make-lattice writes
//   it image KIND OUT              a test image: noise (640 x 480), photo (320 x 240 noise),
//                               tiny (1 x 1) or small-lattice (256 x 256)
//   from-chart KIND IN OUT      the chart photo IN made grey, 16-bit or huge, or (for the
//                               sample photo) "far": 12 megapixels with its chart case
//                               painted over and the chart, 120 pixels wide, on the
//                               pavement; "none": the same without the small chart
//   sequence KIND DIR           frames DIR/frame_000.png...: "counted" (1000 solid
//                               frames, index i in blue i % 256 and green i / 256)
//                               or "mixed" (chart, no chart, chart)
//   frame-index IMAGE           prints the index a "counted" frame encodes
//   cube-matches CUBE PNG       the cube holds the PNG LUT entry for entry
//   same-pixels A B             two images decode to the same 8-bit colour pixels
//   size IMAGE                  prints "W H C depth"
//   pixel IMAGE X Y             prints the pixel's "B G R"
//   stopped-pair DIR            DIR's cc_LUT.png and cc_LUT.cube replaced by the identity
//                               lattice's pair in a process killed between the two renames
#include <sys/wait.h>
#include <unistd.h>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/lut/lut.hpp"

namespace {

// Smooth colourful noise: no chart in it, but not a flat image either.
cv::Mat noise(cv::Size size) {
    cv::Mat small(size.height / 16 + 1, size.width / 16 + 1, CV_8UC3);
    cv::RNG rng(7);
    rng.fill(small, cv::RNG::UNIFORM, 0, 256);
    cv::Mat big;
    cv::resize(small, big, size, 0, 0, cv::INTER_CUBIC);
    return big;
}

// The sample photo (1240 x 824: the chart case stands on a pavement) at 12
// megapixels, its case painted over in the pavement's grey; with `chart`, the
// chart in its case, 120 pixels wide, lies on the pavement: a chart that small
// in so large a scene the detector's one look misses.
cv::Mat chartFarAway(const cv::Mat& sample, bool chart) {
    const cv::Rect kCase(230, 10, 620, 715), kChart(240, 10, 600, 400);
    const cv::Scalar pavement = cv::mean(sample(cv::Rect(900, 650, 300, 150)));
    cv::Mat scene = sample.clone();
    scene(kCase).setTo(pavement);
    cv::resize(scene, scene, {4000, 2658}, 0, 0, cv::INTER_CUBIC);
    if (chart) {
        cv::Mat small;
        cv::resize(sample(kChart), small, {120, 80}, 0, 0, cv::INTER_AREA);
        small.copyTo(scene(cv::Rect({3000, 2300}, small.size())));
    }
    return scene;
}

int usage() {
    std::cout << "usage: e2e_tool COMMAND ARGUMENTS (the commands head e2e_tool.cpp)" << std::endl;
    return 2;
}

int cubeMatches(const std::string& cubePath, const std::string& pngPath) {
    cv::Mat lut = cv::imread(pngPath, cv::IMREAD_COLOR);
    std::ifstream cube(cubePath, std::ios::binary);
    std::string line;
    if (lut.rows != 512 || lut.cols != 512 || !std::getline(cube, line) ||
        line != "LUT_3D_SIZE 64\r") {
        std::cout << "bad header or LUT image" << std::endl;
        return 1;
    }
    long entry = 0;
    for (int k = 0; k < 64; ++k)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x, ++entry) {
                cv::Vec3b p = lut.at<cv::Vec3b>(64 * (k / 8) + y, 64 * (k % 8) + x);
                char expected[64];
                std::snprintf(expected, sizeof expected, "%f %f %f\r", p[2] / 255.0, p[1] / 255.0,
                              p[0] / 255.0);
                if (!std::getline(cube, line) || line != expected) {
                    std::cout << "entry " << entry << ": '" << line << "' expected '" << expected
                              << "'" << std::endl;
                    return 1;
                }
            }
    if (std::getline(cube, line)) {
        std::cout << "extra lines" << std::endl;
        return 1;
    }
    std::cout << "cube matches " << entry << " entries" << std::endl;
    return 0;
}

// The pair a run killed (SIGKILL) just before the cube's rename leaves in
// `folder`: the new PNG beside the older cube, and the marker of the two.
int stoppedPair(const std::string& folder) {
    const pid_t child = fork();
    if (child == 0) {
        tintsmith::FileSystem files = tintsmith::systemFiles();
        files.rename = [&](const std::string& from, const std::string& to) {
            if (to == folder + "cc_LUT.cube") raise(SIGKILL);
            return tintsmith::systemFiles().rename(from, to);
        };
        tintsmith::writeLutFiles(tintsmith::identityLattice(), folder + "cc_LUT.png",
                                 folder + "cc_LUT.cube", "", files);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    if (command == "lattice") return tintsmith::writeIdentityLattice(argv[2]).done ? 0 : 1;
    if (command == "image" && argc == 4) {
        const std::string kind = argv[2];
        cv::Mat image;
        if (kind == "noise")
            image = noise({640, 480});
        else if (kind == "tiny")
            image = cv::Mat(1, 1, CV_8UC3, cv::Scalar(10, 20, 30));
        else if (kind == "photo")
            image = noise({320, 240});
        else if (kind == "small-lattice")
            cv::resize(tintsmith::identityLattice(), image, {256, 256}, 0, 0, cv::INTER_NEAREST);
        else
            return usage();
        return cv::imwrite(argv[3], image) ? 0 : 1;
    }
    if (command == "from-chart" && argc == 5) {
        const std::string kind = argv[2];
        cv::Mat chart = cv::imread(argv[3], cv::IMREAD_COLOR), image;
        if (chart.empty()) return 1;
        if (kind == "grey")
            cv::cvtColor(chart, image, cv::COLOR_BGR2GRAY);
        else if (kind == "deep")
            chart.convertTo(image, CV_16UC3, 257);
        else if (kind == "huge")
            cv::resize(chart, image, {8000, 6000}, 0, 0, cv::INTER_LINEAR);
        else if (kind == "far" || kind == "none")
            image = chartFarAway(chart, kind == "far");
        else
            return usage();
        return cv::imwrite(argv[4], image) ? 0 : 1;
    }
    if (command == "sequence" && argc == 4) {
        const std::string kind = argv[2], folder = argv[3];
        auto write = [&](int i, const cv::Mat& frame) {
            char name[32];
            std::snprintf(name, sizeof name, "/frame_%03d.png", i);
            return cv::imwrite(folder + name, frame);
        };
        if (kind == "counted") {
            for (int i = 0; i < 1000; ++i)
                if (!write(i, cv::Mat(120, 160, CV_8UC3, cv::Scalar(i % 256, i / 256, 200))))
                    return 1;
            return 0;
        }
        if (kind == "mixed") {
            cv::Mat chart = cv::imread(std::string(std::getenv("ASSETS")) + "/cc.jpg"), small;
            cv::resize(chart, small, {930, 618}, 0, 0, cv::INTER_AREA);
            return write(0, small) && write(1, noise(small.size())) && write(2, small) ? 0 : 1;
        }
        return usage();
    }
    if (command == "frame-index") {
        cv::Mat frame = cv::imread(argv[2], cv::IMREAD_COLOR);
        if (frame.empty()) return 1;
        cv::Vec3b p = frame.at<cv::Vec3b>(0, 0);
        std::cout << p[0] + 256 * p[1] << std::endl;
        return 0;
    }
    if (command == "cube-matches" && argc == 4) return cubeMatches(argv[2], argv[3]);
    if (command == "stopped-pair") return stoppedPair(std::string(argv[2]) + "/");
    if (command == "same-pixels" && argc == 4) {
        cv::Mat a = cv::imread(argv[2], cv::IMREAD_COLOR),
                b = cv::imread(argv[3], cv::IMREAD_COLOR);
        bool same = !a.empty() && a.size() == b.size() && a.type() == b.type() &&
                    cv::norm(a, b, cv::NORM_INF) == 0;
        std::cout << (same ? "same" : "different") << std::endl;
        return same ? 0 : 1;
    }
    if (command == "pixel" && argc == 5) {
        cv::Mat image = cv::imread(argv[2], cv::IMREAD_COLOR);
        const int x = std::atoi(argv[3]), y = std::atoi(argv[4]);
        if (image.empty() || x < 0 || y < 0 || x >= image.cols || y >= image.rows) return 1;
        cv::Vec3b p = image.at<cv::Vec3b>(y, x);
        std::cout << int(p[0]) << " " << int(p[1]) << " " << int(p[2]) << std::endl;
        return 0;
    }
    if (command == "size") {
        cv::Mat image = cv::imread(argv[2], cv::IMREAD_UNCHANGED);
        std::cout << image.cols << " " << image.rows << " " << image.channels() << " "
                  << (image.depth() == CV_8U ? 8 : 16) << std::endl;
        return image.empty() ? 1 : 0;
    }
    return usage();
}
