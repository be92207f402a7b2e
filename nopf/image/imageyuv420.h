#pragma once
// YUV 4:2:0: channel 0 holds the Y of every pixel, channels 1 and 2 one U and one V per 2 × 2
// block of pixels (half width and half height, rounded up).

#include <vector>

#include "image/colorimage_support.h"
#include "image/image.h"
#include "image/sample_types.h"

namespace vorada {

template <typename T>
class ImageYUV420 : public Image<T, 3> {
  public:
    /// Three empty channels.
    ImageYUV420() = default;
    /// Y of width × height; U and V of ceil(width / 2) × ceil(height / 2); every sample 0.
    ImageYUV420(unsigned long long width, unsigned long long height)
        : Image<T, 3>(std::vector<std::vector<unsigned long long>>{
              {width, height},
              {width / 2 + width % 2, height / 2 + height % 2},
              {width / 2 + width % 2, height / 2 + height % 2}}) {}
    /// Channel i gets the (width, height) of entry i.
    explicit ImageYUV420(const std::vector<std::vector<unsigned long long>>& channel_extents)
        : Image<T, 3>(channel_extents) {}
    /// A deep copy of the volume's three channels.
    explicit ImageYUV420(const ImaVol<T, 3, 2>& volume) : Image<T, 3>(volume) {}
    ImageYUV420(const ImageYUV420&) = default;
    ~ImageYUV420() override = default;

    /// Copies the other image's channels; on failure this image is unchanged.
    ImageYUV420& operator=(const ImageYUV420& other) {
        detail::assign_channels<T, 3, 2>(*this, other);
        return *this;
    }
    /// Sets every sample of every channel to value.
    ImageYUV420& operator=(const T& value) {
        this->fill(value);
        return *this;
    }
};

#define VORADA_EXTERN_IMAGEYUV420(T) extern template class ImageYUV420<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_IMAGEYUV420)
#undef VORADA_EXTERN_IMAGEYUV420

}  // namespace vorada
