// The correction sequence, computed once per distinct 24-bit colour. The model
// is a pure function of each pixel's colour, so a colour's corrected value,
// taken from the model's own infer, can be reused bit for bit.
#include <cstdlib>

#include <opencv2/core/utility.hpp>

#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

constexpr std::size_t kColours = std::size_t(1) << 24;

std::shared_ptr<std::uint8_t> allocateZeroed(std::size_t bytes) {
    // calloc hands out fresh zero pages for large blocks: untouched colours cost nothing.
    auto* block = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
    if (!block) throw std::bad_alloc();
    return std::shared_ptr<std::uint8_t>(block, [](std::uint8_t* p) { std::free(p); });
}

inline std::uint32_t keyOf(const std::uint8_t* pixel) {
    return std::uint32_t(pixel[0]) | std::uint32_t(pixel[1]) << 8 | std::uint32_t(pixel[2]) << 16;
}

}  // namespace

cv::Mat correctImageCached(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model,
                           CorrectionCache& cache) {
    CV_Assert(bgr.type() == CV_8UC3);
    if (!cache.table) {
        cache.table = allocateZeroed(3 * kColours);
        cache.known = allocateZeroed(kColours / 8);
    }
    std::uint8_t* table = cache.table.get();
    std::uint8_t* known = cache.known.get();

    // collect the colours not seen before, each once
    std::vector<std::uint32_t> fresh;
    for (int row = 0; row < bgr.rows; ++row) {
        const std::uint8_t* pixel = bgr.ptr<std::uint8_t>(row);
        for (int col = 0; col < bgr.cols; ++col, pixel += 3) {
            std::uint32_t key = keyOf(pixel);
            std::uint8_t bit = std::uint8_t(1u << (key & 7));
            if (!(known[key >> 3] & bit)) {
                known[key >> 3] |= bit;
                fresh.push_back(key);
            }
        }
    }

    // correct them through the model in one compact image
    if (!fresh.empty()) {
        cv::Mat compact(static_cast<int>(fresh.size()), 1, CV_8UC3);
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            std::uint8_t* out = compact.ptr<std::uint8_t>(static_cast<int>(i));
            out[0] = std::uint8_t(fresh[i]);
            out[1] = std::uint8_t(fresh[i] >> 8);
            out[2] = std::uint8_t(fresh[i] >> 16);
        }
        cv::Mat corrected;
        try {
            corrected = correctImage(compact, model);
        } catch (...) {
            for (std::uint32_t key : fresh) known[key >> 3] &= std::uint8_t(~(1u << (key & 7)));
            throw;
        }
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            const std::uint8_t* in = corrected.ptr<std::uint8_t>(static_cast<int>(i));
            std::uint8_t* entry = table + 3 * std::size_t(fresh[i]);
            entry[0] = in[0];
            entry[1] = in[1];
            entry[2] = in[2];
        }
        cache.evaluated += fresh.size();
    }

    // map every pixel through the table
    cv::Mat result(bgr.size(), CV_8UC3);
    cv::parallel_for_(cv::Range(0, bgr.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const std::uint8_t* in = bgr.ptr<std::uint8_t>(row);
            std::uint8_t* out = result.ptr<std::uint8_t>(row);
            for (int col = 0; col < bgr.cols; ++col, in += 3, out += 3) {
                const std::uint8_t* entry = table + 3 * std::size_t(keyOf(in));
                out[0] = entry[0];
                out[1] = entry[1];
                out[2] = entry[2];
            }
        }
    });
    return result;
}

}  // namespace tintsmith
