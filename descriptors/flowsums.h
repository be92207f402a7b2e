#pragma once
// Per-frame sums of the optical flow and of its reliability over a region's points, with the
// points counted once per frame. The motion term reads both for the same frames of the same
// region: one record holds them, so a measure reaches them with one look-up instead of two, and
// the count both would keep twice is kept once. Each sum is the one TemporalMean gives on its
// own signal, added in the same order.

#include <Eigen/Core>
#include <cstddef>
#include <vector>

#include "common/errors.h"
#include "descriptors/descriptorbase.h"
#include "descriptors/descriptormanager.h"
#include "descriptors/temporalmean.h"
#include "signals/region.h"

namespace vorada {
namespace gma {

/// Entry k of a region's record belongs to frame first_frame + k: sums(0) and sums(1) the flow's
/// two components, sums(2) the reliability, counts the points. Stored as "flow_sums", on the flow
/// signal; the reliability signal comes with the parameters.
template <typename FlowSignal, typename ReliabilitySignal>
class FlowSums : public DescriptorBase {
public:
    static_assert(FlowSignal::channels == 2 && ReliabilitySignal::channels == 1,
                  "flow sums take a two-channel flow and a one-channel reliability");
    using type = MotionMeanType<3>;
    using storage = MotionMeanStorage<3>;
    struct Parameters {
        const ReliabilitySignal* reliability = nullptr;
    };
    using capacity_error = VoradaError;
    static const char* name() { return "flow_sums"; }

    MotionMeanValues<3> value;

    template <typename Region>
    void calculate(FlowSignal& flow, Region& region, const Parameters& parameters,
                   DescriptorManager* manager);
    template <typename Region, typename Children>
    void recursive_calculate(FlowSignal& flow, Region& region, const Children& children,
                             const Parameters& parameters, DescriptorManager* manager);

private:
    void _reset(long long first, long long last) {
        value.first_frame = first;
        value.last_frame = last;
        const long long frames = last >= first ? last - first + 1 : 0;
        value.sums.assign(static_cast<std::size_t>(frames), MotionMeanValues<3>::Vector::Zero());
        value.counts.assign(static_cast<std::size_t>(frames), 0ULL);
    }
};

template <typename FlowSignal, typename ReliabilitySignal>
template <typename Region>
void FlowSums<FlowSignal, ReliabilitySignal>::calculate(FlowSignal& flow, Region& region,
                                                        const Parameters& parameters,
                                                        DescriptorManager* /*manager*/) {
    const ReliabilitySignal* reliability = parameters.reliability;
    if (!reliability) {
        throw VoradaError("Flow sums need a reliability signal");
    }
    _reset(region.first_frame, region.last_frame);
    const long long frames = static_cast<long long>(value.counts.size());
    for_each_region_point(region, [&](const Coordinate& point) {
        const long long k = point(2) - value.first_frame;
        if (k < 0 || k >= frames || !flow.contains(point(0), point(1), point(2)) ||
            !reliability->contains(point(0), point(1), point(2))) {
            throw VoradaError("Region point outside its frame span or the signal");
        }
        const auto* vector = flow.at(point(0), point(1), point(2));
        auto& sum = value.sums[static_cast<std::size_t>(k)];
        sum(0) += vector[0];
        sum(1) += vector[1];
        sum(2) += reliability->at(point(0), point(1), point(2))[0];
        ++value.counts[static_cast<std::size_t>(k)];
    });
}

template <typename FlowSignal, typename ReliabilitySignal>
template <typename Region, typename Children>
void FlowSums<FlowSignal, ReliabilitySignal>::recursive_calculate(
    FlowSignal& flow, Region& /*region*/, const Children& children, const Parameters& parameters,
    DescriptorManager* manager) {
    // Views into the manager's pools, which stay in place while other regions are stored.
    type parts[2];
    std::vector<type> more;  // only for regions with more than two children
    std::size_t n = 0;
    long long first = 1000000000;
    long long last = -1;
    for (auto* child : children) {
        const type part =
            manager->calc_descriptor<FlowSums>(flow, static_cast<Region&>(*child), parameters);
        if (n < 2) {
            parts[n] = part;
        } else {
            more.push_back(part);
        }
        ++n;
        first = part.first_frame < first ? part.first_frame : first;
        last = part.last_frame > last ? part.last_frame : last;
    }
    _reset(first, last);
    for (std::size_t c = 0; c < n; ++c) {
        const type& part = c < 2 ? parts[c] : more[c - 2];
        if (part.last_frame < part.first_frame) {
            continue;
        }
        const std::size_t span = static_cast<std::size_t>(part.last_frame - part.first_frame + 1);
        const std::size_t offset = static_cast<std::size_t>(part.first_frame - first);
        for (std::size_t j = 0; j < span && j < part.sums.size(); ++j) {
            for (int k = 0; k < 3; ++k) {
                value.sums[offset + j](k) += part.sums[j](k);
            }
            value.counts[offset + j] += part.counts[j];
        }
    }
}

}  // namespace gma
}  // namespace vorada
