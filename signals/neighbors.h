#pragma once
// The region adjacency graph: one RegionDistanceLink per adjacent pair of regions, shared by the
// neighbour containers of both regions, and later held (intrusively) by the ordered link set.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <type_traits>

#include "common/errors.h"
#include "signals/compactvector.h"
#include "signals/linkpool.h"

namespace vorada {
namespace gma {

/// The link between two adjacent regions, carrying their merge distance. The first four fields
/// are the hook of the ordered link set (vorada::BST); the link is its own tree node.
template <typename RegionPointer>
struct RegionDistanceLink {
    RegionDistanceLink* avl_parent = nullptr;
    RegionDistanceLink* avl_left = nullptr;
    RegionDistanceLink* avl_right = nullptr;
    int avl_balance = 0;             ///< −1, 0 or +1
    /// How `distance` was obtained: `exact`, or a lower bound still to be replaced by the
    /// distance measured from `first` (`bound_from_first`) or from `second`.
    unsigned char distance_state = 0;
    static constexpr unsigned char exact = 0;
    static constexpr unsigned char bound_from_first = 1;
    static constexpr unsigned char bound_from_second = 2;
    RegionPointer first = nullptr;   ///< the region whose container created the link
    RegionPointer second = nullptr;  ///< the other region
    double distance = 0.0;           ///< merge distance; 0 until the tree computes it

    /// Strict total order of the link set: distance, then the label of `first`, then of
    /// `second`. Ties go to the lower labels so every run merges in the same order.
    struct compare_distance_function {
        bool operator()(const RegionDistanceLink& a, const RegionDistanceLink& b) const {
            if (a.distance < b.distance) {
                return true;
            }
            if (b.distance < a.distance) {
                return false;
            }
            if (a.first != b.first) {
                return region_precedes(a.first, b.first);
            }
            return region_precedes(a.second, b.second);
        }
        /// The same order for links given by distance and the labels of first and second
        /// (the keys of the tree's merge queue).
        static bool precedes(double distance_a, std::uint64_t first_a, std::uint64_t second_a,
                             double distance_b, std::uint64_t first_b, std::uint64_t second_b) {
            if (distance_a < distance_b) {
                return true;
            }
            if (distance_b < distance_a) {
                return false;
            }
            if (first_a != first_b) {
                return first_a < first_b;
            }
            return second_a < second_b;
        }
        bool operator()(const RegionDistanceLink* a, const RegionDistanceLink* b) const {
            return (*this)(*a, *b);
        }

      private:
        // Store position equals label; the address only separates regions that share a label
        // outside any store (hand-made test regions).
        static bool region_precedes(RegionPointer a, RegionPointer b) {
            if (a->label != b->label) {
                return a->label < b->label;
            }
            return std::less<RegionPointer>()(a, b);
        }
    };

    /// In a partition whose links carry no objects (HierarchicalRepresentation::detach_links),
    /// the entry held by a link's `first` region points here and the other entry is null.
    static RegionDistanceLink* made_here() {
        static RegionDistanceLink marker;
        return &marker;
    }

    // Links come from a pool: a run creates and destroys millions of them. Sanitizer builds use
    // the plain heap so that use-after-free and leaks of single links stay visible.
#if !defined(__SANITIZE_ADDRESS__)
  private:
    // Never destroyed, so links released by objects with static storage still find it; it
    // hands its chunks back to the heap whenever the last link is gone.
    static auto& pool() {
        // One cache line per link: the link set reads a link's tree pointers and its distance
        // together at every step of a search.
        using Pool = FixedSizePool<sizeof(RegionDistanceLink), 64>;
        static Pool* instance = new Pool;
        return *instance;
    }

  public:
    static void* operator new(std::size_t size) {
        if (size != sizeof(RegionDistanceLink)) {
            return ::operator new(size);
        }
        return pool().allocate();
    }
    static void operator delete(void* block, std::size_t size) noexcept {
        if (size != sizeof(RegionDistanceLink)) {
            ::operator delete(block);
            return;
        }
        pool().release(block);
    }
#endif
};

/// One entry of a neighbour container: the neighbour region and the link shared with it.
template <typename RegionPointer, typename Link>
struct NeighborEntry {
    RegionPointer first;  ///< the neighbour
    Link* second;         ///< the shared link
};

/// The neighbours of one region, ordered by address (the order of the region store and of
/// labels), each with the link shared with it. Both regions of a pair record the same link.
template <typename RegionPointer, typename Link>
class RegionNeighborContainer {
  public:
    using Entry = NeighborEntry<RegionPointer, Link>;
    using ConstRegionPointer = const typename std::remove_pointer<RegionPointer>::type*;
    using iterator = Entry*;
    using const_iterator = const Entry*;

    CompactVector<Entry> links;  ///< sorted by neighbour address

    RegionNeighborContainer() = default;
    /// A container with the same entries (for the copy of a region).
    RegionNeighborContainer(const RegionNeighborContainer& other) : links(other.links) {}
    RegionNeighborContainer& operator=(const RegionNeighborContainer&) = delete;

    /// The region holding this container: found from the container's own address, so that
    /// the millions of regions of a run do not each store a pointer to themselves.
    RegionPointer owner() const { return std::remove_pointer<RegionPointer>::type::holding(this); }

    /// Records `neighbor`; returns the link stored for it. An existing entry wins and `link` is
    /// ignored; a null `link` makes a new one (first = owner, second = neighbor, distance 0),
    /// which the neighbour records as well.
    Link* neighbors_insert(RegionPointer neighbor, Link* link) {
        if (neighbor == owner()) {
            throw VoradaError("Region neighbours: a region cannot be its own neighbour");
        }
        Entry* position = lower_bound(neighbor);
        if (position != links.end() && position->first == neighbor) {
            return position->second;
        }
        if (link) {
            links.insert(position, Entry{neighbor, link});
            return link;
        }
        Link* created = new Link;
        created->first = owner();
        created->second = neighbor;
        links.insert(position, Entry{neighbor, created});
        neighbor->neighbors.neighbors_insert(owner(), created);
        return created;
    }

    /// Forgets `neighbor`. With `delete_link` the shared link is destroyed and the neighbour's
    /// entry for the owner removed too; without it only the owner's entry goes.
    void neighbors_erase(RegionPointer neighbor, bool delete_link) {
        Entry* position = find_entry(neighbor);
        if (!position) {
            return;
        }
        Link* link = position->second;
        links.erase(position);
        if (delete_link) {
            neighbor->neighbors.neighbors_erase(owner(), false);
            if (link != Link::made_here()) {
                delete link;
            }
        }
    }

    /// The link shared with `neighbor`, or null (also while links carry no objects).
    Link* find(ConstRegionPointer neighbor) const {
        const Entry* position = find_entry(neighbor);
        return position && position->second != Link::made_here() ? position->second : nullptr;
    }
    /// True when `neighbor` is recorded.
    bool contains(ConstRegionPointer neighbor) const { return find_entry(neighbor) != nullptr; }

    /// Records `neighbor` without a link object, the owner as the link's first, unless it is
    /// recorded already; the neighbour records the owner too.
    void insert_without_link(RegionPointer neighbor) {
        if (neighbor == owner()) {
            throw VoradaError("Region neighbours: a region cannot be its own neighbour");
        }
        Entry* position = lower_bound(neighbor);
        if (position != links.end() && position->first == neighbor) {
            return;
        }
        links.insert(position, Entry{neighbor, Link::made_here()});
        neighbor->neighbors.insert_absent(owner(), nullptr);
    }

    /// True when the owner is the `first` region of the link recorded in `entry`.
    bool owner_is_first(const Entry& entry) const {
        return entry.second == Link::made_here() || (entry.second && entry.second->first == owner());
    }

    /// Records an entry for a neighbour known to be absent. A neighbour beyond every recorded
    /// one (a region just appended to the store) costs constant time.
    void insert_absent(RegionPointer neighbor, Link* link) {
        if (links.empty() || std::less<RegionPointer>()(links.back().first, neighbor)) {
            links.push_back(Entry{neighbor, link});
            return;
        }
        links.insert(lower_bound(neighbor), Entry{neighbor, link});
    }

    /// Removes the entries for `first_gone` and `second_gone` (either may be absent) and records
    /// `newest`, a region placed after every recorded one, with `link`: the update a neighbour
    /// of two merged regions needs, in one pass over the entries.
    void replace_by_newest(ConstRegionPointer first_gone, ConstRegionPointer second_gone,
                           RegionPointer newest, Link* link) {
        std::less<ConstRegionPointer> before;
        Entry* kept = lower_bound(before(first_gone, second_gone) ? first_gone : second_gone);
        for (Entry* entry = kept; entry != links.end(); ++entry) {
            if (entry->first != first_gone && entry->first != second_gone) {
                *kept++ = *entry;
            }
        }
        links.truncate(static_cast<std::size_t>(kept - links.begin()));
        insert_absent(newest, link);
    }

    /// Destroys every link of this container and removes the partner entries that hold the
    /// same link; used when the regions themselves go away.
    void release_links() {
        for (Entry& entry : links) {
            auto& partner = entry.first->neighbors;
            Entry* reverse = partner.find_entry(owner());
            if (reverse && reverse->second == entry.second) {
                partner.links.erase(reverse);
            }
            if (entry.second != Link::made_here()) {
                delete entry.second;
            }
        }
        links.release();
    }

    iterator begin() { return links.begin(); }
    iterator end() { return links.end(); }
    const_iterator begin() const { return links.begin(); }
    const_iterator end() const { return links.end(); }
    std::size_t size() const { return links.size(); }
    bool empty() const { return links.empty(); }

    /// The entry for `neighbor`, or null.
    Entry* find_entry(ConstRegionPointer neighbor) const {
        Entry* position = const_cast<RegionNeighborContainer*>(this)->lower_bound(neighbor);
        if (position != links.end() && position->first == neighbor) {
            return position;
        }
        return nullptr;
    }

  private:
    Entry* lower_bound(ConstRegionPointer neighbor) {
        return std::lower_bound(links.begin(), links.end(), neighbor,
                                [](const Entry& entry, ConstRegionPointer key) {
                                    return std::less<ConstRegionPointer>()(entry.first, key);
                                });
    }
};

}  // namespace gma
}  // namespace vorada
