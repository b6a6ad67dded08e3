// Colour arithmetic: the colour-correction model's domain and the correction
// sequence through it, the sRGB curve both ways, CIELAB and CIEDE2000. Pure
// functions of their arguments.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/mcc.hpp>

namespace tintsmith {

// --- The model's domain ------------------------------------------------------
// Files hold 8-bit BGR, the model works on RGB doubles nominally in 0..1.

// 8-bit BGR -> CV_64FC3 RGB in 0..1.
cv::Mat bgrToModelInput(cv::Mat bgr);

// CV_64FC3 RGB (any range) -> 8-bit BGR, rounded and saturated.
cv::Mat modelOutputToBgr(const cv::Mat& rgb);

// The correction sequence: bgrToModelInput, infer (not linear), modelOutputToBgr.
cv::Mat correctImage(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model);

// --- The sRGB curve ----------------------------------------------------------
// A line through zero below its knee, a power curve above it, and beyond 0..1
// mirrored through zero, as the colour-correction model extends it. Encoding
// takes a linear value to its curved one; decoding goes back.

struct SrgbCurve {
    double scale;  // the power piece is scale * v^(1 / gamma) - offset
    double offset;
    double gamma;
    double linearKnee;   // where the pieces meet, as a linear value...
    double encodedKnee;  // ...and as an encoded one
    double slope;        // of the line through zero
};

// IEC 61966-2-1 with its published constants.
extern const SrgbCurve kSrgb;

// The curve as the colour-correction model derives it from a = 0.055 and
// gamma 2.4, constant by constant: its results are the model's, bit for bit.
const SrgbCurve& modelSrgbCurve();

double srgbEncode(double linear, const SrgbCurve& curve = kSrgb);
double srgbDecode(double encoded);

// --- Colour difference -------------------------------------------------------

// CIELAB under D65 of an sRGB colour on 0..1 (values outside 0..1 follow the
// mirrored curve).
cv::Vec3d srgbToLab(const cv::Vec3d& rgb);

// The chroma C* of a CIELAB colour.
double labChroma(const cv::Vec3d& lab);

// The CIEDE2000 difference of two CIELAB colours (kL = kC = kH = 1).
double ciede2000(const cv::Vec3d& lab1, const cv::Vec3d& lab2);

}  // namespace tintsmith
