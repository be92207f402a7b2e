#pragma once
// The tree stages of a vseg run on signals already in memory: tracking, the region partition and
// the binary partition tree, without files. For callers that hold the frames and flows
// themselves (the Python package); the leaves and merges equal those of the run's tree file.

#include <functional>

#include "driver/arguments.h"
#include "io/treefile.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// Called between the stages and after every merge; it may throw to abandon the run.
using StagePoll = std::function<void()>;

/// Builds the tree of a run over `video` (RGB, values 0 … 255) and its flows (forward flow of
/// frame t in frame t, backward flow of frame t in frame t, as load_flows fills them), with the
/// colour scale, motion scale, area fraction and dominant colours of `arguments`. The signals
/// are consumed. Returns the leaf label of every voxel and the merges in the order made.
io::TreeFile build_tree(Video video,
                        Flow forward_flow,
                        Flow backward_flow,
                        const Arguments& arguments,
                        const StagePoll& poll = StagePoll());

}  // namespace gma
}  // namespace vorada
