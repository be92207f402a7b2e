#include <algorithm>
#include <boost/filesystem.hpp>
#include <string>
#include <vector>

#include "common/errors.h"
#include "driver/pipeline.h"
#include "image/import_export.h"
#include "io/readimage.h"
#include "layout/layout.h"

namespace vorada {
namespace gma {
namespace {

// "D/frames has frames 0 to 9" (runs of consecutive numbers, comma separated), for a run that
// asks for a frame the input does not hold.
std::string describe_frames(const std::string& input_directory) {
    const std::string folder = input_directory + "/frames";
    std::vector<unsigned long long> numbers;
    boost::system::error_code error;
    for (boost::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const std::size_t digits = name.size() > 9 ? name.size() - 9 : 0;
        if (digits < 3 || digits > 19 || name.compare(0, 5, "frame") != 0 ||
            name.compare(5 + digits, std::string::npos, ".png") != 0 ||
            name.find_first_not_of("0123456789", 5) != 5 + digits) {
            continue;
        }
        const unsigned long long number = std::stoull(name.substr(5, digits));
        // Only names vseg would ask for: frame0007.png is not frame 7's file.
        if (layout::frame_path(input_directory, number) == folder + "/" + name) {
            numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    if (numbers.empty()) {
        return folder + " has no frames";
    }
    std::string ranges;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) {
            ++j;
        }
        ranges += (ranges.empty() ? "" : ", ") + std::to_string(numbers[i]);
        if (j > i) {
            ranges += " to " + std::to_string(numbers[j]);
        }
        i = j + 1;
    }
    return folder + " has frames " + ranges;
}

// Throws the "not found" error of a frame the input does not hold, naming those it holds.
void require_frame(const std::string& path, const std::string& input_directory) {
    if (!boost::filesystem::exists(path)) {
        throw VoradaError("File " + path + " not found: " + describe_frames(input_directory));
    }
}

}  // namespace

void frame_size(const std::string& input_directory,
                unsigned long long frame_number,
                unsigned long long& width,
                unsigned long long& height) {
    const std::string path = layout::frame_path(input_directory, frame_number);
    require_frame(path, input_directory);
    std::size_t x = 0;
    std::size_t y = 0;
    io::ReadImage(path, io::FORMAT_UNKNOWN).ping(x, y);
    width = x;
    height = y;
}

void check_frames_fit_in_memory(const std::string& input_directory,
                                unsigned long long first_frame,
                                unsigned long long frame_count,
                                unsigned long long jobs) {
    unsigned long long width = 0;
    unsigned long long height = 0;
    frame_size(input_directory, first_frame, width, height);
    check_run_fits_in_memory(first_frame, frame_count, width, height, jobs);
}

void load_frames(Video& video,
                 const std::string& input_directory,
                 unsigned long long first_frame,
                 unsigned long long frame_count) {
    for (unsigned long long t = 0; t < frame_count; ++t) {
        const std::string path = layout::frame_path(input_directory, first_frame + t);
        require_frame(path, input_directory);
        if (!video.initialized) {
            // From the header: a frame too large for the run is refused before it is decoded.
            check_frames_fit_in_memory(input_directory, first_frame, frame_count);
        }
        ImageRGB<unsigned char> frame;
        io::ReadImage(path, io::FORMAT_UNKNOWN).read(frame);
        const unsigned long long width = frame.width();
        const unsigned long long height = frame.height();
        if (!video.initialized) {
            video.size_on_frame(width, height);
        }
        // Every frame fills a block of the first frame's size; a different size would spill
        // into the next frame or past the video's end.
        if (static_cast<long long>(width) != video.size(0) ||
            static_cast<long long>(height) != video.size(1)) {
            throw VoradaFileError(
                path, "frame of " + std::to_string(width) + "x" + std::to_string(height) +
                          " differs from the first frame of " + std::to_string(video.size(0)) +
                          "x" + std::to_string(video.size(1)));
        }
        if (static_cast<long long>(t) >= video.size(2)) {
            throw VoradaError("load_frames: frame index " + std::to_string(t) +
                              " outside a video of " + std::to_string(video.size(2)) + " frames");
        }
        video.size_on_frame(width, height);
        export_to<unsigned char, double>(frame, video.frame_data(static_cast<long long>(t)),
                                         3 * width * height, BUFFER_RGB);
    }
}

}  // namespace gma
}  // namespace vorada
