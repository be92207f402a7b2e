#pragma once
// Three-channel L*ab image: channels L*, a, b; colour-space code 4. Every channel has the
// same width and height; construction and assignment check it. Compiled for unsigned char, unsigned
// short, short, long long and double.

#include <cstddef>
#include <vector>

#include "image/colorimage_support.h"
#include "image/image.h"
#include "image/sample_types.h"

namespace vorada {

/// Throws VoradaError when channel 1 or 2 differs from channel 0 in width (checked first) or
/// in height.
template <typename T, std::size_t C, std::size_t D>
void check_size_cielab(const ImaVol<T, C, D>& image) {
    detail::check_equal_channel_sizes(image, "All channel widths must be equal for L*ab",
                                      "All channel heights must be equal for L*ab");
}

template <typename T>
class ImageCIELab : public Image<T, 3> {
  public:
    /// Three empty channels.
    ImageCIELab() = default;
    /// Three channels of width × height, every sample 0.
    ImageCIELab(unsigned long long width, unsigned long long height) : Image<T, 3>(width, height) {}
    /// Channel i gets the (width, height) of entry i; channels 1 and 2 must match channel 0.
    explicit ImageCIELab(const std::vector<std::vector<unsigned long long>>& channel_extents)
        : Image<T, 3>(channel_extents) {
        detail::check_channels_match_first(
            *this, "a channel dimensions must be equal to L* channel dimensions",
            "b channel dimensions must be equal to L* channel dimensions");
    }
    ImageCIELab(const ImageCIELab&) = default;
    /// A deep copy of the volume's channels, which must have equal sizes (check_size_cielab).
    explicit ImageCIELab(const ImaVol<T, 3, 2>& volume) : Image<T, 3>(volume) {
        check_size_cielab(*this);
    }
    ~ImageCIELab() override = default;

    /// Copies the other image's channels; on failure this image is unchanged.
    ImageCIELab& operator=(const ImageCIELab& other) {
        detail::assign_channels<T, 3, 2>(*this, other);
        return *this;
    }
    /// Checks the volume (check_size_cielab), then copies its channels; on failure this image is
    /// unchanged.
    ImageCIELab& operator=(const ImaVol<T, 3, 2>& volume) {
        check_size_cielab(volume);
        detail::assign_channels<T, 3, 2>(*this, volume);
        return *this;
    }
    /// Sets every sample of every channel to value.
    ImageCIELab& operator=(const T& value) {
        this->fill(value);
        return *this;
    }

    int color_space() const override { return 4; }
};

extern template class ImageCIELab<unsigned char>;
extern template class ImageCIELab<unsigned short>;
extern template class ImageCIELab<short>;
extern template class ImageCIELab<long long>;
extern template class ImageCIELab<double>;

}  // namespace vorada
