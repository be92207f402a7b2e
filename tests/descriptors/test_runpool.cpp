#include "descriptors/runpool.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Pool = vorada::gma::RunPool<int>;

TEST(RunPool, RunsStayInPlaceAndFreedRunsGoToTheNextOfTheirLength) {
    Pool pool;
    EXPECT_EQ(pool.allocate(0), Pool::none);
    std::vector<Pool::Run> runs;
    std::vector<const int*> places;
    // Enough runs of 1 to 7 elements to fill several blocks.
    for (int i = 0; i < 40000; ++i) {
        const std::size_t length = 1 + static_cast<std::size_t>(i % 7);
        const Pool::Run run = pool.allocate(length);
        for (std::size_t k = 0; k < length; ++k) {
            pool.at(run)[k] = i * 10 + static_cast<int>(k);
        }
        runs.push_back(run);
        places.push_back(pool.at(run));
    }
    EXPECT_GT(pool.reserved(), std::size_t(65536));
    for (int i = 0; i < 40000; ++i) {
        const std::size_t length = 1 + static_cast<std::size_t>(i % 7);
        ASSERT_EQ(pool.at(runs[i]), places[i]);
        ASSERT_EQ(pool.at(runs[i])[length - 1], i * 10 + static_cast<int>(length - 1)) << i;
    }
    const std::size_t reserved = pool.reserved();
    pool.free(runs[3], 4);
    EXPECT_EQ(pool.allocate(4), runs[3]);
    EXPECT_EQ(pool.reserved(), reserved);
}

TEST(RunPool, RunLongerThanABlockHasItsOwnAndGivesItBack) {
    Pool pool;
    const Pool::Run small = pool.allocate(2);
    pool.at(small)[1] = 7;
    const std::size_t before = pool.reserved();
    const Pool::Run large = pool.allocate(100000);
    pool.at(large)[99999] = 5;
    EXPECT_EQ(pool.at(large)[99999], 5);
    EXPECT_EQ(pool.at(small)[1], 7);
    EXPECT_EQ(pool.reserved(), before + 100000);
    pool.free(large, 100000);
    EXPECT_EQ(pool.reserved(), before);
}

}  // namespace
