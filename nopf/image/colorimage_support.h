#pragma once
// Shared pieces of the colour image classes: the channel size checks behind their constructors
// and assignments, and a channel copy that leaves the target unchanged when it fails.

#include <cstddef>

#include "common/errors.h"
#include "image/imavol.h"

namespace vorada {
namespace detail {

/// Throws VoradaError(width_message) when channel 1 or 2 is not as wide as channel 0, otherwise
/// VoradaError(height_message) when channel 1 or 2 is not as tall.
template <typename T, std::size_t C, std::size_t D>
void check_equal_channel_sizes(const ImaVol<T, C, D>& image,
                               const char* width_message,
                               const char* height_message) {
    static_assert(C == 3 && D == 2, "three channels of two dimensions");
    const auto& c = image.channels;
    if (c[1].extent(0) != c[0].extent(0) || c[2].extent(0) != c[0].extent(0)) {
        throw VoradaError(width_message);
    }
    if (c[1].extent(1) != c[0].extent(1) || c[2].extent(1) != c[0].extent(1)) {
        throw VoradaError(height_message);
    }
}

/// Throws VoradaError(second_message) when channel 1 differs from channel 0 in width or height,
/// otherwise VoradaError(third_message) when channel 2 does.
template <typename T, std::size_t C, std::size_t D>
void check_channels_match_first(const ImaVol<T, C, D>& image,
                                const char* second_message,
                                const char* third_message) {
    static_assert(C == 3 && D == 2, "three channels of two dimensions");
    const auto same_size = [&](std::size_t i) {
        return image.channels[i].extent(0) == image.channels[0].extent(0) &&
               image.channels[i].extent(1) == image.channels[0].extent(1);
    };
    if (!same_size(1)) {
        throw VoradaError(second_message);
    }
    if (!same_size(2)) {
        throw VoradaError(third_message);
    }
}

/// Copies the source's channels into the target; when a copy fails the target is unchanged.
template <typename T, std::size_t C, std::size_t D>
void assign_channels(ImaVol<T, C, D>& target, const ImaVol<T, C, D>& source) {
    if (&target == &source) {
        return;
    }
    auto copy = source.channels;
    target.collaborative_descriptors_traits::operator=(source);
    target.channels.swap(copy);
}

}  // namespace detail
}  // namespace vorada
