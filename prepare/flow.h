#pragma once
// Dense optical flow between two grey frames, and its Middlebury .flo file.

#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>
#include <string>
#include <utility>

#include "prepare/options.h"

namespace vorada {
namespace prepare {

/// A flow estimator of the given quality; one per thread (the estimator keeps scratch state).
cv::Ptr<cv::DISOpticalFlow> make_flow_estimator(FlowQuality quality);

/// The smallest frames the estimator of `quality` takes, as (shorter side, longer side): it
/// refuses smaller frames or, for some shapes, crashes on them.
std::pair<int, int> smallest_flow_frame(FlowQuality quality);

/// The flow that takes each pixel (x, y) of `from` to (x + u, y + v) in `to`, as CV_32FC2.
cv::Mat compute_flow(cv::DISOpticalFlow& estimator, const cv::Mat& from, const cv::Mat& to);

/// Writes a CV_32FC2 flow as a Middlebury .flo file: tag 202021.25, width, height, then u, v per
/// pixel in row order, all little-endian. Raises VoradaError when the file cannot be written.
void write_flow_file(const std::string& path, const cv::Mat& flow);

}  // namespace prepare
}  // namespace vorada
