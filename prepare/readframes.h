#pragma once
// The frames vseg-prepare takes from its input, read into memory.

#include <opencv2/core.hpp>
#include <vector>

#include "prepare/options.h"

namespace vorada {
namespace prepare {

/// The frame size after the shrinking the options ask for (--max-side or --scale).
cv::Size output_size(const cv::Size& input, const PrepareOptions& options);

/// Raises the VoradaError of a frame range the input does not hold; `held` is the number of
/// input frames passed before the input ended.
[[noreturn]] void throw_range_error(const PrepareOptions& options, unsigned long long held);

/// The frames options.input gives under options.first, count, step, max_side and scale: 8-bit
/// BGR, shrunk as vseg-prepare shrinks them, so equal to the frames it writes. Raises VoradaError
/// as vseg-prepare does (missing input, a range past the end, frames of different sizes).
std::vector<cv::Mat> read_frames(const PrepareOptions& options);

}  // namespace prepare
}  // namespace vorada
