#pragma once
// Label files of a cut for other tools: 16-bit grey PNGs and NumPy's .npy.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/atomicfile.h"

namespace vorada {
namespace cut {

/// What is written for each cut: `sgm` frames.sgm and the colour images, as vseg writes its
/// levels; `png16` a 16-bit grey PNG per frame, labels 1…N; `npy` labels.npy, int32 (T, H, W),
/// labels 0…N−1. Labels of png16 and npy are numbered by first appearance in raster order.
enum class LabelFormat { sgm, png16, npy };

/// Most regions a 16-bit label image can number (0 is never used).
constexpr std::uint64_t max_png16_regions = 65535;

/// The header of a .npy file (format version 1.0) of little-endian int32 in C order, shape
/// (frames, height, width), padded with spaces to a multiple of 64 bytes.
std::string npy_header(std::uint64_t frames, std::uint64_t height, std::uint64_t width);

/// Writes the compact labels of a cut (numbered 0, 1, 2, … by first appearance in storage
/// order) in `format` png16 or npy into `directory`, a frame at a time: a PNG per frame, or
/// labels.npy named only once complete.
class LabelFrameWriter {
  public:
    LabelFrameWriter(LabelFormat format,
                     const std::string& directory,
                     std::uint64_t width,
                     std::uint64_t height,
                     std::uint64_t frames);
    ~LabelFrameWriter();
    LabelFrameWriter(const LabelFrameWriter&) = delete;
    LabelFrameWriter& operator=(const LabelFrameWriter&) = delete;

    /// The compact labels of the next frame (x fastest, then y); throws VoradaError for a
    /// label png16 cannot hold.
    void write_frame(const std::uint32_t* compact);
    /// Checks that every frame was written and completes the output.
    void commit();

  private:
    LabelFormat format;
    std::string folder;
    std::uint64_t frame_width, frame_height, frame_count;
    std::uint64_t next_frame = 0;
    std::unique_ptr<io::AtomicFile> npy;
    std::vector<unsigned char> bytes;  // one frame of labels.npy
};

}  // namespace cut
}  // namespace vorada
