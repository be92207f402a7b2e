#include <gtest/gtest.h>

#include <fstream>

#include "clips/plan.h"
#include "common/errors.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace clips {
namespace {

std::vector<std::vector<std::uint64_t>> clip_rows(const Plan& plan) {
    std::vector<std::vector<std::uint64_t>> rows;
    for (const Clip& c : plan.clips) rows.push_back({c.index, c.first, c.last, c.segment});
    return rows;
}

TEST(Plan, CutsIntoClipsAndAtEverySegment) {
    // One shot: clips of 4, the last shorter.
    EXPECT_EQ(
        clip_rows(make_plan(3, 12, 4, {})),
        (std::vector<std::vector<std::uint64_t>>{{0, 3, 6, 0}, {1, 7, 10, 0}, {2, 11, 12, 0}}));
    // A blank first frame and a cut at 6; the range starts inside the first shot and ends
    // inside the second.
    const std::vector<ShotSegment> shots = {{0, 0, true}, {1, 5, false}, {6, 20, false}};
    EXPECT_EQ(clip_rows(make_plan(0, 8, 3, shots)),
              (std::vector<std::vector<std::uint64_t>>{
                  {0, 0, 0, 0}, {1, 1, 3, 1}, {2, 4, 5, 1}, {3, 6, 8, 2}}));
    EXPECT_EQ(clip_rows(make_plan(2, 7, 100, shots)),
              (std::vector<std::vector<std::uint64_t>>{{0, 2, 5, 0}, {1, 6, 7, 1}}));
    // Frames past the list form a segment of their own.
    EXPECT_EQ(clip_rows(make_plan(19, 22, 10, shots)),
              (std::vector<std::vector<std::uint64_t>>{{0, 19, 20, 0}, {1, 21, 22, 1}}));
}

TEST(Plan, ReadsShotListsAndRefusesMalformedOnes) {
    testing::TempDir dir;
    const std::string path = dir.path() + "/shots.txt";
    std::ofstream(path) << "# first last kind\n0 0 blank\n1 57 shot\n\n58 130 shot  # cut\n";
    const auto segments = read_shot_list(path);
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_TRUE(segments[0].blank);
    EXPECT_EQ(segments[2].first, 58u);
    EXPECT_EQ(segments[2].last, 130u);
    EXPECT_EQ(plan_clips(dir.path(), 50, 60, 100).clips.size(), 2u);
    for (const char* bad : {"0 5 shot\n7 9 shot\n", "0 5 scene\n", "5 0 shot\n", "0 -1 shot\n",
                            "0 5\n", "0 5 shot x\n", ""}) {
        std::ofstream(path) << bad;
        try {
            read_shot_list(path);
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const VoradaFileError& error) {
            EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace clips
}  // namespace vorada
