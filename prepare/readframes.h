#pragma once
// The frames vseg-prepare takes from its input, read into memory.

#include <opencv2/core.hpp>
#include <vector>

#include "prepare/framesource.h"
#include "prepare/options.h"

namespace vorada {
namespace prepare {

/// The frame size after the shrinking the options ask for (--max-side or --scale).
cv::Size output_size(const cv::Size& input, const PrepareOptions& options);

/// Raises the VoradaError of a frame range the input does not hold; `held` is the number of
/// input frames passed before the input ended.
[[noreturn]] void throw_range_error(const PrepareOptions& options, unsigned long long held);

/// The frames of a source that the options select (--first, --count, --step), checked and shrunk
/// one at a time. The next frame is read apart from the taking, so that a caller can read it
/// while it works on the one taken.
class SelectedFrames {
  public:
    /// Passes the frames before options.first and reads the first selected one; a range the
    /// source does not hold raises its VoradaError.
    SelectedFrames(FrameSource& source, const PrepareOptions& options);
    /// Size of the frames taken.
    cv::Size size() const { return to; }
    /// Takes the frame read last, shrunk; false when none is left. A frame of another size than
    /// the first raises VoradaError.
    bool take(cv::Mat& frame);
    /// Reads the next selected frame, unless --count frames are taken or the source ends.
    void read_next();
    /// Raises the range error when the source ended before --count frames.
    void finish() const;

  private:
    FrameSource& source;
    const PrepareOptions& options;
    unsigned long long consumed = 0;  ///< input frames passed so far
    unsigned long long taken = 0;
    cv::Mat next;
    bool have_next = false;
    cv::Size from, to;
};

/// The frames options.input gives under options.first, count, step, max_side and scale: 8-bit
/// BGR, shrunk as vseg-prepare shrinks them, so equal to the frames it writes. Raises VoradaError
/// as vseg-prepare does (missing input, a range past the end, frames of different sizes).
std::vector<cv::Mat> read_frames(const PrepareOptions& options);

}  // namespace prepare
}  // namespace vorada
