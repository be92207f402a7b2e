#include <gtest/gtest.h>
#include <sched.h>

#include "common/parallel.h"

namespace vorada {
namespace {

// A process limited to some cores (taskset, a Slurm job) starts that many threads, not one per
// core of the machine.
TEST(Parallel, TheDefaultThreadCountIsTheCoresThisProcessMayRunOn) {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof(before), &before), 0);
    EXPECT_EQ(default_thread_count(), static_cast<unsigned>(CPU_COUNT(&before)));
    int first = 0;
    while (!CPU_ISSET(first, &before)) {
        ++first;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
    const unsigned limited = default_thread_count();
    ASSERT_EQ(sched_setaffinity(0, sizeof(before), &before), 0);
    EXPECT_EQ(limited, 1u);
}

}  // namespace
}  // namespace vorada
