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

SelectedFrames::SelectedFrames(FrameSource& frame_source, const PrepareOptions& selection)
    : source(frame_source), options(selection) {
    for (; consumed < options.first; ++consumed) {
        if (!source.skip()) {
            throw_range_error(options, consumed);
        }
    }
    if (!source.read(next)) {
        throw_range_error(options, consumed);
    }
    ++consumed;
    have_next = true;
    from = next.size();
    to = output_size(from, options);
}

bool SelectedFrames::take(cv::Mat& frame) {
    if (!have_next) {
        return false;
    }
    if (next.size() != from) {
        throw VoradaError(source.last_frame_name() + " is " + std::to_string(next.cols) + "x" +
                          std::to_string(next.rows) + ", the first frame " +
                          std::to_string(from.width) + "x" + std::to_string(from.height) +
                          ": all frames must have the same size");
    }
    if (to != from) {
        cv::resize(next, frame, to, 0, 0, cv::INTER_AREA);
    } else {
        frame = next;
    }
    next = cv::Mat();  // the reader must not reuse the buffer just taken
    have_next = false;
    ++taken;
    return true;
}

void SelectedFrames::read_next() {
    if (have_next || (options.count > 0 && taken >= options.count)) {
        return;
    }
    bool more = true;
    for (unsigned long long s = 1; s < options.step && more; ++s) {
        more = source.skip();
        consumed += more ? 1 : 0;
    }
    have_next = more && source.read(next);
    consumed += have_next ? 1 : 0;
}

void SelectedFrames::finish() const {
    if (options.count > 0 && taken < options.count) {
        throw_range_error(options, consumed);
    }
}

std::vector<cv::Mat> read_frames(const PrepareOptions& options) {
    std::unique_ptr<FrameSource> source = open_frame_source(options.input);
    SelectedFrames selected(*source, options);
    std::vector<cv::Mat> frames;
    for (cv::Mat frame; selected.take(frame); frame = cv::Mat()) {
        frames.push_back(frame);
        selected.read_next();
    }
    selected.finish();
    return frames;
}

}  // namespace prepare
}  // namespace vorada
