#include <string>

#include "common/errors.h"
#include "driver/pipeline.h"
#include "image/import_export.h"
#include "io/readimage.h"

namespace vorada {
namespace gma {

void load_frames(Video& video,
                 const std::string& input_directory,
                 unsigned long long first_frame,
                 unsigned long long frame_count) {
    for (unsigned long long t = 0; t < frame_count; ++t) {
        const std::string path = frame_path(input_directory, first_frame + t);
        ImageRGB<unsigned char> frame;
        io::ReadImage(path, io::FORMAT_UNKNOWN).read(frame);
        const unsigned long long width = frame.width();
        const unsigned long long height = frame.height();
        if (!video.initialized) {
            check_run_fits_in_memory(first_frame, frame_count, width, height);
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
