#pragma once
// In-place conversion of a three-channel video between RGB, YUV and CIELab. The signal records
// its space in `color_space`; only an RGB video can be written as images.

#include <Eigen/Core>

#include "common/parallel.h"
#include "image/colorformulas.h"
#include "signals/colorspacetype.h"
#include "signals/raster.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// Converts colour signals between the spaces of ColorSpaceType; holds no data.
template <typename SignalType>
class ColorSpaceConverter {
  public:
    using ColorValue = Eigen::Matrix<double, 3, 1>;

    /// Converts every value from the signal's recorded space to `target` and records `target`.
    /// Converting to the recorded space touches nothing. A recorded or target space outside
    /// RGB, YUV, CIELab turns every value into (0, 0, 0).
    void convert(SignalType& signal, ColorSpaceType target);

  private:
    ColorValue _convert_value(const ColorValue& value, int from, int to) const;
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename SignalType>
void ColorSpaceConverter<SignalType>::convert(SignalType& signal, ColorSpaceType target) {
    const int from = static_cast<int>(signal.color_space);
    const int to = static_cast<int>(target);
    if (from == to) {
        return;
    }
    // Every point on its own: frames go to separate threads.
    parallel_for(frame_count(signal), default_thread_count(), [&](std::size_t k) {
        for_each_frame_point(signal, k, [&](long long x, long long y, long long t) {
            auto* v = signal.at(x, y, t);
            const ColorValue result = _convert_value(ColorValue(v[0], v[1], v[2]), from, to);
            v[0] = result(0);
            v[1] = result(1);
            v[2] = result(2);
        });
    });
    signal.color_space = target;
}

template <typename SignalType>
typename ColorSpaceConverter<SignalType>::ColorValue
ColorSpaceConverter<SignalType>::_convert_value(const ColorValue& value, int from, int to) const {
    // YUV <-> CIELab goes through RGB with only the clamping each step does itself.
    if (from == RGB && to == YUV) {
        return color::rgb_to_yuv(value);
    }
    if (from == RGB && to == CIELab) {
        return color::rgb_to_lab(value);
    }
    if (from == YUV && to == RGB) {
        return color::yuv_to_rgb(value);
    }
    if (from == YUV && to == CIELab) {
        return color::rgb_to_lab(color::yuv_to_rgb(value));
    }
    if (from == CIELab && to == RGB) {
        return color::lab_to_rgb(value);
    }
    if (from == CIELab && to == YUV) {
        return color::rgb_to_yuv(color::lab_to_rgb(value));
    }
    return ColorValue::Zero();
}

}  // namespace gma
}  // namespace vorada
