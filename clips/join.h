#pragma once
// The join of a clip-mode run: the regions every clip left, linked within each clip and across
// the boundary between consecutive clips of one shot, merged on with the motion-colour distance
// into one tree over the whole range; then the run's output written clip by clip, never the
// whole video in memory.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "clips/plan.h"
#include "io/imagewritequeue.h"

namespace vorada {
namespace clips {

struct JoinSettings {
    std::string input_directory, output_directory;
    double color_scale = 0, motion_scale = 0, area_fraction = 0;  ///< arguments 3–5 as parsed
    std::uint64_t num_colors = 0;
    /// Region counts whose segmentation is written, in any order.
    std::vector<unsigned long long> output_levels;
    io::PngMode png_mode = io::PngMode::exact;
    /// Called after every tenth of the join's merges with (done, total); may be empty.
    std::function<void(unsigned long long, unsigned long long)> progressed;
};

struct JoinReport {
    std::uint64_t width = 0, height = 0, frames = 0;
    std::uint64_t leaves = 0;         ///< leaves of the global tree
    std::uint64_t clip_merges = 0;    ///< merges made inside the clips
    std::uint64_t join_merges = 0;    ///< merges made by the join
    std::uint64_t start_regions = 0;  ///< regions when the join began
};

/// Folder of the clips' results inside an output folder.
std::string clips_directory(const std::string& output_directory);

/// Joins the clips of `plan` found under output/clips/ (every one must be complete, with the
/// parameters of `settings`) and writes the run's output in the default layout:
/// segmentations/<level>/ for every level, trees/tree.bpt, and the cue and trajectory images
/// renamed to the run's frame indices. The caller holds the output folder's lock, then writes
/// trees/input.txt and run.json and calls remove_clip_folders(). Errors are one-line VoradaErrors
/// naming the clip.
JoinReport join_clips(const Plan& plan, const JoinSettings& settings);

/// Removes output/clips/ after a successful join.
void remove_clip_folders(const std::string& output_directory);

}  // namespace clips
}  // namespace vorada
