#pragma once
// Label files of a cut for other tools: 16-bit grey PNGs and NumPy's .npy.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/treefile.h"

namespace vorada {
namespace cut {

/// What is written for each cut: `sgm` frames.sgm and the colour images, as vseg writes its
/// levels; `png16` a 16-bit grey PNG per frame, labels 1…N; `npy` labels.npy, int32 (T, H, W),
/// labels 0…N−1. Labels of png16 and npy are numbered by first appearance in raster order.
enum class LabelFormat { sgm, png16, npy };

/// Most regions a 16-bit label image can number (0 is never used).
constexpr std::uint64_t max_png16_regions = 65535;

/// Labels numbered 0, 1, 2, … by first appearance; every label must be below `label_bound`.
/// `count` receives the number of distinct labels.
std::vector<std::uint32_t> compact_labels(const std::vector<unsigned long long>& labels,
                                          std::size_t label_bound,
                                          std::size_t& count);

/// The header of a .npy file (format version 1.0) of little-endian int32 in C order, shape
/// (frames, height, width), padded with spaces to a multiple of 64 bytes.
std::string npy_header(std::uint64_t frames, std::uint64_t height, std::uint64_t width);

/// Writes the compact labels of a cut (x fastest, then y, then t) in `format` png16 or npy into
/// `directory`; throws VoradaError for png16 beyond max_png16_regions.
void write_labels(LabelFormat format,
                  const std::vector<std::uint32_t>& compact,
                  std::size_t count,
                  const io::TreeFile& tree,
                  const std::string& directory);

}  // namespace cut
}  // namespace vorada
