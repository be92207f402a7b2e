#pragma once
// The merge distance of two adjacent regions: colour difference (Earth Mover's Distance between
// colour signatures), motion difference over the frames both regions share, and the size of the
// smaller region, so that small, similar regions merge first.

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "descriptors/area.h"
#include "descriptors/colorsignature.h"
#include "descriptors/descriptormanager.h"
#include "descriptors/flowsums.h"
#include "math/emd.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// Whether a partition keeps the points of its leaves in one store (`point_store()`).
template <typename Partition, typename = void>
struct has_point_store : std::false_type {};
template <typename Partition>
struct has_point_store<Partition,
                       std::void_t<decltype(std::declval<const Partition&>().point_store())>>
    : std::true_type {};

/// Whether a partition keeps its regions of type Region in one store indexed by label
/// (`regions`).
template <typename Partition, typename Region, typename = void>
struct has_region_store : std::false_type {};
template <typename Partition, typename Region>
struct has_region_store<
    Partition,
    Region,
    std::enable_if_t<
        std::is_same<decltype(std::declval<Partition&>().regions.data()), Region*>::value>>
    : std::true_type {};

/// The merge distance from its terms: ln(1 + area_weight·smaller area) ×
/// (1 − (1 − 0.99·colour)(1 − 0.99·motion)).
inline double combined_distance(double area_weight,
                                double smaller_area,
                                double colour,
                                double motion) {
    return std::log(1.0 + area_weight * smaller_area) *
           (1.0 - (1.0 - 0.99 * colour) * (1.0 - 0.99 * motion));
}

/// The motion term of two regions from their flow sums: the largest per-frame 1 − exp(−w·D) over
/// frames t0 … t1 that both records hold with points (the video's last frame, of `frame_count`,
/// excluded: its forward flow is all zero), w the smaller mean reliability and D the distance of
/// the weighted mean motions; 0 without such a frame.
inline double motion_difference(const FlowSumsView& motion_a,
                                const FlowSumsView& motion_b,
                                long long t0,
                                long long t1,
                                long long frame_count,
                                double motion_weight) {
    // Position of frame t in a record, or -1 when the record has no entry for it.
    auto index = [](const FlowSumsView& sums, long long t) -> long long {
        const long long k = t - sums.first_frame;
        return k >= 0 && k < static_cast<long long>(sums.frames.size()) ? k : -1;
    };
    double result = 0;
    for (long long t = t0; t <= t1; ++t) {
        if (t == frame_count - 1) {
            break;
        }
        const long long fa = index(motion_a, t);
        const long long fb = index(motion_b, t);
        if (fa < 0 || fb < 0 || motion_a.frames[fa].points == 0 ||
            motion_b.frames[fb].points == 0) {
            continue;
        }
        const FlowFrame& frame_a = motion_a.frames[fa];
        const FlowFrame& frame_b = motion_b.frames[fb];
        // One count per frame serves the flow and the reliability: both sum the same points.
        const double r_a = frame_a.reliability * (1.0 / frame_a.points);
        const double r_b = frame_b.reliability * (1.0 / frame_b.points);
        const double scale_a = 1.0 / frame_a.points;
        const double scale_b = 1.0 / frame_b.points;
        const double dx =
            motion_weight * (frame_a.flow_x * scale_a) - motion_weight * (frame_b.flow_x * scale_b);
        const double dy =
            motion_weight * (frame_a.flow_y * scale_a) - motion_weight * (frame_b.flow_y * scale_b);
        const double w = std::min(r_a, r_b);
        const double d = std::sqrt(dx * dx + dy * dy);
        result = std::max(result, 1.0 - std::exp(-w * d));
    }
    return result;
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
class MotionColorDistanceModel {
  public:
    using ReliabilitySignal = VideoSignal<double, 1>;
    using Solver = math::optimization::EMD<math::optimization::PerceptualDistance<Eigen::Vector3d>>;

    struct Parameters {
        MotionSignal flow;                  ///< forward optical flow
        unsigned long long num_colors = 0;  ///< colours per signature
        double color_weight = 0;            ///< weight of every channel in the colour distance
        double motion_weight = 0;           ///< factor of the mean motion vectors
        double area_weight = 0;             ///< factor of the region areas
        ReliabilitySignal reliability_map;  ///< per-point reliability of the flow
    };

    /// Copies both signals and the scalars; the caller's parameters may go away afterwards.
    /// The object holds the solver's fixed working state (about 1.1 MB): create it on the heap.
    explicit MotionColorDistanceModel(const Parameters& parameters);
    /// The same, taking the parameters' signals over instead of copying them.
    explicit MotionColorDistanceModel(Parameters&& parameters);
    MotionColorDistanceModel(const MotionColorDistanceModel&) = delete;
    MotionColorDistanceModel& operator=(const MotionColorDistanceModel&) = delete;

    /// ln(1 + area_weight·min area) × (1 − (1 − 0.99·colour)(1 − 0.99·motion)).
    template <typename Partition>
    Value region_distance(
        Region& a, Region& b, Signal& video, Partition& partition, DescriptorManager& manager);

    /// A cheap lower bound of region_distance(a, b, …): the motion term taken as 0 and the colour
    /// term replaced by the solver's lower bound. Every step is monotone in the colour and
    /// motion terms, so the bound never exceeds the distance; the tree uses it to put off
    /// the distances of links that are dropped before they could be merged.
    template <typename Partition>
    Value region_distance_bound(
        Region& a, Region& b, Signal& video, Partition& partition, DescriptorManager& manager);

    /// region_distance_bound(a, *others[i], …) into bounds[i] for i < count. The neighbours'
    /// signatures are all looked up before any bound is computed: they lie scattered in
    /// memory, and lookups that do not wait for one another overlap.
    template <typename Partition>
    void region_distance_bounds(Region& a,
                                Region* const* others,
                                std::size_t count,
                                Value* bounds,
                                Signal& video,
                                Partition& partition,
                                DescriptorManager& manager);

    /// Largest per-frame 1 − exp(−w·D) over the common frames (the video's last frame
    /// excluded), w the smaller mean reliability and D the distance of the weighted mean
    /// motions; 0 without a common frame.
    template <typename Partition>
    Value motion_distance(
        Region& a, Region& b, Signal& video, Partition& partition, DescriptorManager& manager);

    /// Computes (or finds) every descriptor the distances of `region` use: colour signature and
    /// area on the video, flow and reliability means on the model's own signals. Once a merged
    /// region has them, its children's may be released.
    void prepare_descriptors(Region& region, Signal& video, DescriptorManager& manager);

    Solver emd;
    /// The flow and the reliability are read at the points of leaves only. The first distance
    /// asked of a partition that keeps its leaves' points in one store gathers their values
    /// into a table in store order, and releases both signals (which are then empty).
    MotionSignal flow;
    unsigned long long num_colors;
    double color_weight;
    double motion_weight;
    double area_weight;
    ReliabilitySignal reliability_map;

  private:
    using Motion = FlowSums<MotionSignal, ReliabilitySignal>;

    typename Motion::Parameters _motion_parameters() const {
        return {&reliability_map, point_motion.empty() ? nullptr : &point_motion};
    }
    template <typename Partition>
    void _index_points(const Partition& partition);

    typename Motion::PointTable point_motion;
    bool points_indexed = false;  ///< _index_points has run

    ColorMeanDescriptorParameters colour_parameters;
    std::vector<SignatureView> neighbour_colours;  ///< scratch of region_distance_bounds
    std::vector<std::uint32_t> neighbour_labels;   ///< the same

    // What the colour term and the bound read of a region: its signature with its area, one
    // record of the manager's store. A view, so it is only as old as the call that makes it.
    SignatureView _colour(Region& region, Signal& video, DescriptorManager& manager) {
        return manager.calc_descriptor<ColorSignature<Signal>>(video, region, colour_parameters);
    }
    // A region's label is its position in the partition's store: found from its address
    // without a visit to the region, which is large and far away. no_slot for a region not in
    // the store (or a partition without one).
    template <typename Partition>
    static std::uint32_t _store_label(const Region& region, const Partition& partition) {
        if constexpr (has_region_store<Partition, Region>::value) {
            const auto base = reinterpret_cast<std::uintptr_t>(partition.regions.data());
            const auto address = reinterpret_cast<std::uintptr_t>(&region);
            const std::size_t position = (address - base) / sizeof(Region);
            if (address >= base && (address - base) % sizeof(Region) == 0 &&
                position < partition.regions.size() && position < DescriptorManager::no_slot) {
                return static_cast<std::uint32_t>(position);
            }
        }
        return DescriptorManager::no_slot;
    }
    // The same for a region of `partition`, found by its label: a new region's bounds read
    // every neighbour's signature.
    template <typename Partition>
    SignatureView _colour(Region& region,
                          Signal& video,
                          Partition& partition,
                          DescriptorManager& manager) {
        const std::uint32_t label = _store_label(region, partition);
        const auto* signatures = manager.values<ColorSignature<Signal>>(video);
        if (label != DescriptorManager::no_slot && signatures && signatures->has(label)) {
            return signatures->get(label);
        }
        return _colour(region, video, manager);
    }
    Value _bound_from(double color_bound, unsigned long long smaller_area) const;
    template <typename Partition>
    void _prefetch_pair(const Region& a,
                        const Region& b,
                        Signal& video,
                        const Partition& partition,
                        const DescriptorManager& manager) const;
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename Signal, typename Region, typename MotionSignal, typename Value>
MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::MotionColorDistanceModel(
    Parameters&& parameters)
    : emd(math::optimization::PerceptualDistance<Eigen::Vector3d>(Eigen::Vector3d(
          parameters.color_weight, parameters.color_weight, parameters.color_weight))),
      flow(std::move(parameters.flow)),
      num_colors(parameters.num_colors),
      color_weight(parameters.color_weight),
      motion_weight(parameters.motion_weight),
      area_weight(parameters.area_weight),
      reliability_map(std::move(parameters.reliability_map)) {
    colour_parameters.num_colors = num_colors;
    colour_parameters.channel_weights = Eigen::Vector3d(color_weight, color_weight, color_weight);
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::MotionColorDistanceModel(
    const Parameters& parameters)
    : emd(math::optimization::PerceptualDistance<Eigen::Vector3d>(Eigen::Vector3d(
          parameters.color_weight, parameters.color_weight, parameters.color_weight))),
      flow(parameters.flow),
      num_colors(parameters.num_colors),
      color_weight(parameters.color_weight),
      motion_weight(parameters.motion_weight),
      area_weight(parameters.area_weight),
      reliability_map(parameters.reliability_map) {
    colour_parameters.num_colors = num_colors;
    colour_parameters.channel_weights = Eigen::Vector3d(color_weight, color_weight, color_weight);
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
void MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::prepare_descriptors(
    Region& region, Signal& video, DescriptorManager& manager) {
    _colour(region, video, manager);
    manager.calc_descriptor<Area>(video, region, Area::Parameters{});
    manager.calc_descriptor<Motion>(flow, region, _motion_parameters());
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::region_distance(
    Region& a, Region& b, Signal& video, Partition& partition, DescriptorManager& manager) {
    _index_points(partition);
    _prefetch_pair(a, b, video, partition, manager);
    const SignatureView colour_a = _colour(a, video, partition, manager);
    const SignatureView colour_b = _colour(b, video, partition, manager);
    const double c = static_cast<double>(emd._emd(colour_a, colour_b, nullptr));
    const double m = motion_distance(a, b, video, partition, manager);
    // The signature's area is the region's Area descriptor (the points it was computed from).
    const double area = static_cast<double>(std::min(colour_a.area, colour_b.area));
    return combined_distance(area_weight, area, c, m);
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::region_distance_bound(
    Region& a, Region& b, Signal& video, Partition& partition, DescriptorManager& manager) {
    Region* const others[1] = {&b};
    Value bound = 0;
    region_distance_bounds(a, others, 1, &bound, video, partition, manager);
    return bound;
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
void MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::region_distance_bounds(
    Region& a,
    Region* const* others,
    std::size_t count,
    Value* bounds,
    Signal& video,
    Partition& partition,
    DescriptorManager& manager) {
    _index_points(partition);
    const SignatureView colour_a = _colour(a, video, partition, manager);
    // Views stay valid while more signatures are computed: runs are only moved by a release.
    neighbour_colours.resize(count);
    neighbour_labels.resize(count);
    const auto* signatures = manager.values<ColorSignature<Signal>>(video);
    for (std::size_t i = 0; i < count; ++i) {
        neighbour_labels[i] = _store_label(*others[i], partition);
    }
    if (signatures) {
        // Two dependent loads per neighbour (entry, then run): all entries first, then all
        // runs, so that the loads of different neighbours overlap.
        // Measured together with the hints of a measured link (see _prefetch_pair).
        for (const std::uint32_t label : neighbour_labels) {
            signatures->prefetch_entry(label);
        }
        for (const std::uint32_t label : neighbour_labels) {
            signatures->prefetch_run(label);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t label = neighbour_labels[i];
        neighbour_colours[i] =
            label != DescriptorManager::no_slot && signatures && signatures->has(label)
                ? signatures->get(label)
                : _colour(*others[i], video, manager);
    }
    for (std::size_t i = 0; i < count; ++i) {
        const SignatureView& colour_b = neighbour_colours[i];
        bounds[i] = _bound_from(emd.lower_bound(colour_a, colour_b),
                                std::min(colour_a.area, colour_b.area));
    }
}

// Only when every region with points of its own refers into the store: the signals go, so no
// point may be left to read from them. (A region given points later throws when its sums are
// computed.)
template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
void MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::_index_points(
    const Partition& partition) {
    if (points_indexed) {
        return;
    }
    points_indexed = true;
    if constexpr (has_point_store<Partition>::value && has_region_store<Partition, Region>::value &&
                  std::is_same<typename Region::value_type, StoredPoint>::value) {
        const auto& store = partition.point_store();
        if (store.empty()) {
            return;
        }
        const StoredPoint* first = store.data();
        const StoredPoint* last = first + store.size();
        const std::less<const StoredPoint*> before;
        for (const Region& region : partition.regions) {
            if (region.stored_begin() &&
                (before(region.stored_begin(), first) || before(last, region.stored_end()))) {
                return;
            }
        }
        point_motion.build(store, flow, reliability_map);
        flow = MotionSignal();
        reliability_map = ReliabilitySignal();
    }
}

// A measured link reads, for each of its two scattered regions, the record, the signature and
// the flow and reliability sums, each behind one or two look-ups. Hinting both regions' first
// look-ups, then what they lead to, lets the waits overlap instead of following one another.
// These and the bound round's hints: CPU ×0.79, ×0.86 and ×0.99 on alley_1_half 0–9 with
// --png none (medians of three sets of 5 paired runs, each set's pairs 0.76–1.07 at the
// widest, load 4–8; earlier 3 pairs ×0.905).
template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
void MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::_prefetch_pair(
    const Region& a,
    const Region& b,
    Signal& video,
    const Partition& partition,
    const DescriptorManager& manager) const {
    const std::uint32_t labels[2] = {_store_label(a, partition), _store_label(b, partition)};
    if (labels[0] == DescriptorManager::no_slot || labels[1] == DescriptorManager::no_slot) {
        return;
    }
    const auto* signatures = manager.values<ColorSignature<Signal>>(video);
    const auto* motions = manager.values<Motion>(flow);
    if (!signatures || !motions) {
        return;
    }
    __builtin_prefetch(&a);
    __builtin_prefetch(&b);
    for (const std::uint32_t label : labels) {
        signatures->prefetch_entry(label);
        manager.prefetch_slot(label);
    }
    std::uint32_t slots[2];
    for (int k = 0; k < 2; ++k) {
        signatures->prefetch_run(labels[k]);
        slots[k] = manager.slot(labels[k]);
        if (slots[k] != DescriptorManager::no_slot) {
            motions->prefetch_entry(slots[k]);
        }
    }
    for (const std::uint32_t slot : slots) {
        if (slot != DescriptorManager::no_slot) {
            motions->prefetch_run(slot);
        }
    }
}

// The distance with the motion term taken as 0: monotone in the colour term, so a lower bound
// of that term gives a lower bound of the distance.
template <typename Signal, typename Region, typename MotionSignal, typename Value>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::_bound_from(
    double color_bound, unsigned long long smaller_area) const {
    const double area = static_cast<double>(smaller_area);
    return std::log(1.0 + area_weight * area) * (1.0 - (1.0 - 0.99 * color_bound));
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::motion_distance(
    Region& a, Region& b, Signal& video, Partition& /*partition*/, DescriptorManager& manager) {
    const long long t0 = std::max(a.first_frame, b.first_frame);
    const long long t1 = std::min(a.last_frame, b.last_frame);
    if (t1 < t0) {
        return 0;
    }
    const auto motion_a = manager.calc_descriptor<Motion>(flow, a, _motion_parameters());
    const auto motion_b = manager.calc_descriptor<Motion>(flow, b, _motion_parameters());

    return motion_difference(motion_a, motion_b, t0, t1, static_cast<long long>(video.frames),
                             motion_weight);
}

}  // namespace gma
}  // namespace vorada
