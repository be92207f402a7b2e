#include <gtest/gtest.h>

#include <csignal>

#include "common/childsignals.h"

namespace vorada {
namespace {

volatile sig_atomic_t hangups = 0;

void count_hangup(int) {
    hangups = hangups + 1;
}

// A stop raised while blocked waits for the block to end; a child about to run another program
// gets the default action back where a handler was set, and keeps an ignored stop ignored.
TEST(ChildSignals, StopsWaitForTheBlockAndChildrenDropHandlersButNotIgnores) {
    struct sigaction saved[3] = {};
    const int stops[3] = {SIGINT, SIGTERM, SIGHUP};
    for (int k = 0; k < 3; ++k) {
        ::sigaction(stops[k], nullptr, &saved[k]);
    }
    struct sigaction counting {};
    counting.sa_handler = count_hangup;
    sigemptyset(&counting.sa_mask);
    ::sigaction(SIGHUP, &counting, nullptr);
    {
        const BlockedStopSignals blocked;
        ::raise(SIGHUP);
        EXPECT_EQ(hangups, 0);
    }
    EXPECT_EQ(hangups, 1);

    ::signal(SIGTERM, SIG_IGN);
    default_stop_handlers();
    struct sigaction now {};
    ::sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    for (int k = 0; k < 3; ++k) {
        ::sigaction(stops[k], &saved[k], nullptr);
    }
}

}  // namespace
}  // namespace vorada
