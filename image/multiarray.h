#pragma once
// The library's D-dimensional array: a Boost.MultiArray stored with the first dimension varying
// fastest and index bases 0, so a two-dimensional image channel is a row-major picture whose
// element (x, y) sits at x + y·width and is reached as channel[x][y].

#include <algorithm>
#include <boost/multi_array.hpp>
#include <cstddef>
#include <string>
#include <vector>

#include "common/errors.h"
#include "image/sample_types.h"

namespace vorada {

template <typename T, std::size_t D>
class MultiArray : public boost::multi_array<T, D> {
    using Base = boost::multi_array<T, D>;

  public:
    using Extents = boost::array<typename Base::index, D>;

    /// All extents 0, no storage.
    MultiArray();
    /// The given extents (the first D entries of the list), every element T(0).
    explicit MultiArray(const std::vector<unsigned long long>& extents);
    /// A deep copy, with the other array's extents and index bases.
    MultiArray(const MultiArray& other);
    /// Copies every element; resizes first when the extents differ. Self-assignment is an error.
    MultiArray& operator=(const MultiArray& other);

    using Base::resize;
    /// Resizes to the first D entries of the list; kept elements stay, new ones are T(0).
    void resize(const std::vector<unsigned long long>& extents);
    /// Extent along dimension d.
    unsigned long long extent(std::size_t d) const { return this->shape()[d]; }
    /// Extents as a list of D numbers.
    std::vector<unsigned long long> extent_list() const;
    /// Sets every element to value, in storage order.
    void fill(const T& value) {
        std::fill(this->data(), this->data() + this->num_elements(), value);
    }

    /// Converts an extent list to Boost's form; fewer than D entries is an error.
    static Extents to_extents(const std::vector<unsigned long long>& extents);
};

// ---------------------------------------------------------------------------------------------
// Implementation

// GCC 12 flags Boost's construction of zero elements as an out-of-bounds memset; it is not.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif
template <typename T, std::size_t D>
MultiArray<T, D>::MultiArray() : Base(Extents{}, boost::fortran_storage_order()) {}
#pragma GCC diagnostic pop

template <typename T, std::size_t D>
MultiArray<T, D>::MultiArray(const std::vector<unsigned long long>& extents)
    : Base(to_extents(extents), boost::fortran_storage_order()) {}

template <typename T, std::size_t D>
MultiArray<T, D>::MultiArray(const MultiArray& other) : Base(static_cast<const Base&>(other)) {}

template <typename T, std::size_t D>
MultiArray<T, D>& MultiArray<T, D>::operator=(const MultiArray& other) {
    if (this == &other) {
        throw VoradaError("MultiArray<T,D>::operator=: Self Assignment");
    }
    if (!std::equal(this->shape(), this->shape() + D, other.shape())) {
        Extents extents;
        std::copy(other.shape(), other.shape() + D, extents.begin());
        Base::resize(extents);
    }
    Extents bases;
    std::copy(other.index_bases(), other.index_bases() + D, bases.begin());
    this->reindex(bases);
    // Both arrays keep the first-dimension-fastest order, so storage order is element order.
    std::copy(other.data(), other.data() + other.num_elements(), this->data());
    return *this;
}

template <typename T, std::size_t D>
void MultiArray<T, D>::resize(const std::vector<unsigned long long>& extents) {
    Base::resize(to_extents(extents));
}

template <typename T, std::size_t D>
std::vector<unsigned long long> MultiArray<T, D>::extent_list() const {
    return std::vector<unsigned long long>(this->shape(), this->shape() + D);
}

template <typename T, std::size_t D>
typename MultiArray<T, D>::Extents MultiArray<T, D>::to_extents(
    const std::vector<unsigned long long>& extents) {
    if (extents.size() < D) {
        throw VoradaError("MultiArray: " + std::to_string(D) + " extents expected, " +
                          std::to_string(extents.size()) + " given");
    }
    Extents result;
    for (std::size_t d = 0; d < D; ++d) {
        result[d] = static_cast<typename Base::index>(extents[d]);
    }
    return result;
}

#define VORADA_EXTERN_MULTIARRAY(T) extern template class MultiArray<T, 2>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_MULTIARRAY)
#undef VORADA_EXTERN_MULTIARRAY

}  // namespace vorada
