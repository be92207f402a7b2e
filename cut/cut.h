#pragma once
// Cutting a run's binary partition tree at any number of regions: the merges of the tree file
// are replayed up to the cut and the segmentation is written as vseg writes its own.

#include <cstdint>
#include <string>
#include <vector>

#include "cut/labelformats.h"
#include "io/imagewritequeue.h"
#include "io/treefile.h"

namespace vorada {
namespace cut {

/// The command line of vseg-cut.
struct CutOptions {
    std::string output_directory;          ///< a vseg output directory (holds trees/tree.bpt)
    std::vector<std::uint64_t> regions;    ///< region counts asked for, in the order given
    bool by_distance = false;              ///< cut at a merge distance instead
    double distance = 0;
    std::string out;                       ///< where the segmentations go
    io::PngMode png = io::PngMode::exact;  ///< frame images as vseg's --png
    LabelFormat format = LabelFormat::sgm;
};

/// Usage line of the program.
std::string cut_usage(const std::string& program);
/// The usage line and what every option does (--help).
std::string cut_help(const std::string& program);

// Command-line pieces shared with vseg-view; each throws std::invalid_argument with a message
// for the user.
/// A whole number written in decimal digits only.
std::uint64_t parse_whole_number(const std::string& text, const std::string& option);
/// Comma-separated whole numbers, at least one.
std::vector<std::uint64_t> parse_number_list(const std::string& text, const std::string& option);
/// Takes the one positional argument, the output directory; refuses an unknown option or a second
/// directory.
void take_output_directory(const std::string& argument, std::string& output_directory);
/// Refuses a command line without an output directory.
void require_output_directory(const std::string& output_directory);

/// Parses `program OUTPUT_DIR (--regions N,N,… | --distance D) [--out DIR] [--png MODE]
/// [--format sgm|png16|npy]`; throws std::invalid_argument with a one-line reason for anything
/// else (--png goes with sgm only). --out defaults to OUTPUT_DIR/cuts.
CutOptions parse_cut_arguments(int argc, const char* const* argv);

/// Number of merges that leave `regions` regions; throws VoradaError if the tree never has
/// that many.
std::uint64_t merges_for_regions(const io::TreeFile& tree, std::uint64_t regions);

/// Number of merges made before the first one at distance `distance` or more: the cut below D.
std::uint64_t merges_below_distance(const io::TreeFile& tree, double distance);

/// Replays merges of a tree file: the label every voxel has after any number of them, the
/// label of its region as vseg's label files give it.
class MergeReplay {
  public:
    explicit MergeReplay(const io::TreeFile& tree);
    /// Labels of all voxels after the first `merges` merges (storage order).
    void labels_after(std::uint64_t merges, std::vector<unsigned long long>& labels);

  private:
    const io::TreeFile& tree;
    std::vector<std::uint32_t> parent;  ///< per label: the region it was merged into, or none
    std::vector<std::uint32_t> top;     ///< scratch: per label, its region after the cut
};

/// The whole run of vseg-cut; returns the exit status (errors propagate as exceptions).
int run_vseg_cut(int argc, const char* const* argv);

}  // namespace cut
}  // namespace vorada
