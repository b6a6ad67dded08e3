// The chart: the seven chart choices with their reference colours, the one
// form every chart detection takes, the measured patch colours, and the fit of
// the colour-correction model onto the chart's reference. The fit says why
// when it fails; nothing here prints.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/mcc.hpp>

#include "workflow/outcome.hpp"

namespace tintsmith {

// --- Catalogue ---------------------------------------------------------------
// One record per chart choice, in the Settings window's order.

// 24 sRGB colours on 0..255, one row per patch in the detector's patch order.
using PatchTable = unsigned char[24][3];

// One chart choice. The detector's enum (MCC24, SG140, VINYL18) and the colour
// module's (Macbeth, Vinyl, DigitalSG) are separate lists in their own orders,
// so Vinyl is 2 in one and 1 in the other: a record names each by its
// enumerator, never by a shared number.
struct ChartRecord {
    const char* label;  // as the Settings window shows it
    cv::mcc::TYPECHART detectorType;
    const PatchTable* table;              // our own reference colours, or nullptr for
    cv::ccm::CONST_COLOR builtInColours;  // the library's built-in ones
    int patchCount;
    const char* const* patchNames;  // the chart's own names, in patch order, or nullptr
};

constexpr int kChartChoices = 7;
extern const ChartRecord kChartCatalogue[kChartChoices];

// What the rest of a run needs of the chart choice.
struct ChartReference {
    cv::mcc::TYPECHART detectorType = cv::mcc::MCC24;
    bool builtIn = false;  // use constColor
    cv::ccm::CONST_COLOR constColor = cv::ccm::COLORCHECKER_Macbeth;
    cv::Mat colours;                          // 24 x 1 CV_64FC3 sRGB in 0..1, or empty when builtIn
    int patchCount = 24;                      // patches the reference describes
    std::string label;                        // the chart's name as the Settings window shows it
    const char* const* patchNames = nullptr;  // patchCount names, when the chart has them
};

// The reference for chart choice 0..6.
ChartReference chartReference(int chartChoice);

// The constant 0..255 table of a table-backed choice (0, 2, 3, 4), else empty.
cv::Mat referenceTable(int chartChoice);

// --- Detection and measuring -------------------------------------------------

using CheckerList = std::vector<cv::Ptr<cv::mcc::CChecker>>;

// The picture as the detector wants it, 8-bit BGR: a camera may deliver grey,
// BGRA or 16-bit frames (scaled down to 8 bits).
cv::Mat detectorImage(const cv::Mat& frame);

// A new detector, default parameters, at most one chart, no network. An empty
// or odd image is never handed to the detector and finds nothing.
CheckerList detectCharts(const cv::Mat& image, cv::mcc::TYPECHART detectorType);

// Outlines every checker into `image` in green, thickness 2.
void outlineCharts(cv::Mat& image, const CheckerList& checkers);

// The mean patch colours of one chart as N x 1, 3 channels, scaled to 0..1.
cv::Mat measuredPatchColours(const cv::Ptr<cv::mcc::CChecker>& checker);

// Where the patches sit on a chart of `patches` patches: its columns and rows
// as the detector lays them, the patches' order running along the rows (the
// Digital SG's 14 at a time). Unknown charts: rows of six.
struct ChartLayout {
    int columns = 6;
    int rows = 4;
    int columnOf(int i) const { return i % columns; }
    int rowOf(int i) const { return i / columns; }
};
ChartLayout chartLayout(cv::mcc::TYPECHART detectorType, int patches);

// The shorter side of a found chart's box, in pixels.
double chartSide(const cv::Ptr<cv::mcc::CChecker>& checker);

// The corners of a found chart's box in a copy of its photo scaled by `scale`.
std::vector<cv::Point2f> chartOutline(const cv::Ptr<cv::mcc::CChecker>& checker, double scale);

// True when some measured patch shows colour: its channels differ by more
// than a grey photo's noise. A chart photographed in grey gives a LUT of tones
// alone.
bool chartHasColour(const cv::Mat& measured);

// --- The further search ------------------------------------------------------
// When the one look at the whole photo finds nothing acceptable, the detector
// is shown other views of it: the photo inside a plain border, overlapping
// crops at two sizes, and enlarged tiles for a small chart. A chart found there is handed back as
// if found in the photo itself: its outline in the photo's pixels, its colours measured on them.

// One view: a region of the photo, scaled by `scale`, inside a plain grey
// border `border` view pixels wide.
struct SearchView {
    cv::Rect region;
    double scale = 1;
    int border = 0;
};

// The views tried for a photo of `size`, in rounds: the views of one round
// are searched at once, and a later round only when no earlier one found an
// acceptable chart.
std::vector<std::vector<SearchView>> searchRounds(cv::Size size);

// The charts the detector finds in one view of `photo`, mapped back onto the
// photo and, when the view was scaled, measured again on the photo's pixels
// where the detector finds the chart there too.
CheckerList detectInView(const cv::Mat& photo, const SearchView& view,
                         cv::mcc::TYPECHART detectorType);

// Whether a chart found can be the chosen chart; an empty test accepts all.
using ChartTest = std::function<bool(const cv::Ptr<cv::mcc::CChecker>&)>;

struct ChartFound {
    CheckerList checkers;   // the chart accepted, or empty
    bool searched = false;  // the first look found nothing acceptable: the search ran
    int refused = 0;        // chart-like patterns seen that `acceptable` refused
};

// The first look exactly as detectCharts; only when it finds nothing
// `acceptable`, the further search, rounds of views on both cores.
ChartFound findChart(const cv::Mat& photo, cv::mcc::TYPECHART detectorType,
                     const ChartTest& acceptable = {});

// --- The fit -----------------------------------------------------------------

struct Fit {
    Outcome outcome;
    std::optional<cv::ccm::ColorCorrectionModel> model;  // when done
    double loss = 0;
};

// Builds and runs the model for `reference`; refuses a patch count that does
// not match, and turns a library failure into words.
Fit fitModel(const cv::Mat& measured, const ChartReference& reference);

// --- Whether the colours can be the chart ------------------------------------
// A pattern the detector takes for a chart is used only when its colours can
// be a photo of the chosen chart, under any even light.

// The reference as sRGB on 0..1, reference.patchCount x 1 CV_64FC3; a
// built-in chart's as the library converts it for the fit. Empty when the
// library gives none.
cv::Mat referenceSrgb(const ChartReference& reference);

// True when the colour (0..1) has a channel at the sensor's top.
bool colourClipped(const cv::Vec3d& colour);

// The reference's neutral patches (CIELAB chroma below 6), lightest first.
std::vector<int> neutralPatches(const cv::Mat& referenceSrgb);

// The measured colours (N x 1 CV_64FC3) with the light's cast and the exposure
// taken out: each channel scaled so that the greys, clipped and black ones
// aside, are grey and as light as the reference's on average.
cv::Mat castRemoved(const cv::Mat& measured, const cv::Mat& referenceSrgb,
                    const std::vector<int>& neutrals);

// Done when the measured colours (N x 1, 3 channels, 0..1) can be the chart
// of `reference`: its greys light to dark in the chart's order and grey
// beside one another, its colours in the chart's hues, and the fit within
// the error real photos of a chart reach. Else not done, with what differs.
Outcome chartColoursMatch(const cv::Mat& measured, const ChartReference& reference);

// Per patch of a found chart: true when its pixels vary far more than a
// printed patch's do, as where something covers it or it was found off the
// chart.
std::vector<bool> unevenPatches(const cv::Ptr<cv::mcc::CChecker>& checker);

// Of the other chart choices with the detector chart type and patch count of
// `chosen`, the one the measured colours fit best (the lowest loss); `chosen`
// when there is none.
int closestChartChoice(const cv::Mat& measured, int chosen);

}  // namespace tintsmith
