#pragma once
// A binary mask: one channel of bools over D dimensions.

#include <cstddef>
#include <vector>

#include "image/colorimage_support.h"
#include "image/imavol.h"

namespace vorada {

template <std::size_t D>
class ImaVolMask : public ImaVol<bool, 1, D> {
  public:
    /// One empty channel.
    ImaVolMask() = default;
    /// One channel of the given extents (the first D entries), every sample false.
    explicit ImaVolMask(const std::vector<unsigned long long>& extents)
        : ImaVol<bool, 1, D>(std::vector<std::vector<unsigned long long>>{extents}) {}
    /// A deep copy of the volume's channel.
    explicit ImaVolMask(const ImaVol<bool, 1, D>& volume) : ImaVol<bool, 1, D>(volume) {}
    ImaVolMask(const ImaVolMask&) = default;
    ~ImaVolMask() override = default;

    /// Copies the other mask; on failure this mask is unchanged.
    ImaVolMask& operator=(const ImaVolMask& other) {
        return *this = static_cast<const ImaVol<bool, 1, D>&>(other);
    }
    /// Copies the channel of a one-channel boolean volume; on failure this mask is unchanged.
    ImaVolMask& operator=(const ImaVol<bool, 1, D>& volume) {
        detail::assign_channels<bool, 1, D>(*this, volume);
        return *this;
    }
    /// Sets every sample to value.
    ImaVolMask& operator=(bool value) {
        this->fill(value);
        return *this;
    }
};

}  // namespace vorada
