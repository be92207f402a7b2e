// The memory estimate that guards against runs the machine cannot hold must stay above what a
// real run takes at its peak.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <string>

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

}  // namespace
}  // namespace gma
}  // namespace vorada
