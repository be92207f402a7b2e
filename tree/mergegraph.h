#pragma once
// The adjacency of the regions while the tree merges them, by label. A merge would otherwise
// edit the list of every neighbour of the two merged regions, and those lists lie scattered in
// memory. Here a merge touches only the two lists it joins: a list keeps the labels its region
// met, and a label that has since been merged is read as the top-level region now holding it
// (a union–find over labels, whose array is small enough to stay in cache).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/errors.h"

namespace vorada {
namespace gma {

class MergeGraph {
public:
    using Label = std::uint32_t;

    /// `compact_at`: the dropped entries at which the pool is compacted, at the least.
    explicit MergeGraph(std::size_t compact_at = std::size_t(1) << 20)
        : compact_above(compact_at) {}

    /// Room for labels 0 … capacity − 1, each its own top-level region with no neighbour.
    void reset(std::size_t capacity) {
        if (capacity > no_list) {
            throw VoradaError("Merge graph: too many regions");
        }
        up.resize(capacity);
        for (std::size_t i = 0; i < capacity; ++i) {
            up[i] = static_cast<Label>(i);
        }
        lists.assign(capacity, List());
        pool.clear();
        garbage = 0;
    }

    /// Makes the given pairs of top-level regions adjacent, each pair named once:
    /// `for_each_pair(visit)` calls `visit(a, b)` for every pair and must name the same pairs
    /// each time it is called (twice). For regions that have no neighbours yet.
    template <typename ForEachPair>
    void add_pairs(ForEachPair for_each_pair) {
        std::vector<std::uint32_t> extra(lists.size() + 1, 0);
        std::size_t total = 0;
        for_each_pair([&](Label a, Label b) {
            _check(a);
            _check(b);
            if (a == b || lists[a].size || lists[b].size) {
                throw VoradaError("Merge graph: pairs need two regions without neighbours yet");
            }
            ++extra[a + 1];
            ++extra[b + 1];
            total += 2;
        });
        if (pool.size() + total > no_list) {
            throw VoradaError("Merge graph: too many neighbour entries");
        }
        // Counts become the lists' starts, then their ends as the pairs are written.
        const std::size_t base = pool.size();
        for (std::size_t i = 1; i < extra.size(); ++i) {
            extra[i] += extra[i - 1];
        }
        pool.resize(base + total);
        for_each_pair([&](Label a, Label b) {
            pool[base + extra[a]++] = b;
            pool[base + extra[b]++] = a;
        });
        std::uint32_t start = 0;
        for (std::size_t i = 0; i < lists.size(); ++i) {
            if (extra[i] > start) {
                lists[i].start = static_cast<std::uint32_t>(base + start);
                lists[i].size = extra[i] - start;
            }
            start = extra[i];
        }
    }

    /// Merges the top-level regions a and b into `merged`, a label not used before, and
    /// returns its neighbours: the top-level regions adjacent to a or b, ascending. The result
    /// is valid until the next call.
    const std::vector<Label>& join(Label a, Label b, Label merged) {
        _check(a);
        _check(b);
        _check(merged);
        if (a == b || up[a] != a || up[b] != b || up[merged] != merged || lists[merged].size) {
            throw VoradaError("Merge graph: join needs two top-level regions and a new label");
        }
        up[a] = merged;
        up[b] = merged;
        // The entries' places in `up` are scattered: ask for all of them before following any.
        for (const Label label : {a, b}) {
            const Label* first = pool.data() + lists[label].start;
            for (std::uint32_t k = 0; k < lists[label].size; ++k) {
                if (first[k] < up.size()) {
                    __builtin_prefetch(&up[first[k]]);
                }
            }
        }
        joined.clear();
        _resolve_into(lists[a], merged);
        _resolve_into(lists[b], merged);
        std::sort(joined.begin(), joined.end());
        joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
        _drop(a);
        _drop(b);
        _store(merged, joined.data(), joined.size());
        return joined;
    }

    /// Hints that a and b will be joined soon: their lists are loaded meanwhile.
    void prefetch(Label a, Label b) const {
        for (const Label label : {a, b}) {
            if (label < lists.size() && lists[label].size) {
                const Label* first = pool.data() + lists[label].start;
                __builtin_prefetch(first);
                __builtin_prefetch(first + lists[label].size - 1);
            }
        }
    }

    /// The top-level region holding `label`.
    Label top(Label label) {
        _check(label);
        while (up[label] != label) {
            up[label] = up[up[label]];  // halve the path for later look-ups
            label = up[label];
        }
        return label;
    }

    /// The current neighbours of the top-level region `label`, ascending.
    std::vector<Label> neighbours(Label label) {
        _check(label);
        joined.clear();
        _resolve_into(lists[label], label);
        std::sort(joined.begin(), joined.end());
        joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
        return joined;
    }

    /// Frees everything.
    void clear() {
        std::vector<Label>().swap(up);
        std::vector<List>().swap(lists);
        std::vector<Label>().swap(pool);
        std::vector<Label>().swap(joined);
        garbage = 0;
    }

private:
    static constexpr std::size_t no_list = 0xFFFFFFFFu;
    struct List {
        std::uint32_t start = 0;
        std::uint32_t size = 0;
    };

    void _check(Label label) const {
        if (label >= up.size()) {
            throw VoradaError("Merge graph: region label out of range");
        }
    }
    void _resolve_into(const List& list, Label self) {
        const Label* labels = pool.data() + list.start;
        for (std::uint32_t k = 0; k < list.size; ++k) {
            const Label holder = top(labels[k]);
            if (holder != self) {
                joined.push_back(holder);
            }
        }
    }
    void _drop(Label label) {
        garbage += lists[label].size;
        lists[label] = List();
    }
    // Lists are appended to one pool; when more of it is dropped than kept, the kept lists
    // move to a new pool.
    void _store(Label label, const Label* neighbours, std::size_t count) {
        if (count == 0) {
            return;
        }
        if (garbage > pool.size() / 2 && garbage > compact_above) {
            _compact();
        }
        if (pool.size() + count > no_list) {
            throw VoradaError("Merge graph: too many neighbour entries");
        }
        lists[label].start = static_cast<std::uint32_t>(pool.size());
        lists[label].size = static_cast<std::uint32_t>(count);
        pool.insert(pool.end(), neighbours, neighbours + count);
    }
    void _compact() {
        std::vector<Label> kept;
        kept.reserve(pool.size() - garbage + pool.size() / 4);
        for (List& list : lists) {
            if (list.size) {
                const std::uint32_t start = static_cast<std::uint32_t>(kept.size());
                kept.insert(kept.end(), pool.begin() + list.start,
                            pool.begin() + list.start + list.size);
                list.start = start;
            }
        }
        pool.swap(kept);
        garbage = 0;
    }

    std::size_t compact_above;  ///< entries
    std::vector<Label> up;      ///< per label: itself when top-level, else a region above it
    std::vector<List> lists;    ///< per label: its entries in `pool`
    std::vector<Label> pool;    ///< the lists, one after another
    std::vector<Label> joined;  ///< result of join and neighbours
    std::size_t garbage = 0;    ///< entries of dropped lists still in `pool`
};

}  // namespace gma
}  // namespace vorada
