#pragma once
// Three-channel colour image: channel 0 R, 1 G, 2 B.

#include <vector>

#include "image/image.h"
#include "image/sample_types.h"

namespace vorada {

template <typename T>
class ImageRGB : public Image<T, 3> {
  public:
    /// Three empty channels.
    ImageRGB() = default;
    /// Three channels of width × height, black.
    ImageRGB(unsigned long long width, unsigned long long height) : Image<T, 3>(width, height) {}
    /// Channel i gets the (width, height) of entry i.
    explicit ImageRGB(const std::vector<std::vector<unsigned long long>>& channel_extents)
        : Image<T, 3>(channel_extents) {}
    /// A deep copy of the volume's three channels.
    explicit ImageRGB(const ImaVol<T, 3, 2>& volume) : Image<T, 3>(volume) {}
    ImageRGB(const ImageRGB&) = default;
    ImageRGB& operator=(const ImageRGB&) = default;
    ~ImageRGB() override = default;

    /// Sets every pixel of all three channels to value.
    ImageRGB& operator=(const T& value) {
        this->fill(value);
        return *this;
    }
    /// Copies the channels of another three-channel volume.
    ImageRGB& operator=(const ImaVol<T, 3, 2>& volume) {
        ImaVol<T, 3, 2>::operator=(volume);
        return *this;
    }

    int color_space() const override { return 0; }
};

#define VORADA_EXTERN_IMAGERGB(T) extern template class ImageRGB<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_IMAGERGB)
#undef VORADA_EXTERN_IMAGERGB

}  // namespace vorada
