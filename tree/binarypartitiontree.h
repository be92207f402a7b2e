#pragma once
// The binary partition tree: starting from the leaf regions of the partition, repeatedly merge
// the adjacent pair whose link has the smallest motion–colour distance, reporting every merge and
// the configured levels on the way. The tree writes no files: its caller does, from the reports.

#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <algorithm>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "descriptors/descriptormanager.h"
#include "distance/colorspaceconverter.h"
#include "signals/bst.h"
#include "signals/connectivity.h"
#include "signals/partition.h"
#include "signals/raster.h"

namespace vorada {
namespace gma {

/// Whether a distance model offers region_distance_bound, a cheap lower bound of its
/// region_distance that lets the tree put off measuring links.
template <typename Model, typename Region, typename Signal, typename Partition, typename = void>
struct has_distance_bound : std::false_type {};
template <typename Model, typename Region, typename Signal, typename Partition>
struct has_distance_bound<Model, Region, Signal, Partition,
                          std::void_t<decltype(std::declval<Model&>().region_distance_bound(
                              std::declval<Region&>(), std::declval<Region&>(),
                              std::declval<Signal&>(), std::declval<Partition&>(),
                              std::declval<DescriptorManager&>()))>> : std::true_type {};

/// Whether a distance model can give bounds by label for regions it remembers. Such a model
/// also takes the hints prefetch_remembered(label) and prefetch_summary(label).
template <typename Model, typename = void>
struct has_remembered_bound : std::false_type {};
template <typename Model>
struct has_remembered_bound<Model, std::void_t<decltype(std::declval<const Model&>()
                                                            .remembered_distance_bound(0ull, 0ull))>>
    : std::true_type {};

template <typename Signal, typename Region, ConnectivityType Connectivity>
class BinaryPartitionTree {
public:
    using Partition = HierarchicalRegionPartition<Region, Connectivity>;
    using Link = typename Partition::Link;
    using LinkSet = BST<Link, typename Link::compare_distance_function>;

    struct Parameters {
        bool verbose = false;                            ///< start and progress lines
        bool update_labels = false;                      ///< merges rewrite current_labels
        unsigned long long min_regions = 1;              ///< merge while level > min_regions
        double progress_step = 0.1;                      ///< fraction of merges per progress line
        std::vector<unsigned long long> output_levels;   ///< decreasing levels to report
    };

    /// One merge: the new region, its two children (in the order they were joined), the
    /// distance of their link and the number of regions present after it.
    struct Merge {
        unsigned long long label;
        unsigned long long first;
        unsigned long long second;
        double distance;
        unsigned long long regions;
    };

    /// What create reports while it merges; an empty function is not called.
    struct Reports {
        /// After every merge, in merge order.
        std::function<void(const Merge&)> merged;
        /// After a merge that reaches an entry of output_levels, with the level; the
        /// partition's current_labels then show the regions present.
        std::function<void(unsigned long long level)> level_reached;
    };

    Parameters parameters;
    Reports reports;
    unsigned long long level = 0;       ///< one less than the number of regions present
    unsigned long long last_index = 0;  ///< highest region index in use
    LinkSet link_set;  ///< after create: every link between the remaining regions, measured
    DescriptorManager descriptor_manager;
    Partition partition;

    explicit BinaryPartitionTree(const Parameters& tree_parameters) : parameters(tree_parameters) {}
    BinaryPartitionTree(const BinaryPartitionTree&) = delete;
    BinaryPartitionTree& operator=(const BinaryPartitionTree&) = delete;

    /// Makes one leaf per label of `labels` and sets the counters for merging from there:
    /// level and last_index to the highest leaf index, room for every region the merges create.
    template <typename LabelSignal>
    void init(LabelSignal& labels);

    /// Builds the tree over the partition with the distance model `Model`, printing the start
    /// and progress lines when verbose and reporting merges and levels through `reports`.
    template <typename Model>
    void create(Signal& video, const typename Model::Parameters& model_parameters);

    /// An RGB copy of `video` with every voxel of a region spanning at least three frames red.
    Signal paint_trajectories(const Signal& video);

private:
    // While merging, links are queued by key (distance, first label, second label) rather than
    // kept in the link set. Keys below `queued_below` wait in `front`, a binary heap of
    // compact entries whose top is therefore the smallest key of all; every other key waits
    // in `deferred`, unsorted, and moves to the front in batches when it runs empty. Entries
    // of merged regions are not searched out: they are dropped when they come up. At the end
    // the live links go into the link set.
    struct QueuedLink {
        double distance;
        std::uint32_t first;  // labels; a run holds far fewer than 2^32 regions
        std::uint32_t second;
        bool operator<(const QueuedLink& other) const {
            if (distance != other.distance) {
                return distance < other.distance;
            }
            if (first != other.first) {
                return first < other.first;
            }
            return second < other.second;
        }
    };
    // Heap order: the smallest key on top. A function object, so the heap operations inline it.
    struct After {
        bool operator()(const QueuedLink& a, const QueuedLink& b) const { return b < a; }
    };
    static constexpr std::size_t front_batch = 65536;

    std::vector<QueuedLink> front;
    std::vector<QueuedLink> deferred;
    QueuedLink queued_below{-std::numeric_limits<double>::infinity(), 0, 0};
    bool everything_in_front = false;
    std::vector<unsigned char> top_level;  ///< per label: region present, not yet merged

    Region& _region(typename Region::SpaceRegionType* region) { return static_cast<Region&>(*region); }
    // Store position is the label: a region's label without a visit to the region.
    std::uint32_t _label_at(const typename Region::SpaceRegionType* region) const {
        return static_cast<std::uint32_t>(static_cast<const Region*>(region) -
                                          partition.regions.data());
    }
    void _queue(Link* link);
    void _queue_key(const QueuedLink& key);
    template <typename Model>
    Link* _smallest_link(Model& model, Signal& video);
    template <typename Model>
    void _measure(Model& model, Link* link, Signal& video);
    void _refill_front(std::size_t batch);
    bool _live(const QueuedLink& entry) const { return top_level[entry.first] && top_level[entry.second]; }
    Link* _link(const QueuedLink& entry);
    template <typename Model>
    void _fill_link_set(Model& model, Signal& video);
    template <typename Model>
    void _set_distances(Model& model, Region& region, bool from_higher_label_only, Signal& video);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename LabelSignal>
void BinaryPartitionTree<Signal, Region, Connectivity>::init(LabelSignal& labels) {
    partition.init(labels);
    partition.update_labels = parameters.update_labels;
    const unsigned long long highest = partition.max_index;
    level = highest;
    last_index = highest;
    descriptor_manager.capacity = 2 * highest + 1;
}

template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::create(
    Signal& video, const typename Model::Parameters& model_parameters) {
    if (partition.regions.capacity() > std::numeric_limits<std::uint32_t>::max()) {
        throw VoradaError("Binary partition tree: too many regions for one run");
    }
    auto model = std::make_unique<Model>(model_parameters);
    const unsigned long long total = level - parameters.min_regions;
    const double step = static_cast<double>(total) * parameters.progress_step;
    unsigned long long done = 0;
    unsigned long long since = 0;

    if (parameters.verbose) {
        std::cerr << "Starting from " << partition.max_index + 1 << " regions " << std::endl;
    }

    top_level.assign(std::max(partition.regions.capacity(), partition.regions.size()), 0);
    for (const Region& region : partition.regions) {
        top_level[static_cast<std::size_t>(region.label)] = region.parent ? 0 : 1;
    }
    // Every link is measured once, from its higher-labelled end.
    for (Region& region : partition.regions) {
        _set_distances(*model, region, true, video);
    }

    std::size_t next_output = 0;
    while (level > parameters.min_regions) {
        Link* closest = _smallest_link(*model, video);
        if (!closest) {
            break;
        }
        Region& a = _region(closest->first);
        Region& b = _region(closest->second);
        const double merge_distance = closest->distance;
        ++last_index;
        Region& merged = *partition.merge_units(a, b, last_index);
        // The queued entries of a's and b's links go stale with this.
        top_level[static_cast<std::size_t>(a.label)] = 0;
        top_level[static_cast<std::size_t>(b.label)] = 0;
        if (merged.label >= top_level.size()) {
            top_level.resize(static_cast<std::size_t>(merged.label) + 1, 0);
        }
        top_level[static_cast<std::size_t>(merged.label)] = 1;
        // The children's descriptors are never asked for again once the parent has its own
        // (which are combined from them), so they are released to bound memory.
        model->prepare_descriptors(merged, video, descriptor_manager);
        descriptor_manager.release(a.label);
        descriptor_manager.release(b.label);
        _set_distances(*model, merged, false, video);
        --level;
        if (reports.merged) {
            reports.merged(Merge{merged.label, a.label, b.label, merge_distance, level + 1});
        }
        if (parameters.verbose) {
            ++done;
            ++since;
            if (static_cast<double>(since) >= step) {
                std::cerr << "Done " << static_cast<int>(done * 100 / total) << "% " << std::endl;
                since = 0;
            }
        }
        if (next_output < parameters.output_levels.size() &&
            parameters.output_levels[next_output] >= level) {
            if (reports.level_reached) {
                partition.refresh_current_labels();
                reports.level_reached(level);
            }
            ++next_output;
        }
    }
    // Leave every link between the remaining top-level regions in the set, with its distance.
    _fill_link_set(*model, video);
}

template <typename Signal, typename Region, ConnectivityType Connectivity>
void BinaryPartitionTree<Signal, Region, Connectivity>::_queue(Link* link) {
    _queue_key(QueuedLink{link->distance, static_cast<std::uint32_t>(link->first->label),
                          static_cast<std::uint32_t>(link->second->label)});
}

template <typename Signal, typename Region, ConnectivityType Connectivity>
void BinaryPartitionTree<Signal, Region, Connectivity>::_queue_key(const QueuedLink& key) {
    if (everything_in_front || key < queued_below) {
        front.push_back(key);
        std::push_heap(front.begin(), front.end(), After());
    } else {
        deferred.push_back(key);
    }
}

// The link of a live entry: its regions are both present, and so is their link.
template <typename Signal, typename Region, ConnectivityType Connectivity>
typename BinaryPartitionTree<Signal, Region, Connectivity>::Link*
BinaryPartitionTree<Signal, Region, Connectivity>::_link(const QueuedLink& entry) {
    Region& first = partition.regions[static_cast<std::size_t>(entry.first)];
    Region& second = partition.regions[static_cast<std::size_t>(entry.second)];
    return first.neighbors.find(&second);
}

// The link of smallest distance. Links carry lower bounds until they come up: a bound on top
// is replaced by its distance and the link queued again, so the link returned is no larger
// than any other's bound and hence than any other's distance.
template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
typename BinaryPartitionTree<Signal, Region, Connectivity>::Link*
BinaryPartitionTree<Signal, Region, Connectivity>::_smallest_link(Model& model, Signal& video) {
    for (;;) {
        if (front.empty()) {
            if (deferred.empty()) {
                return nullptr;
            }
            _refill_front(front_batch);
            continue;
        }
        std::pop_heap(front.begin(), front.end(), After());
        const QueuedLink entry = front.back();
        front.pop_back();
        if (!front.empty()) {
            // The next entry up will most likely be looked at right after this one.
            __builtin_prefetch(&partition.regions[front.front().first]);
            __builtin_prefetch(&partition.regions[front.front().second]);
            if constexpr (has_remembered_bound<Model>::value) {
                model.prefetch_summary(front.front().first);
                model.prefetch_summary(front.front().second);
            }
        }
        if (!_live(entry)) {
            continue;
        }
        Link* link = _link(entry);
        if (link->distance_state == Link::exact) {
            return link;
        }
        _measure(model, link, video);
        _queue_key(QueuedLink{link->distance, entry.first, entry.second});
    }
}

// Replaces a link's bound by its distance, measured from the end that asked for it.
template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::_measure(Model& model, Link* link,
                                                                 Signal& video) {
    Region& first = _region(link->first);
    Region& second = _region(link->second);
    link->distance =
        link->distance_state == Link::bound_from_first
            ? model.region_distance(first, second, video, partition, descriptor_manager)
            : model.region_distance(second, first, video, partition, descriptor_manager);
    link->distance_state = Link::exact;
}

// Moves the `batch` smallest live deferred keys to the front; the rest keep waiting above them.
template <typename Signal, typename Region, ConnectivityType Connectivity>
void BinaryPartitionTree<Signal, Region, Connectivity>::_refill_front(std::size_t batch) {
    deferred.erase(std::remove_if(deferred.begin(), deferred.end(),
                                  [this](const QueuedLink& entry) { return !_live(entry); }),
                   deferred.end());
    auto end_of_batch = deferred.end();
    if (batch < deferred.size()) {
        end_of_batch = deferred.begin() + static_cast<std::ptrdiff_t>(batch);
        std::nth_element(deferred.begin(), end_of_batch, deferred.end());
        queued_below = *end_of_batch;
    } else {
        everything_in_front = true;
    }
    front.insert(front.end(), deferred.begin(), end_of_batch);
    std::make_heap(front.begin(), front.end(), After());
    deferred.erase(deferred.begin(), end_of_batch);
    if (deferred.capacity() > 4 * deferred.size() + front_batch) {
        deferred.shrink_to_fit();
    }
}

// Puts every live link into the link set, each with its distance.
template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::_fill_link_set(Model& model,
                                                                       Signal& video) {
    std::vector<QueuedLink> entries;
    entries.swap(front);
    entries.insert(entries.end(), deferred.begin(), deferred.end());
    std::vector<QueuedLink>().swap(deferred);
    for (const QueuedLink& entry : entries) {
        if (!_live(entry)) {
            continue;
        }
        Link* link = _link(entry);
        if (link->distance_state != Link::exact) {
            _measure(model, link, video);
        }
        link_set.insert(link);
    }
    everything_in_front = false;
    queued_below = QueuedLink{-std::numeric_limits<double>::infinity(), 0, 0};
}

template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::_set_distances(Model& model, Region& region,
                                                                      bool from_higher_label_only,
                                                                      Signal& video) {
    const auto* const end = region.neighbors.end();
    for (auto* entry_pointer = region.neighbors.begin(); entry_pointer != end; ++entry_pointer) {
        auto& entry = *entry_pointer;
        if constexpr (has_remembered_bound<Model>::value) {
            // The neighbours' records are scattered: ask for one a few entries ahead so that
            // its miss overlaps the work on the ones before it.
            constexpr std::ptrdiff_t ahead = 8;
            if (end - entry_pointer > ahead) {
                model.prefetch_remembered(_label_at(entry_pointer[ahead].first));
            }
        }
        Region& neighbor = _region(entry.first);
        if (from_higher_label_only && !(region.label > neighbor.label)) {
            continue;
        }
        Link* link = entry.second;
        if constexpr (has_distance_bound<Model, Region, Signal, Partition>::value) {
            // Measured only if the bound reaches the front of the queue (_smallest_link).
            const std::uint32_t neighbor_label = _label_at(entry.first);
            double bound = std::numeric_limits<double>::quiet_NaN();
            if constexpr (has_remembered_bound<Model>::value) {
                bound = model.remembered_distance_bound(region.label, neighbor_label);
            }
            if (std::isnan(bound)) {
                bound = model.region_distance_bound(region, neighbor, video, partition,
                                                    descriptor_manager);
            }
            link->distance = bound;
            const bool from_first = link->first == &region;
            link->distance_state = from_first ? Link::bound_from_first : Link::bound_from_second;
            const auto own = static_cast<std::uint32_t>(region.label);
            _queue_key(from_first ? QueuedLink{bound, own, neighbor_label}
                                  : QueuedLink{bound, neighbor_label, own});
            continue;
        } else {
            link->distance =
                model.region_distance(region, neighbor, video, partition, descriptor_manager);
            link->distance_state = Link::exact;
        }
        _queue(link);
    }
}

template <typename Signal, typename Region, ConnectivityType Connectivity>
Signal BinaryPartitionTree<Signal, Region, Connectivity>::paint_trajectories(const Signal& video) {
    Signal painted(video);
    ColorSpaceConverter<Signal>().convert(painted, RGB);
    partition.refresh_current_labels();
    const auto& labels = partition.current_labels;
    const std::size_t region_count = partition.regions.size();
    for_each_point(labels, [&](long long x, long long y, long long t) {
        const unsigned long long label = *labels.at(x, y, t);
        if (label >= region_count) {
            throw VoradaError("Partition: region index not found.");
        }
        const Region& region = partition.regions[static_cast<std::size_t>(label)];
        if (region.last_frame - region.first_frame >= 2) {
            double* value = painted.at(x, y, t);
            value[0] = 255;
            value[1] = 0;
            value[2] = 0;
        }
    });
    return painted;
}

}  // namespace gma
}  // namespace vorada
