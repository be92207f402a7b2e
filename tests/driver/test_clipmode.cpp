// vseg in clip mode, run as a user runs it: a plan of one clip is the whole run; clips run as
// separate commands and joined give the one command's output; a failing clip fails the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <boost/filesystem.hpp>
#include <map>
#include <string>
#include <vector>

#include "clips/clipfile.h"
#include "driver/arguments.h"
#include "io/treefile.h"
#include "tests/support/processes.h"
#include "tests/support/tempdir.h"
#include "tools/synthetic/synthetic.h"

namespace vorada {
namespace gma {
namespace {

namespace fs = boost::filesystem;
using vorada::testing::read_bytes;
using vorada::testing::TempDir;

#ifndef VSEG_BINARY
#define VSEG_BINARY ""  // a build without the program (sanitizers): the tests say so and skip
#endif

const std::string vseg = vorada::testing::program_path("vseg", VSEG_BINARY);

class ClipMode : public vorada::testing::ProgramTest {
  protected:
    ClipMode() : ProgramTest(VSEG_BINARY) {}
    void SetUp() override {
        ProgramTest::SetUp();
        auto sample = synthetic::make_synthetic(synthetic::random_options(64, 48, 8, 3, 7));
        synthetic::write_sample(input.path(), sample);
    }

    // Starts vseg on frames 0 … 7 of the sample with `options` after the eight arguments.
    pid_t start(const std::string& output, const std::vector<std::string>& options) {
        return vorada::testing::start_program(words(output, options), errors());
    }
    // Runs it to the end; its exit code.
    int run(const std::string& output, const std::vector<std::string>& options) {
        return vorada::testing::run_program(words(output, options), errors());
    }
    std::vector<std::string> words(const std::string& output,
                                   const std::vector<std::string>& options) const {
        std::vector<std::string> words{vseg,    "0", "7",          "5",   "1",
                                       "0.001", "4", input.path(), output};
        words.insert(words.end(), options.begin(), options.end());
        return words;
    }
    std::string errors() const { return work.file("errors"); }

    TempDir input, work;
};

// Every file under `folder` but run.json, by path below it.
std::map<std::string, std::string> output_files(const std::string& folder) {
    return vorada::testing::files_below(folder,
                                        [](const std::string& name) { return name != "run.json"; });
}

TEST_F(ClipMode, APlanOfOneClipIsTheWholeRun) {
    const std::string whole = work.file("whole"), clipped = work.file("clipped"),
                      separate = work.file("separate");
    ASSERT_EQ(run(whole, {}), 0) << read_bytes(errors());
    ASSERT_EQ(run(clipped, {"--clip-frames", "8", "--jobs", "2"}), 0) << read_bytes(errors());
    // As separate commands: the only clip is segmented by the join.
    ASSERT_EQ(run(separate, {"--clip-frames", "20", "--clip", "0"}), 0) << read_bytes(errors());
    ASSERT_EQ(run(separate, {"--clip-frames", "20", "--join"}), 0) << read_bytes(errors());
    const auto expected = output_files(whole);
    EXPECT_GT(expected.size(), 16u * 2 + 4 * 8);
    EXPECT_TRUE(output_files(clipped) == expected);
    EXPECT_TRUE(output_files(separate) == expected);
    EXPECT_TRUE(fs::exists(clipped + "/run.json"));
    // --levels writes the levels listed, from the same tree (the colours continue the random
    // sequence from the levels written before, so only the labels are compared).
    const std::string some = work.file("some");
    ASSERT_EQ(run(some, {"--levels", "20"}), 0) << read_bytes(errors());
    std::size_t level_files = 0;
    for (const auto& file : output_files(some)) {
        const bool level = file.first.rfind("segmentations/", 0) == 0;
        EXPECT_EQ(level, file.first.rfind("segmentations/20/", 0) == 0) << file.first;
        level_files += level;
        if (!level || file.first == "segmentations/20/frames.sgm") {
            EXPECT_TRUE(expected.count(file.first) && expected.at(file.first) == file.second)
                << file.first;
        }
    }
    EXPECT_EQ(level_files, 9u);
}

TEST_F(ClipMode, ClipsRunApartAndJoinedGiveTheOneCommandsOutput) {
    const std::string apart = work.file("apart"), together = work.file("together");
    const std::vector<std::string> clip_mode{"--clip-frames", "4", "--levels", "100,20,5"};
    auto with = [&clip_mode](std::vector<std::string> more) {
        more.insert(more.begin(), clip_mode.begin(), clip_mode.end());
        return more;
    };
    // Both clips at once, as two machines would run them.
    const pid_t second = start(apart, with({"--clip", "1"}));
    ASSERT_EQ(run(apart, with({"--clip", "0"})), 0) << read_bytes(errors());
    ASSERT_EQ(vorada::testing::wait_for(second), 0);
    // Each clip's summary accounts for every point of its 4 frames, in at most --clip-regions
    // regions that are all in its tree and adjacent to some other.
    for (const char* clip : {"0000", "0001"}) {
        const std::string folder = apart + "/clips/" + clip;
        const clips::ClipSummary summary = clips::read_clip_summary(folder + "/regions.bin");
        const io::TreeFile tree = io::read_tree_file(folder + "/tree.bpt");
        EXPECT_EQ(summary.leaves, tree.leaf_count);
        EXPECT_EQ(summary.merges, tree.merges.size());
        EXPECT_EQ(summary.regions.size(),
                  std::min<std::uint64_t>(Arguments().clip_regions, summary.leaves));
        std::uint64_t points = 0;
        for (const clips::ClipRegion& region : summary.regions) {
            points += region.area;
        }
        EXPECT_EQ(points, 64u * 48 * 4) << clip;
        EXPECT_EQ(summary.run_voxels, 64u * 48 * 8);
        EXPECT_GE(summary.links.size(), summary.regions.size() / 2);
    }
    ASSERT_EQ(run(apart, with({"--join"})), 0) << read_bytes(errors());
    ASSERT_EQ(run(together, with({"--jobs", "2"})), 0) << read_bytes(errors());
    const auto expected = output_files(together);
    EXPECT_GT(expected.size(), 3u * 2 + 4 * 8);
    EXPECT_TRUE(output_files(apart) == expected);
    EXPECT_FALSE(fs::exists(together + "/clips"));
}

TEST_F(ClipMode, AFailingClipFailsTheRunInOneLineNamingIt) {
    const std::string output = work.file("out");
    fs::remove(input.path() + "/flows/flow_5_6.flo");
    EXPECT_EQ(run(output, {"--clip-frames", "4", "--jobs", "2"}), 1);
    const std::string message = read_bytes(errors());
    // Clip 0 may finish first; the error is the last line.
    EXPECT_THAT(message, ::testing::MatchesRegex("(Clip 0 \\(frames 0 to 3\\) done, 1 of 2\n)?"
                                                 "Clip 1 \\(frames 4 to 7\\) failed: "
                                                 "[^\n]*flow_5_6.flo[^\n]*\n"));
    EXPECT_FALSE(fs::exists(output + "/run.json"));
    // The clip cannot be segmented alone either, and says why.
    EXPECT_EQ(run(output, {"--clip-frames", "4", "--clip", "1"}), 1);
    EXPECT_THAT(read_bytes(errors()), ::testing::HasSubstr("flow_5_6.flo"));
    EXPECT_EQ(run(output, {"--clip-frames", "4", "--clip", "2"}), 1);
    EXPECT_THAT(read_bytes(errors()), ::testing::HasSubstr("the plan has 2 clips, 0 to 1"));
}

}  // namespace
}  // namespace gma
}  // namespace vorada
