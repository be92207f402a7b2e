#pragma once
// Small builders shared by the region, partition and merge tests.

#include <set>
#include <vector>

#include "signals/partition.h"
#include "signals/region.h"

namespace vorada {
namespace testing {

using Region = gma::Trajectory<gma::Video>;
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

/// Labels of the leaves paired with `label` in the partition's leaf pairs.
inline std::set<unsigned long long> paired_with(const Partition& partition,
                                                unsigned long long label) {
    std::set<unsigned long long> labels;
    for (const gma::LeafPair& pair : partition.leaf_pairs.pairs()) {
        if (pair.first == label || pair.second == label) {
            labels.insert(pair.first == label ? pair.second : pair.first);
        }
    }
    return labels;
}

/// The label the pair of `a` and `b` was met from, or −1 when they are no pair.
inline long long met_from(const Partition& partition, unsigned long long a, unsigned long long b) {
    for (const gma::LeafPair& pair : partition.leaf_pairs.pairs()) {
        if ((pair.first == a && pair.second == b) || (pair.first == b && pair.second == a)) {
            return pair.first;
        }
    }
    return -1;
}

inline gma::Coordinate at(long long x, long long y, long long t) {
    return gma::Coordinate(x, y, t);
}

}  // namespace testing
}  // namespace vorada
