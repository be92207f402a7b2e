#pragma once
// Links across time: a region's first-frame voxels follow the backward flow one frame back, its
// last-frame voxels the forward flow one frame ahead, and the region is linked to the region met
// there, so merging can join the pieces of a motion that tracking had to cut.

#include <cmath>

#include "common/errors.h"
#include "signals/partition.h"
#include "signals/region.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

namespace detail {

// Nearest lattice value of v, halves away from zero; false when v is not finite or too large to
// be a lattice coordinate (such a target lies outside every domain).
inline bool nearest_lattice_value(double v, long long& out) {
    const double rounded = std::round(v);
    if (!(std::fabs(rounded) < 9.0e18)) {
        return false;
    }
    out = static_cast<long long>(rounded);
    return true;
}

}  // namespace detail

/// Links every childless region of the partition to the regions found one frame before its
/// first frame and one frame after its last, along the flows (any `mode` but 2) or straight
/// back and ahead (`mode` 2). `video` bounds the targets; `labels` names the region at a target.
template <typename Region, ConnectivityType Connectivity>
void add_temporal_neighbors(VideoSignal<double, 3>& video,
                            HierarchicalRegionPartition<Region, Connectivity>& partition,
                            VideoSignal<double, 2>& forward_flow,
                            VideoSignal<double, 2>& backward_flow,
                            SpacePartition<unsigned long long, 3>& labels,
                            unsigned long long mode) {
    auto& regions = partition.regions;
    const bool follow_flow = mode != 2;

    // Returns false when the target lies outside the video; links `region` to the target's
    // region otherwise.
    auto link_to = [&](Region& region, const Coordinate& point, const VideoSignal<double, 2>& flow,
                       long long target_t) {
        long long target_x = point(0);
        long long target_y = point(1);
        if (follow_flow) {
            if (!flow.contains(point(0), point(1), point(2))) {
                throw VoradaError(
                    "Temporal neighbours: the flow does not cover the region's voxels");
            }
            const double* displacement = flow.at(point(0), point(1), point(2));
            if (!detail::nearest_lattice_value(static_cast<double>(point(0)) + displacement[0],
                                               target_x) ||
                !detail::nearest_lattice_value(static_cast<double>(point(1)) + displacement[1],
                                               target_y)) {
                return false;
            }
        }
        if (!video.contains(target_x, target_y, target_t)) {
            return false;
        }
        if (!labels.contains(target_x, target_y, target_t)) {
            throw VoradaError("Temporal neighbours: the label volume does not cover the video");
        }
        const unsigned long long target = *labels.at(target_x, target_y, target_t);
        if (target >= regions.size()) {
            throw VoradaError("Partition: region index not found.");
        }
        Region& other = regions[static_cast<std::size_t>(target)];
        // Only a label volume other than the partition's own can name the region itself here.
        if (&other != &region) {
            partition.add_adjacency(region, other);
        }
        return true;
    };

    for (Region& region : regions) {
        if (!region.children.empty()) {
            continue;
        }
        const long long first = region.first_frame;
        const long long last = region.last_frame;
        for_each_own_point(region, [&](const Coordinate& point) {
            if (point(2) == first && !link_to(region, point, backward_flow, first - 1)) {
                return;  // a target outside the video ends this voxel: no forward try
            }
            if (point(2) == last) {
                link_to(region, point, forward_flow, last + 1);
            }
        });
    }
}

}  // namespace gma
}  // namespace vorada
