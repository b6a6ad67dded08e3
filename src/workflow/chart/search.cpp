// The further search: the views shown to the detector when its one look at
// the whole photo finds nothing acceptable, the chart found mapped back onto
// the photo, and the rounds run on all cores.
#include <algorithm>
#include <cmath>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "workflow/chart/chart.hpp"

namespace tintsmith {
namespace {

// Large views are shrunk so that their shorter side is 1000 pixels: a chart
// a third of the frame or more is then still hundreds of pixels across, and
// the view costs the detector a fraction of the whole photo.
constexpr int kViewSide = 1000;
// a plain mid-grey frame a tenth of the view's longer side wide: the
// detector then finds charts that reach the edge of the picture
const cv::Scalar kBorderGrey(128, 128, 128);
constexpr int kBorderParts = 10;
// The crops, as the crop's share of the frame on each axis and how many
// positions it takes from one edge to the other. 84% at two positions holds
// whole any chart up to two thirds of the frame, 60% at three any chart up to
// two fifths, at a larger scale.
struct CropGrid {
    double share;
    int steps;
};
constexpr CropGrid kLargeCrops{0.84, 2};
constexpr CropGrid kSmallCrops{0.6, 3};
// The detector misses charts under about 110 pixels across that it finds
// enlarged by half: tiles of 40% at three positions, enlarged so, hold whole
// any chart up to a tenth of the frame; at most this many pixels a tile.
constexpr CropGrid kTiles{0.4, 3};
constexpr double kTileEnlargement = 1.5;
constexpr double kTilePixels = 4.5e6;
// The detector's fit error (its cost) of the charts the search has found:
// 0.0025 to 0.02 on real charts in every view, 0.06 to 0.095 on the patterns
// it takes for a chart in smooth noise or in a chart's neighbour. The search
// looks twenty-odd times where the first look looks once, so it keeps only
// the close fits, lest it turn a photo without a chart into a LUT.
constexpr float kMostSearchCost = 0.04f;
// Around a chart found in a scaled view the photo is searched again at its
// own size, with this share of the chart's size as a margin on every side.
constexpr double kMeasureMargin = 0.5;

SearchView viewOf(cv::Rect region, double scale) {
    SearchView view;
    view.region = region;
    view.scale = scale;
    const int longer = int(std::lround(std::max(region.width, region.height) * view.scale));
    view.border = longer / kBorderParts;
    return view;
}

// A view at most kViewSide on its shorter side.
SearchView shrunkView(cv::Rect region) {
    return viewOf(region, std::min(1.0, double(kViewSide) / std::min(region.width, region.height)));
}

// A tile enlarged, without a border: a small chart lies whole inside some
// tile away from its edges, and the border would cost half as much again.
SearchView enlargedView(cv::Rect region) {
    SearchView view =
        viewOf(region, std::min(kTileEnlargement, std::sqrt(kTilePixels / region.area())));
    view.border = 0;
    return view;
}

std::vector<cv::Rect> crops(cv::Size size, CropGrid grid) {
    std::vector<cv::Rect> regions;
    const int width = int(size.width * grid.share), height = int(size.height * grid.share);
    for (int row = 0; row < grid.steps; ++row)
        for (int col = 0; col < grid.steps; ++col) {
            const int x = (size.width - width) * col / (grid.steps - 1);
            const int y = (size.height - height) * row / (grid.steps - 1);
            regions.push_back({x, y, width, height});
        }
    return regions;
}

// Moves a checker found in a picture onto the photo: photo = found / scale + shift.
void mapChecker(const cv::Ptr<cv::mcc::CChecker>& checker, double scale, cv::Point2f shift) {
    std::vector<cv::Point2f> box = checker->getBox();
    for (cv::Point2f& corner : box) corner = corner / float(scale) + shift;
    checker->setBox(box);
    checker->setCenter(checker->getCenter() / float(scale) + shift);
}

// What the detector finds in `region` of the 8-bit photo, scaled by `scale`
// inside a border, in the photo's own pixels.
CheckerList detectInRegion(const cv::Mat& bgr, cv::Rect region, double scale, int border,
                           cv::mcc::TYPECHART detectorType) {
    if (region.empty()) return {};  // a crop of a photo a few pixels wide
    cv::Mat shown = bgr(region);
    if (scale != 1) {
        const cv::Size scaled(std::max(1, int(std::lround(region.width * scale))),
                              std::max(1, int(std::lround(region.height * scale))));
        cv::resize(shown, shown, scaled, 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_CUBIC);
    }
    cv::copyMakeBorder(shown, shown, border, border, border, border, cv::BORDER_CONSTANT,
                       kBorderGrey);
    CheckerList found = detectCharts(shown, detectorType);
    const cv::Point2f shift = cv::Point2f(float(region.x), float(region.y)) -
                              cv::Point2f(float(border), float(border)) / float(scale);
    for (const auto& checker : found) mapChecker(checker, scale, shift);
    return found;
}

bool closeFit(const CheckerList& checkers) {
    return !checkers.empty() && checkers.front()->getCost() <= kMostSearchCost;
}

}  // namespace

std::vector<std::vector<SearchView>> searchRounds(cv::Size size) {
    std::vector<std::vector<SearchView>> rounds(3);
    rounds[0].push_back(shrunkView({0, 0, size.width, size.height}));
    for (const cv::Rect& crop : crops(size, kLargeCrops)) rounds[0].push_back(shrunkView(crop));
    for (const cv::Rect& crop : crops(size, kSmallCrops)) rounds[1].push_back(shrunkView(crop));
    for (const cv::Rect& tile : crops(size, kTiles)) rounds[2].push_back(enlargedView(tile));
    return rounds;
}

CheckerList detectInView(const cv::Mat& photo, const SearchView& view,
                         cv::mcc::TYPECHART detectorType) {
    const cv::Mat bgr = detectorImage(photo);
    CheckerList found = detectInRegion(bgr, view.region, view.scale, view.border, detectorType);
    if (found.empty() || view.scale == 1) return found;
    // measured on scaled pixels: look again at the photo's own around the
    // chart, and keep the scaled view's measure where that look finds nothing
    const cv::Rect chart = cv::boundingRect(found.front()->getBox());
    const int marginX = int(chart.width * kMeasureMargin),
              marginY = int(chart.height * kMeasureMargin);
    const cv::Rect around = cv::Rect(chart.x - marginX, chart.y - marginY,
                                     chart.width + 2 * marginX, chart.height + 2 * marginY) &
                            cv::Rect(0, 0, bgr.cols, bgr.rows);
    CheckerList again = detectInRegion(bgr, around, 1, viewOf(around, 1).border, detectorType);
    return closeFit(again) ? again : found;
}

ChartFound findChart(const cv::Mat& photo, cv::mcc::TYPECHART detectorType,
                     const ChartTest& acceptable) {
    ChartFound result;
    const auto accepts = [&](const CheckerList& checkers) {
        if (checkers.empty()) return false;
        if (!acceptable || acceptable(checkers.front())) return true;
        ++result.refused;
        return false;
    };
    // the first look, exactly as the live preview's
    CheckerList first = detectCharts(photo, detectorType);
    if (accepts(first)) {
        result.checkers = std::move(first);
        return result;
    }
    const cv::Mat bgr = photo.empty() ? photo : detectorImage(photo);
    if (bgr.type() != CV_8UC3) return result;  // nothing the detector could look at
    result.searched = true;
    for (const std::vector<SearchView>& round : searchRounds(photo.size())) {
        std::vector<CheckerList> found(round.size());
        cv::parallel_for_(cv::Range(0, int(round.size())), [&](const cv::Range& views) {
            for (int i = views.start; i < views.end; ++i) {
                // the library failing on one view leaves the others to find the chart
                try {
                    found[i] = detectInView(bgr, round[i], detectorType);
                } catch (const cv::Exception&) {
                    found[i].clear();
                }
            }
        });
        // the views in their fixed order, so that the answer never depends on timing
        for (CheckerList& checkers : found)
            if (closeFit(checkers) && accepts(checkers)) {
                result.checkers = std::move(checkers);
                return result;
            }
    }
    return result;
}

}  // namespace tintsmith
