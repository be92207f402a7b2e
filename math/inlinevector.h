#pragma once
// A small list that keeps up to InlineCount elements inside the object and moves to the heap
// only when it grows beyond that. The descriptor cache holds millions of tiny per-region lists
// (one or two frames, one or two colours); a heap block per list would cost more than the data.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace vorada {
namespace math {

template <typename T, std::size_t InlineCount>
class InlineVector {
    static_assert(InlineCount > 0, "at least one inline element");

  public:
    using value_type = T;
    using size_type = std::size_t;
    using iterator = T*;
    using const_iterator = const T*;

    InlineVector() = default;
    /// n copies of value.
    InlineVector(size_type n, const T& value) { assign(n, value); }
    InlineVector(std::initializer_list<T> items) { assign(items.begin(), items.end()); }
    InlineVector(const InlineVector& other) { assign(other.begin(), other.end()); }
    InlineVector(InlineVector&& other) noexcept { _take(other); }
    InlineVector& operator=(const InlineVector& other) {
        if (this != &other) {
            assign(other.begin(), other.end());
        }
        return *this;
    }
    InlineVector& operator=(InlineVector&& other) noexcept {
        if (this != &other) {
            _release();
            _take(other);
        }
        return *this;
    }
    ~InlineVector() { _release(); }

    size_type size() const { return count; }
    bool empty() const { return count == 0; }
    /// Elements the current storage holds without reallocating.
    size_type capacity() const { return _capacity_for(count); }
    T* data() { return _is_inline() ? _inline_data() : heap; }
    const T* data() const { return _is_inline() ? _inline_data() : heap; }
    T& operator[](size_type i) { return data()[i]; }
    const T& operator[](size_type i) const { return data()[i]; }
    iterator begin() { return data(); }
    iterator end() { return data() + count; }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + count; }
    T& back() { return data()[count - 1]; }
    const T& back() const { return data()[count - 1]; }

    /// Removes every element and returns to inline storage.
    void clear() { _release(); }

    /// Replaces the contents by n copies of value.
    void assign(size_type n, const T& value) {
        _release();
        T* target = _allocate(n);
        for (size_type i = 0; i < n; ++i) {
            new (target + i) T(value);
        }
        count = static_cast<std::uint32_t>(n);
    }

    /// Replaces the contents by the range [first, last).
    template <typename Iterator, typename = std::enable_if_t<!std::is_integral<Iterator>::value>>
    void assign(Iterator first, Iterator last) {
        const size_type n = static_cast<size_type>(std::distance(first, last));
        InlineVector fresh;
        T* target = fresh._allocate(n);
        for (size_type i = 0; first != last; ++first, ++i) {
            new (target + i) T(*first);
        }
        fresh.count = static_cast<std::uint32_t>(n);
        *this = std::move(fresh);
    }

    /// Appends one element; the storage doubles when full.
    void push_back(const T& value) {
        if (count == capacity()) {
            T copy(value);  // value may be one of the elements being moved
            T* items = _grow(count + 1);
            new (items + count) T(std::move(copy));
        } else {
            new (data() + count) T(value);
        }
        ++count;
    }

  private:
    static size_type _capacity_for(size_type n) {
        if (n <= InlineCount) {
            return InlineCount;
        }
        size_type c = InlineCount;
        while (c < n) {
            c *= 2;
        }
        return c;
    }
    bool _is_inline() const { return count <= InlineCount; }
    T* _inline_data() { return std::launder(reinterpret_cast<T*>(storage)); }
    const T* _inline_data() const { return std::launder(reinterpret_cast<const T*>(storage)); }

    // Prepares storage for n elements while count is 0 and returns it; data() only points at
    // it once count is raised to n.
    T* _allocate(size_type n) {
        if (n > std::numeric_limits<std::uint32_t>::max()) {
            throw std::length_error("InlineVector: too many elements");
        }
        if (n > InlineCount) {
            heap = static_cast<T*>(
                ::operator new(_capacity_for(n) * sizeof(T), std::align_val_t(alignof(T))));
            return heap;
        }
        return reinterpret_cast<T*>(storage);
    }
    // Moves the elements into a larger heap block and returns it; count is left for the caller
    // to raise, which makes data() point at the new block.
    T* _grow(size_type n) {
        if (n > std::numeric_limits<std::uint32_t>::max()) {
            throw std::length_error("InlineVector: too many elements");
        }
        T* fresh = static_cast<T*>(
            ::operator new(_capacity_for(n) * sizeof(T), std::align_val_t(alignof(T))));
        T* old = data();
        for (size_type i = 0; i < count; ++i) {
            new (fresh + i) T(std::move(old[i]));
            old[i].~T();
        }
        if (!_is_inline()) {
            ::operator delete(heap, std::align_val_t(alignof(T)));
        }
        heap = fresh;
        return fresh;
    }
    void _release() {
        T* items = data();
        for (size_type i = 0; i < count; ++i) {
            items[i].~T();
        }
        if (!_is_inline()) {
            ::operator delete(heap, std::align_val_t(alignof(T)));
        }
        count = 0;
    }
    void _take(InlineVector& other) {
        if (other._is_inline()) {
            T* source = other._inline_data();
            for (size_type i = 0; i < other.count; ++i) {
                new (reinterpret_cast<T*>(storage) + i) T(std::move(source[i]));
                source[i].~T();
            }
        } else {
            heap = other.heap;
        }
        count = other.count;
        other.count = 0;
    }

    union {
        alignas(T) unsigned char storage[InlineCount * sizeof(T)];
        T* heap;
    };
    std::uint32_t count = 0;
};

}  // namespace math
}  // namespace vorada
