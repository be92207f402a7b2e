#pragma once
// Shot cuts and blank frames of the frames vseg-prepare writes, for OUTPUT_DIR/shots.txt: clip
// mode never links regions across a cut, and blank frames (a black frame before the first shot, a
// fade to black) become segments of their own instead of being glued to a shot.

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace vorada {
namespace prepare {

/// Name of the list of shots inside OUTPUT_DIR.
extern const char* const shots_file_name;

/// Frames first…last (prepared frame numbers) of one shot or of a run of blank frames.
struct ShotSegment {
    unsigned long long first = 0;
    unsigned long long last = 0;
    bool blank = false;
};

/// Takes the frames one at a time and keeps a few numbers per frame (never the frames), so any
/// length of video costs little. The result depends only on the frames.
class ShotDetector {
  public:
    /// Adds the next frame: 8-bit BGR, every frame of one size.
    void add(const cv::Mat& frame);
    /// The frames added so far cut into shots and blank runs, in frame order, covering them all.
    std::vector<ShotSegment> segments() const;

  private:
    // Whether the change from frame t-1 to t stands out from the changes around it.
    bool _is_cut(std::size_t t) const;
    // Whether frame t alone differs from both neighbours (a flash or a broken frame).
    bool _is_flash(std::size_t t) const;
    // The median colour and picture change of the frames around t (t excluded).
    void _local_change(std::size_t t, double& colour, double& picture) const;

    std::vector<bool> blank;
    // Change from frame t-1 to t (0 for frame 0): colour histogram and thumbnail difference.
    std::vector<double> colour_change, picture_change;
    // The same between frames t-1 and t+1, skipping t (0 where either is missing).
    std::vector<double> skip_colour_change, skip_picture_change;
    std::vector<double> histograms[2];  // of the last two frames, the last one first
    cv::Mat thumbnails[2];
};

/// The text of shots.txt: a comment line "# first last kind", then one line per segment,
/// "FIRST LAST shot" or "FIRST LAST blank".
std::string shots_text(const std::vector<ShotSegment>& segments);

}  // namespace prepare
}  // namespace vorada
