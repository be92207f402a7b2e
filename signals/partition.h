#pragma once
// The region partition: the store of all regions (leaves first, then merged regions in merge
// order), the label volumes, the spatial adjacency built from a label volume, and the merge of
// two regions into a parent.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "signals/connectivity.h"
#include "signals/labelindexmap.h"
#include "signals/raster.h"
#include "signals/region.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// Holds the region store and the label volumes and performs merges.
///
/// `current_labels` is brought up to date lazily: a merge only records the tree (parent links)
/// and whether it was asked to write labels; refresh_current_labels() then rewrites the volume
/// in one pass. Readers call refresh_current_labels() before looking at `current_labels`.
template <typename LabelSignal, typename Region>
class HierarchicalRepresentation {
  public:
    using region_type = Region;
    using SpaceRegionType =
        typename std::remove_pointer<decltype(std::declval<Region&>().neighbors.owner())>::type;
    using Link = typename SpaceRegionType::Link;

    unsigned long long max_index = 0;  ///< highest region index in use
    std::vector<Region> regions;       ///< position i holds the region labelled i; never moves
    LabelSignal leaf_labels;           ///< leaf index of every voxel
    LabelSignal current_labels;        ///< label of the top-level region of every voxel (lazy)
    bool update_labels = false;        ///< whether merges rewrite current_labels

    HierarchicalRepresentation() = default;
    HierarchicalRepresentation(const HierarchicalRepresentation&) = delete;
    HierarchicalRepresentation& operator=(const HierarchicalRepresentation&) = delete;
    /// Destroys the regions and releases every link still alive.
    virtual ~HierarchicalRepresentation() { _release_regions(); }

    /// Merges the top-level regions a and b into a new region at store position `index` (the
    /// next free one) with children a then b, moves their adjacency to it and returns it.
    Region* merge_units(Region& a, Region& b, unsigned long long index) {
        if (index != regions.size() || regions.size() >= regions.capacity()) {
            throw VoradaError("Index of region out of bounds");
        }
        if (&a == &b || !_in_store(a) || !_in_store(b) || a.parent || b.parent) {
            throw VoradaError(
                "Partition: merge_units needs two distinct top-level regions of the partition");
        }
        max_index = std::max(max_index, index);
        regions.emplace_back(index);
        merge_wrote_labels.push_back(update_labels ? 1 : 0);
        Region& merged = regions.back();
        merged._init(&a, &b);
        merged.first_frame = std::min(a.first_frame, b.first_frame);
        merged.last_frame = std::max(a.last_frame, b.last_frame);
        _join_neighbors(a, b, merged);
        _dissolve_links(a, b);
        if (update_labels) {
            labels_stale = true;
        }
        return &merged;
    }

    /// Writes into current_labels, for every voxel, the label of the last region holding it
    /// whose merge was made with update_labels set (the leaf index when there is none).
    void refresh_current_labels() {
        if (!labels_stale) {
            return;
        }
        // Labels fit 32 bits (see SpaceRegion), so 32-bit entries below the all-ones value do.
        constexpr std::uint32_t none = UINT32_MAX;
        const std::size_t count = regions.size();
        if (count > none) {
            throw VoradaError("Partition: too many regions to label");
        }
        // Kept between calls: a fresh array each level would be mapped and faulted in anew.
        std::vector<std::uint32_t>& label_of = label_scratch;
        label_of.reserve(regions.capacity());
        label_of.assign(count, none);
        // Parents sit above their children in the store, so one downward sweep suffices.
        for (std::size_t i = count; i-- > 0;) {
            const Region& region = regions[i];
            std::uint32_t inherited = none;
            if (region.parent) {
                // The parent's label is its store position: no visit to the parent needed.
                inherited = label_of[static_cast<std::size_t>(
                    static_cast<const Region*>(region.parent) - regions.data())];
            }
            label_of[i] = inherited != none
                              ? inherited
                              : (merge_wrote_labels[i] ? static_cast<std::uint32_t>(i) : none);
        }
        const auto& leaves = leaf_labels.values;
        auto& current = current_labels.values;
        for (std::size_t v = 0; v < leaves.size(); ++v) {
            const unsigned long long leaf = leaves[v];
            if (leaf >= count) {
                throw VoradaError("Partition: region index not found.");
            }
            current[v] = label_of[static_cast<std::size_t>(leaf)] != none
                             ? label_of[static_cast<std::size_t>(leaf)]
                             : leaf;
        }
        labels_stale = false;
    }

    /// True when current_labels already shows every merge (no refresh needed).
    bool current_labels_fresh() const { return !labels_stale; }

    /// Destroys every link object and makes the partition keep none from now on (until
    /// reattach_links): the neighbour entries stay, the one of a link's first region marked
    /// (Link::made_here()), the other null, and merges and init make entries alone. For a merge
    /// loop that keeps each link's distance itself; on an empty partition, init then builds the
    /// adjacency without any link object.
    void detach_links() {
        // The second region's entry lets go first, so that each link is then held by one entry.
        for (Region& region : regions) {
            for (auto& entry : region.neighbors) {
                if (!region.neighbors.owner_is_first(entry)) {
                    entry.second = nullptr;
                }
            }
        }
        for (Region& region : regions) {
            for (auto& entry : region.neighbors) {
                if (entry.second && entry.second != Link::made_here()) {
                    delete entry.second;
                    entry.second = Link::made_here();
                }
            }
        }
        links_detached = true;
    }

    /// Records that `a` and `b` are adjacent, `a` as the link's first, unless they already are;
    /// makes the link object unless links are detached.
    void add_adjacency(Region& a, Region& b) {
        if (links_detached) {
            a.neighbors.insert_without_link(&b);
        } else {
            a.neighbors.neighbors_insert(&b, nullptr);
        }
    }

    /// After detach_links: makes a link object again (first, second, distance 0) for each given
    /// adjacent pair, in order, and returns them; merges make link objects again from now on.
    std::vector<Link*> reattach_links(const std::vector<std::pair<Region*, Region*>>& pairs) {
        std::vector<Link*> made;
        made.reserve(pairs.size());
        for (const auto& pair : pairs) {
            SpaceRegionType* first = pair.first;
            SpaceRegionType* second = pair.second;
            auto* forward = first->neighbors.find_entry(second);
            auto* backward = second->neighbors.find_entry(first);
            auto holds_link = [](const Link* link) { return link && link != Link::made_here(); };
            if (!forward || !backward || holds_link(forward->second) ||
                holds_link(backward->second)) {
                throw VoradaError("Partition: a link can only be made again for adjacent regions");
            }
            Link* link = new Link;
            link->first = first;
            link->second = second;
            forward->second = link;
            backward->second = link;
            made.push_back(link);
        }
        links_detached = false;
        return made;
    }

    /// After detach_links: forgets every neighbour entry, for a merge loop that keeps the
    /// adjacency itself (merges then join no lists); add_adjacency records pairs again.
    void forget_adjacency() {
        if (!links_detached) {
            throw VoradaError("Partition: the adjacency can only be forgotten without link objects");
        }
        for (Region& region : regions) {
            region.neighbors.links.release();
        }
    }

    /// True between detach_links and reattach_links.
    bool links_are_detached() const { return links_detached; }

    /// The store that init fills with every voxel, grouped by leaf: the leaves' point lists
    /// refer into it.
    const std::vector<typename Region::value_type>& point_store() const { return points; }

  protected:
    /// Releases all links and regions and empties the coordinate store.
    void _release_regions() {
        for (Region& region : regions) {
            region.neighbors.release_links();
        }
        std::vector<Region>().swap(regions);
        std::vector<StoredPointType>().swap(points);
        std::vector<unsigned char>().swap(merge_wrote_labels);
        labels_stale = false;
    }

    bool _in_store(const Region& region) const {
        std::less<const Region*> before;
        return !before(&region, regions.data()) && before(&region, regions.data() + regions.size());
    }

    // The new region's neighbours are the union of the children's minus the children, each with
    // a new link (first = merged, second = neighbour). Walking both sorted lists together keeps
    // the cost linear; the merged region is the last in the store, so every neighbour appends it.
    void _join_neighbors(Region& a, Region& b, Region& merged) {
        SpaceRegionType* first_child = &a;
        SpaceRegionType* second_child = &b;
        SpaceRegionType* parent = &merged;
        std::less<SpaceRegionType*> before;
        auto ia = a.neighbors.begin();
        auto ib = b.neighbors.begin();
        const auto ea = a.neighbors.end();
        const auto eb = b.neighbors.end();
        // Gathered first, so that the merged region's list is given exactly its size.
        joined.clear();
        while (ia != ea || ib != eb) {
            SpaceRegionType* neighbor;
            if (ib == eb || (ia != ea && before(ia->first, ib->first))) {
                neighbor = (ia++)->first;
            } else if (ia == ea || before(ib->first, ia->first)) {
                neighbor = (ib++)->first;
            } else {
                neighbor = ia->first;
                ++ia;
                ++ib;
            }
            if (neighbor == first_child || neighbor == second_child) {
                continue;
            }
            Link* link = nullptr;
            if (!links_detached) {
                link = new Link;
                link->first = parent;
                link->second = neighbor;
            }
            joined.push_back({neighbor, links_detached ? Link::made_here() : link});
        }
        merged.neighbors.links.reserve(joined.size());
        for (const auto& entry : joined) {
            merged.neighbors.links.push_back(entry);
        }
        // Every neighbour's list changes, and the lists lie scattered in memory: loading them
        // all before the edits lets the loads overlap instead of waiting one after another.
        for (const auto& entry : merged.neighbors) {
            __builtin_prefetch(entry.first->neighbors.links.begin());
        }
        for (const auto& entry : merged.neighbors) {
            // One pass over the neighbour's list: its entries for the children go, the
            // parent's comes in.
            entry.first->neighbors.replace_by_newest(first_child, second_child, parent,
                                                     links_detached ? nullptr : entry.second);
        }
    }

    // Destroys the children's links (the one between them once); the neighbours' entries for
    // the children are gone already (_join_neighbors).
    void _dissolve_links(Region& a, Region& b) {
        SpaceRegionType* first_child = &a;
        auto release = [](Link* link) {
            if (link != Link::made_here()) {
                delete link;
            }
        };
        for (auto& entry : a.neighbors) {
            release(entry.second);
        }
        for (auto& entry : b.neighbors) {
            if (entry.first != first_child) {
                release(entry.second);
            }
        }
        a.neighbors.links.release();
        b.neighbors.links.release();
    }

    using StoredPointType = typename Region::value_type;
    std::vector<StoredPointType> points;            ///< all voxel coordinates, grouped by leaf
    std::vector<unsigned char> merge_wrote_labels;  ///< per region: its merge wrote labels
    std::vector<typename SpaceRegionType::NeighborContainer::Entry> joined;  ///< merge scratch
    std::vector<std::uint32_t> label_scratch;  ///< refresh_current_labels' scratch
    bool labels_stale = false;
    bool links_detached = false;  ///< neighbour entries carry no link objects
};

/// The partition of a label volume into leaf regions with in-frame adjacency.
template <typename Region, ConnectivityType Connectivity>
class HierarchicalRegionPartition
    : public HierarchicalRepresentation<SpacePartition<unsigned long long, 3>, Region> {
    static_assert(Connectivity == IN_FRAME_4, "only the in-frame 4-neighbourhood is provided");
    using Base = HierarchicalRepresentation<SpacePartition<unsigned long long, 3>, Region>;

  public:
    LabelIndexMap label_map;  ///< tracker label → leaf index

    /// Builds one leaf per distinct label (numbered by first appearance in raster order), their
    /// point lists and the links between leaves that touch within a frame.
    void init(SpacePartition<unsigned long long, 3>& labels) {
        this->_release_regions();
        label_map.clear();
        this->max_index = 0;
        this->leaf_labels = labels;
        _relabel();
        this->current_labels = this->leaf_labels;
        const std::size_t leaves = label_map.size();
        this->max_index = leaves ? leaves - 1 : 0;
        this->regions.reserve(leaves ? 2 * leaves - 1 : 0);
        this->merge_wrote_labels.reserve(leaves ? 2 * leaves - 1 : 0);
        this->merge_wrote_labels.assign(leaves, 0);
        for (std::size_t i = 0; i < leaves; ++i) {
            this->regions.emplace_back(i);
        }
        _fill_leaves();
        _link_adjacent_leaves();
    }

  private:
    void _relabel() {
        auto& values = this->leaf_labels.values;
        label_map.reserve_dense(dense_label_bound(values));
        unsigned long long next_index = 0;
        for (unsigned long long& value : values) {
            unsigned long long index = label_map.find(value);
            if (index == LabelIndexMap::absent) {
                index = next_index++;
                label_map.insert(value, index);
            }
            value = index;
        }
    }

    // Counting sort of the voxels by leaf into the shared store; each leaf's range keeps
    // raster order, so its first voxel lies in its first frame and its last in its last.
    void _fill_leaves() {
        const auto& values = this->leaf_labels.values;
        auto& store = this->regions;
        std::vector<std::size_t> start(store.size() + 1, 0);
        for (unsigned long long index : values) {
            ++start[static_cast<std::size_t>(index) + 1];
        }
        for (std::size_t i = 1; i < start.size(); ++i) {
            start[i] += start[i - 1];
        }
        this->points.resize(values.size());
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        std::size_t v = 0;
        for_each_point(this->leaf_labels, [&](long long x, long long y, long long t) {
            this->points[next[static_cast<std::size_t>(values[v++])]++] =
                to_stored<typename Base::StoredPointType>(Coordinate(x, y, t));
        });
        for (std::size_t i = 0; i < store.size(); ++i) {
            const std::size_t n = start[i + 1] - start[i];
            store[i].assign_shared(this->points.data() + start[i], n);
            if (n) {
                store[i].first_frame =
                    static_cast<std::int32_t>(as_coordinate(this->points[start[i]])(2));
                store[i].last_frame =
                    static_cast<std::int32_t>(as_coordinate(this->points[start[i + 1] - 1])(2));
            }
        }
    }

    // Each in-frame voxel pair is looked at once, through the offsets (+1,0,0) then (0,+1,0);
    // a pair's link is made at its first meeting, by the region of the earlier voxel.
    void _link_adjacent_leaves() {
        const auto& labels = this->leaf_labels;
        const auto& values = labels.values;
        auto& store = this->regions;
        const long long row = labels.strides(1);
        std::size_t v = 0;
        for_each_point(labels, [&](long long x, long long y, long long) {
            const std::size_t a = static_cast<std::size_t>(values[v]);
            if (x + 1 <= labels.upper(0)) {
                const std::size_t b = static_cast<std::size_t>(values[v + 1]);
                if (a != b) {
                    this->add_adjacency(store[a], store[b]);
                }
            }
            if (y + 1 <= labels.upper(1)) {
                const std::size_t b = static_cast<std::size_t>(values[v + row]);
                if (a != b) {
                    this->add_adjacency(store[a], store[b]);
                }
            }
            ++v;
        });
    }
};

}  // namespace gma
}  // namespace vorada
