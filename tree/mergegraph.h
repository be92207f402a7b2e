#pragma once
// The adjacency of the regions while the tree merges them, by label. A merge would otherwise
// edit the list of every neighbour of the two merged regions, and those lists lie scattered in
// memory. Here a merge touches only the two lists it joins: a list keeps the labels its region
// met, and a label that has since been merged is read as the top-level region now holding it
// (a union–find over labels, whose array is small enough to stay in cache).

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "common/errors.h"

namespace vorada {
namespace gma {

/// Allocates each array as its own anonymous mapping, so that the array's owner may hand pages
/// of its spare capacity back to the system (MergeGraph's pool does).
template <typename T>
struct MappedAllocator {
    using value_type = T;
    MappedAllocator() = default;
    template <typename U>
    MappedAllocator(const MappedAllocator<U>&) {}
    T* allocate(std::size_t n) {
        if (n == 0) {
            return nullptr;
        }
        void* mapped = ::mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(mapped);
    }
    void deallocate(T* block, std::size_t n) noexcept {
        if (block) {
            ::munmap(block, n * sizeof(T));
        }
    }
    template <typename U>
    bool operator==(const MappedAllocator<U>&) const {
        return true;
    }
    template <typename U>
    bool operator!=(const MappedAllocator<U>&) const {
        return false;
    }
};

class MergeGraph {
  public:
    using Label = std::uint32_t;

    /// `compact_at`: the dropped entries at which the pool is compacted, at the least.
    explicit MergeGraph(std::size_t compact_at = std::size_t(1) << 20)
        : compact_above(compact_at) {}

    /// Room for labels 0 … capacity − 1, each its own top-level region with no neighbour.
    void reset(std::size_t capacity) {
        if (capacity >= no_list) {
            throw VoradaError("Merge graph: too many regions");
        }
        up.resize(capacity);
        for (std::size_t i = 0; i < capacity; ++i) {
            up[i] = static_cast<Label>(i);
        }
        list_at.assign(capacity, no_list);
        pool.clear();
        garbage = 0;
    }

    /// Makes the given pairs of top-level regions adjacent, each pair named once:
    /// `for_each_pair(visit)` calls `visit(a, b)` for every pair and must name the same pairs
    /// each time it is called (twice). For regions that have no neighbours yet.
    template <typename ForEachPair>
    void add_pairs(ForEachPair for_each_pair) {
        // Per label its count of pairs, then where its next entry goes.
        std::vector<std::uint32_t> next(list_at.size(), 0);
        std::size_t total = 0;
        for_each_pair([&](Label a, Label b) {
            _check(a);
            _check(b);
            if (a == b || list_at[a] != no_list || list_at[b] != no_list) {
                throw VoradaError("Merge graph: pairs need two regions without neighbours yet");
            }
            ++next[a];
            ++next[b];
            total += 2;
        });
        std::size_t end = pool.size();
        for (std::size_t i = 0; i < next.size(); ++i) {
            end += next[i] ? header + next[i] : 0;
        }
        if (end >= no_list) {
            throw VoradaError("Merge graph: too many neighbour entries");
        }
        std::size_t place = pool.size();
        // Room for the lists merges append until the first compaction (see _store).
        pool.reserve(end + end / 3 + 1024);
        pool.resize(end);
        for (std::size_t i = 0; i < next.size(); ++i) {
            if (next[i]) {
                list_at[i] = static_cast<std::uint32_t>(place);
                pool[place] = next[i];
                pool[place + 1] = static_cast<Label>(i);
                next[i] = static_cast<std::uint32_t>(place + header);
                place += header + pool[place];
            }
        }
        for_each_pair([&](Label a, Label b) {
            pool[next[a]++] = b;
            pool[next[b]++] = a;
        });
    }

    /// Merges the top-level regions a and b into `merged`, a label not used before, and
    /// returns its neighbours: the top-level regions adjacent to a or b, ascending. The result
    /// is valid until the next call.
    const std::vector<Label>& join(Label a, Label b, Label merged) {
        _check(a);
        _check(b);
        _check(merged);
        if (a == b || up[a] != a || up[b] != b || up[merged] != merged ||
            list_at[merged] != no_list) {
            throw VoradaError("Merge graph: join needs two top-level regions and a new label");
        }
        up[a] = merged;
        up[b] = merged;
        joined.clear();
        _resolve_into(a, merged);
        _resolve_into(b, merged);
        std::sort(joined.begin(), joined.end());
        joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
        _drop(a);
        _drop(b);
        _store(merged, joined.data(), joined.size());
        return joined;
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
        _resolve_into(label, label);
        std::sort(joined.begin(), joined.end());
        joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
        return joined;
    }

    /// For checks: the pool's entries and, of those, the entries of dropped lists.
    std::size_t pool_entries() const { return pool.size(); }
    std::size_t dropped_entries() const { return garbage; }
    /// For checks: whether `label` has a list, and where: its first entry in the pool and its
    /// length, size and owner included (0 when its place lies past the pool's end).
    bool list_place(Label label, std::size_t& first, std::size_t& length) const {
        if (label >= list_at.size() || list_at[label] == no_list) {
            return false;
        }
        first = list_at[label];
        length = first < pool.size() ? header + pool[first] : 0;
        return true;
    }

    /// Frees everything.
    void clear() {
        std::vector<Label>().swap(up);
        std::vector<std::uint32_t>().swap(list_at);
        Pool().swap(pool);
        std::vector<Label>().swap(joined);
        garbage = 0;
    }

  private:
    static constexpr std::uint32_t no_list = 0xFFFFFFFFu;
    static constexpr std::uint32_t header = 2;  ///< size and owner before a list's labels

    void _check(Label label) const {
        if (label >= up.size()) {
            throw VoradaError("Merge graph: region label out of range");
        }
    }
    // Appends the top-level regions of `label`'s entries, other than `self`, to `joined`.
    void _resolve_into(Label label, Label self) {
        if (list_at[label] == no_list) {
            return;
        }
        const std::uint32_t at = list_at[label];
        const std::uint32_t size = pool[at];
        for (std::uint32_t k = header; k < header + size; ++k) {
            const Label holder = top(pool[at + k]);
            if (holder != self) {
                joined.push_back(holder);
            }
        }
    }
    void _drop(Label label) {
        if (list_at[label] != no_list) {
            garbage += header + pool[list_at[label]];
            pool[list_at[label] + 1] = no_list;  // the list has no owner any more
            list_at[label] = no_list;
        }
    }
    // A list is its size and its owner followed by its labels; lists are appended to one pool,
    // and when a quarter of it is dropped, the kept lists move to its front, in place. The pool
    // thus stays within a third above its live lists, in memory it has used before: a new
    // pool at each compaction was memory the system handed out afresh, page by page.
    void _store(Label label, const Label* neighbours, std::size_t count) {
        if (count == 0) {
            return;
        }
        if (garbage > pool.size() / 4 && garbage > compact_above) {
            _compact();
        }
        if (pool.size() + header + count >= no_list) {
            throw VoradaError("Merge graph: too many neighbour entries");
        }
        list_at[label] = static_cast<std::uint32_t>(pool.size());
        pool.push_back(static_cast<std::uint32_t>(count));
        pool.push_back(label);
        pool.insert(pool.end(), neighbours, neighbours + count);
    }
    void _compact() {
        std::size_t kept = 0;
        for (std::size_t at = 0; at < pool.size();) {
            const std::size_t length = header + pool[at];
            const Label owner = pool[at + 1];
            if (owner != no_list) {
                std::copy(pool.begin() + static_cast<std::ptrdiff_t>(at),
                          pool.begin() + static_cast<std::ptrdiff_t>(at + length),
                          pool.begin() + static_cast<std::ptrdiff_t>(kept));
                list_at[owner] = static_cast<std::uint32_t>(kept);
                kept += length;
            }
            at += length;
        }
        pool.resize(kept);
        garbage = 0;
        _release_beyond(kept + kept / 3);
    }
    // Hands the pool's pages past `entries` (room it may not need again before the next
    // compaction: the live lists only shrink) back to the system, so that the pool's memory
    // follows its live lists down. The pool is a mapping of its own (MappedAllocator), and its
    // values are plain integers: a page given back reads as zeros until written again. Against
    // std::allocator without this release: peak −15 MiB (304 against 319 MiB) on alley_1_half
    // 0–9 with --png none, median of 5 paired runs.
    void _release_beyond(std::size_t entries) {
        const std::size_t page = 4096;
        const auto begin =
            reinterpret_cast<std::uintptr_t>(pool.data() + std::min(entries, pool.capacity()));
        const auto end = reinterpret_cast<std::uintptr_t>(pool.data() + pool.capacity());
        const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
        const std::uintptr_t last = end & ~(page - 1);
        if (first < last && last - first >= (std::uintptr_t(1) << 20)) {
            ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
        }
    }

    std::size_t compact_above;  ///< entries

    std::vector<Label> up;               ///< per label: itself when top-level, else a region above
    std::vector<std::uint32_t> list_at;  ///< per label: its list's place in `pool`, or no_list
    using Pool = std::vector<Label, MappedAllocator<Label>>;
    Pool pool;                  ///< the lists, one after another
    std::vector<Label> joined;  ///< result of join and neighbours
    std::size_t garbage = 0;    ///< entries of dropped lists still in `pool`
};

}  // namespace gma
}  // namespace vorada
