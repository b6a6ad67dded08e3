// The correction sequence, computed once per distinct 24-bit colour. The model
// is a pure function of each pixel's colour, so a colour's corrected value,
// taken from the model's own infer, can be reused bit for bit.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <opencv2/core/utility.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr std::size_t kColours = std::size_t(1) << 24;

// Until this many pixels have been corrected, the plain sequence costs less
// than the tables' first page touches: a noisy 300 x 300 thumbnail, every
// colour new, is where the two meet. A lone small photo is never slower.
constexpr std::size_t kTablePaysOff = std::size_t(1) << 17;

// Rows per unit of parallel work: enough for a scan to outweigh scheduling.
constexpr int kRowsPerStripe = 16;

// New colours per call of the model: its double-precision temporaries then
// stay near 40 MB however many colours a photo brings.
constexpr std::size_t kColoursPerCall = std::size_t(1) << 18;

using ColourLists = std::vector<std::vector<std::uint32_t>>;

inline std::uint32_t keyOf(const std::uint8_t* pixel) {
    return std::uint32_t(pixel[0]) | std::uint32_t(pixel[1]) << 8 | std::uint32_t(pixel[2]) << 16;
}

// Allocates the tables on the first image big enough to repay them; false
// while the plain sequence is still the cheaper way for `bgr`.
bool useTable(const cv::Mat& bgr, CorrectionCache& cache) {
    if (bgr.type() != CV_8UC3 || bgr.empty()) return false;  // the plain sequence's business
    if (cache.table) return true;
    if (cache.evaluated + bgr.total() < kTablePaysOff) return false;
    // calloc hands out fresh zero pages for large blocks: untouched colours cost nothing
    auto* block = static_cast<std::uint8_t*>(std::calloc(3 * kColours, 1));
    if (!block) throw std::bad_alloc();
    std::shared_ptr<std::uint8_t> table(block, [](std::uint8_t* p) { std::free(p); });
    std::shared_ptr<std::atomic<std::uint8_t>[]> known(
        new std::atomic<std::uint8_t>[kColours / 8]());
    // both or neither, should the second allocation fail
    cache.table = std::move(table);
    cache.known = std::move(known);
    return true;
}

// Every colour of `bgr` whose bit was clear, each once, with its bit now set,
// as one list per stripe: stripes run in parallel and the atomic or decides
// which stripe owns a colour.
ColourLists claimNewColours(const cv::Mat& bgr, std::atomic<std::uint8_t>* known) {
    const int stripes = (bgr.rows + kRowsPerStripe - 1) / kRowsPerStripe;
    ColourLists found(static_cast<std::size_t>(stripes));
    cv::parallel_for_(cv::Range(0, stripes), [&](const cv::Range& range) {
        for (int stripe = range.start; stripe < range.end; ++stripe) {
            std::vector<std::uint32_t>& mine = found[static_cast<std::size_t>(stripe)];
            const int lastRow = std::min(bgr.rows, (stripe + 1) * kRowsPerStripe);
            for (int row = stripe * kRowsPerStripe; row < lastRow; ++row) {
                const std::uint8_t* pixel = bgr.ptr<std::uint8_t>(row);
                for (int col = 0; col < bgr.cols; ++col, pixel += 3) {
                    const std::uint32_t key = keyOf(pixel);
                    std::atomic<std::uint8_t>& byte = known[key >> 3];
                    const std::uint8_t bit = std::uint8_t(1u << (key & 7));
                    if (byte.load(std::memory_order_relaxed) & bit) continue;
                    if (!(byte.fetch_or(bit, std::memory_order_relaxed) & bit)) mine.push_back(key);
                }
            }
        }
    });
    return found;
}

// Runs the new colours through the plain sequence as compact images of at
// most kColoursPerCall pixels and stores the results. On failure every bit
// of theirs is cleared again, so nothing unevaluated counts as known.
void correctNewColours(const ColourLists& fresh, cv::ccm::ColorCorrectionModel& model,
                       CorrectionCache& cache) {
    std::vector<std::uint32_t> keys;
    keys.reserve(kColoursPerCall);
    auto correctKeys = [&] {
        cv::Mat compact(static_cast<int>(keys.size()), 1, CV_8UC3);
        std::uint8_t* out = compact.data;
        for (std::uint32_t key : keys) {
            *out++ = std::uint8_t(key);
            *out++ = std::uint8_t(key >> 8);
            *out++ = std::uint8_t(key >> 16);
        }
        const cv::Mat corrected = correctImage(compact, model);
        const std::uint8_t* in = corrected.data;
        for (std::uint32_t key : keys) {
            std::memcpy(cache.table.get() + 3 * std::size_t(key), in, 3);
            in += 3;
        }
        cache.evaluated += keys.size();
        keys.clear();
    };
    try {
        for (const auto& list : fresh)
            for (std::uint32_t key : list) {
                keys.push_back(key);
                if (keys.size() == kColoursPerCall) correctKeys();
            }
        if (!keys.empty()) correctKeys();
    } catch (...) {
        for (const auto& list : fresh)
            for (std::uint32_t key : list)
                cache.known[key >> 3].fetch_and(std::uint8_t(~(1u << (key & 7))));
        throw;
    }
}

// The corrected colours of `src` into `dst`, which has its size and type and
// may be `src` itself: each pixel is read before it is written.
void mapThroughCache(const cv::Mat& src, cv::Mat& dst, cv::ccm::ColorCorrectionModel& model,
                     CorrectionCache& cache) {
    correctNewColours(claimNewColours(src, cache.known.get()), model, cache);
    const std::uint8_t* table = cache.table.get();
    cv::parallel_for_(cv::Range(0, src.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const std::uint8_t* in = src.ptr<std::uint8_t>(row);
            std::uint8_t* out = dst.ptr<std::uint8_t>(row);
            for (int col = 0; col < src.cols; ++col, in += 3, out += 3)
                std::memcpy(out, table + 3 * std::size_t(keyOf(in)), 3);
        }
    });
}

}  // namespace

cv::Mat correctImageCached(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model,
                           CorrectionCache& cache) {
    if (!useTable(bgr, cache)) {
        cv::Mat result = correctImage(bgr, model);
        cache.evaluated += bgr.total();
        return result;
    }
    cv::Mat result(bgr.size(), CV_8UC3);
    mapThroughCache(bgr, result, model, cache);
    return result;
}

void correctImageCachedInPlace(cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model,
                               CorrectionCache& cache) {
    if (!useTable(bgr, cache)) {
        bgr = correctImage(bgr, model);
        cache.evaluated += bgr.total();
        return;
    }
    mapThroughCache(bgr, bgr, model, cache);
}

}  // namespace tintsmith
