#include "prepare/readframes.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>

#include "common/errors.h"
#include "prepare/framesource.h"

namespace vorada {
namespace prepare {

cv::Size output_size(const cv::Size& input, const PrepareOptions& options) {
    double factor = 1;
    if (options.scale > 0) {
        factor = options.scale;
    } else if (options.max_side > 0 && std::max(input.width, input.height) > options.max_side) {
        factor = static_cast<double>(options.max_side) / std::max(input.width, input.height);
    }
    if (factor == 1) {
        return input;
    }
    return cv::Size(std::max(1, static_cast<int>(std::lround(input.width * factor))),
                    std::max(1, static_cast<int>(std::lround(input.height * factor))));
}

[[noreturn]] void throw_range_error(const PrepareOptions& options, unsigned long long held) {
    std::ostringstream message;
    message << options.input;
    if (held == 0) {
        message << " holds no frames";
        throw VoradaError(message.str());
    }
    message << " holds frames 0 to " << held - 1 << "; --first " << options.first;
    if (options.count > 0) {
        message << " --count " << options.count << " --step " << options.step << " needs frame "
                << options.first + (options.count - 1) * options.step;
    } else {
        message << " is past the end";
    }
    throw VoradaError(message.str());
}

std::vector<cv::Mat> read_frames(const PrepareOptions& options) {
    std::unique_ptr<FrameSource> source = open_frame_source(options.input);
    unsigned long long consumed = 0;  // input frames passed so far
    for (unsigned long long i = 0; i < options.first; ++i, ++consumed) {
        if (!source->skip()) {
            throw_range_error(options, consumed);
        }
    }
    std::vector<cv::Mat> frames;
    cv::Mat next;
    if (!source->read(next)) {
        throw_range_error(options, consumed);
    }
    ++consumed;
    const cv::Size input_size = next.size();
    const cv::Size size = output_size(input_size, options);
    for (bool have_next = true; have_next;) {
        if (next.size() != input_size) {
            throw VoradaError(source->last_frame_name() + " is " + std::to_string(next.cols) + "x" +
                              std::to_string(next.rows) + ", the first frame " +
                              std::to_string(input_size.width) + "x" +
                              std::to_string(input_size.height) +
                              ": all frames must have the same size");
        }
        if (size != input_size) {
            cv::Mat shrunk;
            cv::resize(next, shrunk, size, 0, 0, cv::INTER_AREA);
            frames.push_back(shrunk);
        } else {
            frames.push_back(next);
        }
        next = cv::Mat();  // the reader must not reuse the buffer just kept
        have_next = false;
        if (options.count == 0 || frames.size() < options.count) {
            bool more = true;
            for (unsigned long long s = 1; s < options.step && more; ++s) {
                more = source->skip();
                consumed += more ? 1 : 0;
            }
            have_next = more && source->read(next);
            consumed += have_next ? 1 : 0;
        }
    }
    if (options.count > 0 && frames.size() < options.count) {
        throw_range_error(options, consumed);
    }
    return frames;
}

}  // namespace prepare
}  // namespace vorada
