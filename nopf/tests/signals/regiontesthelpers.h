#pragma once
// Small builders shared by the region, partition and merge tests.

#include <set>
#include <vector>

#include "signals/partition.h"
#include "signals/region.h"

namespace vorada {
namespace testing {

using Region = gma::Trajectory<gma::Video>;
using Link = Region::Link;
using Partition = gma::HierarchicalRegionPartition<Region, gma::IN_FRAME_4>;

/// A label volume of X × Y × T with the given values in raster order.
inline gma::LabelVolume make_labels(long long x_size,
                                    long long y_size,
                                    long long t_size,
                                    const std::vector<unsigned long long>& values) {
    gma::LabelVolume labels(x_size, y_size, t_size);
    labels.values = values;
    return labels;
}

/// The voxels of a region, visited by the region point iteration.
template <typename R>
std::vector<gma::Coordinate> region_points(const R& region) {
    std::vector<gma::Coordinate> points;
    gma::for_each_region_point(region, [&](const gma::Coordinate& c) { points.push_back(c); });
    return points;
}

/// The region's own coordinate list.
template <typename R>
std::vector<gma::Coordinate> own_points(const R& region) {
    std::vector<gma::Coordinate> points;
    gma::for_each_own_point(region, [&](const gma::Coordinate& c) { points.push_back(c); });
    return points;
}

/// Labels of a region's neighbours.
inline std::set<unsigned long long> neighbor_labels(const Region& region) {
    std::set<unsigned long long> labels;
    for (const auto& entry : region.neighbors) {
        labels.insert(entry.first->label);
    }
    return labels;
}

inline gma::Coordinate at(long long x, long long y, long long t) {
    return gma::Coordinate(x, y, t);
}

}  // namespace testing
}  // namespace vorada
