#pragma once
// The steps of one vseg run, as small free functions the tests can call one by one.

#include <functional>
#include <memory>
#include <string>

#include "distance/motioncolordistancemodel.h"
#include "driver/arguments.h"
#include "driver/progresslines.h"
#include "driver/runrecord.h"
#include "io/treefile.h"
#include "layout/layout.h"
#include "layout/memorylimit.h"
#include "signals/region.h"
#include "signals/videosignal.h"
#include "tracking/trajectorytracking.h"
#include "tree/binarypartitiontree.h"

namespace vorada {
namespace gma {

using Tracker = TrajectoryTracking<Video, Flow, LabelVolume>;
using Region = Trajectory<Video>;
using Tree = BinaryPartitionTree<Video, Region, IN_FRAME_4>;
using TreeParameters = Tree::Parameters;
using DistanceModel = MotionColorDistanceModel<Video, Region, SingleFlow, double>;
using DistanceParameters = DistanceModel::Parameters;

// The input and output paths, under the names the pipeline's code uses.
using layout::backward_flow_path;
using layout::forward_flow_path;
using layout::frame_image_path;
using layout::frame_path;
using layout::tree_file_path;

/// Creates the output directory (one level; an existing one is reused), or says in one line
/// why it cannot.
void create_output_directory(const std::string& output_directory);

/// Creates the output directory and its six subdirectories, in order; existing ones are reused.
void create_output_tree(const std::string& output_directory);

/// Reads frames first … first+T−1 into the video (sized on the first frame) as RGB doubles.
void load_frames(Video& video,
                 const std::string& input_directory,
                 unsigned long long first_frame,
                 unsigned long long frame_count);

/// Sizes both flows like the video and reads the forward flows of frame indices 0 … T−2 and the
/// backward flows of 1 … T−1.
void load_flows(Flow& forward_flow,
                Flow& backward_flow,
                const Video& video,
                const std::string& input_directory,
                unsigned long long first_frame);

/// Rejects a run whose signals could not fit in the memory this process may use (the smallest
/// of its cgroup's limit, its address-space limit and the memory available now), naming the
/// range and the limit.
/// A refusal names the clip length that fits with `jobs` clips at once, when jobs > 0.
void check_run_fits_in_memory(unsigned long long first_frame,
                              unsigned long long frame_count,
                              unsigned long long width,
                              unsigned long long height,
                              unsigned long long jobs = 0);

/// The same check for frames first … first+T−1, sized on the first frame's header (nothing is
/// decoded); a missing first frame is named. A refusal names the clip length that would fit
/// with `jobs` clips at once.
void check_frames_fit_in_memory(const std::string& input_directory,
                                unsigned long long first_frame,
                                unsigned long long frame_count,
                                unsigned long long jobs = 1);

/// Width and height of frame `frame_number`, from its header; a missing frame is named.
void frame_size(const std::string& input_directory,
                unsigned long long frame_number,
                unsigned long long& width,
                unsigned long long& height);

/// The tree parameters of a run: labels updated, down to 2 regions, segmentations at `levels`
/// (decreasing; by default 900 … 100, 40, 30, 20, 10, 5, 3 and 2).
TreeParameters make_tree_parameters(
    const std::vector<unsigned long long>& levels = Arguments::default_levels());

/// `flow` in single precision; a value without an exact single-precision form throws.
SingleFlow single_precision(const Flow& flow);

/// The distance parameters: the forward flow in single precision (exact, as flow files hold
/// floats), the reliability map and the weights derived from arguments 3 to 6 and the video
/// size; the area weight counts `area_frames` frames when that is not 0 (a clip weighs its
/// regions against the whole run).
DistanceParameters make_distance_parameters(const Arguments& arguments,
                                            const Video& video,
                                            Flow forward_flow,
                                            CueMap reliability,
                                            unsigned long long area_frames = 0);

/// Writes the occlusion, flow-variation and structure maps as grey PNG sequences.
void write_cue_images(Tracker& tracker,
                      const std::string& output_directory,
                      io::ImageWriteQueue* queue = nullptr);

/// An RGB copy of `video` with every voxel of a region spanning at least three frames red, the
/// regions as the partition's current labels show them.
Video paint_trajectories(Tree::Partition& partition, const Video& video);

/// Writes the tree's leaves as trajectory images: the video with every trajectory spanning at
/// least three frames in red, one PNG per frame under output + "/trajectories".
void write_trajectory_images(Tree& tree,
                             const Video& video,
                             const std::string& output_directory,
                             io::ImageWriteQueue* queue = nullptr);

/// Makes the tree write a segmentation under output + "/segmentations/" + level whenever it
/// reports a configured level. `tree`, `video` and `queue` must outlive the tree's create.
void report_segmentations(Tree& tree,
                          const Video& video,
                          const std::string& output_directory,
                          io::ImageWriteQueue* queue = nullptr);

/// Makes the tree print a progress line on standard error after every tenth of its merges.
/// `lines` must outlive the tree's create.
void report_progress(Tree& tree, ProgressLines& lines);

/// Writes the tree's leaves to the tree file of the run (under a temporary name) and makes the
/// tree append every merge to it; the caller finishes the returned writer after create.
std::unique_ptr<io::TreeFileWriter> record_tree(Tree& tree, const std::string& output_directory);

/// The same, writing the tree file at `path`.
std::unique_ptr<io::TreeFileWriter> record_tree_in(Tree& tree, const std::string& path);

/// Writes the run's input record (trees/input.txt): the input directory (absolute) and the
/// frame range, so that tools reading the output find the frames.
void write_input_record(const Arguments& arguments);

/// What the merging starts from: the tree holding the leaf partition with its temporal
/// neighbours, and the distance parameters its create takes.
struct LeafPartition {
    std::unique_ptr<Tree> tree;
    std::unique_ptr<DistanceParameters> distance_parameters;
};

/// The steps of a run before the merging, on frames first … first+T−1: loads them into `video`
/// (as CIELab) with their flows, then goes on as partition_signals. `stage_done` is also told
/// the end of "loading".
LeafPartition build_leaf_partition(const Arguments& arguments,
                                   Video& video,
                                   unsigned long long first_frame,
                                   const TreeParameters& tree_parameters,
                                   unsigned long long area_frames,
                                   const std::string& folder,
                                   io::ImageWriteQueue& queue,
                                   const std::function<void(const std::string&)>& stage_done);

/// The steps of a run before the merging on signals in memory (`video` in CIELab, the flows as
/// load_flows fills them, consumed): tracks, writes the cue and trajectory images under
/// `folder` (when the queue writes images) and builds the leaf partition. `stage_done` is told
/// the end of "tracking", "cue_images" and "partition"; `area_frames` as for
/// make_distance_parameters.
LeafPartition partition_signals(const Arguments& arguments,
                                Video& video,
                                Flow forward_flow,
                                Flow backward_flow,
                                const TreeParameters& tree_parameters,
                                unsigned long long area_frames,
                                const std::string& folder,
                                io::ImageWriteQueue& queue,
                                const std::function<void(const std::string&)>& stage_done);

/// The whole run of vseg; returns the exit status (errors propagate as exceptions).
int run_vseg(int argc, const char* const* argv);

/// The run over the whole range at once, from the output folder on (arguments checked, memory
/// too); `record` holds the arguments.
int run_pipeline(const Arguments& arguments, RunRecord& record);

/// run_vseg with every error ended in one line on the standard error stream and status 1; an
/// allocation that fails says that memory ran out, with the run's estimate and limit.
int vseg_main(int argc, const char* const* argv);

}  // namespace gma
}  // namespace vorada
