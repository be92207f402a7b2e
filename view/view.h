#pragma once
// vseg-view: a picture of what a vseg run found. One sheet (overview.png) with a row per level
// and a column per chosen frame, each cell the frame with the region boundaries drawn over it
// beside the regions painted in their mean colour; an animated GIF per level; a CSV of the
// regions of each level.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vorada {
namespace view {

struct ViewOptions {
    std::string output_directory;
    std::vector<std::uint64_t> levels{900, 100, 20, 5};  ///< vseg's levels: L + 1 regions
    std::uint64_t frames = 6;                            ///< columns of the sheet
    /// Frames of each level's GIF: every frame up to this many, else this many evenly spaced
    /// (the GIF's frames are held while it is written, so this bounds the view's memory).
    std::uint64_t preview_frames = 300;
    std::string input;  ///< input directory; empty: the one recorded in trees/input.txt
};

std::string view_usage(const std::string& program);
/// The usage line and what every option does (--help).
std::string view_help(const std::string& program);

/// Parses `program OUTPUT_DIR [--levels L,L,…] [--frames K] [--preview-frames K] [--input DIR]`;
/// throws
/// std::invalid_argument with a one-line reason.
ViewOptions parse_view_arguments(int argc, const char* const* argv);

/// Frames of a run as 8-bit RGB, rows in order: all of them or only the few that are drawn.
struct Frames {
    int width = 0, height = 0, count = 0;  ///< count: frames of the video
    std::vector<int> held;                 ///< video frame of every frame held, ascending
    std::vector<std::uint8_t> rgb;         ///< the held frames one after another
    /// Frame t of the video; it must be held.
    const std::uint8_t* frame(int t) const;
};

/// Reads frame `frame` of `input` into `rgb` (width × height × 3 bytes); it must be that size.
void load_frame(
    const std::string& input, std::uint64_t frame, int width, int height, std::uint8_t* rgb);

/// `wanted` frame indices of `count`, evenly spaced, first and last included (all if fewer).
std::vector<int> spaced_frames(int count, std::uint64_t wanted);

/// The requested levels a tree of `leaf_count` leaves and `merge_count` merges holds, each
/// limited to the tree's range, without repeats.
std::vector<std::uint64_t> usable_levels(std::uint64_t leaf_count,
                                         std::uint64_t merge_count,
                                         const std::vector<std::uint64_t>& requested);

/// Regions of one level: their mean colours and extents over the whole video, and the region
/// of every pixel of the frames that are drawn.
struct LevelView {
    std::uint64_t level = 0;
    std::vector<int> region_frames;         ///< video frames whose region maps are held
    std::vector<std::uint32_t> region;      ///< compact region of every pixel of those frames
    std::vector<std::uint8_t> mean_color;   ///< 3 bytes per compact region
    std::vector<unsigned long long> label;  ///< tree label of every compact region
    std::vector<std::uint64_t> voxels;      ///< size of every compact region
    std::vector<int> first_frame, last_frame;
    /// Compact regions of frame t's pixels; the frame must be held.
    const std::uint32_t* frame_regions(int t, std::size_t frame_pixels) const;
};

/// Builds the view of one level in one pass over the video, a frame at a time: memory follows
/// the regions and the frames kept, not the video. Compact regions are numbered by first
/// appearance in storage order.
class LevelViewBuilder {
  public:
    LevelViewBuilder(std::uint64_t level, std::size_t frame_pixels);
    /// The next frame: its pixels and the region (tree label) at this level of each;
    /// `keep` holds its region map.
    void add_frame(const std::uint8_t* rgb, const std::uint32_t* regions, bool keep);
    /// Compact regions of the pixels of the frame added last.
    const std::uint32_t* last_regions() const { return current.data(); }
    LevelView finish();

  private:
    std::size_t pixels;
    int next_frame = 0;
    LevelView view;
    std::unordered_map<std::uint32_t, std::uint32_t> compact;  // tree label -> compact region
    std::vector<double> sums;                                  // colour sums per region
    std::vector<std::uint32_t> current;
};

/// Boundaries are yellow over dark pixels and deep pink over bright ones, so that they stand out
/// on both.
constexpr std::uint8_t boundary_color[3] = {255, 230, 0};
constexpr std::uint8_t bright_boundary_color[3] = {230, 0, 120};
/// Luminance (0-255) from which a pixel counts as bright.
constexpr int bright_luminance = 160;

/// An RGB picture and where its cells are.
struct Sheet {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    int cell_width = 0, cell_height = 0;
    std::vector<int> row_top;      ///< top of each level's cells
    std::vector<int> column_left;  ///< left of each frame's boundary cell; its mean cell follows
    int mean_offset = 0;           ///< from a boundary cell's left to its mean cell's left
    int label_width = 0;           ///< the column of row labels on the left
    int header_height = 0;         ///< the lines above the first row
};

/// One frame of one level at `cell_width` × `cell_height`: the frame with region boundaries
/// drawn over it (boundaries), or the regions in their mean colours (!boundaries).
std::vector<std::uint8_t> render_cell(const Frames& frames,
                                      const LevelView& view,
                                      int t,
                                      int cell_width,
                                      int cell_height,
                                      bool boundaries);
/// The same from one frame's pixels and compact regions (`mean_color` only when !boundaries).
std::vector<std::uint8_t> render_cell(const std::uint8_t* frame,
                                      const std::uint32_t* regions,
                                      int width,
                                      int height,
                                      const std::uint8_t* mean_color,
                                      int cell_width,
                                      int cell_height,
                                      bool boundaries);

/// The overview sheet of a tree of `leaf_count` leaves, no wider than about `max_width` pixels
/// (cells are scaled down to fit).
Sheet render_overview(std::uint64_t leaf_count,
                      const Frames& frames,
                      const std::vector<LevelView>& views,
                      const std::vector<int>& columns,
                      int max_width = 3200);

/// The whole run of vseg-view; returns the exit status (errors propagate as exceptions).
int run_vseg_view(int argc, const char* const* argv);

}  // namespace view
}  // namespace vorada
