#pragma once
// Replaces the samples of an array or an image that lie outside a range: those below the lower
// bound by one value, those above the upper bound by another. The colour conversions clip
// their double results to [0, 255] with it before storing them as 8-bit samples.

#include <cstddef>
#include <string>

#include "image/imavol.h"
#include "image/multiarray.h"

namespace vorada {

class Clipping {
  public:
    /// Bounds (0, 255); below value 0, above value 255.
    Clipping();
    /// An ordinary clamp: each bound is also its own replacement value.
    Clipping(double lower, double upper);
    /// Bounds (lower, upper); samples below lower become below, samples above upper become above.
    Clipping(double lower, double upper, double below, double above);

    /// A clipped copy of a two-dimensional array. Sample types: the nine sample types.
    template <typename T>
    MultiArray<T, 2> implementation(const MultiArray<T, 2>& array) const;
    /// A clipped copy of a volume of 1 or 3 channels and 2 or 3 dimensions, every channel alike.
    template <typename T, std::size_t C, std::size_t D>
    ImaVol<T, C, D> implementation(const ImaVol<T, C, D>& volume) const;

    /// One sample compared as a double: below the lower bound it becomes the below value,
    /// otherwise above the upper bound the above value, otherwise (also NaN) it is unchanged.
    /// The bounds are not compared with each other. A replacement value is stored in T as
    /// sample_cast does: for integer T truncated toward zero and reduced modulo T's width.
    template <typename T>
    T clip(T sample) const;

    std::string name = "Clipping";
    double lower_bound;
    double upper_bound;
    double below_value;
    double above_value;
};

}  // namespace vorada
