#pragma once
// The binary partition tree: starting from the leaf regions of the partition, repeatedly merge
// the adjacent pair whose link has the smallest motion–colour distance, writing segmentations at
// the configured levels on the way.

#include <boost/filesystem.hpp>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "descriptors/descriptormanager.h"
#include "distance/colorspaceconverter.h"
#include "signals/bst.h"
#include "signals/connectivity.h"
#include "signals/partition.h"
#include "signals/raster.h"
#include "tree/segmentation.h"

namespace vorada {
namespace gma {

template <typename Signal, typename Region, ConnectivityType Connectivity>
class BinaryPartitionTree {
public:
    using Partition = HierarchicalRegionPartition<Region, Connectivity>;
    using Link = typename Partition::Link;
    using LinkSet = BST<Link, typename Link::compare_distance_function>;

    struct Parameters {
        bool verbose = false;                            ///< trajectory images and progress
        bool update_labels = false;                      ///< merges rewrite current_labels
        unsigned long long min_regions = 1;              ///< merge while level > min_regions
        double progress_step = 0.1;                      ///< fraction of merges per progress line
        std::string output_path;                         ///< the output directory
        std::vector<unsigned long long> output_levels;   ///< decreasing levels to write
    };

    Parameters parameters;
    unsigned long long level = 0;       ///< one less than the number of regions present
    unsigned long long last_index = 0;  ///< highest region index in use
    LinkSet link_set;
    DescriptorManager descriptor_manager;
    Partition partition;

    explicit BinaryPartitionTree(const Parameters& tree_parameters) : parameters(tree_parameters) {}
    BinaryPartitionTree(const BinaryPartitionTree&) = delete;
    BinaryPartitionTree& operator=(const BinaryPartitionTree&) = delete;

    /// Builds the tree over the partition with the distance model `Model`, writing trajectory
    /// images, progress and the segmentations of `output_levels`.
    template <typename Model>
    void create(Signal& video, const typename Model::Parameters& model_parameters);

    /// Writes the current regions as colour-coded frames and frames.sgm into `directory`.
    void output_segmentation(Signal& video, std::string directory, unsigned long long level);

private:
    Region& _region(typename Region::SpaceRegionType* region) { return static_cast<Region&>(*region); }
    void _write_trajectory_images(Signal& video);
    template <typename Model>
    void _set_distances(Model& model, Region& region, bool from_higher_label_only, Signal& video);
    void _erase_links(Region& a, Region& b);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::create(
    Signal& video, const typename Model::Parameters& model_parameters) {
    auto model = std::make_unique<Model>(model_parameters);
    const unsigned long long total = level - parameters.min_regions;
    const double step = static_cast<double>(total) * parameters.progress_step;
    unsigned long long done = 0;
    unsigned long long since = 0;

    if (parameters.verbose) {
        _write_trajectory_images(video);
        std::cerr << "Starting from " << partition.max_index + 1 << " regions " << std::endl;
    }

    // Every link is measured once, from its higher-labelled end.
    for (Region& region : partition.regions) {
        _set_distances(*model, region, true, video);
    }

    std::size_t next_output = 0;
    while (level > parameters.min_regions && !link_set.empty()) {
        Link* closest = link_set.smallest();
        Region& a = _region(closest->first);
        Region& b = _region(closest->second);
        _erase_links(a, b);
        ++last_index;
        Region& merged = *partition.merge_units(a, b, last_index);
        _set_distances(*model, merged, false, video);
        --level;
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
            const std::string directory =
                parameters.output_path + "/segmentations/" + std::to_string(level);
            boost::filesystem::create_directory(directory);
            output_segmentation(video, directory, level);
            ++next_output;
        }
    }
}

template <typename Signal, typename Region, ConnectivityType Connectivity>
template <typename Model>
void BinaryPartitionTree<Signal, Region, Connectivity>::_set_distances(Model& model, Region& region,
                                                                      bool from_higher_label_only,
                                                                      Signal& video) {
    for (auto& entry : region.neighbors) {
        Region& neighbor = _region(entry.first);
        if (from_higher_label_only && !(region.label > neighbor.label)) {
            continue;
        }
        Link* link = entry.second;
        link->distance =
            model.region_distance(region, neighbor, video, partition, descriptor_manager);
        link_set.insert(link);
    }
}

// Takes every link of a and every link of b out of the set before the merge destroys them.
template <typename Signal, typename Region, ConnectivityType Connectivity>
void BinaryPartitionTree<Signal, Region, Connectivity>::_erase_links(Region& a, Region& b) {
    for (auto& entry : a.neighbors) {
        link_set.erase(entry.second);
    }
    for (auto& entry : b.neighbors) {
        if (entry.first != static_cast<typename Region::SpaceRegionType*>(&a)) {
            link_set.erase(entry.second);
        }
    }
}

template <typename Signal, typename Region, ConnectivityType Connectivity>
void BinaryPartitionTree<Signal, Region, Connectivity>::_write_trajectory_images(Signal& video) {
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
    for (long long t = 0; t < painted.size(2); ++t) {
        std::ostringstream path;
        path << parameters.output_path << "/trajectories/" << std::setw(5) << std::setfill('0') << t
             << ".png";
        painted.write_frame(path.str(), static_cast<unsigned long long>(t));
    }
}

template <typename Signal, typename Region, ConnectivityType Connectivity>
void BinaryPartitionTree<Signal, Region, Connectivity>::output_segmentation(
    Signal& video, std::string directory, unsigned long long /*level*/) {
    partition.refresh_current_labels();
    write_segmentation(partition.current_labels, video, directory);
}

}  // namespace gma
}  // namespace vorada
