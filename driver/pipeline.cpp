#include "driver/pipeline.h"

#include <boost/filesystem.hpp>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "common/errors.h"
#include "driver/flowreader.h"

namespace vorada {
namespace gma {

std::string frame_path(const std::string& input_directory, unsigned long long frame_number) {
    std::ostringstream name;
    name << input_directory << "/frames/frame" << std::setw(3) << std::setfill('0') << frame_number
         << ".png";
    return name.str();
}

std::string forward_flow_path(const std::string& input_directory, unsigned long long frame_number) {
    return input_directory + "/flows/flow_" + std::to_string(frame_number) + "_" +
           std::to_string(frame_number + 1) + ".flo";
}

std::string backward_flow_path(const std::string& input_directory, unsigned long long frame_number) {
    return input_directory + "/flows/flow_" + std::to_string(frame_number) + "_" +
           std::to_string(frame_number - 1) + ".flo";
}

std::string frame_image_path(const std::string& directory, unsigned long long t) {
    std::ostringstream name;
    name << directory << "/" << std::setw(5) << std::setfill('0') << t << ".png";
    return name.str();
}

void create_output_tree(const std::string& output_directory) {
    boost::filesystem::create_directory(output_directory);
    for (const char* sub : {"segmentations", "occlusions", "trajectories", "trees", "flow_variation",
                            "structure_tensor"}) {
        boost::filesystem::create_directory(output_directory + "/" + sub);
    }
}

void load_flows(Flow& forward_flow, Flow& backward_flow, const Video& video,
                const std::string& input_directory, unsigned long long first_frame) {
    const long long frames = video.size(2);
    forward_flow.resize(video.size(0), video.size(1), frames);
    backward_flow.resize(video.size(0), video.size(1), frames);
    for (long long t = 0; t + 1 < frames; ++t) {
        read_optical_flow(forward_flow, forward_flow_path(input_directory, first_frame + t),
                          static_cast<unsigned long long>(t));
    }
    for (long long t = 1; t < frames; ++t) {
        read_optical_flow(backward_flow, backward_flow_path(input_directory, first_frame + t),
                          static_cast<unsigned long long>(t));
    }
}

int run_vseg(int argc, const char* const* argv) {
    if (argc < 9) {
        std::cerr << usage_text(argc > 0 ? argv[0] : "vseg");
        return 2;
    }
    const Arguments arguments = parse_arguments(argv);
    create_output_tree(arguments.output_directory);
    if (arguments.first_frame > arguments.last_frame) {
        return 0;
    }
    validate_run_arguments(arguments);
    const unsigned long long frame_count = arguments.frame_count();

    Video video(frame_count);
    load_frames(video, arguments.input_directory, arguments.first_frame, frame_count);

    Flow forward_flow, backward_flow;
    load_flows(forward_flow, backward_flow, video, arguments.input_directory, arguments.first_frame);
    return 0;
}

}  // namespace gma
}  // namespace vorada
