#pragma once
// A channel copy for the image classes' assignments that leaves the target unchanged when it
// fails.

#include <cstddef>

#include "image/imavol.h"

namespace vorada {
namespace detail {

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
