#pragma once
// Clip mode: a range segmented clip by clip, each clip a run of its own (a child process of
// this one, or a separate command on another machine), then the clips joined into one tree and
// written in the layout of a whole run. Memory follows the clip length, not the video's.

#include <string>

#include "clips/clipfile.h"
#include "clips/plan.h"
#include "driver/arguments.h"
#include "driver/runrecord.h"

namespace vorada {
namespace gma {

/// vseg with --clip-frames (arguments checked, range not empty): plans the clips, then
/// segments one clip (--clip), joins the clips present (--join), or does both, the clips as
/// child processes `arguments.jobs` at a time. A plan of one clip is a whole run.
int run_clip_mode(const Arguments& arguments, RunRecord& record, int argc, const char* const* argv);

/// Segments clip `index` of `plan` into its own folder of the output (under that folder's lock):
/// cue and trajectory images, its tree file down to arguments.clip_regions regions, and last
/// the summary the join reads.
void run_clip(const Arguments& arguments, const clips::Plan& plan, unsigned long long index);

/// Refuses clips of `clip_frames` frames of width×height, `jobs` at once, that would not fit
/// in this process's memory, naming a clip length that would.
void check_clips_fit_in_memory(unsigned long long width,
                               unsigned long long height,
                               unsigned long long clip_frames,
                               unsigned long long jobs);

/// Runs clips `plan.clips` as child processes of this program (`argv` plus --clip I), `jobs`
/// at a time, saying on standard error when each is done. A failing clip stops the others and
/// throws, naming the clip and passing its last line of standard error on.
void segment_clips_in_children(const clips::Plan& plan,
                               unsigned long long jobs,
                               int argc,
                               const char* const* argv);

}  // namespace gma
}  // namespace vorada
