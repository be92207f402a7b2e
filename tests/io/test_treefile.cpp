#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/errors.h"
#include "io/treefile.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

std::string bytes_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A 3×1×3 video (odd voxel count, so the leaf map is padded) with four leaves and two merges.
TEST(TreeFilePieces, StreamedLeavesGiveTheWholeWritersBytesAndReadBackInRanges) {
    testing::TempDir dir;
    const std::vector<std::uint64_t> leaves = {0, 0, 1, 2, 2, 1, 3, 3, 1};
    const TreeMerge merges[2] = {{4, 0, 2, 3, 0.5}, {5, 4, 3, 2, 0.75}};
    TreeFileWriter whole(dir.file("whole.bpt"), 3, 1, 3, leaves.data(), 4);
    TreeFileWriter pieces(dir.file("pieces.bpt"), 3, 1, 3, 4);
    for (std::size_t t = 0; t < 3; ++t) {
        const std::vector<std::uint32_t> frame(leaves.begin() + 3 * t, leaves.begin() + 3 * t + 3);
        pieces.add_leaves(frame.data(), frame.size());
    }
    for (const TreeMerge& merge : merges) {
        whole.add(merge);
        pieces.add(merge);
    }
    whole.finish();
    pieces.finish();
    EXPECT_EQ(bytes_of(dir.file("pieces.bpt")), bytes_of(dir.file("whole.bpt")));

    TreeFileReader reader(dir.file("pieces.bpt"));
    EXPECT_EQ(reader.voxels(), 9u);
    std::uint32_t frame[3];
    reader.read_leaves(6, 3, frame);
    EXPECT_EQ(std::vector<std::uint32_t>(frame, frame + 3), (std::vector<std::uint32_t>{3, 3, 1}));
    EXPECT_THROW(reader.read_leaves(7, 3, frame), VoradaError);
    EXPECT_EQ(reader.read_merges().size(), 2u);

    // Too few leaves, or a leaf beyond the count, leave no file.
    {
        TreeFileWriter short_of_leaves(dir.file("short.bpt"), 3, 1, 3, 4);
        const std::uint32_t some[3] = {0, 1, 2};
        short_of_leaves.add_leaves(some, 3);
        EXPECT_THROW(short_of_leaves.finish(), VoradaFileError);
        TreeFileWriter bad_leaf(dir.file("bad.bpt"), 3, 1, 3, 4);
        const std::uint32_t beyond[1] = {4};
        EXPECT_THROW(bad_leaf.add_leaves(beyond, 1), VoradaFileError);
    }
    EXPECT_FALSE(std::ifstream(dir.file("short.bpt")).good());
    EXPECT_FALSE(std::ifstream(dir.file("short.bpt.partial")).good());
    EXPECT_FALSE(std::ifstream(dir.file("bad.bpt.partial")).good());
}

}  // namespace
}  // namespace io
}  // namespace vorada
