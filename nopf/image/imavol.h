#pragma once
// A volume of C channels, each a D-dimensional MultiArray of samples (planar storage). The
// channels usually share their extents; sub-sampled layouts (chroma at half width) differ.

#include <cstddef>
#include <string>
#include <vector>

#include "common/errors.h"
#include "image/collaborative_descriptors_traits.h"
#include "image/multiarray.h"
#include "image/sample_types.h"

namespace vorada {

template <typename T, std::size_t C, std::size_t D>
class ImaVol : public collaborative_descriptors_traits {
  public:
    using value_type = T;
    using channel_type = MultiArray<T, D>;
    static constexpr std::size_t channel_count = C;
    static constexpr std::size_t dimension_count = D;

    /// C empty channels (all extents 0).
    ImaVol();
    /// Channel i gets the first D entries of channel_extents[i]; exactly C entries are needed.
    explicit ImaVol(const std::vector<std::vector<unsigned long long>>& channel_extents);
    ImaVol(const ImaVol& other) = default;
    /// Copies the other volume's channels (each resized to the other's extents).
    ImaVol& operator=(const ImaVol& other);
    virtual ~ImaVol() = default;

    /// Colour-space code: 0 RGB, 1 YUV, 4 CIELab, 5 grey, 6 none.
    virtual int color_space() const { return 6; }

    /// Sets every sample of every channel to value, channel 0 first.
    void fill(const T& value);
    /// Extent along dimension d of channel 0.
    unsigned long long extent(std::size_t d) const { return channels[0].extent(d); }
    /// Extent 0 of channel 0.
    unsigned long long width() const { return extent(0); }
    /// Extent 1 of channel 0 (needs D >= 2).
    unsigned long long height() const { return extent(1); }
    /// The extents of every channel, one list per channel.
    std::vector<std::vector<unsigned long long>> channel_extents() const;

    /// The C channels, in channel order.
    std::vector<MultiArray<T, D>> channels;
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename T, std::size_t C, std::size_t D>
ImaVol<T, C, D>::ImaVol() : channels(C) {}

template <typename T, std::size_t C, std::size_t D>
ImaVol<T, C, D>::ImaVol(const std::vector<std::vector<unsigned long long>>& channel_extents) {
    if (channel_extents.size() != C) {
        throw VoradaError("ImaVol: " + std::to_string(C) + " channel extents expected, " +
                          std::to_string(channel_extents.size()) + " given");
    }
    channels.reserve(C);
    for (const auto& extents : channel_extents) {
        channels.emplace_back(extents);
    }
}

template <typename T, std::size_t C, std::size_t D>
ImaVol<T, C, D>& ImaVol<T, C, D>::operator=(const ImaVol& other) {
    if (this != &other) {
        collaborative_descriptors_traits::operator=(other);
        channels = other.channels;
    }
    return *this;
}

template <typename T, std::size_t C, std::size_t D>
void ImaVol<T, C, D>::fill(const T& value) {
    for (auto& channel : channels) {
        channel.fill(value);
    }
}

template <typename T, std::size_t C, std::size_t D>
std::vector<std::vector<unsigned long long>> ImaVol<T, C, D>::channel_extents() const {
    std::vector<std::vector<unsigned long long>> result;
    for (const auto& channel : channels) {
        result.push_back(channel.extent_list());
    }
    return result;
}

#define VORADA_EXTERN_IMAVOL(T)            \
    extern template class ImaVol<T, 1, 2>; \
    extern template class ImaVol<T, 3, 2>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_IMAVOL)
#undef VORADA_EXTERN_IMAVOL

}  // namespace vorada
