#include "driver/segmentarrays.h"

#include <cstdint>
#include <memory>
#include <utility>

#include "common/errors.h"
#include "distance/colorspaceconverter.h"
#include "driver/pipeline.h"
#include "signals/temporalneighbors.h"

namespace vorada {
namespace gma {

io::TreeFile build_tree(Video video,
                        Flow forward_flow,
                        Flow backward_flow,
                        const Arguments& arguments,
                        const StagePoll& poll) {
    const auto stage_done = [&poll] {
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
    stage_done();

    // The same stages, in the same order and with the same parameters, as run_vseg: the tree
    // is the one a run over the same frames and flows writes to its tree file.
    TreeParameters tree_parameters = make_tree_parameters();
    tree_parameters.output_levels.clear();
    LabelVolume trajectory_labels;
    auto tracker = std::make_unique<Tracker>(video.size);
    trajectory_labels = tracker->calculate(video, forward_flow, backward_flow);
    CueMap reliability = std::move(tracker->reliability_map);
    tracker.reset();
    stage_done();

    auto tree = std::make_unique<Tree>(tree_parameters);
    tree->init(trajectory_labels);
    trajectory_labels = LabelVolume();
    tree->partition.label_map.clear();
    add_temporal_neighbors(video, tree->partition, forward_flow, backward_flow,
                           tree->partition.leaf_labels, 0);
    backward_flow = Flow();
    auto distance_parameters = std::make_unique<DistanceParameters>(
        make_distance_parameters(run, video, std::move(forward_flow), std::move(reliability)));
    stage_done();

    io::TreeFile result;
    result.width = static_cast<std::uint64_t>(video.size(0));
    result.height = static_cast<std::uint64_t>(video.size(1));
    result.frames = static_cast<std::uint64_t>(video.size(2));
    result.leaf_count = tree->partition.max_index + 1;
    tree->reports.merged = [&result, &poll](const Tree::Merge& merge) {
        result.merges.push_back(io::TreeMerge{
            static_cast<std::uint32_t>(merge.label), static_cast<std::uint32_t>(merge.first),
            static_cast<std::uint32_t>(merge.second), static_cast<std::uint32_t>(merge.regions),
            merge.distance});
        if (poll) {
            poll();
        }
    };
    tree->create<DistanceModel>(video, std::move(*distance_parameters));
    distance_parameters.reset();

    // The leaves as 32-bit labels, made once the tree is gone.
    LabelVolume leaves = std::move(tree->partition.leaf_labels);
    tree.reset();
    video = Video();
    result.leaves.assign(leaves.values.begin(), leaves.values.end());
    return result;
}

}  // namespace gma
}  // namespace vorada
