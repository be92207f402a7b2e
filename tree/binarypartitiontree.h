#pragma once
// The binary partition tree: starting from the leaf regions of the partition, repeatedly merge
// the adjacent pair whose link has the smallest motion–colour distance, reporting every merge and
// the configured levels on the way. The tree prints and writes nothing: its caller does, from
// the reports.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "descriptors/descriptormanager.h"
#include "signals/connectivity.h"
#include "signals/partition.h"
#include "tree/mergegraph.h"
#include "tree/mergequeue.h"

namespace vorada {
namespace gma {

/// Whether a distance model offers region_distance_bounds, cheap lower bounds of its
/// region_distance from one region to each of several others, which let the tree put off
/// measuring links.
template <typename Model, typename Region, typename Signal, typename Partition, typename = void>
struct has_distance_bound : std::false_type {};
template <typename Model, typename Region, typename Signal, typename Partition>
struct has_distance_bound<Model,
                          Region,
                          Signal,
                          Partition,
                          std::void_t<decltype(std::declval<Model&>().region_distance_bounds(
                              std::declval<Region&>(),
                              std::declval<Region* const*>(),
                              std::size_t(),
                              std::declval<double*>(),
                              std::declval<Signal&>(),
                              std::declval<Partition&>(),
                              std::declval<DescriptorManager&>()))>> : std::true_type {};

template <typename Signal, typename Region, ConnectivityType Connectivity>
class BinaryPartitionTree {
  public:
    using Partition = HierarchicalRegionPartition<Region, Connectivity>;

    struct Parameters {
        bool update_labels = false;                     ///< merges rewrite current_labels
        unsigned long long min_regions = 1;             ///< merge while level > min_regions
        std::vector<unsigned long long> output_levels;  ///< decreasing levels to report
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
        /// After every merge, once `merged` has been called: the merges done so far and the
        /// merges the loop would make down to min_regions.
        std::function<void(unsigned long long done, unsigned long long total)> progressed;
        /// After a merge that reaches an entry of output_levels, with the level; the
        /// partition's current_labels then show the regions present.
        std::function<void(unsigned long long level)> level_reached;
    };

    Parameters parameters;
    Reports reports;
    unsigned long long level = 0;       ///< one less than the number of regions present
    unsigned long long last_index = 0;  ///< highest region index in use
    DescriptorManager descriptor_manager;
    Partition partition;

    explicit BinaryPartitionTree(const Parameters& tree_parameters) : parameters(tree_parameters) {}
    BinaryPartitionTree(const BinaryPartitionTree&) = delete;
    BinaryPartitionTree& operator=(const BinaryPartitionTree&) = delete;

    /// Makes one leaf per label of `labels` and sets the counters for merging from there:
    /// level and last_index to the highest leaf index, room for every region the merges create.
    template <typename LabelSignal>
    void init(LabelSignal& labels);

    /// Builds the tree over the partition with the distance model `Model`, reporting merges,
    /// progress and levels through `reports`. Takes the partition's leaf pairs.
    template <typename Model>
    void create(Signal& video, const typename Model::Parameters& model_parameters) {
        _check_size();
        _create(video, std::make_unique<Model>(model_parameters));
    }
    /// The same, handing the parameters over to the model (its signals are moved, not copied).
    template <typename Model>
    void create(Signal& video, typename Model::Parameters&& model_parameters) {
        _check_size();
        _create(video, std::make_unique<Model>(std::move(model_parameters)));
    }
    /// The same; when the merging stops, before the model and the adjacency are freed, calls
    /// `stopped(model)`, during which top_level_links() may be read.
    template <typename Model, typename Stopped>
    void create(Signal& video, typename Model::Parameters&& model_parameters, Stopped stopped) {
        _check_size();
        _create(video, std::make_unique<Model>(std::move(model_parameters)), stopped);
    }

    /// The adjacent pairs of regions not merged (yet), each as (lower, higher) label, ascending.
    /// Only while the adjacency exists: inside create's `stopped`.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> top_level_links() {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> links;
        for (std::size_t label = 0; label < top_level.size(); ++label) {
            if (!top_level[label]) {
                continue;
            }
            const auto own = static_cast<MergeGraph::Label>(label);
            for (const MergeGraph::Label other : graph.neighbours(own)) {
                if (other > own) {
                    links.emplace_back(own, other);
                }
            }
        }
        return links;
    }

  private:
    // Each link is one key of the merge queue (distance or bound, labels in link order, state),
    // and a key whose regions are no longer both top-level is dropped when it comes up.
    std::vector<bool>
        top_level;  ///< per label: region present, not yet merged (a bit each: in cache)
    // A key is live while both its regions are unmerged.
    struct BothTopLevel {
        const std::vector<bool>* top_level;
        bool operator()(const QueuedLink& key) const {
            return (*top_level)[key.first] && (*top_level)[key.second()];
        }
    };
    MergeQueue<QueuedLinkOrder, BothTopLevel> queue{BothTopLevel{&top_level}};
    MergeGraph graph;                        ///< the adjacency of the regions while merging
    std::vector<Region*> neighbour_scratch;  ///< the neighbours of a new region
    std::vector<double> bound_scratch;       ///< their bounds

    Region& _region(std::uint32_t label) { return partition.regions[label]; }
    void _check_size() const {
        if (partition.regions.capacity() >= QueuedLink::label_limit) {
            throw VoradaError("Binary partition tree: too many regions for one run");
        }
    }
    struct NothingOnStop {
        template <typename Model>
        void operator()(Model&) const {}
    };
    template <typename Model, typename Stopped = NothingOnStop>
    void _create(Signal& video, std::unique_ptr<Model> model, Stopped stopped = Stopped());
    template <typename Model>
    void _queue_first_links(Model& model, Signal& video);
    template <typename Model>
    void _evaluate(Model& model, QueuedLink& key, Signal& video);
    template <typename Model>
    bool _smallest_link(Model& model, Signal& video, QueuedLink& smallest);
    template <typename Model>
    void _measure(Model& model, QueuedLink& key, Signal& video);
    template <typename Model>
    void _queue_links_of(Model& model,
                         Region& merged,
                         const std::vector<MergeGraph::Label>& neighbours,
                         Signal& video);
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
template <typename Model, typename Stopped>
void BinaryPartitionTree<Signal, Region, Connectivity>::_create(Signal& video,
                                                                std::unique_ptr<Model> model,
                                                                Stopped stopped) {
    const unsigned long long total = level - parameters.min_regions;
    unsigned long long done = 0;

    top_level.assign(std::max(partition.regions.capacity(), partition.regions.size()), false);
    for (const Region& region : partition.regions) {
        top_level[static_cast<std::size_t>(region.label)] = !region.parent;
    }
    _queue_first_links(*model, video);

    std::size_t next_output = 0;
    while (level > parameters.min_regions) {
        QueuedLink closest;
        if (!_smallest_link(*model, video, closest)) {
            break;
        }
        Region& a = _region(closest.first);
        Region& b = _region(closest.second());
        const double merge_distance = closest.distance;
        ++last_index;
        Region& merged = *partition.merge_units(a, b, last_index);
        // The queued entries of a's and b's links go stale with this.
        top_level[static_cast<std::size_t>(a.label)] = false;
        top_level[static_cast<std::size_t>(b.label)] = false;
        if (merged.label >= top_level.size()) {
            top_level.resize(static_cast<std::size_t>(merged.label) + 1, false);
        }
        top_level[static_cast<std::size_t>(merged.label)] = true;
        // The children's descriptors are never asked for again once the parent has its own
        // (which are combined from them), so they are released to bound memory.
        model->prepare_descriptors(merged, video, descriptor_manager);
        descriptor_manager.release(a.label);
        descriptor_manager.release(b.label);
        const std::vector<MergeGraph::Label>& neighbours = graph.join(
            closest.first, closest.second(), static_cast<MergeGraph::Label>(merged.label));
        _queue_links_of(*model, merged, neighbours, video);
        --level;
        if (reports.merged) {
            reports.merged(Merge{merged.label, a.label, b.label, merge_distance, level + 1});
        }
        ++done;
        if (reports.progressed) {
            reports.progressed(done, total);
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
    stopped(*model);
    queue.clear();
    graph.clear();
}

// Queues every leaf pair once, measured from its higher label, and hands the pairs to the merge
// graph. The pairs come ordered by their higher label, then their lower one, so descriptors are
// computed in the order of a walk over the store.
template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::_queue_first_links(Model& model,
                                                                           Signal& video) {
    std::vector<QueuedLink> keys;
    {
        const std::vector<LeafPair> pairs = partition.leaf_pairs.pairs();
        partition.leaf_pairs.clear();
        keys.reserve(pairs.size());
        for (const LeafPair& pair : pairs) {
            keys.emplace_back(0, pair.first, pair.second,
                              pair.first > pair.second ? QueuedLink::bound_from_first
                                                       : QueuedLink::bound_from_second);
        }
    }
    graph.reset(top_level.size());
    graph.add_pairs([&keys](auto visit) {
        for (const QueuedLink& key : keys) {
            visit(key.first, key.second());
        }
    });
    for (QueuedLink& key : keys) {
        _evaluate(model, key, video);
    }
    queue.push_all(std::move(keys));
}

// Gives a key that is to be measured from one end its value: a lower bound when the model
// offers one (measured only if it reaches the front of the queue), else the distance itself.
template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::_evaluate(Model& model,
                                                                  QueuedLink& key,
                                                                  Signal& video) {
    const bool from_first = key.state() == QueuedLink::bound_from_first;
    const std::uint32_t own = from_first ? key.first : key.second();
    const std::uint32_t other = from_first ? key.second() : key.first;
    if constexpr (has_distance_bound<Model, Region, Signal, Partition>::value) {
        Region* const others[1] = {&_region(other)};
        model.region_distance_bounds(_region(own), others, 1, &key.distance, video, partition,
                                     descriptor_manager);
    } else {
        _measure(model, key, video);
    }
}

// The live key of smallest distance. Keys carry lower bounds until they come up: a bound on top
// is replaced by its distance and queued again, so the key returned is no larger than any
// other's bound and hence than any other's distance.
template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
bool BinaryPartitionTree<Signal, Region, Connectivity>::_smallest_link(Model& model,
                                                                       Signal& video,
                                                                       QueuedLink& smallest) {
    while (queue.pop(smallest)) {
        if (smallest.state() == QueuedLink::exact) {
            return true;
        }
        _measure(model, smallest, video);
        queue.push(smallest);
    }
    return false;
}

// Replaces a key's bound by its distance, measured from the end that asked for it.
template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::_measure(Model& model,
                                                                 QueuedLink& key,
                                                                 Signal& video) {
    Region& first = _region(key.first);
    Region& second = _region(key.second());
    const double distance =
        key.state() == QueuedLink::bound_from_first
            ? model.region_distance(first, second, video, partition, descriptor_manager)
            : model.region_distance(second, first, video, partition, descriptor_manager);
    key = QueuedLink(distance, key.first, key.second(), QueuedLink::exact);
}

// Queues every link of a region just made by a merge; the region is the first of each.
template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::_queue_links_of(
    Model& model, Region& merged, const std::vector<MergeGraph::Label>& neighbours, Signal& video) {
    const auto own = static_cast<std::uint32_t>(merged.label);
    if constexpr (has_distance_bound<Model, Region, Signal, Partition>::value) {
        // All bounds at once, so the model can look up every neighbour before computing.
        neighbour_scratch.clear();
        for (const MergeGraph::Label label : neighbours) {
            neighbour_scratch.push_back(&_region(label));
        }
        bound_scratch.resize(neighbour_scratch.size());
        model.region_distance_bounds(merged, neighbour_scratch.data(), neighbour_scratch.size(),
                                     bound_scratch.data(), video, partition, descriptor_manager);
        for (std::size_t i = 0; i < neighbours.size(); ++i) {
            queue.push(
                QueuedLink(bound_scratch[i], own, neighbours[i], QueuedLink::bound_from_first));
        }
    } else {
        for (const MergeGraph::Label label : neighbours) {
            QueuedLink key(0, own, label, QueuedLink::bound_from_first);
            _evaluate(model, key, video);
            queue.push(key);
        }
    }
}

}  // namespace gma
}  // namespace vorada
