#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/errors.h"
#include "io/cliptree.h"
#include "io/treefile.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A 3×1 video of 4 frames in two clips of 2 frames, as a clip-mode run numbers it:
//   clip 0: leaves 0 1 2, merge 0 joins 0 and 1 into 6
//   clip 1: leaves 3 4 5, merges 1 and 2 join 3 and 4 into 7, then 7 and 5 into 8
//   join:   merge 3 joins 6 and 8 into 9, merge 4 joins 9 and 2 into 10
const std::vector<std::uint64_t> leaf_map = {0, 1, 2, 1, 0, 2, 3, 4, 5, 5, 4, 3};
const std::vector<TreeMerge> tree_merges = {{6, 0, 1, 5, 0.5},
                                            {7, 3, 4, 4, 0.25},
                                            {8, 7, 5, 3, 2.0},
                                            {9, 6, 8, 2, 1.0},
                                            {10, 9, 2, 1, 3.0}};
const std::string good_index =
    "vseg tree clips 1\n"
    "clip 0 frames 0 2 leaves 0 3 merges 0 1\n"
    "clip 1 frames 2 2 leaves 3 3 merges 1 2\n"
    "join merges 3 2\n";

std::string write_tree(const testing::TempDir& dir,
                       const std::vector<TreeMerge>& merges = tree_merges) {
    const std::string path = dir.file("tree.bpt");
    TreeFileWriter writer(path, 3, 1, 4, leaf_map.data(), 6);
    for (const TreeMerge& merge : merges) {
        writer.add(merge);
    }
    writer.finish();
    return path;
}

TEST(ClipReplay, CutsClipByClipAsTheWholeTreeAtEveryMergeCount) {
    testing::TempDir dir;
    TreeFileReader reader(write_tree(dir));
    write_clip_index(dir.file("clips.txt"), ClipIndex{{{0, 2, 0, 3, 0, 1}, {2, 2, 3, 3, 1, 2}}, 2});
    EXPECT_EQ(testing::read_bytes(dir.file("clips.txt")), good_index);
    const ClipIndex index = read_clip_index(dir.file("clips.txt"), reader);
    ASSERT_EQ(index.clips.size(), 2u);
    EXPECT_EQ(index.clip_merges(), 3u);
    ClipReplay replay(reader, index, dir.file("clips.txt"));
    const TreeFile tree = read_tree_file(dir.file("tree.bpt"));
    // Inside clip 0, inside clip 1, in the join, in any order.
    for (const std::uint64_t merges : {2, 0, 5, 1, 3, 4, 2}) {
        std::vector<unsigned long long> expected;
        labels_after(tree, merges, expected);
        std::map<unsigned long long, std::uint32_t> first_seen;
        replay.cut(merges);
        FirstAppearance index_of(replay);
        for (std::uint64_t t = 0; t < 4; ++t) {
            const std::vector<std::uint32_t>& regions = replay.frame_regions(t);
            for (std::size_t x = 0; x < 3; ++x) {
                ASSERT_EQ(regions[x], expected[3 * t + x]) << merges << " " << t << " " << x;
                const auto seen =
                    first_seen.emplace(regions[x], static_cast<std::uint32_t>(first_seen.size()));
                EXPECT_EQ(index_of(regions[x]), seen.first->second) << merges;
            }
        }
        EXPECT_EQ(index_of.regions(), 6 - merges) << merges;
    }
    EXPECT_EQ(replay.merges_below_distance(1.5), 2u);  // file order, not the smallest
    for (const double distance : {0.3, 2.5, 9.0}) {
        EXPECT_EQ(replay.merges_below_distance(distance), merges_below_distance(tree, distance));
    }
    EXPECT_EQ(replay.merges_for_regions(4), 2u);
    EXPECT_THROW(replay.cut(6), VoradaError);

    EXPECT_TRUE(replay.every_leaf_shown());
    {
        TreeFileWriter writer(dir.file("unshown.bpt"), 3, 1, 4, leaf_map.data(), 7);
        writer.finish();  // leaf 6 in no voxel
        TreeFileReader unshown(dir.file("unshown.bpt"));
        ClipReplay one(unshown, read_clip_index(dir.file("none.txt"), unshown), "none.txt");
        EXPECT_FALSE(one.every_leaf_shown());
    }
    // Without an index the tree is one clip.
    const ClipIndex alone = read_clip_index(dir.file("none.txt"), reader);
    ASSERT_EQ(alone.clips.size(), 1u);
    EXPECT_EQ(alone.clips[0].leaves, 6u);
    EXPECT_EQ(alone.clips[0].merges, 5u);
    EXPECT_EQ(alone.join_merges, 0u);
}

TEST(ClipReplay, AMalformedOrMismatchedIndexIsRefusedInOneLine) {
    testing::TempDir dir;
    TreeFileReader reader(write_tree(dir));
    const std::string path = dir.file("clips.txt");
    auto refused = [&](const std::string& text, const std::string& reason, bool at_frame = false) {
        testing::write_bytes(path, text);
        try {
            ClipReplay replay(reader, read_clip_index(path, reader), path);
            for (std::uint64_t t = 0; t < 4 && at_frame; ++t) {
                replay.frame_regions(t);
            }
            ADD_FAILURE() << "accepted: " << reason;
        } catch (const VoradaFileError& error) {
            EXPECT_THAT(error.what(), HasSubstr("Error in file '" + path + "': ")) << reason;
            EXPECT_THAT(error.what(), HasSubstr(reason));
            EXPECT_THAT(error.what(), Not(HasSubstr("\n")));
        }
    };
    auto edited = [](std::string from, const std::string& old, const std::string& by) {
        return from.replace(from.find(old), old.size(), by);
    };
    refused("vseg tree clips 2\n", "not a clip index");
    refused(edited(good_index, "join merges 3 2\n", ""), "the join's line is missing");
    refused(good_index + "clip 2 frames 4 1 leaves 6 1 merges 3 0\n", "text after the join");
    refused(edited(good_index, "leaves 3 3", "leaves 4 2"), "does not begin where");
    refused(edited(good_index, "clip 1", "clip 2"), "clip 2 where clip 1 is due");
    refused(edited(good_index, "frames 2 2", "frames 2 1"), "the clips hold 3 frames");
    refused(edited(good_index, "frames 2 2", "frames 2 99"), "more frames, leaves or merges");
    refused(edited(good_index, "join merges 3 2", "join merges 3 1"), "not the tree's 5");
    refused(edited(good_index, "merges 0 1", "merges 0 -1"), "neither 'clip");
    refused(std::string(2000, 'x'), "longer than an index");
    // Ranges that add up but do not fit the tree: a merge of clip 0 joins a leaf of clip 1; a
    // voxel of clip 0's frames carries a leaf of clip 1's.
    refused(edited(edited(good_index, "merges 0 1", "merges 0 2"), "merges 1 2", "merges 2 1"),
            "merge 1 of clip 0 joins label 3, not one of the clip's");
    refused(edited(edited(good_index, "leaves 0 3", "leaves 0 2"), "leaves 3 3", "leaves 2 4"),
            "voxel 2 (frame 0) has leaf 2, not one of clip 0's", true);
    // A join that merges a region its clip had merged already.
    testing::TempDir other;
    std::vector<TreeMerge> twice = tree_merges;
    twice[3] = {9, 0, 8, 2, 1.0};
    TreeFileReader tampered(write_tree(other, twice));
    testing::write_bytes(path, good_index);
    EXPECT_THAT([&] { ClipReplay replay(tampered, read_clip_index(path, tampered), path); },
                ::testing::ThrowsMessage<VoradaFileError>(HasSubstr("merge 3 is inconsistent")));
}

}  // namespace
}  // namespace io
}  // namespace vorada
