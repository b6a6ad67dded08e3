// Whether a pattern the detector took for a chart has colours that can be a
// photo of the chosen chart: the greys, the hues and the fit's error, each
// judged after the light's own cast is taken out.
#include <algorithm>
#include <cmath>

#include "workflow/chart/chart.hpp"
#include "workflow/colour/colour.hpp"

namespace tintsmith {
namespace {

constexpr double kNeutralChroma = 6;    // CIELAB C*: the Passport Video's warmest white is 3.5
constexpr double kGreyChroma = 20;      // a grey patch under a cast, the cast taken out
constexpr double kColouredChroma = 20;  // a reference patch whose hue is its own
constexpr double kHueShown = 8;         // a measured colour with hue enough to compare
constexpr double kHueOff = 60;          // degrees: clipping turns orange yellow by about 30
constexpr double kLightnessStep = 8;    // L*: greys this far apart must keep their order
constexpr double kLightnessSlack = 3;   // L*: noise and glare between two greys
constexpr double kHighestLoss = 16;     // real photos of the right chart fit within 10

double hueDifference(const cv::Vec3d& lab1, const cv::Vec3d& lab2) {
    double difference = std::abs(std::atan2(lab1[2], lab1[1]) - std::atan2(lab2[2], lab2[1]));
    if (difference > CV_PI) difference = 2 * CV_PI - difference;
    return difference * 180 / CV_PI;
}

// Per-channel gains that make the measured greys as light as the reference's
// and grey on average: the light's cast and the exposure, taken out before
// the colours are compared.
cv::Vec3d castGains(const cv::Mat& measured, const cv::Mat& reference,
                    const std::vector<int>& neutrals) {
    cv::Vec3d sum(0, 0, 0);
    double grey = 0;
    for (int i : neutrals) {
        const cv::Vec3d c = measured.at<cv::Vec3d>(i), r = reference.at<cv::Vec3d>(i);
        if (colourClipped(c) || std::min({c[0], c[1], c[2]}) < 0.03)
            continue;  // clipped or in the noise: no cast to read
        sum += c;
        grey += (r[0] + r[1] + r[2]) / 3;
    }
    if (grey <= 0 || sum[0] <= 0 || sum[1] <= 0 || sum[2] <= 0) return {1, 1, 1};
    return {grey / sum[0], grey / sum[1], grey / sum[2]};
}

}  // namespace

bool colourClipped(const cv::Vec3d& colour) {
    constexpr double kClipped = 250.0 / 255;  // a channel at the sensor's top
    return std::max({colour[0], colour[1], colour[2]}) >= kClipped;
}

cv::Mat castRemoved(const cv::Mat& measured, const cv::Mat& referenceSrgb,
                    const std::vector<int>& neutrals) {
    const cv::Vec3d gains = castGains(measured, referenceSrgb, neutrals);
    cv::Mat balanced = measured.clone();
    for (int i = 0; i < balanced.rows; ++i) {
        cv::Vec3d& c = balanced.at<cv::Vec3d>(i);
        for (int k = 0; k < 3; ++k) c[k] = std::min(1.0, c[k] * gains[k]);
    }
    return balanced;
}

cv::Mat referenceSrgb(const ChartReference& reference) {
    cv::Mat colours;
    if (!reference.builtIn) {
        reference.colours.reshape(3, int(reference.colours.total())).convertTo(colours, CV_64FC3);
        return colours;
    }
    // The library keeps its built-in charts inside; a model given colours
    // well inside 0..1 uses every patch, and its destination colours are the
    // reference in linear sRGB exactly as the fit converts it.
    const int patches = reference.patchCount;
    try {
        cv::Mat probeColours(patches, 1, CV_64FC3);
        cv::RNG rng(0x7E57);
        rng.fill(probeColours, cv::RNG::UNIFORM, 0.2, 0.8);
        cv::ccm::ColorCorrectionModel probe(probeColours, reference.constColor);
        probe.setMaxCount(1);  // only the conversion is wanted, not a good fit
        probe.run();
        cv::Mat linear = probe.get_dst_rgbl();
        if (int(linear.total()) != patches || linear.channels() != 3) return {};
        linear.reshape(3, patches).convertTo(colours, CV_64FC3);
        for (int i = 0; i < patches; ++i) {
            cv::Vec3d& colour = colours.at<cv::Vec3d>(i);
            for (int c = 0; c < 3; ++c) colour[c] = srgbEncode(colour[c]);
        }
    } catch (const cv::Exception&) {
        return {};
    }
    return colours;
}

std::vector<int> neutralPatches(const cv::Mat& referenceSrgb) {
    std::vector<int> neutrals;
    std::vector<double> lightness(std::size_t(referenceSrgb.rows), 0);
    for (int i = 0; i < referenceSrgb.rows; ++i) {
        const cv::Vec3d lab = srgbToLab(referenceSrgb.at<cv::Vec3d>(i));
        lightness[std::size_t(i)] = lab[0];
        if (labChroma(lab) < kNeutralChroma) neutrals.push_back(i);
    }
    std::stable_sort(neutrals.begin(), neutrals.end(), [&](int a, int b) {
        return lightness[std::size_t(a)] > lightness[std::size_t(b)];
    });
    return neutrals;
}

Outcome chartColoursMatch(const cv::Mat& measuredColours, const ChartReference& reference) {
    const cv::Mat truth = referenceSrgb(reference);
    cv::Mat measured;
    measuredColours.reshape(3, int(measuredColours.total())).convertTo(measured, CV_64FC3);
    if (truth.empty()) return {};  // nothing to compare with: the fit tells
    if (measured.rows != truth.rows)
        return failed("it has " + std::to_string(measured.rows) + " patches, the chart " +
                      std::to_string(truth.rows));

    // the measured colours in CIELAB, the light's cast taken out
    const std::vector<int> neutrals = neutralPatches(truth);
    const cv::Mat balanced = castRemoved(measured, truth, neutrals);
    std::vector<cv::Vec3d> seen, meant;
    for (int i = 0; i < measured.rows; ++i) {
        seen.push_back(srgbToLab(balanced.at<cv::Vec3d>(i)));
        meant.push_back(srgbToLab(truth.at<cv::Vec3d>(i)));
    }

    // the greys: grey beside one another, and light to dark in the chart's order
    if (neutrals.size() >= 3) {
        std::size_t tinted = 0, pairs = 0, swapped = 0;
        for (std::size_t k = 0; k < neutrals.size(); ++k) {
            const std::size_t i = std::size_t(neutrals[k]);
            if (labChroma(seen[i]) > kGreyChroma && !colourClipped(measured.at<cv::Vec3d>(int(i))))
                ++tinted;
            for (std::size_t l = k + 1; l < neutrals.size(); ++l) {
                const std::size_t j = std::size_t(neutrals[l]);
                if (meant[i][0] - meant[j][0] < kLightnessStep) continue;
                ++pairs;
                if (seen[i][0] < seen[j][0] - kLightnessSlack) ++swapped;
            }
        }
        if (4 * tinted > neutrals.size())
            return failed(std::to_string(tinted) + " of its " + std::to_string(neutrals.size()) +
                          " grey patches show colour");
        if (5 * swapped > pairs)
            return failed("its grey patches do not run from light to dark in the chart's order");
    }

    // the colours: each in its own hue, where the photo shows one
    std::size_t compared = 0, off = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (labChroma(meant[i]) < kColouredChroma || labChroma(seen[i]) < kHueShown ||
            colourClipped(measured.at<cv::Vec3d>(int(i))))
            continue;  // no hue of its own, none shown, or a clipped one
        ++compared;
        if (hueDifference(seen[i], meant[i]) > kHueOff) ++off;
    }
    if (3 * off > compared)
        return failed(std::to_string(off) + " of its " + std::to_string(compared) +
                      " coloured patches are not in the chart's hues");

    // the fit: as close as photos of the chart come (a photo without colour
    // fits its tones alone, far from the colours, and is told so later)
    if (!chartHasColour(measured)) return {};
    const Fit fit = fitModel(measuredColours, reference);
    if (fit.outcome.done && fit.loss > kHighestLoss)
        return failed("the correction fitted on it stays far from the chart's colours (loss " +
                      std::to_string(int(std::lround(fit.loss))) + ")");
    return {};
}

std::vector<bool> unevenPatches(const cv::Ptr<cv::mcc::CChecker>& checker) {
    // three profile rows per patch; column 2 holds each channel's standard
    // deviation on 0..255: up to 14 on the real photos' whole patches, 37
    // to 51 where a patch was found half on the scene beside the chart
    constexpr double kEven = 25;
    const cv::Mat profile = checker->getChartsRGB();
    std::vector<bool> uneven;
    for (int row = 0; row + 2 < profile.rows; row += 3) {
        double spread = 0;
        for (int c = 0; c < 3; ++c) spread = std::max(spread, profile.at<double>(row + c, 2));
        uneven.push_back(spread > kEven);
    }
    return uneven;
}

int closestChartChoice(const cv::Mat& measured, int chosen) {
    const ChartRecord& own = kChartCatalogue[chosen];
    int best = chosen;
    double bestLoss = HUGE_VAL;
    for (int choice = 0; choice < kChartChoices; ++choice) {
        const ChartRecord& record = kChartCatalogue[choice];
        if (choice == chosen || record.detectorType != own.detectorType ||
            record.patchCount != own.patchCount)
            continue;
        const Fit fit = fitModel(measured, chartReference(choice));
        if (!fit.outcome.done) continue;
        if (fit.loss < bestLoss) {
            best = choice;
            bestLoss = fit.loss;
        }
    }
    return best;
}

}  // namespace tintsmith
