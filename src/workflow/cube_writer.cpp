// The 64-point 3D LUT in the Cube text format: a size line, then one
// "red green blue" line per lattice point, red fastest, CR LF line ends.
#include <array>
#include <charconv>
#include <cstring>
#include <iostream>

#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr int kTiles = 8;                 // tiles per side: sqrt(kLutSize)
constexpr int kSide = kTiles * kLutSize;  // 512 pixels read per side
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

}  // namespace

std::string formatFixed(double value, int decimals) {
    char buffer[64];
    auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals)
            .ptr;
    return std::string(buffer, end);
}

std::string cubeText(const cv::Mat& lut, std::string* why) {
    const char* problem = nullptr;
    if (lut.empty())
        problem = "the LUT image is empty";
    else if (lut.type() != CV_8UC3)
        problem = "the LUT image is not 8-bit 3-channel";
    else if (!lut.isContinuous())
        problem = "the LUT image is not continuous";
    if (problem) {
        if (why) *why = problem;
        return {};
    }
    // a lattice of another size is not the 64-point lattice: no part of it is
    if (lut.cols != kSide || lut.rows != kSide) {
        if (why)
            *why = "the LUT image is " + std::to_string(lut.cols) + " x " +
                   std::to_string(lut.rows) +
                   (lut.cols <= kSide && lut.rows <= kSide ? ", smaller than 512 x 512"
                                                           : ", not 512 x 512");
        return {};
    }

    const auto& texts = valueTexts();
    const std::size_t headerSize = sizeof kHeader - 1;
    // appended a row of 64 lines at a time: a string made at full size would be
    // zero-filled first, a second pass over 7 MB that costs as much as the text
    std::string text;
    text.reserve(headerSize + std::size_t(kSide) * kSide * kLineWidth);
    text.append(kHeader, headerSize);
    char row[kLutSize * kLineWidth];
    for (int tileRow = 0; tileRow < kTiles; ++tileRow)
        for (int tileCol = 0; tileCol < kTiles; ++tileCol)
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

bool writeCubeLut(const cv::Mat& lut, std::string path) {
    std::string why;
    std::string text = cubeText(lut, &why);
    if (text.empty()) {
        std::cout << "File Not Opened" << std::endl;
        std::cout << "Not writing " << path << ": " << why << std::endl;
        return false;
    }
    WriteResult result = replaceFileContents(path, text);
    if (result.outcome != WriteOutcome::Written) {
        std::cout << "File Not Opened" << std::endl;
        std::cout << "Could not write " << path << ": " << result.reason << std::endl;
        return false;
    }
    return true;
}

bool writeLutFiles(const cv::Mat& lut, const std::string& pngPath, const std::string& cubePath) {
    std::string why;
    std::string text = cubeText(lut, &why);
    if (text.empty()) {
        // the PNG follows the lattice whatever its size; the cube cannot
        writeImageFile(pngPath, lut);
        std::cout << "File Not Opened" << std::endl;
        std::cout << "Not writing " << cubePath << ": " << why << "; the older cube is kept"
                  << std::endl;
        return false;
    }
    std::string png;
    if (!encodeImageFile(pngPath, lut, png).empty()) {
        std::cout << "Could not write " << pngPath << ": the LUT image could not be encoded"
                  << std::endl;
        std::cout << "File Not Opened" << std::endl;
        std::cout << "Not writing " << cubePath << ": it is kept with the older PNG as a pair"
                  << std::endl;
        return false;
    }
    std::size_t failed = 0;
    const std::vector<FileContents> pair = {{pngPath, std::move(png)}, {cubePath, std::move(text)}};
    WriteResult result = replaceFilesTogether(pair, failed);
    if (result.outcome == WriteOutcome::Written) return true;
    if (failed == 0) {
        std::cout << "Could not write " << pngPath << ": " << result.reason << std::endl;
        std::cout << "File Not Opened" << std::endl;
        std::cout << "Not writing " << cubePath << ": both LUT files were left as they were, so "
                  << "they still match" << std::endl;
    } else {
        std::cout << "File Not Opened" << std::endl;
        std::cout << "Could not write " << cubePath << ": " << result.reason
                  << (result.mismatched
                          ? "; the LUT image was already replaced and its older one could "
                            "not be put back, so the two files do not match"
                          : "; both LUT files were left as they were, so they still match")
                  << std::endl;
    }
    return false;
}

}  // namespace tintsmith
