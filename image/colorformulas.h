#pragma once
// Per-pixel colour formulas between RGB (0..255), studio-range YUV and CIELab (a and b offset by
// +128). Constants and the order of operations are fixed: results are compared bit for bit, so
// keep every sum left to right as written.

#include <Eigen/Core>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace vorada {
namespace gma {
namespace color {

/// A colour value: channels 0, 1, 2 of its colour space.
using ColorValue = Eigen::Matrix<double, 3, 1>;

/// Clamps to the 8-bit range [0, 255].
inline double clamp_byte(double value) {
    return std::min(std::max(value, 0.0), 255.0);
}

/// RGB 0..255 to YUV; each result clamped to [0, 255]. The +16.5 and +128.5 hold a half for a
/// later truncation to 8 bits; the values themselves are not rounded.
inline ColorValue rgb_to_yuv(const ColorValue& rgb) {
    const double s = 0.00390625;
    const double r = rgb(0), g = rgb(1), b = rgb(2);
    const double y = (65.738 * r + 129.057 * g + 25.064 * b) * s + 16.5;
    const double u = (-37.945 * r - 74.494 * g + 112.439 * b) * s + 128.5;
    const double v = (112.439 * r - 94.154 * g - 18.285 * b) * s + 128.5;
    return ColorValue(clamp_byte(y), clamp_byte(u), clamp_byte(v));
}

/// YUV to RGB 0..255; each result clamped to [0, 255]. Adds its own half, so RGB -> YUV -> RGB
/// shifts values upward by up to about two levels.
inline ColorValue yuv_to_rgb(const ColorValue& yuv) {
    const double s = 0.00390625;
    const double u = yuv(1), v = yuv(2);
    const double k = 298.082 * yuv(0);
    const double r = (k + 408.583 * v) * s + 0.5 - 222.921;
    const double g = (k - 100.291 * u - 208.12 * v) * s + 0.5 + 135.576;
    const double b = (k + 516.412 * u) * s + 0.5 - 276.836;
    return ColorValue(clamp_byte(r), clamp_byte(g), clamp_byte(b));
}

/// sRGB companded value in 0..1 to linear light.
inline double srgb_to_linear(double value) {
    if (value < 0.03928) {
        return value / 12.92;
    }
    return std::pow((value + 0.055) / 1.055, 2.4);
}

/// srgb_to_linear(value / 255.0); the 256 whole values an 8-bit image holds are looked up.
inline double srgb_byte_to_linear(double value) {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> linear{};
        for (int i = 0; i < 256; ++i) {
            linear[static_cast<std::size_t>(i)] = srgb_to_linear(i / 255.0);
        }
        return linear;
    }();
    if (value >= 0.0 && value <= 255.0 && !std::signbit(value)) {
        const auto whole = static_cast<std::size_t>(value);
        if (static_cast<double>(whole) == value) {
            return table[whole];
        }
    }
    return srgb_to_linear(value / 255.0);
}

/// Linear light to the sRGB companded value; no clamping.
inline double linear_to_srgb(double value) {
    if (value < 0.00304) {
        return value * 12.92;
    }
    return 1.055 * std::pow(value, 0.4166666666666667) - 0.055;
}

/// The CIELab companding function; 0.008856... is (6/29)^3 and 0.1379... is 4/29.
inline double lab_f(double t) {
    if (t > 0.008856451679035631) {
        return std::pow(t, 0.3333333333333333);
    }
    return 7.787037037037035 * t + 0.13793103448275862;
}

/// Inverse of lab_f, scaled by the reference white component `white`; d = 6/29.
inline double lab_f_inverse(double f, double white) {
    const double d = 0.20689655172413793;
    if (f > d) {
        return white * std::pow(f, 3.0);
    }
    return white * 3.0 * std::pow(d, 2.0) * (f - 0.13793103448275862);
}

/// RGB 0..255 to CIELab (L 0..100, a and b offset by +128); no clamping anywhere.
/// Reference white (0.95046866, 1, 1.08882331).
inline ColorValue rgb_to_lab(const ColorValue& rgb) {
    const double r = srgb_byte_to_linear(rgb(0));
    const double g = srgb_byte_to_linear(rgb(1));
    const double b = srgb_byte_to_linear(rgb(2));
    const double x = 0.412453 * r + 0.35758 * g + 0.180423 * b;
    const double y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
    const double z = 0.019334 * r + 0.119193 * g + 0.950227 * b;
    const double fy = lab_f(y);
    return ColorValue(116.0 * fy - 16.0, 500.0 * (lab_f(x / 0.95046866) - fy) + 128.0,
                      200.0 * (fy - lab_f(z / 1.08882331)) + 128.0);
}

/// CIELab (a and b offset by +128) to RGB; no clamping, results may leave 0..255.
inline ColorValue lab_to_rgb(const ColorValue& lab) {
    const double fy = (lab(0) + 16.0) / 116.0;
    const double fx = (lab(1) - 128.0) / 500.0 + fy;
    const double fz = (lab(2) - 128.0) / (-200.0) + fy;
    const double x = lab_f_inverse(fx, 0.95046866);
    const double y = lab_f_inverse(fy, 1.0);
    const double z = lab_f_inverse(fz, 1.08882331);
    const double r = 3.240479 * x - 1.537152 * y - 0.498536 * z;
    const double g = -0.969255 * x + 1.87599 * y + 0.041556 * z;
    const double b = 0.055647 * x - 0.204041 * y + 1.057311 * z;
    return ColorValue(255.0 * linear_to_srgb(r), 255.0 * linear_to_srgb(g),
                      255.0 * linear_to_srgb(b));
}

}  // namespace color
}  // namespace gma
}  // namespace vorada
