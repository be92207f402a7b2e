#pragma once
// Three-channel colour images whose channels all have the same width and height; construction
// and assignment check it. One class template serves every colour space: YUV (code 1), CIELab
// with channels L*, a, b (code 4), and YIQ, RIQ (R, I, Q), RCQ (R, C = the red difference of YUV,
// Q) and RUV (R, V = red difference, U = blue difference), which name no particular colour space
// (code 6). Compiled for the nine sample types.

#include <string>
#include <vector>

#include "common/errors.h"
#include "image/colorimage_support.h"
#include "image/image.h"
#include "image/sample_types.h"

namespace vorada {

/// What tells the colour images apart: the name their size messages give, the names of their
/// channels in the per-channel-sizes messages, and the colour-space code.
struct ColorSpace {
    const char* name;
    const char* channel_names[3];
    int code;
};

inline constexpr ColorSpace yuv_space{"YUV", {"Y", "U", "V"}, 1};
inline constexpr ColorSpace cielab_space{"L*ab", {"L*", "a", "b"}, 4};
// These four report their channels under the YUV names.
inline constexpr ColorSpace yiq_space{"YIQ", {"Y", "U", "V"}, 6};
inline constexpr ColorSpace riq_space{"RIQ", {"Y", "U", "V"}, 6};
inline constexpr ColorSpace rcq_space{"RCQ", {"Y", "U", "V"}, 6};
inline constexpr ColorSpace ruv_space{"RUV", {"Y", "U", "V"}, 6};

template <typename T, const ColorSpace& Space>
class ColorImage : public Image<T, 3> {
  public:
    /// Three empty channels.
    ColorImage() = default;
    /// Three channels of width × height, every sample 0.
    ColorImage(unsigned long long width, unsigned long long height) : Image<T, 3>(width, height) {}
    /// Channel i gets the (width, height) of entry i; channels 1 and 2 must match channel 0.
    explicit ColorImage(const std::vector<std::vector<unsigned long long>>& channel_extents)
        : Image<T, 3>(channel_extents) {
        for (std::size_t i = 1; i < 3; ++i) {
            const auto& c = this->channels;
            if (c[i].extent(0) != c[0].extent(0) || c[i].extent(1) != c[0].extent(1)) {
                throw VoradaError(std::string(Space.channel_names[i]) +
                                  " channel dimensions must be equal to " + Space.channel_names[0] +
                                  " channel dimensions");
            }
        }
    }
    ColorImage(const ColorImage&) = default;
    /// A deep copy of the volume's channels, which must have equal sizes (check_sizes).
    explicit ColorImage(const ImaVol<T, 3, 2>& volume) : Image<T, 3>(volume) { check_sizes(*this); }
    ~ColorImage() override = default;

    /// Copies the other image's channels; on failure this image is unchanged.
    ColorImage& operator=(const ColorImage& other) {
        detail::assign_channels<T, 3, 2>(*this, other);
        return *this;
    }
    /// Checks the volume (check_sizes), then copies its channels; on failure this image is
    /// unchanged.
    ColorImage& operator=(const ImaVol<T, 3, 2>& volume) {
        check_sizes(volume);
        detail::assign_channels<T, 3, 2>(*this, volume);
        return *this;
    }
    /// Sets every sample of every channel to value.
    ColorImage& operator=(const T& value) {
        this->fill(value);
        return *this;
    }

    int color_space() const override { return Space.code; }

    /// Throws VoradaError when channel 1 or 2 differs from channel 0 in width (checked first)
    /// or in height.
    static void check_sizes(const ImaVol<T, 3, 2>& image) {
        const auto& c = image.channels;
        if (c[1].extent(0) != c[0].extent(0) || c[2].extent(0) != c[0].extent(0)) {
            throw VoradaError(std::string("All channel widths must be equal for ") + Space.name);
        }
        if (c[1].extent(1) != c[0].extent(1) || c[2].extent(1) != c[0].extent(1)) {
            throw VoradaError(std::string("All channel heights must be equal for ") + Space.name);
        }
    }
};

template <typename T>
using ImageYUV = ColorImage<T, yuv_space>;
template <typename T>
using ImageCIELab = ColorImage<T, cielab_space>;
template <typename T>
using ImageYIQ = ColorImage<T, yiq_space>;
template <typename T>
using ImageRIQ = ColorImage<T, riq_space>;
template <typename T>
using ImageRCQ = ColorImage<T, rcq_space>;
template <typename T>
using ImageRUV = ColorImage<T, ruv_space>;

#define VORADA_EXTERN_COLORIMAGE(T)                    \
    extern template class ColorImage<T, yuv_space>;    \
    extern template class ColorImage<T, cielab_space>; \
    extern template class ColorImage<T, yiq_space>;    \
    extern template class ColorImage<T, riq_space>;    \
    extern template class ColorImage<T, rcq_space>;    \
    extern template class ColorImage<T, ruv_space>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_COLORIMAGE)
#undef VORADA_EXTERN_COLORIMAGE

}  // namespace vorada
