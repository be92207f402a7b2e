#pragma once
// The command line of vseg-prepare.

#include <string>
#include <vector>

namespace vorada {
namespace prepare {

/// Flow presets: speed against accuracy of the dense optical flow.
enum class FlowQuality { fast, medium, fine };

/// What vseg-prepare was asked to do.
struct PrepareOptions {
    std::string input;             ///< a video file or a folder of images
    std::string output_directory;  ///< receives frames/, flows/ and the record of the input
    unsigned long long first = 0;  ///< input frames skipped before the first one taken
    unsigned long long count = 0;  ///< frames taken; 0: every frame up to the end
    unsigned long long step = 1;   ///< one frame taken in every step
    long long max_side = 0;        ///< longest side after shrinking; 0: no limit
    double scale = 0;              ///< resize factor in (0, 1]; 0: none
    FlowQuality flow = FlowQuality::medium;
    unsigned threads = 0;  ///< worker threads; 0: one per core
    bool force = false;    ///< replace frames and flows of another input
};

/// A parsed command line: run, or only print the help or the version.
struct PrepareCommand {
    enum Action { run, help, version } action = run;
    PrepareOptions options;
};

/// Parses the arguments after the program name; raises VoradaError naming the faulty argument.
PrepareCommand parse_prepare_arguments(const std::vector<std::string>& arguments);

/// The --help text, one line per argument and option.
std::string prepare_usage_text(const std::string& program);

/// The name of a flow preset as written on the command line.
std::string flow_quality_name(FlowQuality quality);

}  // namespace prepare
}  // namespace vorada
