#pragma once
// The steps of one vseg run, as small free functions the tests can call one by one.

#include <string>

#include "driver/arguments.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// Input frame n: input + "/frames/frame" + n zero-filled to at least 3 digits + ".png".
std::string frame_path(const std::string& input_directory, unsigned long long frame_number);
/// Forward flow of frame i: input + "/flows/flow_i_(i+1).flo".
std::string forward_flow_path(const std::string& input_directory, unsigned long long frame_number);
/// Backward flow of frame i: input + "/flows/flow_i_(i-1).flo".
std::string backward_flow_path(const std::string& input_directory, unsigned long long frame_number);
/// Image of frame index t under output + "/" + folder + "/": t zero-filled to 5 digits + ".png".
std::string frame_image_path(const std::string& directory, unsigned long long t);

/// Creates the output directory and its six subdirectories, in order; existing ones are reused.
void create_output_tree(const std::string& output_directory);

/// Reads frames first … first+T−1 into the video (sized on the first frame) as RGB doubles.
void load_frames(Video& video, const std::string& input_directory, unsigned long long first_frame,
                 unsigned long long frame_count);

/// Sizes both flows like the video and reads the forward flows of frame indices 0 … T−2 and the
/// backward flows of 1 … T−1.
void load_flows(Flow& forward_flow, Flow& backward_flow, const Video& video,
                const std::string& input_directory, unsigned long long first_frame);

/// The whole run of vseg; returns the exit status (errors propagate as exceptions).
int run_vseg(int argc, const char* const* argv);

}  // namespace gma
}  // namespace vorada
