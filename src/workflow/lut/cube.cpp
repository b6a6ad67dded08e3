// The Cube text format in one place: written from the LUT image, parsed back,
// and applied as an editor applies it. Sections: writing · parsing · applying.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include <opencv2/core/utility.hpp>

#include "workflow/lut/lut.hpp"

namespace tintsmith {
namespace {

constexpr char kHeader[] = "LUT_3D_SIZE 64\r\n";
constexpr std::size_t kValueWidth = 8;                   // "0.117647": every value is below 10
constexpr std::size_t kLineWidth = 3 * kValueWidth + 4;  // two spaces and CR LF

// "%f" of v / 255.0 for every byte v, made without the C locale so a user's
// decimal comma can never reach the file.
const std::array<std::array<char, kValueWidth>, 256>& valueTexts() {
    static const auto texts = [] {
        std::array<std::array<char, kValueWidth>, 256> made{};
        for (int v = 0; v < 256; ++v) {
            const std::string text = formatFixed(v / 255.0, 6);
            std::memcpy(made[v].data(), text.data(), text.size());
        }
        return made;
    }();
    return texts;
}

const char* skipSpaces(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    return p;
}

// One number at `p`. Plain decimals of up to 15 digits (all a cube writer
// prints) take the fast path: an exact integer divided by an exact power of
// ten rounds once, to the same double std::from_chars gives; anything else
// goes to std::from_chars.
const char* parseNumber(const char* p, const char* end, double& value) {
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
// 0.039216": read by position, the same values as parseNumber gives.
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
        p = parseNumber(skipSpaces(p, end), end, values[i]);
        if (!p) return false;
    }
    return skipSpaces(p, end) == end;
}

bool startsWith(const char* p, const char* end, const char* word) {
    std::size_t length = std::strlen(word);
    return std::size_t(end - p) >= length && std::memcmp(p, word, length) == 0 &&
           (std::size_t(end - p) == length || p[length] == ' ' || p[length] == '\t');
}

// Where a channel's value falls on the cube's axis: the entry below it and the
// share of the next one, the value clamped to the domain.
struct AxisStep {
    int index;
    double fraction;
};

AxisStep axisStep(const CubeLut& cube, int channel, double value) {
    double t =
        (value - cube.domainMin[channel]) / (cube.domainMax[channel] - cube.domainMin[channel]);
    if (!(t > 0)) t = 0;  // NaN too
    if (t > 1) t = 1;
    const double position = t * (cube.size - 1);
    const int index = std::min(int(position), cube.size - 2);
    return {index, position - index};
}

// Trilinear between the eight entries from `base`, the entry at the lower
// corner: along red, then green, then blue, in the arithmetic of `Real`.
template <class Real>
cv::Vec<Real, 3> trilinear(const cv::Vec3f* base, std::size_t greenStep, std::size_t blueStep,
                           Real fr, Real fg, Real fb) {
    using Colour = cv::Vec<Real, 3>;
    const auto at = [base](std::size_t offset) { return Colour(base[offset]); };
    const Colour c00 = at(0) + fr * (at(1) - at(0));
    const Colour c10 = at(greenStep) + fr * (at(greenStep + 1) - at(greenStep));
    const Colour c01 = at(blueStep) + fr * (at(blueStep + 1) - at(blueStep));
    const Colour c11 =
        at(blueStep + greenStep) + fr * (at(blueStep + greenStep + 1) - at(blueStep + greenStep));
    const Colour c0 = c00 + fg * (c10 - c00);
    const Colour c1 = c01 + fg * (c11 - c01);
    return c0 + fb * (c1 - c0);
}

}  // namespace

// --- Writing -----------------------------------------------------------------

std::string formatFixed(double value, int decimals) {
    char buffer[64];
    auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals)
            .ptr;
    return std::string(buffer, end);
}

std::string cubeProblem(const cv::Mat& lut) {
    if (lut.empty()) return "the LUT image is empty";
    if (lut.type() != CV_8UC3) return "the LUT image is not 8-bit 3-channel";
    if (!lut.isContinuous()) return "the LUT image is not continuous";
    // a lattice of another size is not the 64-point lattice: no part of it is
    if (lut.cols != kLatticeSide || lut.rows != kLatticeSide)
        return "the LUT image is " + std::to_string(lut.cols) + " x " + std::to_string(lut.rows) +
               (lut.cols <= kLatticeSide && lut.rows <= kLatticeSide ? ", smaller than 512 x 512"
                                                                     : ", not 512 x 512");
    return {};
}

std::string cubeText(const cv::Mat& lut) {
    if (!cubeProblem(lut).empty()) return {};
    const auto& texts = valueTexts();
    const std::size_t headerSize = sizeof kHeader - 1;
    // appended a row of 64 lines at a time: a string made at full size would be
    // zero-filled first, a second pass over 7 MB that costs as much as the text
    std::string text;
    text.reserve(headerSize + std::size_t(kLatticeSide) * kLatticeSide * kLineWidth);
    text.append(kHeader, headerSize);
    char row[kLutSize * kLineWidth];
    for (int tileRow = 0; tileRow < kLatticeTiles; ++tileRow)
        for (int tileCol = 0; tileCol < kLatticeTiles; ++tileCol)
            for (int y = 0; y < kLutSize; ++y) {
                const std::uint8_t* pixel =
                    lut.ptr<std::uint8_t>(kLutSize * tileRow + y) + 3 * kLutSize * tileCol;
                char* out = row;
                for (int x = 0; x < kLutSize; ++x, pixel += 3) {
                    // red is the third byte of a BGR pixel
                    std::memcpy(out, texts[pixel[2]].data(), kValueWidth);
                    out[kValueWidth] = ' ';
                    std::memcpy(out + kValueWidth + 1, texts[pixel[1]].data(), kValueWidth);
                    out[2 * kValueWidth + 1] = ' ';
                    std::memcpy(out + 2 * kValueWidth + 2, texts[pixel[0]].data(), kValueWidth);
                    out[3 * kValueWidth + 2] = '\r';
                    out[3 * kValueWidth + 3] = '\n';
                    out += kLineWidth;
                }
                text.append(row, sizeof row);
            }
    return text;
}

// --- Parsing -----------------------------------------------------------------

Outcome parseCube(const std::string& text, CubeLut& cube) {
    long lineNumber = 0;
    auto refuse = [&](const std::string& problem, bool sayLine = true) {
        cube = {};
        return failed(sayLine ? problem + " (line " + std::to_string(lineNumber) + ")" : problem);
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
    return {};
}

// --- Applying ----------------------------------------------------------------

cv::Vec3d applyCube(const CubeLut& cube, const cv::Vec3d& rgb) {
    const std::size_t n = std::size_t(cube.size);
    const AxisStep r = axisStep(cube, 0, rgb[0]), g = axisStep(cube, 1, rgb[1]),
                   b = axisStep(cube, 2, rgb[2]);
    const cv::Vec3f* base = cube.entries.data() + r.index + n * (g.index + n * b.index);
    return trilinear<double>(base, n, n * n, r.fraction, g.fraction, b.fraction);
}

cv::Mat applyCubeToImage(const CubeLut& cube, const cv::Mat& bgr) {
    CV_Assert(bgr.type() == CV_8UC3 && cube.size >= 2);
    // per channel and byte: the lower lattice index and the weight of the upper
    int index[3][256];
    float fraction[3][256];
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) {
            const AxisStep step = axisStep(cube, c, v / 255.0);
            index[c][v] = step.index;
            fraction[c][v] = float(step.fraction);
        }
    const cv::Vec3f* entries = cube.entries.data();
    const std::size_t greenStep = std::size_t(cube.size), blueStep = greenStep * greenStep;
    cv::Mat out(bgr.size(), CV_8UC3);
    cv::parallel_for_(cv::Range(0, bgr.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const std::uint8_t* in = bgr.ptr<std::uint8_t>(row);
            std::uint8_t* o = out.ptr<std::uint8_t>(row);
            for (int col = 0; col < bgr.cols; ++col, in += 3, o += 3) {
                const int b = in[0], g = in[1], r = in[2];
                const cv::Vec3f rgb = trilinear<float>(
                    entries + index[0][r] + greenStep * index[1][g] + blueStep * index[2][b],
                    greenStep, blueStep, fraction[0][r], fraction[1][g], fraction[2][b]);
                o[0] = cv::saturate_cast<std::uint8_t>(rgb[2] * 255.0f);
                o[1] = cv::saturate_cast<std::uint8_t>(rgb[1] * 255.0f);
                o[2] = cv::saturate_cast<std::uint8_t>(rgb[0] * 255.0f);
            }
        }
    });
    return out;
}

}  // namespace tintsmith
