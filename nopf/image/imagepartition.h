#pragma once
// A partition of an image into regions: one channel of labels, one label per pixel.

#include <vector>

#include "image/colorimage_support.h"
#include "image/image.h"

namespace vorada {

template <typename T>
class ImagePartition : public Image<T, 1> {
  public:
    /// One empty channel.
    ImagePartition() = default;
    /// One channel of width × height, every label 0.
    ImagePartition(unsigned long long width, unsigned long long height)
        : Image<T, 1>(width, height) {}
    /// A deep copy of the volume's channel.
    explicit ImagePartition(const ImaVol<T, 1, 2>& volume) : Image<T, 1>(volume) {}
    ImagePartition(const ImagePartition&) = default;
    ~ImagePartition() override = default;

    /// Copies the other partition's labels; on failure this partition is unchanged.
    ImagePartition& operator=(const ImagePartition& other) {
        detail::assign_channels<T, 1, 2>(*this, other);
        return *this;
    }
};

}  // namespace vorada
