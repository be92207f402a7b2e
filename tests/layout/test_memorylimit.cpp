// How much memory a process may use, and how long a clip fits in it.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <string>

#include "layout/memorylimit.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace layout {
namespace {

// A /proc and a cgroup tree of files, as a process under a job scheduler or in a container
// sees them.
TEST(MemoryLimit, TheSmallestOfTheCgroupLimitsAndTheMemoryAvailable) {
    testing::TempDir root;
    const std::string proc = root.file("proc");
    const std::string cgroup = root.file("cgroup");
    boost::filesystem::create_directories(proc + "/self");
    boost::filesystem::create_directories(cgroup + "/job/step");
    boost::filesystem::create_directories(cgroup + "/memory/v1job");
    const auto available = [&](unsigned long long kib) {
        testing::write_bytes(proc + "/meminfo", "MemTotal: 99999999 kB\nMemAvailable: " +
                                                    std::to_string(kib) + " kB\n");
    };
    available(8 << 20);  // 8 GiB
    testing::write_bytes(proc + "/self/cgroup", "0::/job/step\n");
    // The step has no limit of its own; the job above it has 2 GiB.
    testing::write_bytes(cgroup + "/job/step/memory.max", "max\n");
    testing::write_bytes(cgroup + "/job/memory.max", std::to_string(2ull << 30) + "\n");
    MemoryLimit limit = memory_limit(proc, cgroup);
    EXPECT_EQ(limit.bytes, static_cast<double>(2ull << 30));
    EXPECT_EQ(limit.source, "the memory limit of this process's cgroup");

    available(1 << 20);
    limit = memory_limit(proc, cgroup);
    EXPECT_EQ(limit.bytes, static_cast<double>(1ull << 30));
    EXPECT_EQ(limit.source, "the memory available now");

    // cgroup v1: the memory controller's own hierarchy.
    available(8 << 20);
    testing::write_bytes(proc + "/self/cgroup", "5:cpuacct,cpu:/v1job\n4:memory:/v1job\n");
    testing::write_bytes(cgroup + "/memory/v1job/memory.limit_in_bytes", "3221225472\n");
    EXPECT_EQ(memory_limit(proc, cgroup).bytes, 3221225472.0);
}

TEST(MemoryLimit, ClipFramesThatFitIsTheLongestClipWithinTheLimit) {
    const double frame = 320.0 * 240.0;
    // At exactly the estimate of 7 frames (3 at once) 7 fit; one byte less and only 6 do.
    const double seven = 3.0 * estimated_run_bytes(7.0 * frame);
    EXPECT_EQ(clip_frames_that_fit(320, 240, 3, seven), 7u);
    EXPECT_EQ(clip_frames_that_fit(320, 240, 3, seven - 1.0), 6u);
    EXPECT_EQ(clip_frames_that_fit(320, 240, 1, estimated_run_bytes(frame) - 1.0), 0u);
    EXPECT_EQ(clip_frames_that_fit(320, 240, 0, seven), 0u);
    EXPECT_EQ(clip_frames_that_fit(0, 240, 1, seven), 0u);
    // A large limit: the answer fits and one frame more does not.
    const double limit = 24.0 * 1073741824.0;
    const unsigned long long frames = clip_frames_that_fit(1920, 1080, 2, limit);
    const double hd = 1920.0 * 1080.0;
    EXPECT_LE(2.0 * estimated_run_bytes(hd * static_cast<double>(frames)), limit);
    EXPECT_GT(2.0 * estimated_run_bytes(hd * static_cast<double>(frames + 1)), limit);
    EXPECT_GT(frames, 10u);
}

}  // namespace
}  // namespace layout
}  // namespace vorada
