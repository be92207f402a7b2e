#include "layout/layout.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "common/errors.h"
#include "io/atomicfile.h"
#include "io/segmentation.h"
#include "layout/version.h"

namespace vorada {
namespace layout {

namespace {

// A whole number in decimal digits only, for the record's frame numbers.
unsigned long long record_number(const std::string& path, const std::string& text) {
    if (text.empty() || text.size() > 19 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        throw VoradaFileError(path, "holds a frame number that is not a whole number: " + text);
    }
    return std::stoull(text);
}

}  // namespace

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

std::string backward_flow_path(const std::string& input_directory,
                               unsigned long long frame_number) {
    return input_directory + "/flows/flow_" + std::to_string(frame_number) + "_" +
           std::to_string(frame_number - 1) + ".flo";
}

const std::vector<std::string>& output_folders() {
    static const std::vector<std::string> folders = {"segmentations",  "occlusions",
                                                     "trajectories",   "trees",
                                                     "flow_variation", "structure_tensor"};
    return folders;
}

std::string frame_image_path(const std::string& directory, unsigned long long t) {
    return gma::segmentation_frame_path(directory, t);
}

std::string segmentation_directory(const std::string& output_directory, unsigned long long level) {
    return output_directory + "/segmentations/" + std::to_string(level);
}

std::string cuts_directory(const std::string& output_directory) {
    return output_directory + "/cuts";
}

std::string tree_file_path(const std::string& output_directory) {
    return output_directory + "/trees/tree.bpt";
}

std::string clip_index_path(const std::string& output_directory) {
    return output_directory + "/trees/clips.txt";
}

std::string input_record_path(const std::string& output_directory) {
    return output_directory + "/trees/input.txt";
}

std::string run_record_path(const std::string& output_directory) {
    return output_directory + "/run.json";
}

void write_input_record(const std::string& output_directory, const InputRecord& record) {
    std::ostringstream text;
    text << "input " << record.input << "\n"
         << "first " << record.first_frame << "\n"
         << "last " << record.last_frame << "\n";
    const std::string bytes = text.str();
    io::write_file_atomically(input_record_path(output_directory), bytes.data(), bytes.size());
}

InputRecord read_input_record(const std::string& output_directory) {
    const std::string path = input_record_path(output_directory);
    std::ifstream file(path);
    if (!file) {
        throw VoradaFileError(path, "not found; give the input directory with --input");
    }
    InputRecord record;
    bool have_input = false;
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, 6, "input ") == 0) {
            record.input = line.substr(6);
            have_input = true;
        } else if (line.compare(0, 6, "first ") == 0) {
            record.first_frame = record_number(path, line.substr(6));
        } else if (line.compare(0, 5, "last ") == 0) {
            record.last_frame = record_number(path, line.substr(5));
        }
    }
    if (!have_input) {
        throw VoradaFileError(path, "names no input directory; give it with --input");
    }
    return record;
}

std::string version_text() {
    return VSEG_VERSION;
}

std::string version_with_commit() {
    const std::string commit = VSEG_COMMIT;
    return commit.empty() ? VSEG_VERSION : std::string(VSEG_VERSION) + " (" + commit + ")";
}

std::uint64_t parse_whole_number(const std::string& text, const std::string& option) {
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
            value = std::stoull(text, &used);
        }
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size()) {
        throw std::invalid_argument(option + " takes whole numbers, not '" + text + "'");
    }
    return value;
}

std::vector<std::uint64_t> parse_number_list(const std::string& text, const std::string& option) {
    std::vector<std::uint64_t> numbers;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        numbers.push_back(parse_whole_number(item, option));
    }
    if (numbers.empty()) {
        throw std::invalid_argument(option + " needs at least one number");
    }
    return numbers;
}

void take_output_directory(const std::string& argument, std::string& output_directory) {
    if (!argument.empty() && argument[0] == '-') {
        throw std::invalid_argument("unknown option " + argument);
    }
    if (!output_directory.empty()) {
        throw std::invalid_argument("more than one output directory given");
    }
    output_directory = argument;
}

void require_output_directory(const std::string& output_directory) {
    if (output_directory.empty()) {
        throw std::invalid_argument("no output directory given");
    }
}

int run_reporting_errors(const std::function<int()>& body,
                         std::ostream& err,
                         const std::string& prefix) {
    try {
        return body();
    } catch (const std::exception& error) {
        std::string message = error.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        err << prefix << message << std::endl;
        return 1;
    }
}

}  // namespace layout
}  // namespace vorada
