// The memory estimate that guards against runs the machine cannot hold must stay above what a
// real run takes at its peak.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <string>

#include "driver/memorylimit.h"
#include "driver/pipeline.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace gma {
namespace {

TEST(MemoryEstimate, StaysAboveTheMeasuredPeakOfARealClip) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's shadow memory would be measured too";
#endif
    const char* source = std::getenv("VORADA_SOURCE_DIR");
    const std::string clip =
        std::string(source ? source : ".") + "/../shared/data/alley_1_half";
    if (!boost::filesystem::exists(clip + "/frames/frame002.png")) {
        GTEST_SKIP() << "the sample clip " << clip << " is missing";
    }
    testing::TempDir directory;
    const std::string output = directory.file("run");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char* argv[] = {"vseg", "0", "2", "5", "1.5", "0.001", "4", clip.c_str(),
                              output.c_str(), "--png", "none"};
        std::_Exit(run_vseg(11, argv));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    const double peak = static_cast<double>(usage.ru_maxrss) * 1024.0;
    const double voxels = 512.0 * 218.0 * 3.0;
    EXPECT_LT(peak, estimated_run_bytes(voxels)) << "peak " << peak / voxels << " bytes per voxel";
}

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

}  // namespace
}  // namespace gma
}  // namespace vorada
