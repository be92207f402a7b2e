#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "driver/tictoc.h"

namespace vorada {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

TEST(TicToc, PrintsOneTimeLineWithTheIdentifierQuoted) {
    TicToc watch;
    CaptureStderr();
    watch.tic("BPT algorithm");
    watch.toc("BPT algorithm");
    const std::string out = GetCapturedStderr();
    EXPECT_THAT(
        out, ::testing::MatchesRegex("The total CPU time ellapsed for \\(\"BPT algorithm\"\\) is "
                                     "[0-9.e+-]+ seconds \n"));
}

TEST(TicToc, StartingTwiceKeepsTheFirstStartAndReportsOnce) {
    TicToc watch;
    CaptureStderr();
    watch.tic("a");
    watch.tic("a");
    watch.toc("a");
    watch.toc("a");
    const std::string out = GetCapturedStderr();
    EXPECT_THAT(out, ::testing::StartsWith("TicToc Error: The identifier is already on the list\n"
                                           "The total CPU time ellapsed for (\"a\") is "));
    EXPECT_THAT(out, ::testing::EndsWith("TicToc Error: The identifier is not on the list\n"));
}

TEST(TicToc, StoppingAnUnknownIdentifierOnlyComplains) {
    TicToc watch;
    CaptureStderr();
    watch.toc("b");
    EXPECT_EQ(GetCapturedStderr(), "TicToc Error: The identifier is not on the list\n");
}

TEST(TicToc, CpuTimeGrowsWithWork) {
    const double start = TicToc::cpu_time();
    volatile double sink = 0;
    for (int i = 0; i < 20000000; ++i) {
        sink = sink + i * 0.5;
    }
    EXPECT_GT(TicToc::cpu_time(), start);
}

}  // namespace
}  // namespace vorada
