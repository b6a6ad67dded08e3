// The colour table: the correction sequence computed once per distinct 24-bit
// colour. The model is a pure function of each pixel's colour, so a colour's
// corrected value can be kept and reused bit for bit.
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
#include <cstring>
#include <new>

#include <opencv2/core/utility.hpp>

#include "platform/platform.hpp"
#include "workflow/batch/batch.hpp"
#include "workflow/colour/colour.hpp"

namespace tintsmith {

// The model's arithmetic for one colour, from its 8-bit input to its output in
// model units (nominally 0..1).
struct ModelFormula {
    double linear[256];   // each 8-bit input value, scaled to 0..1 and linearised
    double matrix[3][3];  // [linear R, G, B in][R, G, B out]
};

namespace {

constexpr std::size_t kColours = std::size_t(1) << 24;

// Pixels are read and written as little-endian words.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the colour table reads pixels as little-endian words"
#endif

// A table entry: the corrected B, G, R in its low three bytes, and a flag.
constexpr std::uint32_t kKnown = 1u << 24;  // the bytes are the colour's corrected value

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

// Gamma 2.2: the model's default linearisation of its input.
constexpr double kInputGamma = 2.2;

// The linear value of channel `out` (0 R, 1 G, 2 B) for one colour: the
// matrix applied to the linearised input.
double formulaLinear(const ModelFormula& formula, std::uint32_t key, int out) {
    return formula.linear[(key >> 16) & 0xFF] * formula.matrix[0][out] +
           formula.linear[(key >> 8) & 0xFF] * formula.matrix[1][out] +
           formula.linear[key & 0xFF] * formula.matrix[2][out];
}

// The model's output for one colour, channel `out`.
double formulaOutput(const ModelFormula& formula, std::uint32_t key, int out) {
    return srgbEncode(formulaLinear(formula, key, out), modelSrgbCurve());
}

// Where the output byte steps up, in linear values, so that a new colour
// costs no pow. Step k (byte k to k + 1) lies strictly between below[k] and
// above[k], chosen twice the rounding margin away on the curve: a value
// outside every such band gets the byte outputByte gives, and one inside a
// band goes through outputByte itself.
struct ByteSteps {
    static constexpr int kSteps = 255;
    static constexpr int kBins = 4096;  // a bin spans at most a few steps
    double below[kSteps], above[kSteps];
    std::uint8_t firstAbove[kBins + 1];  // steps whose `above` is at most the bin's start
};

const ByteSteps& byteSteps() {
    static const ByteSteps steps = [] {
        ByteSteps b;
        // the linear value where the curve times 255 reaches `level`, by bisection
        auto reach = [](double level) {
            double low = 0, high = 1;
            for (int i = 0; i < 200 && low < high; ++i) {
                const double middle = low + (high - low) / 2;
                if (middle <= low || middle >= high) break;
                (srgbEncode(middle, modelSrgbCurve()) * 255.0 < level ? low : high) = middle;
            }
            return std::pair<double, double>(low, high);
        };
        for (int k = 0; k < ByteSteps::kSteps; ++k) {
            b.below[k] = reach(k + 0.5 - 2 * kRoundingMargin).first;
            b.above[k] = reach(k + 0.5 + 2 * kRoundingMargin).second;
        }
        int count = 0;
        for (int bin = 0; bin <= ByteSteps::kBins; ++bin) {
            while (count < ByteSteps::kSteps && b.above[count] <= double(bin) / ByteSteps::kBins)
                ++count;
            b.firstAbove[bin] = std::uint8_t(count);
        }
        return b;
    }();
    return steps;
}

// The table entry of one colour, or 0 when a channel is too near a rounding
// boundary for the formula to decide it.
std::uint32_t formulaEntry(const ModelFormula& formula, std::uint32_t key) {
    std::uint32_t entry = kKnown;
    for (int out = 0; out < 3; ++out) {
        const int byte = fastOutputByte(formulaLinear(formula, key, out));
        if (byte < 0) return 0;
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

// Stores a colour's entry unless another thread stored it first (the same
// value: the model is a pure function); true when this call stored it.
bool storeEntry(std::atomic<std::uint32_t>& slot, std::uint32_t entry) {
    std::uint32_t empty = 0;
    return slot.compare_exchange_strong(empty, entry, std::memory_order_relaxed);
}

inline void putEntry(std::uint8_t* out, std::uint32_t entry) {
    out[0] = std::uint8_t(entry);
    out[1] = std::uint8_t(entry >> 8);
    out[2] = std::uint8_t(entry >> 16);
}

// What one stripe of a pass leaves for after the pass.
struct StripeRest {
    std::vector<cv::Point> deferred;    // pixels whose colour infer decides
    std::vector<std::uint32_t> unsure;  // ...and those colours
    std::size_t stored = 0;             // colours this stripe stored
};

// A row costs a table read a pixel, without a branch; the pixels found new
// are listed on the way and then computed with the formula or left to infer.
// The row is built in `line` and copied out whole, so `out` may be `in`; a
// pixel left to infer keeps its input colour there until the unsure colours
// are stored. `line` and `fresh` have room for a row.
void mapRow(const std::uint8_t* in, std::uint8_t* out, int row, int cols,
            const ModelFormula& formula, std::atomic<std::uint32_t>* table, StripeRest& rest,
            std::uint8_t* line, int* fresh) {
    int freshCount = 0;
    int col = 0;
    // a pixel and the next one's first byte as one word: the colour is its low
    // three bytes; the entry's fourth byte lands where the next pixel goes
    for (; col + 1 < cols; ++col) {
        std::uint32_t word;
        std::memcpy(&word, in + 3 * col, 4);
        const std::uint32_t entry = table[word & 0xFFFFFF].load(std::memory_order_relaxed);
        fresh[freshCount] = col;
        freshCount += entry == 0;  // a known entry has its flag set
        std::memcpy(line + 3 * col, &entry, 4);
    }
    for (; col < cols; ++col) {
        const std::uint32_t entry = table[keyOf(in + 3 * col)].load(std::memory_order_relaxed);
        fresh[freshCount] = col;
        freshCount += entry == 0;
        putEntry(line + 3 * col, entry);
    }
    for (int i = 0; i < freshCount; ++i) {
        col = fresh[i];
        const std::uint32_t key = keyOf(in + 3 * col);
        std::uint32_t entry = table[key].load(std::memory_order_relaxed);
        if (!(entry & kKnown)) {
            entry = formulaEntry(formula, key);
            if (!entry) {
                rest.unsure.push_back(key);
                rest.deferred.emplace_back(col, row);
                std::copy(in + 3 * col, in + 3 * col + 3, line + 3 * col);
                continue;
            }
            rest.stored += storeEntry(table[key], entry);
        }
        putEntry(line + 3 * col, entry);
    }
    std::copy(line, line + 3 * std::size_t(cols), out);
}

}  // namespace

// --- Rounding ----------------------------------------------------------------

int outputByte(double linear) {
    const double scaled =
        std::min(std::max(srgbEncode(linear, modelSrgbCurve()) * 255.0, -1.0), 256.0);
    if (std::abs(scaled - std::floor(scaled) - 0.5) < kRoundingMargin) return -1;
    return int(std::min(std::max(std::lround(scaled), 0L), 255L));
}

int fastOutputByte(double linear) {
    const ByteSteps& b = byteSteps();
    const double place = linear * ByteSteps::kBins;
    int step = place <= 0                  ? 0
               : place >= ByteSteps::kBins ? b.firstAbove[ByteSteps::kBins]
                                           : b.firstAbove[int(place)];
    while (step < ByteSteps::kSteps && b.above[step] <= linear) ++step;
    if (step < ByteSteps::kSteps && linear > b.below[step]) return outputByte(linear);
    return step;
}

// --- The table ---------------------------------------------------------------

ColourTable::ColourTable(cv::ccm::ColorCorrectionModel& model) : model_(model) {}

// Allocates the table on the first image big enough to repay it and checks the
// formula; false while the plain sequence is the way for an image of `pixels`.
// Called with the model lock held.
bool ColourTable::useTable(std::size_t pixels) {
    if (!table_) {
        if (evaluated_ + pixels < kTablePaysOff) return false;
        static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t),
                      "table entries are plain 32-bit words");
        constexpr std::size_t kBytes = kColours * sizeof(std::uint32_t);
        void* block = platform::allocateZeroed(kBytes);
        if (!block) throw std::bad_alloc();
        table_.reset(static_cast<std::atomic<std::uint32_t>*>(block),
                     [](std::atomic<std::uint32_t>* p) { platform::releaseZeroed(p, kBytes); });
    }
    if (!checked_) {
        formula_ = checkedFormula(model_);
        checked_ = true;
    }
    return formula_ != nullptr;
}

// Runs the unsure colours through the plain sequence, at most kColoursPerCall
// a call, and stores them.
std::size_t ColourTable::resolveUnsure(std::vector<std::uint32_t>& keys) {
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::atomic<std::uint32_t>* table = table_.get();
    std::size_t stored = 0;
    for (std::size_t first = 0; first < keys.size(); first += kColoursPerCall) {
        const std::size_t count = std::min(kColoursPerCall, keys.size() - first);
        cv::Mat compact(static_cast<int>(count), 1, CV_8UC3);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t key = keys[first + i];
            compact.at<cv::Vec3b>(int(i)) =
                cv::Vec3b(std::uint8_t(key), std::uint8_t(key >> 8), std::uint8_t(key >> 16));
        }
        cv::Mat corrected;
        {
            std::lock_guard<std::mutex> lock(modelLock_);
            corrected = correctImage(compact, model_);
        }
        for (std::size_t i = 0; i < count; ++i)
            stored += storeEntry(table[keys[first + i]],
                                 kKnown | keyOf(corrected.ptr<std::uint8_t>(int(i))));
    }
    return stored;
}

// Corrects `image` in place. Rows go in parallel stripes unless `onThisThread`; a
// call from a thread of a batch runs its stripes on that thread when the pool
// is busy.
void ColourTable::mapThroughTable(cv::Mat& image, bool onThisThread) {
    std::atomic<std::uint32_t>* table = table_.get();
    const ModelFormula& formula = *formula_;
    const int stripes = (image.rows + kRowsPerStripe - 1) / kRowsPerStripe;
    std::vector<StripeRest> rest(static_cast<std::size_t>(stripes));
    const auto body = [&](const cv::Range& range) {
        std::vector<std::uint8_t> line(3 * std::size_t(image.cols));
        std::vector<int> fresh(std::size_t(image.cols));
        for (int stripe = range.start; stripe < range.end; ++stripe) {
            const int lastRow = std::min(image.rows, (stripe + 1) * kRowsPerStripe);
            for (int row = stripe * kRowsPerStripe; row < lastRow; ++row)
                mapRow(image.ptr<std::uint8_t>(row), image.ptr<std::uint8_t>(row), row, image.cols,
                       formula, table, rest[std::size_t(stripe)], line.data(), fresh.data());
        }
    };
    if (onThisThread)
        body(cv::Range(0, stripes));
    else
        cv::parallel_for_(cv::Range(0, stripes), body);
    std::vector<std::uint32_t> unsure;
    std::size_t stored = 0;
    for (const StripeRest& stripe : rest) {
        unsure.insert(unsure.end(), stripe.unsure.begin(), stripe.unsure.end());
        stored += stripe.stored;
    }
    evaluated_ += stored;
    evaluated_ += resolveUnsure(unsure);
    for (const StripeRest& stripe : rest)
        for (const cv::Point& at : stripe.deferred) {
            // a deferred pixel still holds its input colour
            std::uint8_t* pixel = image.ptr<std::uint8_t>(at.y) + 3 * at.x;
            putEntry(pixel, table[keyOf(pixel)].load(std::memory_order_relaxed));
        }
}

bool ColourTable::readyFor(std::size_t pixels) {
    std::lock_guard<std::mutex> lock(modelLock_);
    return useTable(pixels);
}

void ColourTable::correctRows(cv::Mat& rows) {
    CV_Assert(rows.type() == CV_8UC3 && table_ && formula_);
    mapThroughTable(rows, true);
}

void ColourTable::correctInPlace(cv::Mat& bgr) {
    // any other type, or an empty image, is the plain sequence's business
    if (bgr.type() != CV_8UC3 || bgr.empty() || !readyFor(bgr.total())) {
        std::lock_guard<std::mutex> lock(modelLock_);
        const cv::Mat corrected = correctImage(bgr, model_);
        evaluated_ += bgr.total();
        corrected.copyTo(bgr);
        return;
    }
    mapThroughTable(bgr, false);
}

}  // namespace tintsmith
