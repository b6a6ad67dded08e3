// The model's domain and the correction sequence, the sRGB curve, CIELAB and
// CIEDE2000.
#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "workflow/colour/colour.hpp"

namespace tintsmith {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The model's sRGB colour space: a = 0.055 and gamma 2.4, from which it
// derives the knee and the slope so that both pieces meet smoothly.
constexpr double kModelA = 0.055;
constexpr double kModelGamma = 2.4;

double labCurve(double t) {
    constexpr double kDelta = 6.0 / 29;
    return t > kDelta * kDelta * kDelta ? std::cbrt(t) : t / (3 * kDelta * kDelta) + 4.0 / 29;
}

double degrees(double radians) {
    return radians * 180 / kPi;
}
double radians(double degreesValue) {
    return degreesValue * kPi / 180;
}

}  // namespace

// --- The model's domain ------------------------------------------------------

cv::Mat bgrToModelInput(cv::Mat bgr) {
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    rgb.convertTo(rgb, CV_64F, 1, 0);
    rgb.convertTo(rgb, -1, 1.0 / 255, 0);
    return rgb;
}

cv::Mat modelOutputToBgr(const cv::Mat& rgb) {
    cv::Mat scaled = rgb * 255.0;
    // Rounding goes through int: far out-of-range values would wrap around
    // instead of saturating, so bring them within reach of 0 and 255 first.
    scaled = cv::min(cv::max(scaled, -1.0), 256.0);
    cv::Mat bytes;
    scaled.convertTo(bytes, CV_8UC3, 1, 0);  // rounds and saturates
    cv::Mat bgr;
    cv::cvtColor(bytes, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

cv::Mat correctImage(const cv::Mat& bgr, cv::ccm::ColorCorrectionModel& model) {
    return modelOutputToBgr(model.infer(bgrToModelInput(bgr), false));
}

// --- The sRGB curve ----------------------------------------------------------

const SrgbCurve kSrgb = {1.055, 0.055, 2.4, 0.0031308, 0.04045, 12.92};

const SrgbCurve& modelSrgbCurve() {
    static const SrgbCurve curve = [] {
        const double alpha = kModelA + 1;
        const double phi =
            (std::pow(alpha, kModelGamma) * std::pow(kModelGamma - 1, kModelGamma - 1)) /
            (std::pow(kModelA, kModelGamma - 1) * std::pow(kModelGamma, kModelGamma));
        const double beta = kModelA / (kModelGamma - 1) / phi;
        return SrgbCurve{alpha, alpha - 1, kModelGamma, beta, beta * phi, phi};
    }();
    return curve;
}

double srgbEncode(double linear, const SrgbCurve& curve) {
    const double magnitude = std::abs(linear);
    if (!(magnitude > curve.linearKnee)) {
        const double encoded = magnitude * curve.slope;
        return linear < 0 ? -encoded : encoded;
    }
    const double encoded = curve.scale * std::pow(magnitude, 1.0 / curve.gamma) - curve.offset;
    return linear < 0 ? -encoded : encoded;
}

double srgbDecode(double encoded) {
    const SrgbCurve& curve = kSrgb;
    const double magnitude = std::abs(encoded);
    const double linear = magnitude <= curve.encodedKnee
                              ? magnitude / curve.slope
                              : std::pow((magnitude + curve.offset) / curve.scale, curve.gamma);
    return encoded < 0 ? -linear : linear;
}

// --- Colour difference -------------------------------------------------------

cv::Vec3d srgbToLab(const cv::Vec3d& rgb) {
    // IEC 61966-2-1 primaries; the D65 white is the matrix's own row sums
    const double r = srgbDecode(rgb[0]), g = srgbDecode(rgb[1]), b = srgbDecode(rgb[2]);
    const double x = 0.4124564 * r + 0.3575761 * g + 0.1804375 * b;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = 0.0193339 * r + 0.1191920 * g + 0.9503041 * b;
    const double fx = labCurve(x / 0.9504700), fy = labCurve(y / 1.0000001),
                 fz = labCurve(z / 1.0888300);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

double labChroma(const cv::Vec3d& lab) {
    return std::hypot(lab[1], lab[2]);
}

double ciede2000(const cv::Vec3d& lab1, const cv::Vec3d& lab2) {
    const double pow25To7 = 6103515625.0;  // 25^7
    const double c1 = std::hypot(lab1[1], lab1[2]), c2 = std::hypot(lab2[1], lab2[2]);
    const double cMean7 = std::pow((c1 + c2) / 2, 7);
    const double g = 0.5 * (1 - std::sqrt(cMean7 / (cMean7 + pow25To7)));
    const double a1 = (1 + g) * lab1[1], a2 = (1 + g) * lab2[1];
    const double c1p = std::hypot(a1, lab1[2]), c2p = std::hypot(a2, lab2[2]);
    auto hue = [](double b, double a) {
        if (a == 0 && b == 0) return 0.0;
        double h = degrees(std::atan2(b, a));
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(lab1[2], a1), h2 = hue(lab2[2], a2);

    // differences
    const double dL = lab2[0] - lab1[0], dC = c2p - c1p;
    double dh = 0;
    if (c1p * c2p != 0) {
        dh = h2 - h1;
        if (dh > 180)
            dh -= 360;
        else if (dh < -180)
            dh += 360;
    }
    const double dH = 2 * std::sqrt(c1p * c2p) * std::sin(radians(dh / 2));

    // means
    const double lMean = (lab1[0] + lab2[0]) / 2, cMean = (c1p + c2p) / 2;
    double hMean = h1 + h2;
    if (c1p * c2p != 0) {
        if (std::abs(h1 - h2) <= 180)
            hMean = (h1 + h2) / 2;
        else if (h1 + h2 < 360)
            hMean = (h1 + h2 + 360) / 2;
        else
            hMean = (h1 + h2 - 360) / 2;
    }

    // weights
    const double t = 1 - 0.17 * std::cos(radians(hMean - 30)) +
                     0.24 * std::cos(radians(2 * hMean)) + 0.32 * std::cos(radians(3 * hMean + 6)) -
                     0.20 * std::cos(radians(4 * hMean - 63));
    const double dTheta = 30 * std::exp(-std::pow((hMean - 275) / 25, 2));
    const double cMeanP7 = std::pow(cMean, 7);
    const double rC = 2 * std::sqrt(cMeanP7 / (cMeanP7 + pow25To7));
    const double lOff2 = (lMean - 50) * (lMean - 50);
    const double sL = 1 + 0.015 * lOff2 / std::sqrt(20 + lOff2);
    const double sC = 1 + 0.045 * cMean, sH = 1 + 0.015 * cMean * t;
    const double rT = -std::sin(radians(2 * dTheta)) * rC;

    const double l = dL / sL, c = dC / sC, h = dH / sH;
    return std::sqrt(std::max(0.0, l * l + c * c + h * h + rT * c * h));
}

}  // namespace tintsmith
