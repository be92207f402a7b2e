#pragma once
// A tree file cut into clips, and cuts of it replayed clip by clip so that memory follows a clip,
// not the video.
//
// A run made clip by clip numbers its tree clip by clip: clip c's leaves are one range of labels
// and occur only in its frames, one range of frames; its merges are one range of the tree's
// merges and join only its own labels. The join's merges follow all of the clips' and join the
// regions the clips left and the ones the join made. The index "clips.txt" beside the tree
// records the ranges, each as its first element and its count:
//
//   vseg tree clips 1
//   clip 0 frames 0 3 leaves 0 5120 merges 0 5012
//   clip 1 frames 3 3 leaves 5120 4980 merges 5012 4870
//   join merges 9882 310
//
// A run made whole writes no index: its tree reads as one clip of every frame, leaf and merge.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "io/treefile.h"

namespace vorada {
namespace io {

/// One clip's part of a tree file.
struct TreeClip {
    std::uint64_t first_frame = 0, frames = 0;
    std::uint64_t first_leaf = 0, leaves = 0;
    std::uint64_t first_merge = 0, merges = 0;
};

/// The clips of a tree file, in frame order; the join's merges follow the last clip's.
struct ClipIndex {
    std::vector<TreeClip> clips;
    std::uint64_t join_merges = 0;
    /// Merges made inside the clips: the index of the join's first merge.
    std::uint64_t clip_merges() const;
};

/// The text of an index (the format above).
std::string clip_index_text(const ClipIndex& index);
/// Writes an index to `path` atomically.
void write_clip_index(const std::string& path, const ClipIndex& index);
/// Reads the index at `path` and checks it against `tree`'s header: ranges that follow one
/// another and cover every frame, leaf and merge. A missing file is the whole tree as one clip;
/// anything else that does not fit throws a one-line VoradaFileError naming the file.
ClipIndex read_clip_index(const std::string& path, const TreeFileReader& tree);

/// Replays cuts of a tree clip by clip: per frame, the region (tree label) of every pixel after
/// any number of merges, as labels_after gives it. Holds one clip's labels at a time (4 bytes
/// each) and the join's regions, never a table of the whole tree.
class ClipReplay {
  public:
    /// Reads every merge once and checks it as TreeFileReader::read_merges does, and also that a
    /// clip's merges join only that clip's labels and the join's only regions no clip merged.
    /// `index_path` names the index in errors. The reader must outlive the replay.
    ClipReplay(TreeFileReader& reader, ClipIndex index, std::string index_path);

    std::uint64_t leaf_count() const { return leaves; }
    std::uint64_t merge_count() const { return merges; }
    /// As the free functions of the same names (treefile.h), for this tree.
    std::uint64_t merges_for_regions(std::uint64_t regions) const;
    std::uint64_t merges_below_distance(double distance);

    /// Begins the cut after the first `merges` merges.
    void cut(std::uint64_t merges);
    /// The region of every pixel of frame t in the current cut, each leaf checked to be one of
    /// its clip's. Frames asked in order read each clip's merges once. Valid until the next call.
    const std::vector<std::uint32_t>& frame_regions(std::uint64_t t);
    /// Whether every leaf lies in some voxel (then a cut after K merges shows leaves − K
    /// regions). Reads the leaf map once, at the first call, each voxel's leaf checked against
    /// its clip; memory a bit per leaf of one clip.
    bool every_leaf_shown();
    /// The clip of the frame asked last.
    std::size_t current_clip() const { return clip; }
    /// Where a region of the frame asked last sits among its clip's labels (leaves first, then
    /// merged regions), or `joined` for a region the join made, which may span clips.
    std::uint64_t clip_slot(std::uint32_t region) const {
        const TreeClip& part = index.clips[clip];
        if (region < leaves) {
            return region - part.first_leaf;
        }
        return region < leaves + clip_merges ? part.leaves + (region - leaves - part.first_merge)
                                             : joined;
    }
    /// Labels of the current clip (the range of clip_slot()).
    std::uint64_t clip_labels() const;
    static constexpr std::uint64_t joined = ~std::uint64_t(0);

  private:
    // Reads the first `count` merges of clip c, checked, into the parent (a slot) of every slot.
    void _load_parents(std::size_t c, std::uint64_t count);
    // The region of every slot of clip c in the current cut.
    void _load_clip(std::size_t c);
    // The region after the join's part of the cut of a region the clips left.
    std::uint32_t _joined_region(std::uint32_t label) const;
    VoradaFileError _index_error(const std::string& reason) const;

    TreeFileReader& reader;
    ClipIndex index;
    std::string index_path;
    std::uint64_t leaves = 0, merges = 0, clip_merges = 0;
    // The join's merges: per merged region the clips left, its parent, by label; per region the
    // join made, its parent (or none).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> join_children;
    std::vector<std::uint32_t> join_parent;
    // The current cut: its merges, and per region the join made so far its region.
    std::uint64_t cut_merges = 0;
    std::vector<std::uint32_t> join_region;
    std::size_t clip = 0;
    bool clip_loaded = false;
    std::vector<std::uint32_t> table;  // per slot of the clip: its parent, then its region
    std::vector<std::uint32_t> frame;
    int leaves_shown = -1;  // every_leaf_shown(): -1 not known yet
};

/// Numbers the regions of frames asked of a ClipReplay in storage order by first appearance
/// (0, 1, …), as segmentation images and label files number them: a table of the current clip's
/// labels, dropped when the next clip begins, and a map of the join's regions.
class FirstAppearance {
  public:
    explicit FirstAppearance(const ClipReplay& replay);
    /// The index of a region of the frame asked last.
    std::uint32_t operator()(std::uint32_t region) {
        if (replay.current_clip() != clip || !started) {
            _begin_clip();
        }
        const std::uint64_t slot = replay.clip_slot(region);
        std::uint32_t& index =
            slot == ClipReplay::joined ? joined.emplace(region, unseen).first->second : table[slot];
        if (index == unseen) {
            index = count++;
        }
        return index;
    }
    /// Regions numbered so far.
    std::uint32_t regions() const { return count; }

  private:
    static constexpr std::uint32_t unseen = 0xFFFFFFFFu;
    void _begin_clip();

    const ClipReplay& replay;
    std::size_t clip = 0;
    bool started = false;
    std::vector<std::uint32_t> table;
    std::unordered_map<std::uint32_t, std::uint32_t> joined;
    std::uint32_t count = 0;
};

}  // namespace io
}  // namespace vorada
