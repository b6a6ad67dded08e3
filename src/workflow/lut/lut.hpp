// The LUT: the identity lattice pushed through the model gives the LUT image,
// written as the pair cc_LUT.png and cc_LUT.cube (both replaced, or neither),
// and then checked: the cube is read back, applied as an editor applies it, and
// compared with the chart's reference in cc_LUT_check.png and .csv. Returns
// values and outcomes; prints nothing.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/mcc.hpp>

#include "workflow/chart/chart.hpp"
#include "workflow/io/io.hpp"
#include "workflow/outcome.hpp"

namespace tintsmith {

// --- Lattice -----------------------------------------------------------------

constexpr int kLutSize = 64;
constexpr int kLatticeTiles = 8;                        // tiles per side: sqrt(kLutSize)
constexpr int kLatticeSide = kLatticeTiles * kLutSize;  // 512 pixels per side

// The identity lattice: 512 x 512, 8 x 8 tiles of 64 x 64, red level x, green
// level y and blue level k (the tile) at lattice point (x, y, k); level i of
// 64 is round(i * 255 / 63).
cv::Mat identityLattice();

// "" when `lattice` is exactly identityLattice(), the only lattice a cube is
// written from; else how it differs, in words.
std::string latticeProblem(const cv::Mat& lattice);

// Writes identityLattice() to `path` as a PNG, whole or not at all: the file
// tintsmith-make-lattice writes, and the one the program makes when missing.
Outcome writeIdentityLattice(const std::string& path);

// --- Cube text ---------------------------------------------------------------
// Written, parsed and applied. Numbers never depend on the locale.

// `value` with `decimals` digits after the point, as "%.*f" in the C locale.
std::string formatFixed(double value, int decimals);

// "" when an 8-bit BGR LUT image can be written as a cube: continuous and of
// exactly 512 x 512; else why not.
std::string cubeProblem(const cv::Mat& lut);

// The cube text of a LUT image cubeProblem accepts (CR LF lines, "%f" values,
// red fastest); "" for any other.
std::string cubeText(const cv::Mat& lut);

// A 3D LUT as read from Cube text: size^3 output colours (RGB), red fastest,
// then green, then blue.
struct CubeLut {
    int size = 0;
    cv::Vec3d domainMin{0, 0, 0};
    cv::Vec3d domainMax{1, 1, 1};
    std::vector<cv::Vec3f> entries;
};

// Reads Cube text: LUT_3D_SIZE, DOMAIN_MIN/MAX, TITLE, comments, then the
// entries. Not done, with `cube` left empty, when the text is not a usable 3D LUT.
Outcome parseCube(const std::string& text, CubeLut& cube);

// The cube applied to one RGB colour as editors apply it: clamped to the
// domain, trilinear between the eight surrounding entries.
cv::Vec3d applyCube(const CubeLut& cube, const cv::Vec3d& rgb);

// The same for every pixel of an 8-bit BGR image; the result is 8-bit BGR.
cv::Mat applyCubeToImage(const CubeLut& cube, const cv::Mat& bgr);

// --- The LUT pair ------------------------------------------------------------

struct LutFilesWritten {
    Outcome png;            // cc_LUT.png
    Outcome cube;           // cc_LUT.cube
    bool cubeTried = true;  // false: the cube was refused or left with the older PNG unwritten
    bool latticeRefused = false;  // neither was written, for the lattice's sake (the reasons)
    Outcome kept;  // the pair replaced, kept when asked: not done when there was none
};

// Where the pair a new one replaces is kept (cc_LUT.previous.png and .cube);
// empty paths: not kept.
struct KeptPair {
    std::string png, cube;
};

// Writes the LUT image as its PNG and its cube, as a pair: both replaced, or
// both left as they were, also when the run is stopped at any instant (the
// next run's resumeStoppedReplacements in their folder settles it). A LUT
// image not of 512 x 512, or a `latticeRefusal` given, gives neither: the
// older pair is kept, for that reason. With `keep`, the older pair (when both
// its files are there) moves to the kept pair's paths in the same
// replacement: all four files change, or none.
LutFilesWritten writeLutFiles(const cv::Mat& lut, const std::string& pngPath,
                              const std::string& cubePath, const std::string& latticeRefusal = "",
                              const FileSystem& files = systemFiles(), const KeptPair& keep = {});

// --- The check ---------------------------------------------------------------
// The cube as written, applied to the chart photo and to every patch, shown
// against the chart's reference.

// What the check needs of one chart, gathered while the fitted model exists.
struct LutCheckInput {
    cv::Mat photo;  // the chart photo before the outline and the loss, 8-bit BGR, scaled
    std::string chartName;
    cv::mcc::TYPECHART detectorType = cv::mcc::MCC24;  // the chart's layout of patches
    double loss = 0;
    cv::Mat reference;          // N x 1 CV_64FC3: the sRGB colours the fit aimed at, about 0..1
    cv::Mat measured;           // N x 1 CV_64FC3: the RGB colours the fit was given, 0..1
    std::vector<bool> used;     // per patch; false where the fit left it out (saturated)
    std::vector<int> neutrals;  // the grey patches, lightest first
    std::vector<std::string> names;         // the chart's own patch names, or none
    double chartSide = 0;                   // the found chart's shorter side in pixels; 0 unknown
    std::vector<bool> uneven;               // per patch: partly hidden or found off the chart
    std::string closestOther;               // the other chart type the colours fit best, or ""
    std::vector<cv::Point2f> chartOutline;  // the chart's corners in `photo`; none: no scene judged
};

// A copy of an 8-bit BGR chart photo that fits one half of the check picture
// (never enlarged); empty for anything else.
cv::Mat lutCheckPhoto(const cv::Mat& image);

// The reference colours, measured colours, used patches, greys and patch names
// of a fitted model. Built-in chart data is read from the library in the
// model's own conversion.
LutCheckInput lutCheckInput(const cv::Mat& photo, const cv::Mat& measured,
                            const ChartReference& reference, cv::ccm::ColorCorrectionModel& model,
                            double loss);

// One patch of the check: sRGB colours on 0..1 and CIEDE2000 to the reference.
struct PatchCheck {
    cv::Vec3d reference, measured, after;  // after: the cube applied to measured
    double before = 0, afterCube = 0;      // CIEDE2000 of measured and of after
    bool used = true;
};

// Every patch in the chart's order; empty when the reference is missing.
std::vector<PatchCheck> checkPatches(const LutCheckInput& input, const CubeLut& cube);

// The CSV text: a header row, then one row per patch in the chart's order.
std::string lutCheckCsv(const std::vector<PatchCheck>& patches);

// What the cube does to the light greys of the scene around the chart that are
// far brighter than the chart's lightest grey: lit otherwise than the chart
// (a screen's white around a chart it shows, daylight around a chart in shade),
// they show the cast a LUT made in the chart's light puts on the picture.
struct SceneLight {
    double share = 0;                          // of the photo's pixels outside the chart
    double chromaBefore = 0, chromaAfter = 0;  // their mean C*, as photographed and after
    cv::Vec2d castAfter;                       // their mean a*, b* after the cube
};

// Not judged (share 0) without a photo, an outline or greys on the chart.
// `after`: the photo with the cube applied.
SceneLight sceneLight(const LutCheckInput& input, const cv::Mat& after);

// What the check concludes, over every patch of the chart (also those the fit
// left out) and over its greys as a group. The cube is good when it brings the
// chart as a whole closer, not still far off (a mean above 10 is plain on
// every patch), and no group gets markedly worse; else each reason found.
enum class VerdictReason {
    NotCloser,      // the chart as a whole is not closer after the cube
    StillFar,       // ...or still far off
    Clipped,        // many patches clipped, left out of the fit
    GreysWorse,     // the greys tinted, further off or out of order: likely the wrong chart
    ColoursWorse,   // the coloured patches further off
    ScreenLike,     // off as a chart shown on a screen is: colours dull against light greys
    SceneTinted,    // the scene's light greys, lit otherwise than the chart, given a cast
    SmallOrHidden,  // found small, or patches partly hidden
};

struct LutVerdict {
    int patches = 0, used = 0, clipped = 0;  // used: by the fit; clipped: a channel at the top
    int uneven = 0;                          // patches partly hidden or found off the chart
    double meanBefore = 0, maxBefore = 0, meanAfter = 0, maxAfter = 0;  // every patch
    double greysBefore = 0, greysAfter = 0;  // mean CIEDE2000 of the greys
    bool greyOrderKept = true;               // the greys light to dark after the cube
    double colouredBefore = 0, colouredAfter = 0;
    double colourfulness = 1;  // the coloured patches' chroma as photographed, over the reference's
    SceneLight scene;
    std::vector<VerdictReason> reasons;
    std::vector<int> worst;  // up to three patches, furthest off after the cube first
    bool good() const { return reasons.empty(); }
};

LutVerdict lutVerdict(const LutCheckInput& input, const std::vector<PatchCheck>& patches,
                      const SceneLight& scene = {});

// True when the measured colour has a channel at the sensor's top.
bool patchClipped(const PatchCheck& patch);

// The verdict in words, as the check picture's heading and the console give
// it: one line when good; else the warning, a line per reason with what to
// do, and the worst patches by name, before -> after and which way they are off.
std::vector<std::string> verdictLines(const LutVerdict& verdict, const LutCheckInput& input,
                                      const std::vector<PatchCheck>& patches);

// The check picture: `verdict` as its heading, the photo before | after the cube (`after`: the
// photo with the cube applied; without a photo, a pixel of the ground so), then one tile per
// patch (reference | as photographed | after) in the chart's rows.
cv::Mat lutCheckPicture(const LutCheckInput& input, const cv::Mat& after,
                        const std::vector<PatchCheck>& patches, const LutVerdict& verdict,
                        const std::string& cubeName);

struct LutCheckWritten {
    Outcome check;                         // the cube read back and the reference at hand
    LutVerdict verdict;                    // ...and what it showed
    std::vector<std::string> verdictText;  // ...in words, as the picture's heading gives it
    Outcome csv;                           // the CSV file written
    Outcome picture;                       // the picture written
};

// The verdict on a cube before it is written, from its LUT image: the same
// the check makes of the file. Not done when the check cannot be made.
Outcome judgeLut(const LutCheckInput& input, const cv::Mat& lut, LutVerdict& verdict);

// Reads the cube file back and writes both check files, each complete or not
// at all (neither when the check cannot be made).
LutCheckWritten writeLutCheck(const LutCheckInput& input, const std::string& cubePath,
                              const std::string& csvPath, const std::string& picturePath);

}  // namespace tintsmith
