// The LUT check: the patches in CIEDE2000, the CSV and the picture.
// Sections: the picture's parts · the patches · the verdict · the CSV · the picture ·
// writing both files.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/colour/colour.hpp"
#include "workflow/io/io.hpp"
#include "workflow/lut/lut.hpp"

namespace tintsmith {
namespace {

// The picture: each photo fits a 560 x 560 box, two side by side; a chart
// with many patches widens it up to 1600 so that every tile stays readable.
// Its size is most of what the PNG encoder, the check's largest cost, spends.
constexpr int kMaxPictureWidth = 1600;
constexpr int kMargin = 16;
constexpr int kPhotoBox = 560;
constexpr int kMinCellWidth = 112;  // "00.0 -> 00.0" at the narrow tiles' font

// Colours of the picture (B, G, R): a dark neutral ground that lends no cast.
const cv::Scalar kGround(38, 38, 38);
const cv::Scalar kText(235, 235, 235);
const cv::Scalar kDimText(165, 165, 165);
const cv::Scalar kLeftOut(0, 160, 255);  // orange: saturated, left out of the fit
const cv::Scalar kGood(120, 215, 120);   // CIEDE2000 up to 2: hard to tell apart
const cv::Scalar kFair(70, 215, 235);    // up to 5: a close look shows it
const cv::Scalar kPoor(95, 95, 245);     // above 5: plain to see
constexpr double kGoodDifference = 2.0;
constexpr double kFairDifference = 5.0;

constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;

// --- The picture -------------------------------------------------------------

cv::Scalar differenceColour(double difference) {
    if (difference <= kGoodDifference) return kGood;
    if (difference <= kFairDifference) return kFair;
    return kPoor;
}

// The photo the check shows: the chart photo, or one pixel of the ground
// when there is none.
cv::Mat shownPhoto(const LutCheckInput& input) {
    return input.photo.type() == CV_8UC3 && !input.photo.empty() ? input.photo
                                                                 : cv::Mat(1, 1, CV_8UC3, kGround);
}

cv::Scalar displayColour(const cv::Vec3d& rgb) {
    auto byte = [](double v) { return cv::saturate_cast<std::uint8_t>(v * 255); };
    return cv::Scalar(byte(rgb[2]), byte(rgb[1]), byte(rgb[0]));
}

// Draws `text` with its baseline's left end at `origin`; returns its width.
int drawCaption(cv::Mat& image, const std::string& text, cv::Point origin, double scale,
                const cv::Scalar& colour, int thickness = 1) {
    cv::putText(image, text, origin, kFont, scale, colour, thickness, cv::LINE_AA);
    int baseline = 0;
    return cv::getTextSize(text, kFont, scale, thickness, &baseline).width;
}

// The verdict's lines in the heading, as large as its other lines.
constexpr double kHeadingScale = 0.6;

// `text` broken between words into lines no wider than `width` pixels.
std::vector<std::string> wrapped(const std::string& text, int width, double scale) {
    std::vector<std::string> lines(1);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        const std::string longer = lines.back().empty() ? word : lines.back() + " " + word;
        int baseline = 0;
        if (!lines.back().empty() &&
            cv::getTextSize(longer, kFont, scale, 2, &baseline).width > width)
            lines.push_back(word);
        else
            lines.back() = longer;
        start = end + 1;
    }
    return lines;
}

// One tile: the swatch split in three, the patch number, the differences.
void drawTile(cv::Mat& picture, cv::Rect cell, int number, const PatchCheck& patch, double scale,
              int lineHeight) {
    cv::Rect swatch(cell.x + 4, cell.y, cell.width - 8, cell.height - 2 * lineHeight - 8);
    int third = swatch.width / 3;
    const cv::Vec3d colours[3] = {patch.reference, patch.measured, patch.after};
    for (int part = 0; part < 3; ++part) {
        int x = swatch.x + part * third;
        int width = part == 2 ? swatch.x + swatch.width - x : third;
        cv::rectangle(picture, cv::Rect(x, swatch.y, width, swatch.height),
                      displayColour(colours[part]), cv::FILLED);
    }
    int y = swatch.y + swatch.height + lineHeight;
    std::string label = std::to_string(number);
    if (!patch.used) {
        cv::rectangle(picture, swatch, kLeftOut, 2);
        label += cell.width >= 240 ? "  saturated, left out" : "  left out";
    }
    drawCaption(picture, label, {swatch.x, y}, scale, patch.used ? kDimText : kLeftOut);
    y += lineHeight;
    int x = swatch.x;
    x += drawCaption(picture, formatFixed(patch.before, 1) + " -> ", {x, y}, scale, kText);
    drawCaption(picture, formatFixed(patch.afterCube, 1), {x, y}, scale,
                differenceColour(patch.afterCube), 2);
}

// The verdict's bounds. CIEDE2000 differences: 1 is about the least a
// side-by-side look shows, so a group worse by more is markedly worse.
constexpr double kMarkedlyWorse = 1.0;
constexpr double kFarOff = 10.0;         // a mean above it is plain on every patch
constexpr double kColourfulChroma = 20;  // reference C* of a patch whose colour is its own
// Printed charts photographed keep more than half their chroma once the cast
// and exposure are out (0.51 at the least of six real photos, under warm,
// cool and dim light); a chart's colours squeezed into a screen's duller
// gamut keep under 0.45.
constexpr double kScreenColourfulness = 0.45;
constexpr double kGreyStep = 8;      // L* between greys that must keep their order
constexpr double kGreySlack = 2;     // L*: noise between two greys
constexpr double kSmallChart = 150;  // pixels: patches of a few pixels across
// Nothing that reflects the chart's light is far lighter than its lightest
// grey (the clipped whites of six real chart photos reach 6.4 L* above it), so
// greys 10 L* above it are lit otherwise (a screen showing the chart: 52% of
// its photo). A cast of 4 C* put on a twentieth of the picture shows on its
// whites (the laptop screen's white after the clone chart's cube: 5.5, plain).
constexpr double kLitOtherwise = 10;  // L* above the chart's lightest grey
constexpr double kSceneGrey = 10;     // C*: a grey as photographed
constexpr double kSceneShare = 0.05;
constexpr double kSceneCast = 4;  // C* added to them by the cube
constexpr std::size_t kWorstNamed = 3;

// The rough hue of a cast in words, by the hue angle of its a*, b*.
std::string castName(const cv::Vec2d& ab) {
    static const char* const kHues[] = {"red", "yellow", "green", "cyan", "blue", "magenta"};
    double degrees = std::atan2(ab[1], ab[0]) * 180 / CV_PI;
    if (degrees < 0) degrees += 360;
    return kHues[int(degrees / 60) % 6];
}

// The patch by its chart's name, else by its row and column.
std::string patchLabel(const LutCheckInput& input, const ChartLayout& layout, int i) {
    if (i < int(input.names.size())) return input.names[std::size_t(i)];
    return "row " + std::to_string(layout.rowOf(i) + 1) + " column " +
           std::to_string(layout.columnOf(i) + 1);
}

// Which way the patch is off after the cube: its largest part of lightness,
// saturation and hue.
std::string offWay(const PatchCheck& patch) {
    const cv::Vec3d meant = srgbToLab(patch.reference), got = srgbToLab(patch.after);
    const double lightness = got[0] - meant[0];
    const double saturation = labChroma(got) - labChroma(meant);
    const double whole = cv::norm(got - meant);
    const double hue =
        std::sqrt(std::max(0.0, whole * whole - lightness * lightness - saturation * saturation));
    if (std::abs(lightness) >= std::abs(saturation) && std::abs(lightness) >= hue)
        return lightness > 0 ? "lighter" : "darker";
    if (std::abs(saturation) >= hue) return saturation > 0 ? "more saturated" : "less saturated";
    return "off in hue";
}

}  // namespace

// --- The patches -------------------------------------------------------------

cv::Mat lutCheckPhoto(const cv::Mat& image) {
    if (image.empty() || image.type() != CV_8UC3) return {};  // the picture then shows none
    const double scale =
        std::min({1.0, double(kPhotoBox) / image.cols, double(kPhotoBox) / image.rows});
    if (scale >= 1.0) return image.clone();
    // Bilinear to twice the size reads only the pixels it needs; averaging
    // the last halving keeps the texture from aliasing. On 12 megapixels
    // this is a fifth of the cost of averaging all the way.
    cv::Size size(std::max(1, int(image.cols * scale)), std::max(1, int(image.rows * scale)));
    cv::Mat photo;
    if (scale < 0.5) {
        cv::resize(image, photo, size * 2, 0, 0, cv::INTER_LINEAR);
        cv::resize(photo, photo, size, 0, 0, cv::INTER_AREA);
    } else {
        cv::resize(image, photo, size, 0, 0, cv::INTER_AREA);
    }
    return photo;
}

LutCheckInput lutCheckInput(const cv::Mat& photo, const cv::Mat& measured,
                            const ChartReference& reference, cv::ccm::ColorCorrectionModel& model,
                            double loss) {
    LutCheckInput input;
    input.photo = photo;
    input.chartName = reference.label;
    input.detectorType = reference.detectorType;
    input.loss = loss;
    measured.reshape(3, int(measured.total())).convertTo(input.measured, CV_64FC3);
    const int patches = input.measured.rows;

    input.reference = referenceSrgb(reference);
    if (input.reference.rows != patches) input.reference.release();
    if (!input.reference.empty()) input.neutrals = neutralPatches(input.reference);
    for (int i = 0; reference.patchNames && i < patches; ++i)
        input.names.push_back(reference.patchNames[i]);

    input.used.assign(std::size_t(patches), true);
    cv::Mat mask = model.getMask();
    if (int(mask.total()) == patches) {
        mask.convertTo(mask, CV_8U);
        mask = mask.reshape(1, 1);
        for (int i = 0; i < patches; ++i)
            input.used[std::size_t(i)] = mask.at<std::uint8_t>(i) != 0;
    }
    return input;
}

std::vector<PatchCheck> checkPatches(const LutCheckInput& input, const CubeLut& cube) {
    std::vector<PatchCheck> patches;
    if (input.reference.rows != input.measured.rows) return patches;
    for (int i = 0; i < input.measured.rows; ++i) {
        PatchCheck patch;
        patch.reference = input.reference.at<cv::Vec3d>(i);
        patch.measured = input.measured.at<cv::Vec3d>(i);
        patch.after = applyCube(cube, patch.measured);
        const cv::Vec3d truth = srgbToLab(patch.reference);
        patch.before = ciede2000(truth, srgbToLab(patch.measured));
        patch.afterCube = ciede2000(truth, srgbToLab(patch.after));
        patch.used = i < int(input.used.size()) ? input.used[std::size_t(i)] : true;
        patches.push_back(patch);
    }
    return patches;
}

SceneLight sceneLight(const LutCheckInput& input, const cv::Mat& after) {
    SceneLight light;
    if (input.photo.empty() || input.photo.type() != CV_8UC3 || input.chartOutline.size() < 3 ||
        input.neutrals.empty() || input.neutrals.front() >= input.measured.rows)
        return light;
    const double lightestGrey = srgbToLab(input.measured.at<cv::Vec3d>(input.neutrals.front()))[0];
    cv::Mat scene(input.photo.size(), CV_8U, cv::Scalar(255));
    std::vector<cv::Point> outline;
    for (const cv::Point2f& corner : input.chartOutline) outline.emplace_back(corner);
    cv::fillConvexPoly(scene, outline, cv::Scalar(0));
    const auto labOf = [](const cv::Mat& bgr) {
        cv::Mat lab;
        bgr.convertTo(lab, CV_32F, 1 / 255.0);
        cv::cvtColor(lab, lab, cv::COLOR_BGR2Lab);
        return lab;
    };
    const cv::Mat before = labOf(input.photo), made = labOf(after);
    int sceneCount = 0, lit = 0;
    for (int y = 0; y < scene.rows; ++y)
        for (int x = 0; x < scene.cols; ++x) {
            if (!scene.at<std::uint8_t>(y, x)) continue;
            ++sceneCount;
            const cv::Vec3d seen = before.at<cv::Vec3f>(y, x);
            if (seen[0] <= lightestGrey + kLitOtherwise || labChroma(seen) >= kSceneGrey) continue;
            const cv::Vec3d cubed = made.at<cv::Vec3f>(y, x);
            ++lit;
            light.chromaBefore += labChroma(seen);
            light.chromaAfter += labChroma(cubed);
            light.castAfter += cv::Vec2d(cubed[1], cubed[2]);
        }
    if (lit == 0) return light;
    light.share = double(lit) / sceneCount;
    light.chromaBefore /= lit;
    light.chromaAfter /= lit;
    light.castAfter /= lit;
    return light;
}

// --- The verdict -------------------------------------------------------------

bool patchClipped(const PatchCheck& patch) {
    return colourClipped(patch.measured);
}

LutVerdict lutVerdict(const LutCheckInput& input, const std::vector<PatchCheck>& patches,
                      const SceneLight& scene) {
    LutVerdict verdict;
    verdict.scene = scene;
    verdict.patches = int(patches.size());
    if (patches.empty()) return verdict;

    // the chart as a whole
    std::vector<bool> grey(patches.size(), false);
    for (int i : input.neutrals)
        if (i >= 0 && i < verdict.patches) grey[std::size_t(i)] = true;
    int coloured = 0, colourfulCounted = 0;
    double colourfulness = 0;
    const cv::Mat balanced = castRemoved(input.measured, input.reference, input.neutrals);
    for (std::size_t i = 0; i < patches.size(); ++i) {
        const PatchCheck& patch = patches[i];
        verdict.used += patch.used ? 1 : 0;
        verdict.clipped += patchClipped(patch) ? 1 : 0;
        verdict.meanBefore += patch.before;
        verdict.meanAfter += patch.afterCube;
        verdict.maxBefore = std::max(verdict.maxBefore, patch.before);
        verdict.maxAfter = std::max(verdict.maxAfter, patch.afterCube);
        if (grey[i]) {
            verdict.greysBefore += patch.before;
            verdict.greysAfter += patch.afterCube;
            continue;
        }
        ++coloured;
        verdict.colouredBefore += patch.before;
        verdict.colouredAfter += patch.afterCube;
        const double meant = labChroma(srgbToLab(patch.reference));
        if (meant >= kColourfulChroma && !patchClipped(patch) && int(i) < balanced.rows) {
            colourfulness += labChroma(srgbToLab(balanced.at<cv::Vec3d>(int(i)))) / meant;
            ++colourfulCounted;
        }
    }
    verdict.meanBefore /= verdict.patches;
    verdict.meanAfter /= verdict.patches;
    const int greys = verdict.patches - coloured;
    if (greys > 0) {
        verdict.greysBefore /= greys;
        verdict.greysAfter /= greys;
    }
    if (coloured > 0) {
        verdict.colouredBefore /= coloured;
        verdict.colouredAfter /= coloured;
    }
    if (colourfulCounted > 0) verdict.colourfulness = colourfulness / colourfulCounted;

    // the greys light to dark after the cube, as their reference runs
    for (std::size_t k = 0; k + 1 < input.neutrals.size(); ++k) {
        const PatchCheck& lighter = patches[std::size_t(input.neutrals[k])];
        const PatchCheck& darker = patches[std::size_t(input.neutrals[k + 1])];
        const double step = srgbToLab(lighter.reference)[0] - srgbToLab(darker.reference)[0];
        if (step >= kGreyStep &&
            srgbToLab(lighter.after)[0] < srgbToLab(darker.after)[0] - kGreySlack)
            verdict.greyOrderKept = false;
    }

    // the reasons, those a photographer can act on first; a chart photographed
    // without colour gives a LUT of tones alone, judged on its greys
    const bool colour = chartHasColour(input.measured) || greys == 0;
    const double before = colour ? verdict.meanBefore : verdict.greysBefore;
    const double after = colour ? verdict.meanAfter : verdict.greysAfter;
    if (verdict.clipped > verdict.patches / 4) verdict.reasons.push_back(VerdictReason::Clipped);
    if (greys > 0 &&
        (verdict.greysAfter > verdict.greysBefore + kMarkedlyWorse || !verdict.greyOrderKept))
        verdict.reasons.push_back(VerdictReason::GreysWorse);
    if (colour && coloured > 0 && verdict.colouredAfter > verdict.colouredBefore + kMarkedlyWorse)
        verdict.reasons.push_back(VerdictReason::ColoursWorse);
    if (after >= before)
        verdict.reasons.push_back(VerdictReason::NotCloser);
    else if (after > kFarOff)
        verdict.reasons.push_back(VerdictReason::StillFar);
    if (colour && verdict.colourfulness < kScreenColourfulness)
        verdict.reasons.push_back(VerdictReason::ScreenLike);
    if (scene.share >= kSceneShare && scene.chromaAfter >= scene.chromaBefore + kSceneCast)
        verdict.reasons.push_back(VerdictReason::SceneTinted);
    verdict.uneven = int(std::count(input.uneven.begin(), input.uneven.end(), true));
    if (!verdict.reasons.empty() &&
        (verdict.uneven > 0 || (input.chartSide > 0 && input.chartSide < kSmallChart)))
        verdict.reasons.push_back(VerdictReason::SmallOrHidden);

    // the worst patches after the cube
    std::vector<int> order(patches.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return patches[std::size_t(a)].afterCube > patches[std::size_t(b)].afterCube;
    });
    order.resize(std::min<std::size_t>(order.size(), kWorstNamed));
    verdict.worst = order;
    return verdict;
}

std::vector<std::string> verdictLines(const LutVerdict& verdict, const LutCheckInput& input,
                                      const std::vector<PatchCheck>& patches) {
    const std::string means = "(mean CIEDE2000 over all " + std::to_string(verdict.patches) +
                              " patches " + formatFixed(verdict.meanBefore, 1) + " before, " +
                              formatFixed(verdict.meanAfter, 1) + " after)";
    if (verdict.good())
        return {"Better: the cube brings the chart's colours closer to their reference " + means +
                "."};
    std::vector<std::string> lines = {"Warning: the cube does not correct the chart as a whole " +
                                      means + ":"};
    const std::string chart = input.chartName.empty() ? "the chart type chosen" : input.chartName;
    for (VerdictReason reason : verdict.reasons) {
        switch (reason) {
            case VerdictReason::Clipped:
                lines.push_back("- " + std::to_string(verdict.clipped) + " of " +
                                std::to_string(verdict.patches) +
                                " patches are clipped, too bright to measure: expose the chart "
                                "darker and photograph it again.");
                break;
            case VerdictReason::GreysWorse:
                lines.push_back(
                    "- the grey patches get worse (" + formatFixed(verdict.greysBefore, 1) +
                    " before, " + formatFixed(verdict.greysAfter, 1) + " after" +
                    (verdict.greyOrderKept ? "" : ", out of their light-to-dark order") +
                    "): likely the wrong chart type. " + chart + " is chosen" +
                    (input.closestOther.empty()
                         ? "; tick the chart that is in the photo in the Settings window."
                         : "; the closest other is " + input.closestOther +
                               ": tick it in the Settings window if that is your chart."));
                break;
            case VerdictReason::ColoursWorse:
                lines.push_back("- the coloured patches get worse (" +
                                formatFixed(verdict.colouredBefore, 1) + " before, " +
                                formatFixed(verdict.colouredAfter, 1) +
                                " after): check the chart type chosen.");
                break;
            case VerdictReason::NotCloser:
                lines.push_back(
                    "- the chart as a whole is not closer after the cube: check the "
                    "chart type chosen, and photograph the chart in even light.");
                break;
            case VerdictReason::StillFar:
                lines.push_back(
                    "- after the cube the chart is still far from its reference: "
                    "check the chart type chosen.");
                break;
            case VerdictReason::ScreenLike:
                lines.push_back(
                    "- the colours are dull against the greys, as on a chart shown "
                    "on a screen: photograph the printed chart instead.");
                break;
            case VerdictReason::SceneTinted:
                lines.push_back(
                    "- the light greys around the chart (" +
                    std::to_string(int(std::lround(verdict.scene.share * 100))) +
                    "% of the picture), far brighter than its lightest grey, turn " +
                    castName(verdict.scene.castAfter) + " after the cube (C* " +
                    formatFixed(verdict.scene.chromaBefore, 1) + " -> " +
                    formatFixed(verdict.scene.chromaAfter, 1) +
                    "): a chart lit otherwise than the scene (shown on a screen, or in shade) "
                    "gives a LUT for its own light alone; photograph the printed chart in the "
                    "scene's light, exposed so that its white is near the lightest part of the "
                    "picture.");
                break;
            case VerdictReason::SmallOrHidden:
                lines.push_back(
                    "- the chart was found " +
                    (verdict.uneven > 0
                         ? std::to_string(verdict.uneven) +
                               " of its patches uneven (partly hidden, or found "
                               "off the chart)"
                         : "small (" + std::to_string(int(input.chartSide)) + " pixels across)") +
                    ": photograph it larger, whole and uncovered, filling a good part of the "
                    "frame.");
                break;
        }
    }
    std::string worst = "Worst patches after the cube:";
    const ChartLayout layout = chartLayout(input.detectorType, verdict.patches);
    for (std::size_t k = 0; k < verdict.worst.size(); ++k) {
        const int i = verdict.worst[k];
        const PatchCheck& patch = patches[std::size_t(i)];
        worst += (k == 0 ? " " : "; ") + patchLabel(input, layout, i) + " " +
                 formatFixed(patch.before, 1) + " -> " + formatFixed(patch.afterCube, 1) + ", " +
                 offWay(patch);
    }
    lines.push_back(worst + ".");
    return lines;
}

// --- The CSV -----------------------------------------------------------------

std::string lutCheckCsv(const std::vector<PatchCheck>& patches) {
    std::string csv =
        "patch,ref_r,ref_g,ref_b,measured_r,measured_g,measured_b,after_r,after_g,after_b,"
        "de2000_before,de2000_after,used,clipped\n";
    int number = 0;
    for (const PatchCheck& patch : patches) {
        csv += std::to_string(++number);
        for (const cv::Vec3d* colour : {&patch.reference, &patch.measured, &patch.after})
            for (int c = 0; c < 3; ++c) csv += "," + formatFixed((*colour)[c] * 255, 2);
        csv += "," + formatFixed(patch.before, 2) + "," + formatFixed(patch.afterCube, 2);
        csv += patch.used ? ",1" : ",0";
        csv += patchClipped(patch) ? ",1\n" : ",0\n";
    }
    return csv;
}

// --- The picture -------------------------------------------------------------

cv::Mat lutCheckPicture(const LutCheckInput& input, const cv::Mat& after,
                        const std::vector<PatchCheck>& patches, const LutVerdict& verdict,
                        const std::string& cubeName) {
    const int count = int(patches.size());
    const ChartLayout layout = chartLayout(input.detectorType, count);
    const int width = std::min(
        kMaxPictureWidth,
        std::max(2 * kPhotoBox + 3 * kMargin, layout.columns * kMinCellWidth + 2 * kMargin));
    const int cellWidth = (width - 2 * kMargin) / layout.columns;
    const bool wide = cellWidth >= 180;
    const double tileScale = wide ? 0.55 : 0.42;
    const int lineHeight = wide ? 22 : 18;
    const int swatchHeight = std::clamp(int(cellWidth * 0.3), 40, 70);
    const int cellHeight = swatchHeight + 2 * lineHeight + 8 + 10;
    const cv::Mat photo = shownPhoto(input);
    const int half = (width - 3 * kMargin) / 2;

    // rows of the picture, top to bottom
    std::vector<std::string> verdictText;
    for (const std::string& line : verdictLines(verdict, input, patches))
        for (std::string& part : wrapped(line, width - 2 * kMargin, kHeadingScale))
            verdictText.push_back(std::move(part));
    const int titleBase = kMargin + 26;
    const int verdictBase = titleBase + 34;
    const int statsBase = verdictBase + 26 * int(verdictText.size()) + 10;
    const int statsBase2 = statsBase + 26;
    const int photosTop = statsBase2 + 44;
    const int legendBase = photosTop + photo.rows + kMargin + 20, legendBase2 = legendBase + 24;
    const int tilesTop = legendBase2 + 16;
    cv::Mat picture(tilesTop + layout.rows * cellHeight + kMargin, width, CV_8UC3, kGround);

    // heading: the chart, the verdict, the figures behind it
    const std::string name = input.chartName.empty() ? "Chart" : input.chartName;
    drawCaption(picture, name + "    Loss: " + formatFixed(input.loss, 1), {kMargin, titleBase},
                0.85, kText, 2);
    for (std::size_t line = 0; line < verdictText.size(); ++line)
        drawCaption(picture, verdictText[line], {kMargin, verdictBase + 26 * int(line)},
                    kHeadingScale, verdict.good() ? kGood : kPoor, 2);
    drawCaption(picture,
                "CIEDE2000 to the reference, over all " + std::to_string(count) +
                    " patches (the fit used " + std::to_string(verdict.used) + "):",
                {kMargin, statsBase}, 0.6, kText);
    int x = kMargin;
    x += drawCaption(picture,
                     "before: mean " + formatFixed(verdict.meanBefore, 1) + ", max " +
                         formatFixed(verdict.maxBefore, 1) + "      after the cube: ",
                     {x, statsBase2}, 0.6, kText);
    drawCaption(
        picture,
        "mean " + formatFixed(verdict.meanAfter, 1) + ", max " + formatFixed(verdict.maxAfter, 1),
        {x, statsBase2}, 0.6, differenceColour(verdict.meanAfter), 2);

    // the photo before | after
    const int leftX = kMargin + (half - photo.cols) / 2;
    const int rightX = 2 * kMargin + half + (half - photo.cols) / 2;
    drawCaption(picture, "Before: as photographed", {leftX, photosTop - 10}, 0.6, kDimText);
    drawCaption(picture, "After: " + cubeName + " applied", {rightX, photosTop - 10}, 0.6,
                kDimText);
    photo.copyTo(picture(cv::Rect(leftX, photosTop, photo.cols, photo.rows)));
    after.copyTo(picture(cv::Rect(rightX, photosTop, photo.cols, photo.rows)));

    // legend
    drawCaption(picture,
                "Each patch: reference | as photographed | after the cube; under it, its number "
                "and CIEDE2000 before -> after:",
                {kMargin, legendBase}, 0.5, kText);
    x = kMargin;
    x += drawCaption(picture, "up to 2 hard to see    ", {x, legendBase2}, 0.5, kGood, 2);
    x += drawCaption(picture, "up to 5 seen side by side    ", {x, legendBase2}, 0.5, kFair, 2);
    x += drawCaption(picture, "above 5 plain to see    ", {x, legendBase2}, 0.5, kPoor, 2);
    if (verdict.used < count)
        drawCaption(picture, "orange: saturated, left out of the fit", {x, legendBase2}, 0.5,
                    kLeftOut, 2);

    // the tiles, in the chart's rows
    const auto cellOf = [&](int i) {
        return cv::Rect(kMargin + layout.columnOf(i) * cellWidth,
                        tilesTop + layout.rowOf(i) * cellHeight, cellWidth, cellHeight - 10);
    };
    for (int i = 0; i < count; ++i)
        drawTile(picture, cellOf(i), i + 1, patches[std::size_t(i)], tileScale, lineHeight);
    // the worst patches of a warning, framed and numbered as the heading names them
    for (std::size_t k = 0; !verdict.good() && k < verdict.worst.size(); ++k) {
        const cv::Rect cell = cellOf(verdict.worst[k]);
        cv::rectangle(picture, cell, kPoor, 3);
        const std::string mark = "worst " + std::to_string(k + 1);
        int baseline = 0;
        const int markWidth = cv::getTextSize(mark, kFont, tileScale, 1, &baseline).width;
        drawCaption(picture, mark,
                    {cell.x + cell.width - markWidth - 8, cell.y + cell.height - lineHeight - 8},
                    tileScale, kPoor, 1);
    }
    return picture;
}

// --- Writing both files ------------------------------------------------------

namespace {

// The cube on the chart: every patch and the photo through it, and the
// verdict on both.
struct CubeChecked {
    std::vector<PatchCheck> patches;
    cv::Mat after;  // the photo the check shows, the cube applied
    LutVerdict verdict;
};

// The one check behind the verdict before writing and the check of the file;
// not done when the chart's reference colours are not at hand.
Outcome checkCube(const LutCheckInput& input, const CubeLut& cube, CubeChecked& checked) {
    checked.patches = checkPatches(input, cube);
    if (checked.patches.empty()) return failed("the chart's reference colours are not available");
    checked.after = applyCubeToImage(cube, shownPhoto(input));
    checked.verdict = lutVerdict(input, checked.patches, sceneLight(input, checked.after));
    return {};
}

}  // namespace

Outcome judgeLut(const LutCheckInput& input, const cv::Mat& lut, LutVerdict& verdict) {
    CubeLut cube;
    CubeChecked checked;
    Outcome judged = parseCube(cubeText(lut), cube);
    if (judged.done) judged = checkCube(input, cube, checked);
    if (judged.done) verdict = checked.verdict;
    return judged;
}

LutCheckWritten writeLutCheck(const LutCheckInput& input, const std::string& cubePath,
                              const std::string& csvPath, const std::string& picturePath) {
    LutCheckWritten written;
    std::string text;
    CubeLut cube;
    written.check = readWholeFile(cubePath, text);
    if (written.check.done) written.check = parseCube(text, cube);
    if (!written.check.done) return written;
    text.clear();
    text.shrink_to_fit();
    CubeChecked checked;
    written.check = checkCube(input, cube, checked);
    if (!written.check.done) return written;
    written.verdict = checked.verdict;
    written.verdictText = verdictLines(written.verdict, input, checked.patches);
    written.csv = replaceFileContents(csvPath, lutCheckCsv(checked.patches));
    written.picture =
        writeImageFile(picturePath, lutCheckPicture(input, checked.after, checked.patches,
                                                    written.verdict, fileNameOf(cubePath)));
    return written;
}

}  // namespace tintsmith
