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
    std::string output_directory;        ///< a vseg output directory (holds trees/tree.bpt)
    std::vector<std::uint64_t> regions;  ///< region counts asked for, in the order given
    bool by_distance = false;            ///< cut at a merge distance instead
    double distance = 0;
    std::string out;                       ///< where the segmentations go
    io::PngMode png = io::PngMode::exact;  ///< frame images as vseg's --png
    LabelFormat format = LabelFormat::sgm;
};

/// Usage line of the program.
std::string cut_usage(const std::string& program);
/// The usage line and what every option does (--help).
std::string cut_help(const std::string& program);

/// Parses `program OUTPUT_DIR (--regions N,N,… | --distance D) [--out DIR] [--png MODE]
/// [--format sgm|png16|npy]`; throws std::invalid_argument with a one-line reason for anything
/// else (--png goes with sgm only). --out defaults to OUTPUT_DIR/cuts.
CutOptions parse_cut_arguments(int argc, const char* const* argv);

/// The whole run of vseg-cut; returns the exit status (errors propagate as exceptions).
int run_vseg_cut(int argc, const char* const* argv);

}  // namespace cut
}  // namespace vorada
