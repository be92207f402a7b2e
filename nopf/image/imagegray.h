#pragma once
// One-channel grey image; a sample is reached as image[x][y].

#include <vector>

#include "image/colorimage_support.h"
#include "image/image.h"
#include "image/sample_types.h"

namespace vorada {

template <typename T>
class ImageGray : public Image<T, 1> {
  public:
    using view = typename MultiArray<T, 2>::reference;
    using const_view = typename MultiArray<T, 2>::const_reference;

    /// One empty channel.
    ImageGray() = default;
    /// One channel of width × height, every sample 0.
    ImageGray(unsigned long long width, unsigned long long height) : Image<T, 1>(width, height) {}
    /// The channel gets the (width, height) of the single entry.
    explicit ImageGray(const std::vector<std::vector<unsigned long long>>& channel_extents)
        : Image<T, 1>(channel_extents) {}
    /// A deep copy of the volume's channel.
    explicit ImageGray(const ImaVol<T, 1, 2>& volume) : Image<T, 1>(volume) {}
    ImageGray(const ImageGray&) = default;
    /// Copies the other image's channel; on failure this image is unchanged.
    ImageGray& operator=(const ImageGray& other) {
        detail::assign_channels<T, 1, 2>(*this, other);
        return *this;
    }
    ~ImageGray() override = default;

    /// Sets every sample to value.
    ImageGray& operator=(const T& value) {
        this->fill(value);
        return *this;
    }
    /// Copies the channel of a one-channel volume; on failure this image is unchanged.
    ImageGray& operator=(const ImaVol<T, 1, 2>& volume) {
        detail::assign_channels<T, 1, 2>(*this, volume);
        return *this;
    }

    /// The samples of column x, indexed by y (a view sharing the storage).
    view operator[](unsigned long long x) { return this->channels[0][static_cast<long>(x)]; }
    const_view operator[](unsigned long long x) const {
        return this->channels[0][static_cast<long>(x)];
    }

    int color_space() const override { return 5; }
};

#define VORADA_EXTERN_IMAGEGRAY(T) extern template class ImageGray<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_IMAGEGRAY)
#undef VORADA_EXTERN_IMAGEGRAY

}  // namespace vorada
