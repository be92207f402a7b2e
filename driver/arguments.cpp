#include "driver/arguments.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>

#include "common/errors.h"

namespace vorada {
namespace gma {
namespace {

template <typename T>
void parse_value(const char* text, T& value) {
    std::istringstream stream(text);
    T parsed;
    if (stream >> parsed) {
        value = parsed;
    }
}

// A word that stream extraction reads whole as a T ("12abc" and "abc" are not numbers).
template <typename T>
bool is_number(const std::string& text) {
    std::istringstream stream(text);
    T value;
    char rest;
    return static_cast<bool>(stream >> value) && !(stream >> rest);
}

// Names a word that is not a number; the value it parsed to has decided nothing new.
template <typename T>
void require_number(const std::string& text, const std::string& name) {
    if (!text.empty() && !is_number<T>(text)) {
        throw VoradaError("Invalid " + name + ": \"" + text + "\" is not a number");
    }
}

// The longest run vseg accepts; a larger range is a typo or an unparsable last frame.
constexpr unsigned long long max_frames = 100000;

// A scale sigma enters as the weight 1/sigma^2: any sigma whose weight is a finite number is
// usable (a negative sigma weighs like its absolute value), zero or NaN is not.
void require_usable_scale(double value, const std::string& text, const std::string& name) {
    const double weight = 1.0 / (value * value);
    if (std::isnan(value) || !std::isfinite(weight)) {
        require_number<double>(text, name);
        std::ostringstream message;
        message << "Invalid " << name << " " << value
                << ": its weight 1/scale^2 must be a finite number (use a non-zero scale)";
        throw VoradaError(message.str());
    }
}

// The area weight 1/(X*Y*T*a) must not be negative or infinite, or distances turn NaN.
void require_usable_area_fraction(double value, const std::string& text) {
    if (!(value > 0)) {
        require_number<double>(text, "area fraction (argument 5)");
        std::ostringstream message;
        message << "Invalid area fraction (argument 5) " << value << ": it must be positive";
        throw VoradaError(message.str());
    }
}

}  // namespace

unsigned long long Arguments::num_colors() const {
    if (!(dominant_colors >= 0) || dominant_colors >= 18446744073709551616.0) {
        return 0;
    }
    return static_cast<unsigned long long>(dominant_colors);
}

std::string usage_text(const std::string& program) {
    return "usage: " + program +
           " FIRST_FRAME LAST_FRAME COLOR_SCALE MOTION_SCALE AREA_FRACTION NUM_COLORS INPUT_DIR "
           "OUTPUT_DIR [--png exact|fast|none] [--levels LIST]\n"
           "       [--clip-frames N [--jobs J] [--clip-regions K] [--clip I | --join]]\n"
           "  FIRST_FRAME, LAST_FRAME  frame numbers of the run, inclusive (frames/frameNNN.png)\n"
           "  COLOR_SCALE              colour scale sigma_c > 0 (colour weight 1/sigma_c^2)\n"
           "  MOTION_SCALE             motion scale sigma_m > 0 (motion weight 1/sigma_m^2)\n"
           "  AREA_FRACTION            area fraction a > 0 (area weight 1/(X*Y*T*a))\n"
           "  NUM_COLORS               dominant colours per region, 1 to 255\n"
           "  INPUT_DIR                directory holding frames/ and flows/\n"
           "  OUTPUT_DIR               directory that receives all output\n"
           "options (after the eight arguments):\n"
           "  --png exact|fast|none    frame images as defined (default), the same pixels\n"
           "                           compressed much faster, or no PNG files at all\n"
           "  --levels LIST            region counts of the segmentations written, separated by\n"
           "                           commas (default 900,800,700,600,500,400,300,200,100,40,\n"
           "                           30,20,10,5,3,2)\n"
           "clip mode (long videos in bounded memory):\n"
           "  --clip-frames N          segment clips of N frames apart (cut also at the shots of\n"
           "                           INPUT_DIR/shots.txt), then join them into one hierarchy\n"
           "  --jobs J                 clips segmented at once (default 1)\n"
           "  --clip-regions K         regions each clip keeps for the join (default 1000, more\n"
           "                           than the largest level)\n"
           "  --clip I                 only segment clip I (0, 1, ...) of the plan, for runs on\n"
           "                           many machines; then run once with --join\n"
           "  --join                   only join the clips already segmented; write the output\n"
           "  -h, --help               print this help and exit\n"
           "  --version                print the version and exit\n";
}

std::vector<unsigned long long> Arguments::default_levels() {
    return {900, 800, 700, 600, 500, 400, 300, 200, 100, 40, 30, 20, 10, 5, 3, 2};
}

namespace {

// The most clips segmented at once (child processes a stop must reach).
constexpr unsigned long long max_jobs = 64;

// A whole number of at least `least` for option `name`, written in digits only.
unsigned long long option_count(const std::string& text,
                                const std::string& name,
                                unsigned long long least) {
    const bool digits = !text.empty() && text.size() <= 19 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    const unsigned long long value = digits ? std::stoull(text) : 0;
    if (!digits || value < least) {
        throw VoradaError("Invalid " + name + " \"" + text +
                          "\": it must be a whole number of at least " + std::to_string(least));
    }
    return value;
}

}  // namespace

std::vector<unsigned long long> parse_levels(const std::string& text) {
    std::vector<unsigned long long> levels;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        const bool digits = !item.empty() && item.size() <= 19 &&
                            item.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoull(item) == 0) {
            throw VoradaError("Invalid --levels \"" + text +
                              "\": it must list region counts of at least 1, separated by commas");
        }
        levels.push_back(std::stoull(item));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    std::sort(levels.begin(), levels.end(), std::greater<unsigned long long>());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    return levels;
}

Arguments parse_arguments(const char* const* argv) {
    Arguments arguments;
    for (int i = 0; i < 6; ++i) {
        arguments.texts[i] = argv[i + 1];
    }
    parse_value(argv[1], arguments.first_frame);
    parse_value(argv[2], arguments.last_frame);
    parse_value(argv[3], arguments.color_scale);
    parse_value(argv[4], arguments.motion_scale);
    parse_value(argv[5], arguments.area_fraction);
    parse_value(argv[6], arguments.dominant_colors);
    parse_value(argv[7], arguments.input_directory);
    parse_value(argv[8], arguments.output_directory);
    return arguments;
}

bool parse_options(int argc, const char* const* argv, Arguments& arguments) {
    bool clip_frames = false, jobs = false, clip_regions = false;
    for (int i = 9; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--join") {
            arguments.join_only = true;
            continue;
        }
        std::string name = option, value;
        const std::size_t equals = option.find('=');
        if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = option.substr(0, equals);
            value = option.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return false;
        }
        if (name == "--png") {
            if (!io::parse_png_mode(value, arguments.png_mode)) {
                return false;
            }
        } else if (name == "--levels") {
            arguments.levels = parse_levels(value);
        } else if (name == "--clip-frames") {
            arguments.clip_frames = option_count(value, "--clip-frames", 1);
            clip_frames = true;
        } else if (name == "--jobs") {
            arguments.jobs = option_count(value, "--jobs", 1);
            if (arguments.jobs > max_jobs) {
                throw VoradaError("Invalid --jobs " + value + ": at most " +
                                  std::to_string(max_jobs) + " clips run at once");
            }
            jobs = true;
        } else if (name == "--clip-regions") {
            arguments.clip_regions = option_count(value, "--clip-regions", 2);
            clip_regions = true;
        } else if (name == "--clip") {
            arguments.clip = option_count(value, "--clip", 0);
            arguments.single_clip = true;
        } else {
            return false;
        }
    }
    if (!clip_frames) {
        for (const auto& used :
             {std::make_pair(jobs, "--jobs"), std::make_pair(clip_regions, "--clip-regions"),
              std::make_pair(arguments.single_clip, "--clip"),
              std::make_pair(arguments.join_only, "--join")}) {
            if (used.first) {
                throw VoradaError(std::string(used.second) + " needs --clip-frames N");
            }
        }
    }
    if (arguments.single_clip && arguments.join_only) {
        throw VoradaError("--clip and --join exclude each other: segment each clip, then join");
    }
    if (clip_frames && arguments.clip_regions <= arguments.levels.front()) {
        throw VoradaError("Invalid --clip-regions " + std::to_string(arguments.clip_regions) +
                          ": it must be more than the largest level written, " +
                          std::to_string(arguments.levels.front()));
    }
    return true;
}

void reject_negative_frame_numbers(const Arguments& arguments) {
    for (int i = 0; i < 2; ++i) {
        const std::string& text = arguments.texts[i];
        const std::size_t start = text.find_first_not_of(" \t\n\r\f\v");
        if (start != std::string::npos && text[start] == '-') {
            throw VoradaError(std::string("Invalid ") + (i == 0 ? "first" : "last") +
                              " frame (argument " + std::to_string(i + 1) + ") \"" + text +
                              "\": frame numbers cannot be negative");
        }
    }
}

void validate_run_arguments(const Arguments& arguments) {
    if (arguments.last_frame < arguments.first_frame ||
        arguments.last_frame - arguments.first_frame >= max_frames) {
        for (int i = 0; i < 2; ++i) {
            if (!arguments.texts[i].empty() && !is_number<unsigned long long>(arguments.texts[i])) {
                throw VoradaError("Invalid frame range " + std::to_string(arguments.first_frame) +
                                  " to " + std::to_string(arguments.last_frame) + ": \"" +
                                  arguments.texts[i] + "\" (argument " + std::to_string(i + 1) +
                                  ") is not a number");
            }
        }
        throw VoradaError("Invalid frame range " + std::to_string(arguments.first_frame) + " to " +
                          std::to_string(arguments.last_frame) + ": a run holds at most " +
                          std::to_string(max_frames) + " frames");
    }
    require_usable_scale(arguments.color_scale, arguments.texts[2], "colour scale (argument 3)");
    require_usable_scale(arguments.motion_scale, arguments.texts[3], "motion scale (argument 4)");
    require_usable_area_fraction(arguments.area_fraction, arguments.texts[4]);
    const unsigned long long colors = arguments.num_colors();
    if (colors < 1 || colors > 255) {
        require_number<double>(arguments.texts[5], "number of dominant colours (argument 6)");
        std::ostringstream message;
        message << "Invalid number of dominant colours (argument 6) " << arguments.dominant_colors
                << ": it must be between 1 and 255";
        throw VoradaError(message.str());
    }
}

}  // namespace gma
}  // namespace vorada
