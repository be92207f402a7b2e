#include "image/clipping.h"

#include "image/convert_types.h"
#include "image/sample_types.h"

namespace vorada {

Clipping::Clipping() : Clipping(0.0, 255.0, 0.0, 255.0) {}

Clipping::Clipping(double lower, double upper) : Clipping(lower, upper, lower, upper) {}

Clipping::Clipping(double lower, double upper, double below, double above)
    : lower_bound(lower), upper_bound(upper), below_value(below), above_value(above) {}

template <typename T>
T Clipping::clip(T sample) const {
    const double value = static_cast<double>(sample);
    if (value < lower_bound) {
        return sample_cast<T>(below_value);
    }
    if (value > upper_bound) {
        return sample_cast<T>(above_value);
    }
    return sample;
}

namespace {

template <typename T, std::size_t D>
void clip_in_place(const Clipping& clipping, MultiArray<T, D>& array) {
    T* data = array.data();
    const std::size_t n = array.num_elements();
    for (std::size_t i = 0; i < n; ++i) {
        data[i] = clipping.clip(data[i]);
    }
}

}  // namespace

template <typename T>
MultiArray<T, 2> Clipping::implementation(const MultiArray<T, 2>& array) const {
    MultiArray<T, 2> result(array);
    clip_in_place(*this, result);
    return result;
}

template <typename T, std::size_t C, std::size_t D>
ImaVol<T, C, D> Clipping::implementation(const ImaVol<T, C, D>& volume) const {
    ImaVol<T, C, D> result(volume);
    for (auto& channel : result.channels) {
        clip_in_place(*this, channel);
    }
    return result;
}

#define VORADA_INSTANTIATE_CLIPPING(T)                                                        \
    template T Clipping::clip<T>(T) const;                                                    \
    template MultiArray<T, 2> Clipping::implementation<T>(const MultiArray<T, 2>&) const;     \
    template ImaVol<T, 1, 2> Clipping::implementation<T, 1, 2>(const ImaVol<T, 1, 2>&) const; \
    template ImaVol<T, 3, 2> Clipping::implementation<T, 3, 2>(const ImaVol<T, 3, 2>&) const; \
    template ImaVol<T, 1, 3> Clipping::implementation<T, 1, 3>(const ImaVol<T, 1, 3>&) const; \
    template ImaVol<T, 3, 3> Clipping::implementation<T, 3, 3>(const ImaVol<T, 3, 3>&) const;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_CLIPPING)
#undef VORADA_INSTANTIATE_CLIPPING

}  // namespace vorada
