#pragma once
// The summary a clip leaves for the join, "regions.bin": the clip's parameters and, for every
// region left when its merging stopped, the descriptors the motion-colour distance needs, plus
// the adjacency among those regions. Little-endian:
//
//   offset 0     8 bytes   magic "VSEGCLIP"
//   offset 8     u64       format version (1)
//   offset 16    12 × u64  clip, segment, first_frame, frames, width, height, leaves, merges,
//                          num_colors, run_voxels, region count R, link count L
//   offset 112   3 × f64   color_scale, motion_scale, area_fraction
//   offset 136   R region records: u32 label, u32 colour count C, u64 area, i64 first_frame,
//                i64 last_frame, then (last−first+1) × 4 f64 (flow_x, flow_y, reliability,
//                points), C × 3 f64 colours, C × f64 weights
//   then         L × 2 u32 links (lower label, higher label)

#include <Eigen/Core>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "descriptors/flowsums.h"

namespace vorada {
namespace clips {

/// One top-level region of a clip.
struct ClipRegion {
    std::uint32_t label = 0;       ///< clip-local label, as in the clip's tree.bpt
    std::uint64_t area = 0;        ///< points
    std::int64_t first_frame = 0;  ///< clip-local frame indices of the region's span
    std::int64_t last_frame = 0;
    std::vector<gma::FlowFrame> frames;    ///< last−first+1 entries
    std::vector<Eigen::Vector3d> colours;  ///< colour signature (CIELab), <= num_colors entries
    std::vector<double> weights;           ///< one per colour
};

struct ClipSummary {
    std::uint64_t clip = 0, segment = 0;  ///< plan index and shot segment id
    std::uint64_t first_frame = 0;        ///< frame number of the clip's first frame
    std::uint64_t frames = 0, width = 0, height = 0;
    std::uint64_t leaves = 0, merges = 0;                         ///< as in the clip's tree.bpt
    double color_scale = 0, motion_scale = 0, area_fraction = 0;  ///< arguments 3–5 as parsed
    std::uint64_t num_colors = 0, run_voxels = 0;  ///< run_voxels = X·Y·T of the whole run
    std::vector<ClipRegion> regions;               ///< top-level regions, ascending label
    std::vector<std::pair<std::uint32_t, std::uint32_t>> links;  ///< (lower, higher label)
};

/// Name of the summary inside a clip folder; written last, so its presence marks a whole clip.
extern const char* const clip_summary_name;

/// Writes `summary` to `path` atomically; throws VoradaError on an inconsistent summary (a
/// region's frame or colour count off, labels not ascending, a link to no region).
void write_clip_summary(const std::string& path, const ClipSummary& summary);

/// Reads and checks a summary: magic and version, every count against the file's size before
/// anything is allocated, labels, spans and links against the clip's tree. A missing file throws
/// VoradaFileNotFound, anything else wrong VoradaFileError in one line naming the file.
ClipSummary read_clip_summary(const std::string& path);

}  // namespace clips
}  // namespace vorada
