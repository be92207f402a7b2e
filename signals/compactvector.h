#pragma once
// A growable array of trivially copyable values in 16 bytes (pointer, 32-bit size and
// capacity): every region carries one for its neighbours, so std::vector's 24 bytes add up.
// Small arrays live in the shared slab arena (see slabarena.h), large ones on the heap;
// sanitizer builds use the heap for all, so that overruns of single arrays stay visible.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "common/errors.h"
#include "signals/slabarena.h"

namespace vorada {
namespace gma {

/// Contiguous array of trivially copyable values with at most 2^32 − 1 elements.
template <typename T>
class CompactVector {
    static_assert(std::is_trivially_copyable<T>::value, "values are moved with memmove");

  public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    CompactVector() = default;
    CompactVector(const CompactVector& other) { assign(other); }
    CompactVector& operator=(const CompactVector& other) {
        if (this != &other) {
            clear();
            assign(other);
        }
        return *this;
    }
    ~CompactVector() { release(); }

    T* begin() { return data_pointer; }
    T* end() { return data_pointer + count; }
    const T* begin() const { return data_pointer; }
    const T* end() const { return data_pointer + count; }
    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    T& operator[](std::size_t i) { return data_pointer[i]; }
    const T& operator[](std::size_t i) const { return data_pointer[i]; }
    T& back() { return data_pointer[count - 1]; }
    const T& back() const { return data_pointer[count - 1]; }

    /// Makes room for n values without changing the contents.
    void reserve(std::size_t n) {
        if (n > capacity) {
            reallocate(n);
        }
    }
    void push_back(const T& value) {
        if (count == capacity) {
            reallocate(grown_capacity());
        }
        data_pointer[count++] = value;
    }
    /// Inserts value before position; returns the position of the new value.
    T* insert(T* position, const T& value) {
        const std::size_t at = static_cast<std::size_t>(position - data_pointer);
        if (count == capacity) {
            reallocate(grown_capacity());
        }
        std::memmove(data_pointer + at + 1, data_pointer + at, (count - at) * sizeof(T));
        data_pointer[at] = value;
        ++count;
        return data_pointer + at;
    }
    /// Removes the value at position; later values move down by one.
    void erase(T* position) {
        const std::size_t at = static_cast<std::size_t>(position - data_pointer);
        std::memmove(data_pointer + at, data_pointer + at + 1, (count - at - 1) * sizeof(T));
        --count;
    }
    /// Keeps the first n values (n at most size()), keeping the storage.
    void truncate(std::size_t n) { count = static_cast<std::uint32_t>(n); }
    /// Removes all values, keeping the storage.
    void clear() { count = 0; }
    /// Removes all values and frees the storage.
    void release() {
        _free(data_pointer, capacity);
        data_pointer = nullptr;
        count = 0;
        capacity = 0;
    }
    std::size_t capacity_size() const { return capacity; }

  private:
    std::size_t grown_capacity() const {
        if (capacity == UINT32_MAX) {
            throw VoradaError("CompactVector: too many elements");
        }
        const std::size_t wanted = capacity < 4 ? 4 : std::size_t(capacity) + capacity / 2;
        return std::min<std::size_t>(wanted, UINT32_MAX);
    }
    void reallocate(std::size_t n) {
        if (n > UINT32_MAX) {
            throw VoradaError("CompactVector: too many elements");
        }
        void* grown = _in_arena(n) ? SlabArena::shared().allocate(n * sizeof(T))
                                   : std::malloc(n * sizeof(T));
        if (!grown) {
            throw std::bad_alloc();
        }
        if (count) {
            std::memcpy(grown, static_cast<const void*>(data_pointer), count * sizeof(T));
        }
        _free(data_pointer, capacity);
        data_pointer = static_cast<T*>(grown);
        capacity = static_cast<std::uint32_t>(n);
    }
    // Where an array lives follows from its capacity alone.
    static bool _in_arena(std::size_t n) {
#if defined(__SANITIZE_ADDRESS__)
        (void)n;
        return false;
#else
        return n * sizeof(T) <= SlabArena::largest_block;
#endif
    }
    static void _free(T* block, std::size_t n) noexcept {
        if (!block) {
            return;
        }
        if (_in_arena(n)) {
            SlabArena::shared().release(block, n * sizeof(T));
        } else {
            std::free(block);
        }
    }
    void assign(const CompactVector& other) {
        reserve(other.count);
        if (other.count) {
            std::memcpy(data_pointer, other.data_pointer, other.count * sizeof(T));
        }
        count = other.count;
    }

    T* data_pointer = nullptr;
    std::uint32_t count = 0;
    std::uint32_t capacity = 0;
};

}  // namespace gma
}  // namespace vorada
