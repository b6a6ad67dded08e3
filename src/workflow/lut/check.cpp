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

// Where the patches sit on the chart: columns and rows as the chart is seen,
// and whether its data runs down the columns (the Digital SG's does).
struct ChartLayout {
    int columns = 6;
    int rows = 4;
    bool byColumn = false;
};

ChartLayout layoutOf(cv::mcc::TYPECHART detectorType, int patches) {
    if (detectorType == cv::mcc::SG140 && patches == 140) return {14, 10, true};
    if (detectorType == cv::mcc::VINYL18 && patches == 18) return {6, 3, false};
    ChartLayout layout;
    layout.rows = std::max(1, (patches + layout.columns - 1) / layout.columns);
    return layout;
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

    if (!reference.builtIn) {
        reference.colours.reshape(3, int(reference.colours.total()))
            .convertTo(input.reference, CV_64FC3);
    } else {
        // The library keeps its built-in charts inside; a model given colours
        // well inside 0..1 uses every patch, and its destination colours are
        // the reference in linear sRGB exactly as the fit converted it.
        try {
            cv::Mat probeColours(patches, 1, CV_64FC3);
            cv::RNG rng(0x7E57);
            rng.fill(probeColours, cv::RNG::UNIFORM, 0.2, 0.8);
            cv::ccm::ColorCorrectionModel probe(probeColours, reference.constColor);
            probe.setMaxCount(1);  // only the conversion is wanted, not a good fit
            probe.run();
            cv::Mat linear = probe.get_dst_rgbl();
            if (int(linear.total()) == patches && linear.channels() == 3) {
                linear.reshape(3, patches).convertTo(input.reference, CV_64FC3);
                for (int i = 0; i < patches; ++i) {
                    cv::Vec3d& colour = input.reference.at<cv::Vec3d>(i);
                    for (int c = 0; c < 3; ++c) colour[c] = srgbEncode(colour[c]);
                }
            }
        } catch (const cv::Exception&) {
            input.reference.release();
        }
    }
    if (input.reference.rows != patches) input.reference.release();

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

// --- The verdict -------------------------------------------------------------

LutVerdict lutVerdict(const std::vector<PatchCheck>& patches) {
    LutVerdict verdict;
    for (const PatchCheck& patch : patches) verdict.used += patch.used ? 1 : 0;
    const bool all = verdict.used == 0;
    int counted = 0;
    for (const PatchCheck& patch : patches) {
        if (!patch.used && !all) continue;
        ++counted;
        verdict.meanBefore += patch.before;
        verdict.meanAfter += patch.afterCube;
        verdict.maxBefore = std::max(verdict.maxBefore, patch.before);
        verdict.maxAfter = std::max(verdict.maxAfter, patch.afterCube);
    }
    if (counted > 0) {
        verdict.meanBefore /= counted;
        verdict.meanAfter /= counted;
    }
    return verdict;
}

std::vector<std::string> verdictLines(const LutVerdict& verdict) {
    const std::string means = "(mean CIEDE2000 " + formatFixed(verdict.meanBefore, 1) +
                              " before, " + formatFixed(verdict.meanAfter, 1) + " after)";
    if (verdict.good())
        return {"Better: the cube brings the chart's colours closer to their reference " + means +
                "."};
    return {verdict.better()
                ? "Warning: after the cube the chart's colours are still far from their "
                  "reference " +
                      means + "."
                : "Warning: the cube does not bring the chart's colours closer to their "
                  "reference " +
                      means + ".",
            "Likely causes: the wrong chart type, a chart photographed on a screen, or an "
            "over-exposed chart."};
}

// --- The CSV -----------------------------------------------------------------

std::string lutCheckCsv(const std::vector<PatchCheck>& patches) {
    std::string csv =
        "patch,ref_r,ref_g,ref_b,measured_r,measured_g,measured_b,after_r,after_g,after_b,"
        "de2000_before,de2000_after,used\n";
    int number = 0;
    for (const PatchCheck& patch : patches) {
        csv += std::to_string(++number);
        for (const cv::Vec3d* colour : {&patch.reference, &patch.measured, &patch.after})
            for (int c = 0; c < 3; ++c) csv += "," + formatFixed((*colour)[c] * 255, 2);
        csv += "," + formatFixed(patch.before, 2) + "," + formatFixed(patch.afterCube, 2);
        csv += patch.used ? ",1\n" : ",0\n";
    }
    return csv;
}

// --- The picture -------------------------------------------------------------

cv::Mat lutCheckPicture(const LutCheckInput& input, const CubeLut& cube,
                        const std::vector<PatchCheck>& patches, const std::string& cubeName) {
    const int count = int(patches.size());
    const ChartLayout layout = layoutOf(input.detectorType, count);
    const int width = std::min(
        kMaxPictureWidth,
        std::max(2 * kPhotoBox + 3 * kMargin, layout.columns * kMinCellWidth + 2 * kMargin));
    const int cellWidth = (width - 2 * kMargin) / layout.columns;
    const bool wide = cellWidth >= 180;
    const double tileScale = wide ? 0.55 : 0.42;
    const int lineHeight = wide ? 22 : 18;
    const int swatchHeight = std::clamp(int(cellWidth * 0.3), 40, 70);
    const int cellHeight = swatchHeight + 2 * lineHeight + 8 + 10;
    const cv::Mat photo = input.photo.type() == CV_8UC3 && !input.photo.empty()
                              ? input.photo
                              : cv::Mat(1, 1, CV_8UC3, kGround);
    const int half = (width - 3 * kMargin) / 2;

    // rows of the picture, top to bottom
    const LutVerdict verdict = lutVerdict(patches);
    const std::vector<std::string> verdictText = verdictLines(verdict);
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
    for (std::size_t line = 0; line < verdictText.size(); ++line) {
        // as large as the heading's other lines, smaller where it would not fit
        int baseline = 0;
        const int textWidth = cv::getTextSize(verdictText[line], kFont, 0.6, 2, &baseline).width;
        const double scale = std::min(0.6, 0.6 * (width - 2 * kMargin) / textWidth);
        drawCaption(picture, verdictText[line], {kMargin, verdictBase + 26 * int(line)}, scale,
                    verdict.good() ? kGood : kPoor, 2);
    }
    drawCaption(picture,
                "CIEDE2000 to the reference, over the " + std::to_string(verdict.used) + " of " +
                    std::to_string(count) + " patches the fit used:",
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
    applyCubeToImage(cube, photo)
        .copyTo(picture(cv::Rect(rightX, photosTop, photo.cols, photo.rows)));

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
    for (int i = 0; i < count; ++i) {
        int column = layout.byColumn ? i / layout.rows : i % layout.columns;
        int row = layout.byColumn ? i % layout.rows : i / layout.columns;
        cv::Rect cell(kMargin + column * cellWidth, tilesTop + row * cellHeight, cellWidth,
                      cellHeight - 10);
        drawTile(picture, cell, i + 1, patches[std::size_t(i)], tileScale, lineHeight);
    }
    return picture;
}

// --- Writing both files ------------------------------------------------------

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
    const std::vector<PatchCheck> patches = checkPatches(input, cube);
    if (patches.empty()) {
        written.check = failed("the chart's reference colours are not available");
        return written;
    }
    written.verdict = lutVerdict(patches);
    written.csv = replaceFileContents(csvPath, lutCheckCsv(patches));
    written.picture =
        writeImageFile(picturePath, lutCheckPicture(input, cube, patches, fileNameOf(cubePath)));
    return written;
}

}  // namespace tintsmith
