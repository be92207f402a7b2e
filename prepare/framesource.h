#pragma once
// Frames of a video file or of a folder of images, one at a time.

#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace vorada {
namespace prepare {

/// True when a comes before b in natural order: digit runs compare as numbers, so "img2.png"
/// comes before "img10.png"; names equal as numbers fall back to plain text order.
bool natural_less(const std::string& a, const std::string& b);

/// The image files of a folder (by extension, not its subfolders or hidden files), in natural
/// order. Raises VoradaError when the folder cannot be listed.
std::vector<std::string> list_image_files(const std::string& folder);

/// A sequence of frames read in order; only the frame being read is held.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    /// Reads the next frame as 8-bit BGR; false at the end of the input.
    virtual bool read(cv::Mat& frame) = 0;
    /// Passes over the next frame, without decoding it where the input allows; false at the end.
    virtual bool skip() = 0;
    /// Frames of the whole input if known beforehand (an image folder's); 0 when unknown (a
    /// video's).
    virtual unsigned long long expected_frames() const = 0;
    /// Names the frame last read, for messages.
    virtual std::string last_frame_name() const = 0;
};

/// Opens a folder of images or a video file. Raises VoradaError with one line naming the input
/// when it is missing, cannot be opened, or holds no images.
std::unique_ptr<FrameSource> open_frame_source(const std::string& input);

}  // namespace prepare
}  // namespace vorada
