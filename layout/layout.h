#pragma once
// The on-disk contract of the vseg programs: where a run's input frames and flows are, where its
// output goes (level folders, trees/, cuts/, run.json, input.txt), the version text, and the one
// way every program's main reports a failure.

#include <cstdint>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace vorada {
namespace layout {

// Input ----------------------------------------------------------------------------------------

/// Input frame n: input + "/frames/frame" + n zero-filled to at least 3 digits + ".png".
std::string frame_path(const std::string& input_directory, unsigned long long frame_number);
/// Forward flow of frame i: input + "/flows/flow_i_(i+1).flo".
std::string forward_flow_path(const std::string& input_directory, unsigned long long frame_number);
/// Backward flow of frame i: input + "/flows/flow_i_(i-1).flo".
std::string backward_flow_path(const std::string& input_directory, unsigned long long frame_number);

// Output ---------------------------------------------------------------------------------------

/// The folders vseg makes in its output directory, in the order it makes them.
const std::vector<std::string>& output_folders();
/// Image of frame index t in `directory`: directory + "/" + t zero-filled to 5 digits + ".png".
std::string frame_image_path(const std::string& directory, unsigned long long t);
/// The segmentation folder of a level: output + "/segmentations/" + level.
std::string segmentation_directory(const std::string& output_directory, unsigned long long level);
/// Where vseg-cut writes by default: output + "/cuts".
std::string cuts_directory(const std::string& output_directory);
/// The tree file of a run: output + "/trees/tree.bpt".
std::string tree_file_path(const std::string& output_directory);
/// The clip index beside the tree of a run made clip by clip: output + "/trees/clips.txt".
std::string clip_index_path(const std::string& output_directory);
/// The input record of a run: output + "/trees/input.txt".
std::string input_record_path(const std::string& output_directory);
/// The record of a finished run: output + "/run.json".
std::string run_record_path(const std::string& output_directory);

/// Where a run's frames are: what trees/input.txt holds.
struct InputRecord {
    std::string input;  ///< the input directory, absolute
    unsigned long long first_frame = 0;
    unsigned long long last_frame = 0;
};

/// Writes the input record of a run ("input DIR", "first N", "last N", one line each).
void write_input_record(const std::string& output_directory, const InputRecord& record);
/// Reads the input record of a run; a missing file or one without an input directory throws
/// VoradaFileError naming it.
InputRecord read_input_record(const std::string& output_directory);

// Programs -------------------------------------------------------------------------------------

/// The version of the vseg programs, e.g. "1.0.0".
std::string version_text();
/// The version with the git commit of this build ("1.0.0 (abcdef123456)"), or the version alone
/// when built outside a git checkout.
std::string version_with_commit();

// Command-line pieces the programs share; each throws std::invalid_argument with a message for
// the user.
/// A whole number written in decimal digits only.
std::uint64_t parse_whole_number(const std::string& text, const std::string& option);
/// Comma-separated whole numbers, at least one.
std::vector<std::uint64_t> parse_number_list(const std::string& text, const std::string& option);
/// Takes the one positional argument, the output directory; refuses an unknown option or a second
/// directory.
void take_output_directory(const std::string& argument, std::string& output_directory);
/// Refuses a command line without an output directory.
void require_output_directory(const std::string& output_directory);

/// Runs a program's body: an exception ends it with its message alone on one line of `err`
/// (line breaks become spaces; after `prefix`, if given) and exit status 1.
int run_reporting_errors(const std::function<int()>& body,
                         std::ostream& err = std::cerr,
                         const std::string& prefix = "");

}  // namespace layout
}  // namespace vorada
