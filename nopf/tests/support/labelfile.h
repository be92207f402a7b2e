#pragma once
// Reading a segmentation's frames.sgm back in tests: X, Y, T, then one label per voxel.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorada {
namespace testing {

struct LabelFile {
    std::uint64_t width = 0, height = 0, frames = 0;
    std::vector<std::uint64_t> labels;
    std::size_t bytes = 0;  ///< size of the whole file
};

/// The header and labels of a label file; a file shorter than its header gives no labels.
LabelFile read_label_file(const std::string& path);

}  // namespace testing
}  // namespace vorada
