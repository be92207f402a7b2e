#include "driver/segmentarrays.h"

#include <cstdint>
#include <string>
#include <utility>

#include "common/errors.h"
#include "distance/colorspaceconverter.h"
#include "driver/pipeline.h"
#include "io/imagewritequeue.h"

namespace vorada {
namespace gma {

io::TreeFile build_tree(Video video,
                        Flow forward_flow,
                        Flow backward_flow,
                        const Arguments& arguments,
                        const StagePoll& poll) {
    const auto stage_done = [&poll](const std::string&) {
        if (poll) {
            poll();
        }
    };
    Arguments run = arguments;
    run.first_frame = 0;
    run.last_frame = static_cast<unsigned long long>(video.size(2)) - 1;
    validate_run_arguments(run);
    if (forward_flow.size != video.size || backward_flow.size != video.size) {
        throw VoradaError("build_tree: the flows and the video differ in size");
    }
    ColorSpaceConverter<Video>().convert(video, CIELab);
    stage_done("loading");

    // The same stages, in the same order and with the same parameters, as run_vseg: the tree
    // is the one a run over the same frames and flows writes to its tree file.
    io::ImageWriteQueue no_images(0, 0, io::PngMode::none);
    LeafPartition leaf_partition =
        partition_signals(run, video, std::move(forward_flow), std::move(backward_flow),
                          make_tree_parameters({}), 0, "", no_images, stage_done);
    Tree& tree = *leaf_partition.tree;

    io::TreeFile result;
    result.width = static_cast<std::uint64_t>(video.size(0));
    result.height = static_cast<std::uint64_t>(video.size(1));
    result.frames = static_cast<std::uint64_t>(video.size(2));
    result.leaf_count = tree.partition.max_index + 1;
    tree.reports.merged = [&result, &poll](const Tree::Merge& merge) {
        result.merges.push_back(io::TreeMerge{
            static_cast<std::uint32_t>(merge.label), static_cast<std::uint32_t>(merge.first),
            static_cast<std::uint32_t>(merge.second), static_cast<std::uint32_t>(merge.regions),
            merge.distance});
        if (poll) {
            poll();
        }
    };
    tree.create<DistanceModel>(video, std::move(*leaf_partition.distance_parameters));
    leaf_partition.distance_parameters.reset();

    // The leaves as 32-bit labels, made once the tree is gone.
    LabelVolume leaves = std::move(tree.partition.leaf_labels);
    leaf_partition.tree.reset();
    video = Video();
    result.leaves.assign(leaves.values.begin(), leaves.values.end());
    return result;
}

}  // namespace gma
}  // namespace vorada
