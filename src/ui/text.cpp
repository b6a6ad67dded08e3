// printf-style text placed by its top-left corner. It reads no mouse state, so
// it works before ui::init and in any image.
#include <cstdarg>
#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "ui/ui_internal.hpp"

namespace ui {

cv::Scalar unpackColour(std::uint32_t packed) {
    return cv::Scalar(packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF,
                      (packed >> 24) & 0xFF);
}

void formattedText(cv::Mat image, int x, int y, double fontScale, std::uint32_t colour,
                   const char* format, ...) {
    // format (vsnprintf cuts what does not fit the buffer)
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(formatBuffer(), kFormatBufferSize, format, arguments);
    va_end(arguments);

    // putText takes the left end of the baseline: move it down by the text's
    // height so that y is the top
    int baseline = 0;
    const int height = cv::getTextSize(formatBuffer(), kFont, fontScale, 1, &baseline).height;
    cv::putText(image, formatBuffer(), {x, y + height}, kFont, fontScale, unpackColour(colour), 1,
                cv::LINE_AA, false);
}

}  // namespace ui
