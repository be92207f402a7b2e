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

    /// Largest per-frame 1 − exp(−w·D) over the common frames (the video's last frame
    /// excluded), w the smaller mean reliability and D the distance of the weighted mean
    /// motions; 0 without a common frame.
    template <typename Partition>
    Value motion_distance(Region& a, Region& b, Signal& video, Partition& partition,
                          DescriptorManager& manager);

    /// Computes (or finds) every descriptor the distances of `region` use: colour signature and
    /// area on the video, flow and reliability means on the model's own signals. Once a merged
    /// region has them, its children's may be released.
    void prepare_descriptors(Region& region, Signal& video, DescriptorManager& manager);

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

    // What the colour term and the bound read of a region: views of the manager's store, so
    // they are only as old as the call that makes them.
    struct ColourView {
        typename ColorSignature<Signal>::type signature;
        unsigned long long area;
    };
    ColorMeanDescriptorParameters colour_parameters;

    ColourView _colour(Region& region, Signal& video, DescriptorManager& manager) {
        ColourView view;
        view.signature = manager.calc_descriptor<ColorSignature<Signal>>(video, region, colour_parameters);
        view.area = manager.calc_descriptor<Area>(video, region, Area::Parameters{});
        return view;
    }
    Value _bound_from(double color_bound, unsigned long long smaller_area) const;
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
      reliability_map(parameters.reliability_map) {
    colour_parameters.num_colors = num_colors;
    colour_parameters.channel_weights = Eigen::Vector3d(color_weight, color_weight, color_weight);
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
void MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::prepare_descriptors(
    Region& region, Signal& video, DescriptorManager& manager) {
    _colour(region, video, manager);
    manager.calc_descriptor<FlowMean>(flow, region, typename FlowMean::Parameters{});
    manager.calc_descriptor<ReliabilityMean>(reliability_map, region,
                                             typename ReliabilityMean::Parameters{});
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::region_distance(
    Region& a, Region& b, Signal& video, Partition& partition, DescriptorManager& manager) {
    const ColourView view_a = _colour(a, video, manager);
    const ColourView view_b = _colour(b, video, manager);
    const double c = static_cast<double>(emd._emd(view_a.signature, view_b.signature, nullptr));
    const double m = motion_distance(a, b, video, partition, manager);
    const double area = static_cast<double>(std::min(view_a.area, view_b.area));
    return std::log(1.0 + area_weight * area) * (1.0 - (1.0 - 0.99 * c) * (1.0 - 0.99 * m));
}

template <typename Signal, typename Region, typename MotionSignal, typename Value>
template <typename Partition>
Value MotionColorDistanceModel<Signal, Region, MotionSignal, Value>::region_distance_bound(
    Region& a, Region& b, Signal& video, Partition& /*partition*/, DescriptorManager& manager) {
    const ColourView view_a = _colour(a, video, manager);
    const ColourView view_b = _colour(b, video, manager);
    return _bound_from(emd.lower_bound(view_a.signature, view_b.signature),
                       std::min(view_a.area, view_b.area));
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
    const typename FlowMean::Parameters flow_none{};
    const typename ReliabilityMean::Parameters reliability_none{};
    const auto flow_a = manager.calc_descriptor<FlowMean>(flow, a, flow_none);
    const auto flow_b = manager.calc_descriptor<FlowMean>(flow, b, flow_none);
    const auto reliability_a =
        manager.calc_descriptor<ReliabilityMean>(reliability_map, a, reliability_none);
    const auto reliability_b =
        manager.calc_descriptor<ReliabilityMean>(reliability_map, b, reliability_none);

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

}  // namespace gma
}  // namespace vorada
