// The memory estimate that guards against runs the machine cannot hold must stay above what a
// real run takes at its peak.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "driver/pipeline.h"
#include "layout/memorylimit.h"
#include "tests/support/tempdir.h"
#include "tools/synthetic/synthetic.h"

namespace vorada {
namespace gma {
namespace {

TEST(MemoryEstimate, StaysAboveTheMeasuredPeakOfARealClip) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's shadow memory would be measured too";
#endif
    const char* source = std::getenv("VORADA_SOURCE_DIR");
    const std::string clip = std::string(source ? source : ".") + "/../shared/data/alley_1_half";
    if (!boost::filesystem::exists(clip + "/frames/frame002.png")) {
        GTEST_SKIP() << "the sample clip " << clip << " is missing";
    }
    testing::TempDir directory;
    const std::string output = directory.file("run");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char* argv[] = {"vseg",         "0",     "2",   "5",
                              "1.5",          "0.001", "4",   clip.c_str(),
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

// A run that passes the check and still finds no memory ends in one line that says so.
TEST(MemoryLimit, AnAllocationThatFailsEndsTheRunInOneLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves address space of its own";
#endif
    testing::TempDir directory;
    auto sample = synthetic::make_synthetic(synthetic::random_options(160, 120, 8, 3, 2));
    synthetic::write_sample(directory.file("in"), sample);
    const std::string input = directory.file("in");
    const std::string output = directory.file("out");
    const std::string errors = directory.file("errors");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // 1 GiB of address space taken up front, and the limit 24 MiB beyond all the process
        // maps then: the check finds more than the run needs, the run finds far less.
        if (::mmap(nullptr, std::size_t(1) << 30, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) ==
            MAP_FAILED) {
            std::_Exit(98);
        }
        std::ifstream statm("/proc/self/statm");
        unsigned long long pages = 0;
        statm >> pages;
        const rlim_t limit = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (24u << 20);
        const rlimit address_space{limit, limit};
        if (!std::freopen(errors.c_str(), "w", stderr) ||
            ::setrlimit(RLIMIT_AS, &address_space) != 0) {
            std::_Exit(99);
        }
        const char* argv[] = {"vseg",         "0",     "7",   "5", "1", "0.001", "4", input.c_str(),
                              output.c_str(), "--png", "none"};
        std::_Exit(vseg_main(11, argv));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    // Where the run runs out depends on what the process held before: the tree may have
    // started (and said so) by then.
    EXPECT_THAT(testing::read_bytes(errors),
                ::testing::MatchesRegex("(Starting from [0-9]+ regions \n(Done [0-9]+% \n)*)?"
                                        "Memory ran out: the run was estimated to need about "
                                        "[0-9.]+ GiB and may use [0-9.]+ GiB \\(the address-space "
                                        "limit of this process, ulimit -v\\)\n"));
    EXPECT_FALSE(boost::filesystem::exists(output + "/run.json"));
}

}  // namespace
}  // namespace gma
}  // namespace vorada
