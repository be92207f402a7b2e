#include "prepare/options.h"

#include <cmath>
#include <sstream>

#include "common/errors.h"

namespace vorada {
namespace prepare {
namespace {

// A whole-word number: "12" is one, "12abc", "" and "-3" (for unsigned values) are not.
template <typename T>
T parse_number(const std::string& option, const std::string& text) {
    std::istringstream stream(text);
    T value{};
    char rest;
    if (text.empty() || text[0] == '-' || !(stream >> value) || (stream >> rest)) {
        throw VoradaError(option + ": \"" + text + "\" is not a number");
    }
    return value;
}

template <typename T>
T parse_at_least_one(const std::string& option, const std::string& text) {
    const T value = parse_number<T>(option, text);
    if (value < 1) {
        throw VoradaError(option + ": " + text + " must be at least 1");
    }
    return value;
}

FlowQuality parse_flow(const std::string& text) {
    if (text == "fast") {
        return FlowQuality::fast;
    }
    if (text == "medium") {
        return FlowQuality::medium;
    }
    if (text == "fine") {
        return FlowQuality::fine;
    }
    throw VoradaError("--flow: \"" + text + "\" is not one of fast, medium, fine");
}

}  // namespace

std::string flow_quality_name(FlowQuality quality) {
    switch (quality) {
        case FlowQuality::fast:
            return "fast";
        case FlowQuality::fine:
            return "fine";
        case FlowQuality::medium:
            break;
    }
    return "medium";
}

std::string prepare_usage_text(const std::string& program) {
    return "usage: " + program +
           " INPUT OUTPUT_DIR [options]\n"
           "Writes OUTPUT_DIR/frames/frameNNN.png, the forward and backward optical flows\n"
           "OUTPUT_DIR/flows/flow_I_J.flo and the shots OUTPUT_DIR/shots.txt that vseg reads,\n"
           "then prints the vseg command to run (in clip mode for several shots or a run too\n"
           "large for this machine's memory).\n"
           "  INPUT               a video file, or a folder of images (taken in natural order)\n"
           "  OUTPUT_DIR          directory that receives frames/ and flows/ (created if missing)\n"
           "  --first N           skip the first N frames of the input (default 0)\n"
           "  --count N           take N frames (default: all up to the end)\n"
           "  --step K            take every K-th frame (default 1)\n"
           "  --max-side PIXELS   shrink frames whose longer side exceeds PIXELS\n"
           "  --scale F           resize frames by the factor F, 0 < F <= 1\n"
           "  --flow fast|medium|fine  optical flow accuracy against speed (default medium)\n"
           "  --threads N         worker threads (default: usable cores); the result is the same\n"
           "  --force             replace frames and flows that OUTPUT_DIR holds of another input\n"
           "  -h, --help          print this help and exit\n"
           "  --version           print the version and exit\n";
}

PrepareCommand parse_prepare_arguments(const std::vector<std::string>& arguments) {
    PrepareCommand command;
    PrepareOptions& options = command.options;
    std::vector<std::string> positional;
    bool scale_given = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        if (name == "-h" || name == "--help") {
            command.action = PrepareCommand::help;
            return command;
        }
        if (name == "--version") {
            command.action = PrepareCommand::version;
            return command;
        }
        if (name.size() < 2 || name.compare(0, 2, "--") != 0) {
            positional.push_back(name);
            continue;
        }
        if (name == "--force") {
            options.force = true;
            continue;
        }
        // Options with a value: "--count 5" or "--count=5".
        std::string value;
        const std::size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            throw VoradaError(name + " needs a value (see --help)");
        }
        if (name == "--first") {
            options.first = parse_number<unsigned long long>(name, value);
        } else if (name == "--count") {
            options.count = parse_at_least_one<unsigned long long>(name, value);
        } else if (name == "--step") {
            options.step = parse_at_least_one<unsigned long long>(name, value);
        } else if (name == "--max-side") {
            options.max_side = parse_at_least_one<long long>(name, value);
        } else if (name == "--scale") {
            options.scale = parse_number<double>(name, value);
            scale_given = true;
            if (!(options.scale > 0 && options.scale <= 1)) {
                throw VoradaError("--scale: " + value + " must be greater than 0 and at most 1");
            }
        } else if (name == "--flow") {
            options.flow = parse_flow(value);
        } else if (name == "--threads") {
            options.threads = parse_at_least_one<unsigned>(name, value);
        } else {
            throw VoradaError("unknown option " + name + " (see --help)");
        }
    }
    if (scale_given && options.max_side > 0) {
        throw VoradaError("--max-side and --scale cannot be combined: choose one");
    }
    if (positional.size() != 2) {
        throw VoradaError("expected INPUT and OUTPUT_DIR, got " +
                          std::to_string(positional.size()) + " arguments (see --help)");
    }
    options.input = positional[0];
    options.output_directory = positional[1];
    return command;
}

}  // namespace prepare
}  // namespace vorada
