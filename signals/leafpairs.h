#pragma once
// The adjacent pairs of leaves, as the partition and the temporal links meet them. A pair is
// recorded at its first meeting, which also decides its orientation: the region met from is the
// pair's `first`, the end whose distance the tree measures when it is the higher label. The
// merge graph takes the finished list.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/errors.h"

namespace vorada {
namespace gma {

/// Two adjacent leaves, `first` the one the pair was first met from.
struct LeafPair {
    std::uint32_t first;
    std::uint32_t second;
    bool operator==(const LeafPair& other) const {
        return first == other.first && second == other.second;
    }
};

class LeafPairs {
  public:
    /// Labels must stay below this (a bit of each entry holds the orientation).
    static constexpr std::uint32_t label_limit = std::uint32_t(1) << 31;

    /// Records that `first` and `second` (distinct) are adjacent, met from `first`; a pair met
    /// before keeps its first meeting.
    void add(std::uint32_t first, std::uint32_t second) {
        if (first == second || first >= label_limit || second >= label_limit) {
            throw VoradaError("Leaf pairs: a pair needs two distinct labels in range");
        }
        const LeafPair met{first, second};
        // Runs of one pair are common along a boundary: only the first meeting matters.
        if (!met_pairs.empty() && met_pairs.back() == met) {
            return;
        }
        met_pairs.push_back(met);
    }

    /// Every pair once, ordered by its higher label, then its lower one.
    std::vector<LeafPair> pairs() const;

    /// Forgets every pair and frees the memory.
    void clear() { std::vector<LeafPair>().swap(met_pairs); }

  private:
    std::vector<LeafPair> met_pairs;  ///< in meeting order
};

// ---------------------------------------------------------------------------------------------
// Implementation

// A counting sort by the higher label keeps the meeting order within each label's bucket, so
// the first entry of a pair in its bucket is its first meeting; a bucket is then sorted by the
// lower label.
inline std::vector<LeafPair> LeafPairs::pairs() const {
    std::uint32_t labels = 0;
    for (const LeafPair& pair : met_pairs) {
        labels = std::max(labels, std::max(pair.first, pair.second) + 1);
    }
    std::vector<std::size_t> start(static_cast<std::size_t>(labels) + 1, 0);
    for (const LeafPair& pair : met_pairs) {
        ++start[std::max(pair.first, pair.second) + 1];
    }
    for (std::size_t i = 1; i < start.size(); ++i) {
        start[i] += start[i - 1];
    }
    // Per entry the lower label, with the top bit set when the higher label met it.
    constexpr std::uint32_t from_higher = label_limit;
    std::vector<std::uint32_t> lower(met_pairs.size());
    {
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (const LeafPair& pair : met_pairs) {
            const bool higher_first = pair.first > pair.second;
            const std::uint32_t high = higher_first ? pair.first : pair.second;
            const std::uint32_t low = higher_first ? pair.second : pair.first;
            lower[next[high]++] = low | (higher_first ? from_higher : 0);
        }
    }
    // Each bucket keeps its first entry per lower label, sorted, moved down to close the gaps.
    std::vector<std::uint32_t> seen_by(labels, label_limit);  ///< per lower label: last bucket
    std::size_t kept = 0;
    for (std::uint32_t high = 0; high < labels; ++high) {
        const std::size_t begin = start[high];
        const std::size_t end = start[high + 1];
        start[high] = kept;
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint32_t low = lower[i] & ~from_higher;
            if (seen_by[low] != high) {
                seen_by[low] = high;
                lower[kept++] = lower[i];
            }
        }
        std::sort(lower.begin() + static_cast<std::ptrdiff_t>(start[high]),
                  lower.begin() + static_cast<std::ptrdiff_t>(kept),
                  [](std::uint32_t a, std::uint32_t b) {
                      return (a & ~from_higher) < (b & ~from_higher);
                  });
    }
    start[labels] = kept;
    std::vector<LeafPair> result;
    result.reserve(kept);
    for (std::uint32_t high = 0; high < labels; ++high) {
        for (std::size_t i = start[high]; i < start[high + 1]; ++i) {
            const std::uint32_t low = lower[i] & ~from_higher;
            result.push_back(lower[i] & from_higher ? LeafPair{high, low} : LeafPair{low, high});
        }
    }
    return result;
}

}  // namespace gma
}  // namespace vorada
