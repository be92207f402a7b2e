#pragma once
// Map from label values to dense indices. Label volumes normally hold small labels (at most a
// few times the voxel count), which a plain array serves far faster than a tree or hash map;
// larger values fall back to a hash map.

#include <cstddef>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace vorada {
namespace gma {

/// Label → index map with an array part for labels below a chosen bound.
class LabelIndexMap {
  public:
    static constexpr unsigned long long absent = ~0ULL;

    /// Serves labels below `bound` from an array (call before inserting).
    void reserve_dense(std::size_t bound) {
        if (bound > dense.size()) {
            dense.resize(bound, absent);
        }
    }
    /// The index of `label`, or `absent`.
    unsigned long long find(unsigned long long label) const {
        if (label < dense.size()) {
            return dense[static_cast<std::size_t>(label)];
        }
        auto found = sparse.find(label);
        return found == sparse.end() ? absent : found->second;
    }
    /// Maps `label` to `index`; the label must not be mapped yet.
    void insert(unsigned long long label, unsigned long long index) {
        if (label < dense.size()) {
            dense[static_cast<std::size_t>(label)] = index;
        } else {
            sparse.emplace(label, index);
        }
        ++entries;
    }
    /// The index of a mapped label; throws std::out_of_range for an unmapped one.
    unsigned long long at(unsigned long long label) const {
        const unsigned long long index = find(label);
        if (index == absent) {
            throw std::out_of_range("LabelIndexMap: label not mapped");
        }
        return index;
    }
    std::size_t count(unsigned long long label) const { return find(label) == absent ? 0 : 1; }
    std::size_t size() const { return entries; }
    bool empty() const { return entries == 0; }
    void clear() {
        dense.clear();
        dense.shrink_to_fit();
        sparse.clear();
        entries = 0;
    }

  private:
    std::vector<unsigned long long> dense;
    std::unordered_map<unsigned long long, unsigned long long> sparse;
    std::size_t entries = 0;
};

/// A dense-array bound that suits the labels of `values`: one past the largest label when that
/// is at most a few times the number of values, otherwise 0 (all labels go to the hash map).
template <typename Values>
std::size_t dense_label_bound(const Values& values) {
    unsigned long long largest = 0;
    for (unsigned long long value : values) {
        largest = value > largest ? value : largest;
    }
    const unsigned long long limit = 4ULL * values.size() + 1024;
    return largest < limit ? static_cast<std::size_t>(largest + 1) : 0;
}

}  // namespace gma
}  // namespace vorada
