#pragma once
// The binary partition tree of a run on disk, "tree.bpt": the leaf region of every voxel and the
// merges in the order they were made. Little-endian, no compression, so that a script can read
// it with a few lines of NumPy:
//
//   offset 0        8 bytes  magic "VSEGBPT1"
//   offset 8        6 × u64  width X, height Y, frames T, leaves N, merges M, reserved (0)
//   offset 56       X·Y·T × u32   leaf label (0 … N−1) of every voxel, x fastest, then y, then t
//                   4 zero bytes when X·Y·T is odd, so that the records start 8-byte aligned
//   then            M records of 24 bytes: u32 label, u32 first, u32 second, u32 regions,
//                   f64 distance — the new region's label (N + its index), its two children in
//                   the order they were joined, the regions present after the merge, the
//                   distance of the children's link
//
// The writer streams the merges as they are made into a temporary file next to the final one
// and renames it only when the tree is complete.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/atomicfile.h"

namespace vorada {
namespace io {

/// One merge of the tree file.
struct TreeMerge {
    std::uint32_t label;
    std::uint32_t first;
    std::uint32_t second;
    std::uint32_t regions;
    double distance;
};
static_assert(sizeof(TreeMerge) == 24, "a merge record is 24 bytes without padding");

/// Bytes before the leaf labels.
constexpr std::uint64_t tree_file_header_bytes = 56;

/// Byte offset of the first merge record for a video of `voxels` voxels.
constexpr std::uint64_t tree_file_merges_offset(std::uint64_t voxels) {
    return tree_file_header_bytes + 4 * (voxels + voxels % 2);
}

/// Writes a tree file: the header and leaves at construction, merges one by one, then finish()
/// renames the temporary file to `path`. A writer destroyed before finish() removes its
/// temporary file, so an interrupted run leaves no tree that looks complete.
class TreeFileWriter {
  public:
    /// `leaves`: the leaf label of every voxel in storage order, each below `leaf_count`.
    TreeFileWriter(const std::string& path,
                   std::uint64_t width,
                   std::uint64_t height,
                   std::uint64_t frames,
                   const std::uint64_t* leaves,
                   std::uint64_t leaf_count);
    /// The header only: the leaves follow in storage order through add_leaves(), all of them
    /// before the first merge. For videos whose leaf map is never whole in memory.
    TreeFileWriter(const std::string& path,
                   std::uint64_t width,
                   std::uint64_t height,
                   std::uint64_t frames,
                   std::uint64_t leaf_count);
    ~TreeFileWriter();
    TreeFileWriter(const TreeFileWriter&) = delete;
    TreeFileWriter& operator=(const TreeFileWriter&) = delete;

    /// Appends the leaf labels of the next `count` voxels, each below the leaf count.
    void add_leaves(const std::uint32_t* leaves, std::uint64_t count);
    void add(const TreeMerge& merge);
    /// Completes the header, closes the file and gives it its final name.
    void finish();

    const std::string& temporary_path() const { return temporary; }

  private:
    void _fail(const std::string& reason, int error = 0);
    // Checks that every voxel has its leaf and writes the padding after the leaf map.
    void _end_leaves();

    std::string final_path;
    std::string temporary;
    std::FILE* file = nullptr;
    std::unique_ptr<UnfinishedFile> unfinished;  // removed by a stop signal until renamed
    std::uint64_t merge_count = 0;
    std::uint64_t voxels = 0, leaf_total = 0;
    std::uint64_t leaves_written = 0;
    bool leaves_ended = false;
};

/// A tree file read back and checked.
struct TreeFile {
    std::uint64_t width = 0, height = 0, frames = 0;
    std::uint64_t leaf_count = 0;
    std::vector<std::uint32_t> leaves;  ///< X·Y·T leaf labels
    std::vector<TreeMerge> merges;
};

/// A tree file read piece by piece: the header is checked against the file's size when it is
/// opened, the leaf map read a range of voxels at a time, the merges on demand. Memory follows
/// the pieces asked for, not the video.
class TreeFileReader {
  public:
    /// Opens and checks the header; errors as read_tree_file's.
    explicit TreeFileReader(const std::string& path);
    ~TreeFileReader();
    TreeFileReader(const TreeFileReader&) = delete;
    TreeFileReader& operator=(const TreeFileReader&) = delete;

    std::uint64_t width() const { return header_width; }
    std::uint64_t height() const { return header_height; }
    std::uint64_t frames() const { return header_frames; }
    std::uint64_t leaf_count() const { return leaves; }
    std::uint64_t merge_count() const { return merges; }
    std::uint64_t voxels() const { return header_width * header_height * header_frames; }

    /// Reads the leaf labels of voxels first … first+count−1 into `out`, each checked against
    /// the leaf count.
    void read_leaves(std::uint64_t first, std::uint64_t count, std::uint32_t* out);
    /// Reads every merge, checked for consistency with the ones before it.
    std::vector<TreeMerge> read_merges();
    /// Reads merges first … first+count−1 a piece at a time, without read_merges()'s checks (for
    /// a caller that checks them itself, or that checked them before), and hands the pieces in
    /// order to `take` (the piece and the index of its first merge); `take` returns false to
    /// stop early. Memory: a piece.
    void read_merge_range(
        std::uint64_t first,
        std::uint64_t count,
        const std::function<bool(const TreeMerge* piece, std::size_t size, std::uint64_t first)>&
            take);
    const std::string& file_path() const { return path; }

  private:
    std::string path;
    std::FILE* file = nullptr;
    std::uint64_t header_width = 0, header_height = 0, header_frames = 0;
    std::uint64_t leaves = 0, merges = 0;
};

/// Reads and checks a tree file; a missing file throws VoradaFileNotFound, a truncated or
/// inconsistent one VoradaFileError naming what is wrong.
TreeFile read_tree_file(const std::string& path);

/// Number of merges that leave `regions` regions; throws VoradaError if the tree never has
/// that many.
std::uint64_t merges_for_regions(const TreeFile& tree, std::uint64_t regions);
/// The same for a tree of `leaves` leaves and `merges` merges.
std::uint64_t merges_leaving(std::uint64_t leaves, std::uint64_t merges, std::uint64_t regions);

/// Number of merges made before the first one at distance `distance` or more: the cut below D.
std::uint64_t merges_below_distance(const TreeFile& tree, double distance);
/// The same over `count` merges in file order: the index of the first at `distance` or more,
/// or `count`.
std::size_t merges_before(const TreeMerge* merges, std::size_t count, double distance);

/// Labels of all voxels (storage order) after the first `merges` merges: the label of each
/// voxel's region, as vseg's label files give it.
void labels_after(const TreeFile& tree,
                  std::uint64_t merges,
                  std::vector<unsigned long long>& labels);

}  // namespace io
}  // namespace vorada
