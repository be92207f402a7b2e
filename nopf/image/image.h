#pragma once
// A two-dimensional image of C channels; dimension 0 is x (width), dimension 1 is y (height).

#include <cstddef>
#include <vector>

#include "image/imavol.h"
#include "image/sample_types.h"

namespace vorada {

template <typename T, std::size_t C>
class Image : public ImaVol<T, C, 2> {
  public:
    /// C empty channels.
    Image() = default;
    /// C channels of width × height, every sample 0.
    Image(unsigned long long width, unsigned long long height)
        : ImaVol<T, C, 2>(std::vector<std::vector<unsigned long long>>(
              C, std::vector<unsigned long long>{width, height})) {}
    /// Channel i gets the (width, height) of entry i.
    explicit Image(const std::vector<std::vector<unsigned long long>>& channel_extents)
        : ImaVol<T, C, 2>(channel_extents) {}
    /// A deep copy of the volume's channels.
    explicit Image(const ImaVol<T, C, 2>& volume) : ImaVol<T, C, 2>(volume) {}
};

#define VORADA_EXTERN_IMAGE(T)         \
    extern template class Image<T, 1>; \
    extern template class Image<T, 3>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_IMAGE)
#undef VORADA_EXTERN_IMAGE

}  // namespace vorada
