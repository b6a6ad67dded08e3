// The correction sequence, computed once per distinct 24-bit colour. The model
// is a pure function of each pixel's colour, so a colour's corrected value can
// be kept and reused bit for bit.
//
// A new colour is computed with the model's own arithmetic written out here
// (gamma 2.2 per channel, the 3 x 3 matrix, the sRGB curve), about twenty times
// cheaper than a round trip through infer. The formula is checked against the
// model's infer before it is trusted, and a colour that lands within a hair of
// a rounding boundary goes through infer itself, so every byte is the one the
// plain sequence gives. A model the formula does not reproduce takes the plain
// sequence.
#include <algorithm>
#include <cmath>
#include <new>

#include <opencv2/core/utility.hpp>

#include "platform/platform.hpp"
#include "workflow/workflow.hpp"

namespace tintsmith {

// The model's arithmetic for one colour, from its 8-bit input to its output in
// model units (nominally 0..1).
struct ModelFormula {
    double linear[256];   // each 8-bit input value, scaled to 0..1 and linearised
    double matrix[3][3];  // [linear R, G, B in][R, G, B out]
};

namespace {

constexpr std::size_t kColours = std::size_t(1) << 24;

// A table entry: the corrected B, G, R in its low three bytes, and two flags.
constexpr std::uint32_t kKnown = 1u << 24;    // the bytes are the colour's corrected value
constexpr std::uint32_t kClaimed = 1u << 25;  // a stripe of the current call computes it
constexpr std::uint32_t kNoColour = ~0u;      // no 24-bit colour has this key

// Until this many pixels have been corrected, the plain sequence costs less
// than the tables' first page touches: a noisy 300 x 300 thumbnail, every
// colour new, is where the two meet. A lone small photo is never slower.
constexpr std::size_t kTablePaysOff = std::size_t(1) << 17;

// Rows per unit of parallel work: enough for a scan to outweigh scheduling.
constexpr int kRowsPerStripe = 16;

// Colours per call of the model: its double-precision temporaries then stay
// near 40 MB however many colours go to it.
constexpr std::size_t kColoursPerCall = std::size_t(1) << 18;

// The formula must agree with infer to this much (model units) on every
// checked colour; it agrees bit for bit with the OpenCV it was written for.
constexpr double kFormulaTolerance = 1e-12;

// A channel whose value times 255 lies closer than this to a half step is
// left to infer: the formula's rounding could differ there by a last bit.
constexpr double kRoundingMargin = 1e-6;

// Gamma 2.2 (the model's default linearisation) and the sRGB curve with the
// constants the model derives for its sRGB colour space.
constexpr double kInputGamma = 2.2;
constexpr double kSrgbA = 0.055;
constexpr double kSrgbGamma = 2.4;

struct SrgbCurve {
    double alpha, beta, phi, inverseGamma;
};

const SrgbCurve& srgbCurve() {
    static const SrgbCurve curve = [] {
        SrgbCurve c;
        c.alpha = kSrgbA + 1;
        c.phi = (std::pow(c.alpha, kSrgbGamma) * std::pow(kSrgbGamma - 1, kSrgbGamma - 1)) /
                (std::pow(kSrgbA, kSrgbGamma - 1) * std::pow(kSrgbGamma, kSrgbGamma));
        c.beta = kSrgbA / (kSrgbGamma - 1) / c.phi;
        c.inverseGamma = 1.0 / kSrgbGamma;
        return c;
    }();
    return curve;
}

// The model's output for one colour, channel `out` (0 R, 1 G, 2 B).
double formulaOutput(const ModelFormula& formula, std::uint32_t key, int out) {
    const SrgbCurve& s = srgbCurve();
    const double linear = formula.linear[(key >> 16) & 0xFF] * formula.matrix[0][out] +
                          formula.linear[(key >> 8) & 0xFF] * formula.matrix[1][out] +
                          formula.linear[key & 0xFF] * formula.matrix[2][out];
    if (linear > s.beta) return s.alpha * std::pow(linear, s.inverseGamma) - (s.alpha - 1);
    if (linear >= -s.beta) return linear * s.phi;
    return -(s.alpha * std::pow(-linear, s.inverseGamma) - (s.alpha - 1));
}

// The table entry of one colour, or 0 when a channel is too near a rounding
// boundary for the formula to decide it.
std::uint32_t formulaEntry(const ModelFormula& formula, std::uint32_t key) {
    std::uint32_t entry = kKnown;
    for (int out = 0; out < 3; ++out) {
        // as modelOutputToBgr: times 255, rounded to nearest, saturated
        const double scaled =
            std::min(std::max(formulaOutput(formula, key, out) * 255.0, -1.0), 256.0);
        if (std::abs(scaled - std::floor(scaled) - 0.5) < kRoundingMargin) return 0;
        const long byte = std::min(std::max(std::lround(scaled), 0L), 255L);
        entry |= std::uint32_t(byte) << (8 * (2 - out));  // B, G, R in memory order
    }
    return entry;
}

inline std::uint32_t keyOf(const std::uint8_t* pixel) {
    return std::uint32_t(pixel[0]) | std::uint32_t(pixel[1]) << 8 | std::uint32_t(pixel[2]) << 16;
}

// The formula for `model`, or null when it does not reproduce the model's infer
// on a grid of 16 levels per channel (the extremes and both pieces of the sRGB
// curve among them). A model that cannot infer throws here.
std::shared_ptr<const ModelFormula> checkedFormula(cv::ccm::ColorCorrectionModel& model) {
    constexpr int kLevels = 16;
    cv::Mat grid(kLevels * kLevels * kLevels, 1, CV_8UC3);
    for (int i = 0; i < grid.rows; ++i)
        grid.at<cv::Vec3b>(i) =
            cv::Vec3b(std::uint8_t(17 * (i % kLevels)), std::uint8_t(17 * (i / kLevels % kLevels)),
                      std::uint8_t(17 * (i / kLevels / kLevels)));
    const cv::Mat expected = model.infer(bgrToModelInput(grid), false);
    const cv::Mat ccm = model.getCCM();
    if (ccm.rows != 3 || ccm.cols != 3 || ccm.type() != CV_64FC1) return nullptr;

    auto formula = std::make_shared<ModelFormula>();
    for (int v = 0; v < 256; ++v)
        formula->linear[v] = std::pow(v * (1.0 / 255), kInputGamma);  // as bgrToModelInput scales
    for (int in = 0; in < 3; ++in)
        for (int out = 0; out < 3; ++out) formula->matrix[in][out] = ccm.at<double>(in, out);
    for (int i = 0; i < grid.rows; ++i) {
        const std::uint32_t key = keyOf(grid.ptr<std::uint8_t>(i));
        const cv::Vec3d& wanted = expected.at<cv::Vec3d>(i);  // R, G, B
        for (int out = 0; out < 3; ++out)
            if (!(std::abs(formulaOutput(*formula, key, out) - wanted[out]) <= kFormulaTolerance))
                return nullptr;
    }
    return formula;
}

// Allocates the table on the first image big enough to repay it and checks the
// formula; false while the plain sequence is the way for `bgr`.
bool useTable(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model, CorrectionCache& cache) {
    if (bgr.type() != CV_8UC3 || bgr.empty()) return false;  // the plain sequence's business
    if (!cache.table) {
        if (cache.evaluated + bgr.total() < kTablePaysOff) return false;
        static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t),
                      "table entries are plain 32-bit words");
        constexpr std::size_t kBytes = kColours * sizeof(std::uint32_t);
        void* block = platform::allocateZeroed(kBytes);
        if (!block) throw std::bad_alloc();
        cache.table.reset(
            static_cast<std::atomic<std::uint32_t>*>(block),
            [](std::atomic<std::uint32_t>* p) { platform::releaseZeroed(p, kBytes); });
    }
    if (!cache.checked) {
        cache.formula = checkedFormula(model);
        cache.checked = true;
    }
    return cache.formula != nullptr;
}

// What one stripe of a pass leaves for after the pass.
struct StripeRest {
    std::vector<cv::Point> deferred;    // pixels whose colour another stripe or infer decides
    std::vector<std::uint32_t> unsure;  // colours this stripe claimed for infer
    std::size_t computed = 0;           // colours this stripe computed with the formula
};

// Runs the claimed colours through the plain sequence, at most kColoursPerCall
// a call, and stores them.
void resolveUnsure(const std::vector<std::uint32_t>& keys, cv::ccm::ColorCorrectionModel& model,
                   std::atomic<std::uint32_t>* table) {
    for (std::size_t first = 0; first < keys.size(); first += kColoursPerCall) {
        const std::size_t count = std::min(kColoursPerCall, keys.size() - first);
        cv::Mat compact(static_cast<int>(count), 1, CV_8UC3);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t key = keys[first + i];
            compact.at<cv::Vec3b>(int(i)) =
                cv::Vec3b(std::uint8_t(key), std::uint8_t(key >> 8), std::uint8_t(key >> 16));
        }
        const cv::Mat corrected = correctImage(compact, model);
        for (std::size_t i = 0; i < count; ++i)
            table[keys[first + i]].store(kKnown | keyOf(corrected.ptr<std::uint8_t>(int(i))),
                                         std::memory_order_relaxed);
    }
}

// One pass over the image in parallel stripes: a known colour is written at
// once; a new one is claimed by the first stripe to meet it and computed with
// the formula; a pixel whose colour another stripe or infer decides is left for
// after the pass.
void claimingPass(const cv::Mat& src, cv::Mat& dst, const ModelFormula& formula,
                  std::atomic<std::uint32_t>* table, std::vector<StripeRest>& rest) {
    const int stripes = static_cast<int>(rest.size());
    cv::parallel_for_(cv::Range(0, stripes), [&](const cv::Range& range) {
        for (int stripe = range.start; stripe < range.end; ++stripe) {
            StripeRest& mine = rest[static_cast<std::size_t>(stripe)];
            const int lastRow = std::min(src.rows, (stripe + 1) * kRowsPerStripe);
            for (int row = stripe * kRowsPerStripe; row < lastRow; ++row) {
                const std::uint8_t* in = src.ptr<std::uint8_t>(row);
                std::uint8_t* out = dst.ptr<std::uint8_t>(row);
                std::uint32_t lastKey = kNoColour, lastEntry = 0;
                for (int col = 0; col < src.cols; ++col, in += 3, out += 3) {
                    const std::uint32_t key = keyOf(in);
                    // a run of one colour, a tenth to half of a photo's pixels, skips the table
                    std::uint32_t entry =
                        key == lastKey ? lastEntry : table[key].load(std::memory_order_relaxed);
                    if (!(entry & kKnown)) {
                        const std::uint32_t before =
                            table[key].fetch_or(kClaimed, std::memory_order_relaxed);
                        if (before & kKnown) {
                            entry = before;
                        } else if (before & kClaimed) {
                            entry = 0;  // another stripe decides it
                        } else if ((entry = formulaEntry(formula, key)) != 0) {
                            table[key].store(entry, std::memory_order_relaxed);
                            mine.computed++;
                        } else {
                            mine.unsure.push_back(key);
                        }
                        if (!entry) {
                            mine.deferred.emplace_back(col, row);
                            continue;
                        }
                    }
                    out[0] = std::uint8_t(entry);
                    out[1] = std::uint8_t(entry >> 8);
                    out[2] = std::uint8_t(entry >> 16);
                    lastKey = key;
                    lastEntry = entry;
                }
            }
        }
    });
}

// After a failure: every colour of `src` claimed but not stored is free again,
// so that no later call waits on it or takes its empty bytes.
void withdrawClaims(const cv::Mat& src, std::atomic<std::uint32_t>* table) {
    for (int row = 0; row < src.rows; ++row) {
        const std::uint8_t* in = src.ptr<std::uint8_t>(row);
        for (int col = 0; col < src.cols; ++col, in += 3) {
            std::atomic<std::uint32_t>& entry = table[keyOf(in)];
            if ((entry.load(std::memory_order_relaxed) & (kKnown | kClaimed)) == kClaimed)
                entry.fetch_and(~kClaimed);
        }
    }
}

// The corrected colours of `src` into `dst`, which has its size and type and
// may be `src` itself: a pixel is read before it is written.
void mapThroughCache(const cv::Mat& src, cv::Mat& dst, cv::ccm::ColorCorrectionModel& model,
                     CorrectionCache& cache) {
    std::atomic<std::uint32_t>* table = cache.table.get();
    const ModelFormula& formula = *cache.formula;
    const int stripes = (src.rows + kRowsPerStripe - 1) / kRowsPerStripe;
    std::vector<StripeRest> rest(static_cast<std::size_t>(stripes));
    try {
        claimingPass(src, dst, formula, table, rest);
        // every claimed colour is now stored but the unsure ones
        std::vector<std::uint32_t> unsure;
        for (const StripeRest& stripe : rest)
            unsure.insert(unsure.end(), stripe.unsure.begin(), stripe.unsure.end());
        resolveUnsure(unsure, model, table);
    } catch (...) {
        withdrawClaims(src, table);
        throw;
    }
    for (const StripeRest& stripe : rest) cache.evaluated += stripe.computed + stripe.unsure.size();
    for (const StripeRest& stripe : rest)
        for (const cv::Point& at : stripe.deferred) {
            const std::uint32_t entry = table[keyOf(src.ptr<std::uint8_t>(at.y) + 3 * at.x)].load(
                std::memory_order_relaxed);
            std::uint8_t* out = dst.ptr<std::uint8_t>(at.y) + 3 * at.x;
            out[0] = std::uint8_t(entry);
            out[1] = std::uint8_t(entry >> 8);
            out[2] = std::uint8_t(entry >> 16);
        }
}
}  // namespace

cv::Mat correctImageCached(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model,
                           CorrectionCache& cache) {
    if (!useTable(bgr, model, cache)) {
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
    if (!useTable(bgr, model, cache)) {
        bgr = correctImage(bgr, model);
        cache.evaluated += bgr.total();
        return;
    }
    mapThroughCache(bgr, bgr, model, cache);
}

}  // namespace tintsmith
