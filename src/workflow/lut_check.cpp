// The LUT check: the cube file as written is read back, applied to the chart
// photo and to every measured patch as an editor would apply it, and compared
// with the chart's reference colours in CIEDE2000.
// Sections: colour difference · cube text and its application · the patches ·
// the CSV · the picture · writing both files.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr double kPi = 3.14159265358979323846;

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

// ---------------------------------------------------------------------------
// Colour difference.
// ---------------------------------------------------------------------------

double srgbToLinear(double v) {
    double magnitude = std::abs(v);
    double linear =
        magnitude <= 0.04045 ? magnitude / 12.92 : std::pow((magnitude + 0.055) / 1.055, 2.4);
    return v < 0 ? -linear : linear;
}

double labCurve(double t) {
    constexpr double kDelta = 6.0 / 29;
    return t > kDelta * kDelta * kDelta ? std::cbrt(t) : t / (3 * kDelta * kDelta) + 4.0 / 29;
}

double degrees(double radians) {
    return radians * 180 / kPi;
}
double radians(double degreesValue) {
    return degreesValue * kPi / 180;
}

// ---------------------------------------------------------------------------
// Cube text.
// ---------------------------------------------------------------------------

const char* skipSpaces(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    return p;
}

// One number at `p`. Plain decimals of up to 15 digits (all a cube writer
// prints) take the fast path: an exact integer divided by an exact power of
// ten rounds once, to the same double std::from_chars gives; anything else
// goes to std::from_chars.
const char* readNumber(const char* p, const char* end, double& value) {
    static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char* s = p;
    bool negative = s < end && *s == '-';
    if (s < end && (*s == '-' || *s == '+')) ++s;
    std::uint64_t mantissa = 0;
    int digits = 0, decimals = 0;
    bool point = false;
    for (; s < end; ++s) {
        if (*s >= '0' && *s <= '9') {
            mantissa = mantissa * 10 + std::uint64_t(*s - '0');
            ++digits;
            decimals += point ? 1 : 0;
        } else if (*s == '.' && !point) {
            point = true;
        } else {
            break;
        }
        if (digits > 15) break;
    }
    bool plainEnd = s == end || *s == ' ' || *s == '\t';
    if (digits > 0 && digits <= 15 && plainEnd) {
        value = double(mantissa) / kPowersOfTen[decimals];
        if (negative) value = -value;
        return s;
    }
    if (p < end && *p == '+') ++p;
    auto [next, error] = std::from_chars(p, end, value);
    return error == std::errc() && std::isfinite(value) ? next : nullptr;
}

// An entry exactly as this system's cube writer prints it, "0.117647 0.078431
// 0.039216": read by position, the same values as readNumber gives.
bool readWriterEntry(const char* line, const char* last, double* values) {
    if (last - line != 26 || line[8] != ' ' || line[17] != ' ') return false;
    for (int i = 0; i < 3; ++i) {
        const char* number = line + 9 * i;
        if (number[1] != '.') return false;
        std::uint32_t mantissa = 0;
        for (int k : {0, 2, 3, 4, 5, 6, 7}) {
            unsigned digit = unsigned(number[k] - '0');
            if (digit > 9) return false;
            mantissa = mantissa * 10 + digit;
        }
        values[i] = double(mantissa) / 1e6;
    }
    return true;
}

// Reads `count` numbers separated by spaces that fill the rest of the line.
bool readNumbers(const char* p, const char* end, double* values, int count) {
    for (int i = 0; i < count; ++i) {
        p = readNumber(skipSpaces(p, end), end, values[i]);
        if (!p) return false;
    }
    return skipSpaces(p, end) == end;
}

bool startsWith(const char* p, const char* end, const char* word) {
    std::size_t length = std::strlen(word);
    return std::size_t(end - p) >= length && std::memcmp(p, word, length) == 0 &&
           (std::size_t(end - p) == length || p[length] == ' ' || p[length] == '\t');
}

// ---------------------------------------------------------------------------
// The picture.
// ---------------------------------------------------------------------------

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
int drawText(cv::Mat& image, const std::string& text, cv::Point origin, double scale,
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

ChartLayout layoutOf(int detectorType, int patches) {
    if (detectorType == cv::mcc::SG140 && patches == 140) return {14, 10, true};
    if (detectorType == cv::mcc::VINYL18 && patches == 18) return {6, 3, false};
    ChartLayout layout;
    layout.rows = std::max(1, (patches + layout.columns - 1) / layout.columns);
    return layout;
}

struct Summary {
    int used = 0;
    double meanBefore = 0, maxBefore = 0, meanAfter = 0, maxAfter = 0;
};

// Mean and maximum over the patches the fit used (all of them if it used none).
Summary summarise(const std::vector<PatchCheck>& patches) {
    Summary summary;
    for (const PatchCheck& patch : patches) summary.used += patch.used ? 1 : 0;
    bool all = summary.used == 0;
    int counted = 0;
    for (const PatchCheck& patch : patches) {
        if (!patch.used && !all) continue;
        ++counted;
        summary.meanBefore += patch.before;
        summary.meanAfter += patch.afterCube;
        summary.maxBefore = std::max(summary.maxBefore, patch.before);
        summary.maxAfter = std::max(summary.maxAfter, patch.afterCube);
    }
    if (counted > 0) {
        summary.meanBefore /= counted;
        summary.meanAfter /= counted;
    }
    return summary;
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
    drawText(picture, label, {swatch.x, y}, scale, patch.used ? kDimText : kLeftOut);
    y += lineHeight;
    int x = swatch.x;
    x += drawText(picture, formatFixed(patch.before, 1) + " -> ", {x, y}, scale, kText);
    drawText(picture, formatFixed(patch.afterCube, 1), {x, y}, scale,
             differenceColour(patch.afterCube), 2);
}

}  // namespace

// ---------------------------------------------------------------------------
// Colour difference.
// ---------------------------------------------------------------------------

cv::Vec3d srgbToLab(const cv::Vec3d& rgb) {
    // IEC 61966-2-1 primaries; the D65 white is the matrix's own row sums
    const double r = srgbToLinear(rgb[0]), g = srgbToLinear(rgb[1]), b = srgbToLinear(rgb[2]);
    const double x = 0.4124564 * r + 0.3575761 * g + 0.1804375 * b;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = 0.0193339 * r + 0.1191920 * g + 0.9503041 * b;
    const double fx = labCurve(x / 0.9504700), fy = labCurve(y / 1.0000001),
                 fz = labCurve(z / 1.0888300);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

double ciede2000(const cv::Vec3d& lab1, const cv::Vec3d& lab2) {
    const double pow25To7 = 6103515625.0;  // 25^7
    const double c1 = std::hypot(lab1[1], lab1[2]), c2 = std::hypot(lab2[1], lab2[2]);
    const double cMean7 = std::pow((c1 + c2) / 2, 7);
    const double g = 0.5 * (1 - std::sqrt(cMean7 / (cMean7 + pow25To7)));
    const double a1 = (1 + g) * lab1[1], a2 = (1 + g) * lab2[1];
    const double c1p = std::hypot(a1, lab1[2]), c2p = std::hypot(a2, lab2[2]);
    auto hue = [](double b, double a) {
        if (a == 0 && b == 0) return 0.0;
        double h = degrees(std::atan2(b, a));
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(lab1[2], a1), h2 = hue(lab2[2], a2);

    // differences
    const double dL = lab2[0] - lab1[0], dC = c2p - c1p;
    double dh = 0;
    if (c1p * c2p != 0) {
        dh = h2 - h1;
        if (dh > 180)
            dh -= 360;
        else if (dh < -180)
            dh += 360;
    }
    const double dH = 2 * std::sqrt(c1p * c2p) * std::sin(radians(dh / 2));

    // means
    const double lMean = (lab1[0] + lab2[0]) / 2, cMean = (c1p + c2p) / 2;
    double hMean = h1 + h2;
    if (c1p * c2p != 0) {
        if (std::abs(h1 - h2) <= 180)
            hMean = (h1 + h2) / 2;
        else if (h1 + h2 < 360)
            hMean = (h1 + h2 + 360) / 2;
        else
            hMean = (h1 + h2 - 360) / 2;
    }

    // weights
    const double t = 1 - 0.17 * std::cos(radians(hMean - 30)) +
                     0.24 * std::cos(radians(2 * hMean)) + 0.32 * std::cos(radians(3 * hMean + 6)) -
                     0.20 * std::cos(radians(4 * hMean - 63));
    const double dTheta = 30 * std::exp(-std::pow((hMean - 275) / 25, 2));
    const double cMeanP7 = std::pow(cMean, 7);
    const double rC = 2 * std::sqrt(cMeanP7 / (cMeanP7 + pow25To7));
    const double lOff2 = (lMean - 50) * (lMean - 50);
    const double sL = 1 + 0.015 * lOff2 / std::sqrt(20 + lOff2);
    const double sC = 1 + 0.045 * cMean, sH = 1 + 0.015 * cMean * t;
    const double rT = -std::sin(radians(2 * dTheta)) * rC;

    const double l = dL / sL, c = dC / sC, h = dH / sH;
    return std::sqrt(std::max(0.0, l * l + c * c + h * h + rT * c * h));
}

// ---------------------------------------------------------------------------
// Cube text and its application.
// ---------------------------------------------------------------------------

bool parseCube(const std::string& text, CubeLut& cube, std::string* why) {
    long lineNumber = 0;
    auto refuse = [&](const std::string& problem, bool sayLine = true) {
        if (why) *why = sayLine ? problem + " (line " + std::to_string(lineNumber) + ")" : problem;
        cube = {};
        return false;
    };
    cube = {};
    std::size_t expected = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        ++lineNumber;
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lineEnd) lineEnd = end;
        const char* line = skipSpaces(p, lineEnd);
        const char* last = lineEnd;
        while (last > line && (last[-1] == '\r' || last[-1] == ' ' || last[-1] == '\t')) --last;
        p = lineEnd + (lineEnd < end ? 1 : 0);
        if (line == last || *line == '#') continue;

        if (std::isalpha(static_cast<unsigned char>(*line))) {
            if (!cube.entries.empty()) return refuse("a keyword after the entries");
            double values[3];
            if (startsWith(line, last, "LUT_3D_SIZE")) {
                if (!readNumbers(line + 11, last, values, 1) ||
                    values[0] != std::floor(values[0]) || values[0] < 2 || values[0] > 256)
                    return refuse("LUT_3D_SIZE is not a whole number from 2 to 256");
                cube.size = int(values[0]);
                expected = std::size_t(cube.size) * cube.size * cube.size;
                cube.entries.reserve(expected);
            } else if (startsWith(line, last, "DOMAIN_MIN") ||
                       startsWith(line, last, "DOMAIN_MAX")) {
                if (!readNumbers(line + 10, last, values, 3))
                    return refuse("a domain line without three numbers");
                (line[8] == 'I' ? cube.domainMin : cube.domainMax) =
                    cv::Vec3d(values[0], values[1], values[2]);
            } else if (startsWith(line, last, "LUT_1D_SIZE")) {
                return refuse("a 1D LUT, not a 3D one");
            }
            continue;  // TITLE and keywords of other tools change nothing here
        }
        double values[3];
        if (!readWriterEntry(line, last, values) && !readNumbers(line, last, values, 3))
            return refuse("an entry is not three numbers");
        if (cube.size == 0) return refuse("entries before LUT_3D_SIZE");
        if (cube.entries.size() == expected) return refuse("more entries than LUT_3D_SIZE says");
        for (double value : values)
            if (std::abs(value) > 1e30) return refuse("an entry far out of range");
        cube.entries.emplace_back(float(values[0]), float(values[1]), float(values[2]));
    }
    if (cube.size == 0) return refuse("no LUT_3D_SIZE line", false);
    if (cube.entries.size() != expected)
        return refuse(std::to_string(cube.entries.size()) + " entries where LUT_3D_SIZE needs " +
                          std::to_string(expected),
                      false);
    for (int c = 0; c < 3; ++c)
        if (!(cube.domainMax[c] > cube.domainMin[c]))
            return refuse("DOMAIN_MAX is not above DOMAIN_MIN", false);
    return true;
}

cv::Vec3d applyCube(const CubeLut& cube, const cv::Vec3d& rgb) {
    const int n = cube.size;
    int index[3];
    double fraction[3];
    for (int c = 0; c < 3; ++c) {
        double t = (rgb[c] - cube.domainMin[c]) / (cube.domainMax[c] - cube.domainMin[c]);
        if (!(t > 0)) t = 0;  // NaN too
        if (t > 1) t = 1;
        double position = t * (n - 1);
        index[c] = std::min(int(position), n - 2);
        fraction[c] = position - index[c];
    }
    cv::Vec3d out(0, 0, 0);
    for (int corner = 0; corner < 8; ++corner) {
        int dr = corner & 1, dg = (corner >> 1) & 1, db = (corner >> 2) & 1;
        double weight = (dr ? fraction[0] : 1 - fraction[0]) *
                        (dg ? fraction[1] : 1 - fraction[1]) * (db ? fraction[2] : 1 - fraction[2]);
        if (weight == 0) continue;
        const cv::Vec3f& entry =
            cube.entries[std::size_t(index[0] + dr) +
                         n * (std::size_t(index[1] + dg) + n * (index[2] + db))];
        out += weight * cv::Vec3d(entry[0], entry[1], entry[2]);
    }
    return out;
}

cv::Mat applyCubeToImage(const CubeLut& cube, const cv::Mat& bgr) {
    CV_Assert(bgr.type() == CV_8UC3 && cube.size >= 2);
    const int n = cube.size;
    // per channel and byte: the lower lattice index and the weight of the upper
    int index[3][256];
    float fraction[3][256];
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) {
            double t = (v / 255.0 - cube.domainMin[c]) / (cube.domainMax[c] - cube.domainMin[c]);
            if (!(t > 0)) t = 0;  // NaN too
            if (t > 1) t = 1;
            double position = t * (n - 1);
            index[c][v] = std::min(int(position), n - 2);
            fraction[c][v] = float(position - index[c][v]);
        }
    const cv::Vec3f* entries = cube.entries.data();
    const std::size_t greenStep = std::size_t(n), blueStep = std::size_t(n) * n;
    cv::Mat out(bgr.size(), CV_8UC3);
    cv::parallel_for_(cv::Range(0, bgr.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const std::uint8_t* in = bgr.ptr<std::uint8_t>(row);
            std::uint8_t* o = out.ptr<std::uint8_t>(row);
            for (int col = 0; col < bgr.cols; ++col, in += 3, o += 3) {
                const int b = in[0], g = in[1], r = in[2];
                const float fr = fraction[0][r], fg = fraction[1][g], fb = fraction[2][b];
                const cv::Vec3f* base =
                    entries + index[0][r] + greenStep * index[1][g] + blueStep * index[2][b];
                // along red, then green, then blue
                cv::Vec3f c00 = base[0] + fr * (base[1] - base[0]);
                cv::Vec3f c10 = base[greenStep] + fr * (base[greenStep + 1] - base[greenStep]);
                cv::Vec3f c01 = base[blueStep] + fr * (base[blueStep + 1] - base[blueStep]);
                cv::Vec3f c11 = base[blueStep + greenStep] +
                                fr * (base[blueStep + greenStep + 1] - base[blueStep + greenStep]);
                cv::Vec3f c0 = c00 + fg * (c10 - c00);
                cv::Vec3f c1 = c01 + fg * (c11 - c01);
                cv::Vec3f rgb = c0 + fb * (c1 - c0);
                o[0] = cv::saturate_cast<std::uint8_t>(rgb[2] * 255.0f);
                o[1] = cv::saturate_cast<std::uint8_t>(rgb[1] * 255.0f);
                o[2] = cv::saturate_cast<std::uint8_t>(rgb[0] * 255.0f);
            }
        }
    });
    return out;
}

// ---------------------------------------------------------------------------
// The patches.
// ---------------------------------------------------------------------------

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
                    for (int c = 0; c < 3; ++c) {
                        double v = std::abs(colour[c]);
                        double encoded =
                            v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
                        colour[c] = colour[c] < 0 ? -encoded : encoded;
                    }
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

// ---------------------------------------------------------------------------
// The CSV.
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// The picture.
// ---------------------------------------------------------------------------

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
    const int titleBase = kMargin + 26;
    const int statsBase = titleBase + 32, statsBase2 = statsBase + 26;
    const int photosTop = statsBase2 + 44;
    const int legendBase = photosTop + photo.rows + kMargin + 20, legendBase2 = legendBase + 24;
    const int tilesTop = legendBase2 + 16;
    cv::Mat picture(tilesTop + layout.rows * cellHeight + kMargin, width, CV_8UC3, kGround);

    // heading
    const Summary summary = summarise(patches);
    const std::string name = input.chartName.empty() ? "Chart" : input.chartName;
    drawText(picture, name + "    Loss: " + formatFixed(input.loss, 1), {kMargin, titleBase}, 0.85,
             kText, 2);
    drawText(picture,
             "CIEDE2000 to the reference, over the " + std::to_string(summary.used) + " of " +
                 std::to_string(count) + " patches the fit used:",
             {kMargin, statsBase}, 0.6, kText);
    int x = kMargin;
    x += drawText(picture,
                  "before: mean " + formatFixed(summary.meanBefore, 1) + ", max " +
                      formatFixed(summary.maxBefore, 1) + "      after the cube: ",
                  {x, statsBase2}, 0.6, kText);
    drawText(
        picture,
        "mean " + formatFixed(summary.meanAfter, 1) + ", max " + formatFixed(summary.maxAfter, 1),
        {x, statsBase2}, 0.6, differenceColour(summary.meanAfter), 2);

    // the photo before | after
    const int leftX = kMargin + (half - photo.cols) / 2;
    const int rightX = 2 * kMargin + half + (half - photo.cols) / 2;
    drawText(picture, "Before: as photographed", {leftX, photosTop - 10}, 0.6, kDimText);
    drawText(picture, "After: " + cubeName + " applied", {rightX, photosTop - 10}, 0.6, kDimText);
    photo.copyTo(picture(cv::Rect(leftX, photosTop, photo.cols, photo.rows)));
    applyCubeToImage(cube, photo)
        .copyTo(picture(cv::Rect(rightX, photosTop, photo.cols, photo.rows)));

    // legend
    drawText(picture,
             "Each patch: reference | as photographed | after the cube; under it, its number "
             "and CIEDE2000 before -> after:",
             {kMargin, legendBase}, 0.5, kText);
    x = kMargin;
    x += drawText(picture, "up to 2 hard to see    ", {x, legendBase2}, 0.5, kGood, 2);
    x += drawText(picture, "up to 5 seen side by side    ", {x, legendBase2}, 0.5, kFair, 2);
    x += drawText(picture, "above 5 plain to see    ", {x, legendBase2}, 0.5, kPoor, 2);
    if (summary.used < count)
        drawText(picture, "orange: saturated, left out of the fit", {x, legendBase2}, 0.5, kLeftOut,
                 2);

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

// ---------------------------------------------------------------------------
// Writing both files.
// ---------------------------------------------------------------------------

std::string lutCheckPathFor(const std::string& lutImagePath, const std::string& extension) {
    // only a dot in the file's own name starts its extension
    const std::size_t dot = fileNameOf(lutImagePath).rfind('.');
    const std::size_t nameStart = lutImagePath.size() - fileNameOf(lutImagePath).size();
    return lutImagePath.substr(0,
                               dot == std::string::npos ? lutImagePath.size() : nameStart + dot) +
           "_check" + extension;
}

bool writeLutCheck(const LutCheckInput& input, const WorkingPaths& paths) {
    std::string text, why;
    CubeLut cube;
    if (!readWholeFile(paths.cube, text, why) || !parseCube(text, cube, &why)) {
        std::cout << "Could not check " << paths.cube << ": " << why << std::endl;
        return false;
    }
    text.clear();
    text.shrink_to_fit();
    std::vector<PatchCheck> patches = checkPatches(input, cube);
    if (patches.empty()) {
        std::cout << "Could not check " << paths.cube
                  << ": the chart's reference colours are not available" << std::endl;
        return false;
    }

    bool complete = true;
    const std::string csvPath = lutCheckPathFor(paths.lutImage, ".csv");
    if (!writeWholeFile(csvPath, lutCheckCsv(patches))) complete = false;
    cv::Mat picture = lutCheckPicture(input, cube, patches, fileNameOf(paths.cube));
    if (!writeImageFile(lutCheckPathFor(paths.lutImage, ".png"), picture)) complete = false;
    return complete;
}

}  // namespace tintsmith
