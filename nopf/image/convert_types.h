#pragma once
// Conversions between sample types: whole volumes and arrays keep their shape and origin, every
// sample converted as a plain numeric cast that is defined for every input (see sample_cast).
// Also the conversions between 8-bit grey images and two-dimensional masks.

#include <cmath>
#include <cstddef>
#include <limits>
#include <type_traits>

#include "image/imagegray.h"
#include "image/imavol.h"
#include "image/imavolmask.h"
#include "image/import_export.h"
#include "image/multiarray.h"

namespace vorada {

/// One sample as a plain numeric cast: a floating value is truncated toward zero and reduced
/// modulo the width of an integer target (-3.7 -> 253 and 300.2 -> 44 for unsigned char; NaN
/// and infinities give 0); integers are extended or reduced modulo the target width; any
/// non-zero sample gives true for bool, and bool gives 0 or 1. A double beyond the range of a
/// float target becomes the infinity of its sign.
template <typename To, typename From>
To sample_cast(From value);

/// A volume of the target sample type with the same channels, extents and origin.
template <typename To, typename From, std::size_t C, std::size_t D>
ImaVol<To, C, D> convert(const ImaVol<From, C, D>& volume);
/// An array of the target sample type with the same extents and origin.
template <typename To, typename From, std::size_t D>
MultiArray<To, D> convert(const MultiArray<From, D>& array);

/// A mask of the grey image's size: true where the grey value is not 0.
ImaVolMask<2> convert(const ImageGray<unsigned char>& image);
/// A grey image of the mask's size: value where the mask is true, 0 elsewhere.
ImageGray<unsigned char> convert(const ImaVolMask<2>& mask, unsigned char value);

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename To, typename From>
To sample_cast(From value) {
    static_assert(std::is_arithmetic<To>::value && std::is_arithmetic<From>::value,
                  "samples are numbers or bool");
    if constexpr (std::is_same<To, From>::value) {
        return value;
    } else if constexpr (std::is_same<To, bool>::value) {
        return value != From(0);
    } else if constexpr (std::is_same<From, bool>::value) {
        return value ? To(1) : To(0);
    } else if constexpr (std::is_integral<To>::value && std::is_floating_point<From>::value) {
        return wrap_sample<To>(value);
    } else if constexpr (std::is_floating_point<To>::value && std::is_floating_point<From>::value &&
                         sizeof(To) < sizeof(From)) {
        // Narrowing a floating value beyond the target's range is undefined; saturate to infinity.
        if (value > static_cast<From>(std::numeric_limits<To>::max())) {
            return std::numeric_limits<To>::infinity();
        }
        if (value < static_cast<From>(std::numeric_limits<To>::lowest())) {
            return -std::numeric_limits<To>::infinity();
        }
        return static_cast<To>(value);
    } else {
        // Integer to integer is reduced modulo the target width; integer to floating rounds.
        return static_cast<To>(value);
    }
}

namespace detail {

template <typename To, typename From, std::size_t D>
void convert_into(const MultiArray<From, D>& source, MultiArray<To, D>& target) {
    target.resize(source.extent_list());
    typename MultiArray<To, D>::Extents bases;
    std::copy(source.index_bases(), source.index_bases() + D, bases.begin());
    target.reindex(bases);
    // Both arrays keep the first-dimension-fastest order, so storage order is element order.
    const From* in = source.data();
    To* out = target.data();
    const std::size_t n = source.num_elements();
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = sample_cast<To>(in[i]);
    }
}

}  // namespace detail

template <typename To, typename From, std::size_t C, std::size_t D>
ImaVol<To, C, D> convert(const ImaVol<From, C, D>& volume) {
    ImaVol<To, C, D> result;
    for (std::size_t c = 0; c < C; ++c) {
        detail::convert_into(volume.channels[c], result.channels[c]);
    }
    return result;
}

template <typename To, typename From, std::size_t D>
MultiArray<To, D> convert(const MultiArray<From, D>& array) {
    MultiArray<To, D> result;
    detail::convert_into(array, result);
    return result;
}

// The provided combinations are compiled once, in convert_types.cpp.
#define VORADA_CONVERT_IMAVOL(TO, FROM, C, D) \
    extern template ImaVol<TO, C, D> convert<TO, FROM, C, D>(const ImaVol<FROM, C, D>&);
#define VORADA_CONVERT_MULTIARRAY(TO, FROM, D) \
    extern template MultiArray<TO, D> convert<TO, FROM, D>(const MultiArray<FROM, D>&);
#include "image/convert_types_list.h"
#undef VORADA_CONVERT_IMAVOL
#undef VORADA_CONVERT_MULTIARRAY

}  // namespace vorada
