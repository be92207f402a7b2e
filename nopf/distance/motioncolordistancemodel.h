#pragma once
// The merge distance of two adjacent regions: colour difference (Earth Mover's Distance between
// colour signatures), motion difference over the frames both regions share, and the size of the
// smaller region, so that small, similar regions merge first.

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "descriptors/area.h"
#include "descriptors/colorsignature.h"
#include "descriptors/descriptormanager.h"
#include "descriptors/temporalmean.h"
#include "math/emd.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

template <typename Signal, typename Region, typename MotionSignal, typename Value>
class MotionColorDistanceModel {
public:
    using ReliabilitySignal = VideoSignal<double, 1>;
    using Solver = math::optimization::EMD<math::optimization::PerceptualDistance<Eigen::Vector3d>>;

    struct Parameters {
        MotionSignal flow;                 ///< forward optical flow
        unsigned long long num_colors = 0;  ///< colours per signature
        double color_weight = 0;           ///< weight of every channel in the colour distance
        double motion_weight = 0;          ///< factor of the mean motion vectors
        double area_weight = 0;            ///< factor of the region areas
        ReliabilitySignal reliability_map;  ///< per-point reliability of the flow
    };

    /// Copies both signals and the scalars; the caller's parameters may go away afterwards.
    /// The object holds the solver's fixed working state (about 1.1 MB): create it on the heap.
    explicit MotionColorDistanceModel(const Parameters& parameters);
    MotionColorDistanceModel(const MotionColorDistanceModel&) = delete;
    MotionColorDistanceModel& operator=(const MotionColorDistanceModel&) = delete;

    /// ln(1 + area_weight·min area) × (1 − (1 − 0.99·colour)(1 − 0.99·motion)).
    template <typename Partition>
    Value region_distance(Region& a, Region& b, Signal& video, Partition& partition,
                          DescriptorManager& manager);

    /// A cheap lower bound of region_distance(a, b, …): the motion term taken as 0 and the colour
    /// term replaced by the solver's lower bound. Every step is monotone in the colour and
    /// motion terms, so the bound never exceeds the distance; the tree uses it to put off
    /// the distances of links that are dropped before they could be merged.
    template <typename Partition>
    Value region_distance_bound(Region& a, Region& b, Signal& video, Partition& partition,
                                DescriptorManager& manager);

    /// region_distance_bound by labels, from the packed copies of remembered signatures (see
    /// BoundRecord); NaN when a region has none, and the caller then asks by region. It is
    /// never above region_distance_bound's value by more than the packing allows for, and
    /// never above the distance.
    Value remembered_distance_bound(unsigned long long label_a, unsigned long long label_b) const;

    /// Hints that remembered_distance_bound will soon read the record of `label`.
    void prefetch_remembered(std::size_t label) const {
        if (label < bound_records.size()) {
            __builtin_prefetch(&bound_records[label]);
        }
    }

    /// Hints that a distance involving the region `label` will soon be measured.
    void prefetch_summary(std::size_t label) const {
        if (label < summaries.size()) {
            __builtin_prefetch(&summaries[label]);
        }
    }

    /// Largest per-frame 1 − exp(−w·D) over the common frames (the video's last frame
    /// excluded), w the smaller mean reliability and D the distance of the weighted mean
    /// motions; 0 without a common frame.
    template <typename Partition>
    Value motion_distance(Region& a, Region& b, Signal& video, Partition& partition,
                          DescriptorManager& manager);

    /// Computes (or finds) every descriptor the distances of `region` use: colour signature and
    /// area on the video, flow and reliability means on the model's own signals. The model stops
    /// remembering the descriptors of the region's children, which the caller may then release.
    void prepare_descriptors(Region& region, Signal& video, DescriptorManager& manager);

    /// Forgets what the model remembers of a region whose descriptors were released.
    void forget(unsigned long long label) {
        if (label < summaries.size()) {
            summaries[label] = Summary();
            bound_records[label].count = 0;
        }
    }

    Solver emd;
    MotionSignal flow;
    unsigned long long num_colors;
    double color_weight;
    double motion_weight;
    double area_weight;
    ReliabilitySignal reliability_map;

private:
    using FlowMean = TemporalMean<MotionSignal>;
    using ReliabilityMean = TemporalMean<ReliabilitySignal>;

    // The descriptors of a region as handed out by the manager, remembered by label: a merge
    // measures the new region against all its neighbours, and looking each one up again in
    // four stores costs a cache miss per store.
    struct Summary {
        const typename ColorSignature<Signal>::type* signature = nullptr;
        const typename FlowMean::type* flow_mean = nullptr;
        const typename ReliabilityMean::type* reliability_mean = nullptr;
        unsigned long long area = 0;
    };
    std::vector<Summary> summaries;

    // A region's signature and area packed into one cache line, so that the bounds of a new
    // region's many links read one line per neighbour instead of following four pointers.
    // Colours are quantised to 1/256 and masses to 1/65535; the bound allows for both roundings.
    static constexpr std::size_t packed_colors = 7;
    struct alignas(64) BoundRecord {
        std::uint32_t area = 0;
        std::uint8_t count = 0;  ///< 0: not packed (unknown, too many colours, out of range)
        std::uint16_t colors[packed_colors][3] = {};
        std::uint16_t weights[packed_colors] = {};
    };
    std::vector<BoundRecord> bound_records;
    void _pack(std::size_t label, const Summary& summary);
    const Signal* summarised_video = nullptr;

    Summary& _summary(Region& region, Signal& video, DescriptorManager& manager);
    Value _bound_from(double color_bound, unsigned long long smaller_area) const;
    const typename FlowMean::type& _flow_mean(Region& region, Summary& summary,
                                              DescriptorManager& manager);
    const typename ReliabilityMean::type& _reliability_mean(Region& region, Summary& summary,
                                                            DescriptorManager& manager);
};

// ---------------------------------------------------------------------------------------------
// Implementation

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
      reliability_map(parameters.reliability_map) {}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
void MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::prepare_descriptors(
    Region& region, Signal& video, DescriptorManager& manager) {
    Summary& summary = _summary(region, video, manager);
    _flow_mean(region, summary, manager);
    _reliability_mean(region, summary, manager);
    // A merged region's descriptors stand for its children's from now on.
    for (const auto* child : region.children) {
        forget(child->label);
    }
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::region_distance(
    Region& a, Region& b, Signal& video, Partition& partition, DescriptorManager& manager) {
    Summary& summary_a = _summary(a, video, manager);
    Summary& summary_b = _summary(b, video, manager);
    const double c =
        static_cast<double>(emd._emd(*summary_a.signature, *summary_b.signature, nullptr));
    const double m = motion_distance(a, b, video, partition, manager);
    const double area = static_cast<double>(std::min(summary_a.area, summary_b.area));
    return std::log(1.0 + area_weight * area) * (1.0 - (1.0 - 0.99 * c) * (1.0 - 0.99 * m));
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::region_distance_bound(
    Region& a, Region& b, Signal& video, Partition& /*partition*/, DescriptorManager& manager) {
    Summary& summary_a = _summary(a, video, manager);
    Summary& summary_b = _summary(b, video, manager);
    return _bound_from(emd.lower_bound(*summary_a.signature, *summary_b.signature),
                       std::min(summary_a.area, summary_b.area));
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
    Summary& summary_a = _summary(a, video, manager);
    Summary& summary_b = _summary(b, video, manager);
    const auto& flow_a = _flow_mean(a, summary_a, manager);
    const auto& flow_b = _flow_mean(b, summary_b, manager);
    const auto& reliability_a = _reliability_mean(a, summary_a, manager);
    const auto& reliability_b = _reliability_mean(b, summary_b, manager);

    // Position of frame t in a descriptor, or -1 when the descriptor has no entry for it.
    auto index = [](const auto& mean, long long t) -> long long {
        const long long k = t - mean.first_frame;
        return k >= 0 && k < static_cast<long long>(mean.counts.size()) ? k : -1;
    };
    const long long frame_count = static_cast<long long>(video.frames);
    double result = 0;
    for (long long t = t0; t <= t1; ++t) {
        // The forward flow of the video's last frame is all zero.
        if (t == frame_count - 1) {
            break;
        }
        const long long fa = index(flow_a, t);
        const long long fb = index(flow_b, t);
        const long long ra = index(reliability_a, t);
        const long long rb = index(reliability_b, t);
        if (fa < 0 || fb < 0 || ra < 0 || rb < 0 || flow_a.counts[fa] == 0 ||
            flow_b.counts[fb] == 0 || reliability_a.counts[ra] == 0 ||
            reliability_b.counts[rb] == 0) {
            continue;
        }
        const double r_a = reliability_a.sums[ra](0) * (1.0 / reliability_a.counts[ra]);
        const double r_b = reliability_b.sums[rb](0) * (1.0 / reliability_b.counts[rb]);
        const double scale_a = 1.0 / flow_a.counts[fa];
        const double scale_b = 1.0 / flow_b.counts[fb];
        const double dx = motion_weight * (flow_a.sums[fa](0) * scale_a) -
                          motion_weight * (flow_b.sums[fb](0) * scale_b);
        const double dy = motion_weight * (flow_a.sums[fa](1) * scale_a) -
                          motion_weight * (flow_b.sums[fb](1) * scale_b);
        const double w = std::min(r_a, r_b);
        const double d = std::sqrt(dx * dx + dy * dy);
        result = std::max(result, 1.0 - std::exp(-w * d));
    }
    return result;
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
typename MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::Summary&
MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::_summary(Region& region,
                                                                        Signal& video,
                                                                        DescriptorManager& manager) {
    if (summarised_video != &video) {
        summaries.clear();
        bound_records.clear();
        summarised_video = &video;
    }
    const unsigned long long label = region.label;
    if (label >= summaries.size()) {
        if (label >= manager.capacity) {
            // Raises the manager's "index too high" error.
            manager.calc_descriptor<Area>(video, region, Area::Parameters{});
        }
        summaries.resize(static_cast<std::size_t>(manager.capacity));
        bound_records.resize(static_cast<std::size_t>(manager.capacity));
    }
    Summary& summary = summaries[static_cast<std::size_t>(label)];
    if (!summary.signature) {
        ColorMeanDescriptorParameters colour_parameters;
        colour_parameters.num_colors = num_colors;
        colour_parameters.channel_weights =
            Eigen::Vector3d(color_weight, color_weight, color_weight);
        summary.signature =
            &manager.calc_descriptor<ColorSignature<Signal>>(video, region, colour_parameters);
        summary.area = manager.calc_descriptor<Area>(video, region, Area::Parameters{});
        _pack(static_cast<std::size_t>(label), summary);
    }
    return summary;
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
const typename MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::FlowMean::type&
MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::_flow_mean(
    Region& region, Summary& summary, DescriptorManager& manager) {
    if (!summary.flow_mean) {
        summary.flow_mean =
            &manager.calc_descriptor<FlowMean>(flow, region, typename FlowMean::Parameters{});
    }
    return *summary.flow_mean;
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
const typename MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::ReliabilityMean::type&
MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::_reliability_mean(
    Region& region, Summary& summary, DescriptorManager& manager) {
    if (!summary.reliability_mean) {
        summary.reliability_mean = &manager.calc_descriptor<ReliabilityMean>(
            reliability_map, region, typename ReliabilityMean::Parameters{});
    }
    return *summary.reliability_mean;
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
void MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::_pack(std::size_t label,
                                                                           const Summary& summary) {
    BoundRecord& record = bound_records[label];
    record.count = 0;
    const auto& signature = *summary.signature;
    const std::size_t count = signature.features.size();
    if (count == 0 || count > packed_colors || summary.area > 0xFFFFFFFFull ||
        static_cast<std::size_t>(signature.weights.size()) != count) {
        return;
    }
    // Totals this close to 1 on both sides make the solver add no dummy, so both sides bound.
    double total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        total += signature.weights[i];
    }
    if (!(std::fabs(total - 1.0) <= 1e-12)) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        for (int k = 0; k < 3; ++k) {
            const double scaled = signature.features[i](k) * 256.0;
            if (!(scaled >= 0.0 && scaled <= 65535.0)) {
                return;
            }
            record.colors[i][k] = static_cast<std::uint16_t>(std::lround(scaled));
        }
        const double mass = signature.weights[i];
        if (!(mass >= 0.0 && mass <= 1.0)) {
            return;
        }
        record.weights[i] = static_cast<std::uint16_t>(std::lround(mass * 65535.0));
    }
    record.area = static_cast<std::uint32_t>(summary.area);
    record.count = static_cast<std::uint8_t>(count);
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::remembered_distance_bound(
    unsigned long long label_a, unsigned long long label_b) const {
    if (label_a >= bound_records.size() || label_b >= bound_records.size()) {
        return std::numeric_limits<Value>::quiet_NaN();
    }
    const BoundRecord& a = bound_records[static_cast<std::size_t>(label_a)];
    const BoundRecord& b = bound_records[static_cast<std::size_t>(label_b)];
    if (a.count == 0 || b.count == 0) {
        return std::numeric_limits<Value>::quiet_NaN();
    }
    // Each packed colour is within 1/512 of the true one per channel, so two true colours differ
    // per channel by at least (|packed difference| - 1) / 256.
    const Eigen::Vector3d& w = emd.ground_distance.channel_weights;
    double row_nearest[packed_colors];
    double column_nearest[packed_colors];
    std::fill(row_nearest, row_nearest + a.count, INFINITY);
    std::fill(column_nearest, column_nearest + b.count, INFINITY);
    for (std::size_t i = 0; i < a.count; ++i) {
        for (std::size_t j = 0; j < b.count; ++j) {
            double square = 0;
            for (int k = 0; k < 3; ++k) {
                const int difference = std::abs(int(a.colors[i][k]) - int(b.colors[j][k]));
                const double least = difference > 1 ? (difference - 1) / 256.0 : 0.0;
                square += w(k) * (least * least);
            }
            row_nearest[i] = std::min(row_nearest[i], square);
            column_nearest[j] = std::min(column_nearest[j], square);
        }
    }
    // Masses rounded up by at most half a step are taken half a step lower; the totals may
    // exceed 1 by 1e-12.
    auto lower_mass = [](std::uint16_t packed) {
        return packed > 0 ? (packed - 0.5) / 65535.0 : 0.0;
    };
    using Ground = typename Solver::ground_distance_type;
    double row_bound = 0;
    for (std::size_t i = 0; i < a.count; ++i) {
        row_bound += lower_mass(a.weights[i]) * Ground::from_weighted_square(row_nearest[i]);
    }
    double column_bound = 0;
    for (std::size_t j = 0; j < b.count; ++j) {
        column_bound += lower_mass(b.weights[j]) * Ground::from_weighted_square(column_nearest[j]);
    }
    const double c = Solver::with_rounding_margin(std::max(row_bound, column_bound) / (1.0 + 1e-12));
    return _bound_from(c, std::min<unsigned long long>(a.area, b.area));
}

}  // namespace gma
}  // namespace vorada
