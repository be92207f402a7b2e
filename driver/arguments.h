#pragma once

#include <limits>
#include <string>
#include <vector>

#include "io/imagewritequeue.h"

namespace vorada {
namespace gma {

/// The eight positional arguments of vseg, parsed with formatted stream extraction. A value that
/// does not parse keeps the default written here.
struct Arguments {
    unsigned long long first_frame = 0;
    unsigned long long last_frame = std::numeric_limits<unsigned long long>::max();
    double color_scale = 0;      ///< sigma_c: color_weight = 1 / sigma_c^2
    double motion_scale = 0;     ///< sigma_m: motion_weight = 1 / sigma_m^2
    double area_fraction = 0;    ///< a: area_weight = 1 / (X·Y·T·a)
    double dominant_colors = 0;  ///< truncated toward zero to num_colors
    std::string input_directory;
    std::string output_directory;
    std::string texts[6];  ///< the words of arguments 1 to 6 as given, for messages
    io::PngMode png_mode = io::PngMode::exact;  ///< --png after the eight arguments
    /// --levels: the region counts whose segmentations are written, decreasing.
    std::vector<unsigned long long> levels = default_levels();
    unsigned long long clip_frames = 0;      ///< --clip-frames: frames per clip; 0: no clip mode
    unsigned long long jobs = 1;             ///< --jobs: clips segmented at once
    unsigned long long clip_regions = 1000;  ///< --clip-regions: regions a clip is merged down to
    bool single_clip = false;                ///< --clip given: segment only clip `clip`
    unsigned long long clip = 0;
    bool join_only = false;  ///< --join: only join the clips already segmented

    /// The levels written without --levels: 900 … 100, 40, 30, 20, 10, 5, 3 and 2.
    static std::vector<unsigned long long> default_levels();

    /// Number of frames of the run (meaningful when first_frame <= last_frame).
    unsigned long long frame_count() const { return last_frame - first_frame + 1; }
    /// num_colors: the sixth argument truncated toward zero.
    unsigned long long num_colors() const;
};

/// The usage text printed when arguments are missing and for --help.
std::string usage_text(const std::string& program);

/// Parses argv[1..8]; the caller has checked that eight are present.
Arguments parse_arguments(const char* const* argv);

/// Reads the options after the eight arguments (argv[9] … argv[argc − 1]): `--png MODE` or
/// `--png=MODE`, MODE one of exact, fast, none; the clip-mode options and `--levels LIST`, each
/// as `--name VALUE` or `--name=VALUE`. Returns false for an unknown option, a missing value or
/// a bad --png mode; throws a VoradaError naming a bad value of the others, or a combination
/// that makes no sense.
bool parse_options(int argc, const char* const* argv, Arguments& arguments);

/// Parses a --levels list: comma-separated region counts of at least 1, returned decreasing
/// without repeats. Throws a one-line VoradaError for anything else.
std::vector<unsigned long long> parse_levels(const std::string& text);

/// Rejects a first or last frame number written with a minus sign (stream extraction would
/// wrap it around to a huge number) with a VoradaError.
void reject_negative_frame_numbers(const Arguments& arguments);

/// Rejects arguments a run cannot use (a range too large to hold, weights that would be infinite
/// or not a number, a colour count the distance solver cannot hold) with a VoradaError.
void validate_run_arguments(const Arguments& arguments);

}  // namespace gma
}  // namespace vorada
