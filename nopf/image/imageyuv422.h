#pragma once
// YUV 4:2:2: channel 0 holds the Y of every pixel, channels 1 and 2 one U and one V per pair of
// horizontally adjacent pixels (half width, rounded up).

#include <vector>

#include "image/image.h"
#include "image/sample_types.h"

namespace vorada {

template <typename T>
class ImageYUV422 : public Image<T, 3> {
  public:
    /// Three empty channels.
    ImageYUV422() = default;
    /// Y of width × height; U and V of ceil(width / 2) × height; every sample 0.
    ImageYUV422(unsigned long long width, unsigned long long height)
        : Image<T, 3>(std::vector<std::vector<unsigned long long>>{
              {width, height}, {(width + 1) / 2, height}, {(width + 1) / 2, height}}) {}
    /// Channel i gets the (width, height) of entry i.
    explicit ImageYUV422(const std::vector<std::vector<unsigned long long>>& channel_extents)
        : Image<T, 3>(channel_extents) {}
    /// A deep copy of the volume's three channels.
    explicit ImageYUV422(const ImaVol<T, 3, 2>& volume) : Image<T, 3>(volume) {}
    ImageYUV422(const ImageYUV422&) = default;
    ImageYUV422& operator=(const ImageYUV422&) = default;
    ~ImageYUV422() override = default;

    /// Sets every sample of every channel to value.
    ImageYUV422& operator=(const T& value) {
        this->fill(value);
        return *this;
    }

    /// Number of pixel pairs: the element count of the U channel.
    unsigned long long pair_count() const { return this->channels[1].num_elements(); }
};

#define VORADA_EXTERN_IMAGEYUV422(T) extern template class ImageYUV422<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_IMAGEYUV422)
#undef VORADA_EXTERN_IMAGEYUV422

}  // namespace vorada
