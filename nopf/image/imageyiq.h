#pragma once
// Three-channel YIQ image: channels Y, I, Q; no particular colour space (code 6). Every channel has
// the same width and height; construction and assignment check it. Compiled for the nine sample
// types.

#include <cstddef>
#include <vector>

#include "image/colorimage_support.h"
#include "image/image.h"
#include "image/sample_types.h"

namespace vorada {

/// Throws VoradaError when channel 1 or 2 differs from channel 0 in width (checked first) or
/// in height.
template <typename T, std::size_t C, std::size_t D>
void check_size_yiq(const ImaVol<T, C, D>& image) {
    detail::check_equal_channel_sizes(image, "All channel widths must be equal for YIQ",
                                      "All channel heights must be equal for YIQ");
}

template <typename T>
class ImageYIQ : public Image<T, 3> {
  public:
    /// Three empty channels.
    ImageYIQ() = default;
    /// Three channels of width × height, every sample 0.
    ImageYIQ(unsigned long long width, unsigned long long height) : Image<T, 3>(width, height) {}
    /// Channel i gets the (width, height) of entry i; channels 1 and 2 must match channel 0.
    explicit ImageYIQ(const std::vector<std::vector<unsigned long long>>& channel_extents)
        : Image<T, 3>(channel_extents) {
        detail::check_channels_match_first(
            *this, "U channel dimensions must be equal to Y channel dimensions",
            "V channel dimensions must be equal to Y channel dimensions");
    }
    ImageYIQ(const ImageYIQ&) = default;
    /// A deep copy of the volume's channels, which must have equal sizes (check_size_yiq).
    explicit ImageYIQ(const ImaVol<T, 3, 2>& volume) : Image<T, 3>(volume) {
        check_size_yiq(*this);
    }
    ~ImageYIQ() override = default;

    /// Copies the other image's channels; on failure this image is unchanged.
    ImageYIQ& operator=(const ImageYIQ& other) {
        detail::assign_channels<T, 3, 2>(*this, other);
        return *this;
    }
    /// Checks the volume (check_size_yiq), then copies its channels; on failure this image is
    /// unchanged.
    ImageYIQ& operator=(const ImaVol<T, 3, 2>& volume) {
        check_size_yiq(volume);
        detail::assign_channels<T, 3, 2>(*this, volume);
        return *this;
    }
    /// Sets every sample of every channel to value.
    ImageYIQ& operator=(const T& value) {
        this->fill(value);
        return *this;
    }
};

#define VORADA_EXTERN_IMAGEYIQ(T) extern template class ImageYIQ<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_IMAGEYIQ)
#undef VORADA_EXTERN_IMAGEYIQ

}  // namespace vorada
