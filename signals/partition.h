#pragma once
// The region partition: the store of all regions (leaves first, then merged regions in merge
// order), the label volumes, the pairs of adjacent leaves met in a label volume, and the merge
// of two regions into a parent. Adjacency while merging is the tree's merge graph.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/errors.h"
#include "signals/connectivity.h"
#include "signals/labelindexmap.h"
#include "signals/leafpairs.h"
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

    unsigned long long max_index = 0;  ///< highest region index in use
    std::vector<Region> regions;       ///< position i holds the region labelled i; never moves
    LabelSignal leaf_labels;           ///< leaf index of every voxel
    LabelSignal current_labels;        ///< label of the top-level region of every voxel (lazy)
    bool update_labels = false;        ///< whether merges rewrite current_labels
    LeafPairs leaf_pairs;              ///< adjacent leaves, until the tree takes them

    HierarchicalRepresentation() = default;
    HierarchicalRepresentation(const HierarchicalRepresentation&) = delete;
    HierarchicalRepresentation& operator=(const HierarchicalRepresentation&) = delete;
    virtual ~HierarchicalRepresentation() = default;

    /// Merges the top-level regions a and b into a new region at store position `index` (the
    /// next free one) with children a then b and returns it.
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

    /// Records that the leaves `a` and `b` are adjacent, met from `a` (see LeafPairs).
    void add_adjacency(const Region& a, const Region& b) { leaf_pairs.add(a.label, b.label); }

    /// The store that init fills with every voxel, grouped by leaf: the leaves' point lists
    /// refer into it.
    const std::vector<typename Region::value_type>& point_store() const { return points; }

  protected:
    /// Releases all regions, pairs and the coordinate store.
    void _release_regions() {
        std::vector<Region>().swap(regions);
        leaf_pairs.clear();
        std::vector<StoredPointType>().swap(points);
        std::vector<unsigned char>().swap(merge_wrote_labels);
        labels_stale = false;
    }

    bool _in_store(const Region& region) const {
        std::less<const Region*> before;
        return !before(&region, regions.data()) && before(&region, regions.data() + regions.size());
    }

    using StoredPointType = typename Region::value_type;
    std::vector<StoredPointType> points;            ///< all voxel coordinates, grouped by leaf
    std::vector<unsigned char> merge_wrote_labels;  ///< per region: its merge wrote labels
    std::vector<std::uint32_t> label_scratch;       ///< refresh_current_labels' scratch
    bool labels_stale = false;
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
    /// point lists and the pairs of leaves that touch within a frame.
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
        _pair_adjacent_leaves();
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
    // a pair is met from the region of the earlier voxel.
    void _pair_adjacent_leaves() {
        const auto& labels = this->leaf_labels;
        const auto& values = labels.values;
        auto& pairs = this->leaf_pairs;
        const long long row = labels.strides(1);
        std::size_t v = 0;
        // Leaf indices are below the number of leaves, which init keeps within 32 bits.
        for_each_point(labels, [&](long long x, long long y, long long) {
            const auto a = static_cast<std::uint32_t>(values[v]);
            if (x + 1 <= labels.upper(0)) {
                const auto b = static_cast<std::uint32_t>(values[v + 1]);
                if (a != b) {
                    pairs.add(a, b);
                }
            }
            if (y + 1 <= labels.upper(1)) {
                const auto b =
                    static_cast<std::uint32_t>(values[v + static_cast<std::size_t>(row)]);
                if (a != b) {
                    pairs.add(a, b);
                }
            }
            ++v;
        });
    }
};

}  // namespace gma
}  // namespace vorada
