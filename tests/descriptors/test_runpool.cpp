#include <gtest/gtest.h>

#include <vector>

#include "descriptors/runpool.h"

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

TEST(RunPool, RepackKeepsTheGivenRunsInOrderAndDropsTheRest) {
    Pool pool;
    std::vector<Pool::Run> runs;
    for (int i = 0; i < 100000; ++i) {
        runs.push_back(pool.allocate(3));
        for (int k = 0; k < 3; ++k) {
            pool.at(runs.back())[k] = 3 * i + k;
        }
    }
    std::vector<std::pair<Pool::Run*, std::size_t>> kept;
    Pool::Run missing = Pool::none;
    kept.emplace_back(&missing, 3);
    for (int i = 0; i < 100000; i += 50) {
        kept.emplace_back(&runs[static_cast<std::size_t>(i)], 3);
    }
    pool.repack([&kept](auto move) {
        for (auto& entry : kept) {
            move(*entry.first, entry.second);
        }
    });
    EXPECT_EQ(missing, Pool::none);
    EXPECT_EQ(pool.reserved(), std::size_t(65536));
    // 6 000 live values in a 65 536-value block: mostly free, yet another repack would not
    // help until the pool grows again.
    EXPECT_FALSE(pool.worth_repacking(6000));
    for (int i = 0; i < 150000; ++i) {
        pool.allocate(3);
    }
    EXPECT_TRUE(pool.worth_repacking(6000));
    for (int i = 0; i < 100000; i += 50) {
        const int* values = pool.at(runs[static_cast<std::size_t>(i)]);
        ASSERT_EQ(values[0], 3 * i);
        ASSERT_EQ(values[2], 3 * i + 2);
    }
    // A run freed after the repack is reused as before.
    pool.free(runs[50], 3);
    EXPECT_EQ(pool.allocate(3), runs[50]);
}

// A pool of many blocks is repacked in a few walks over the live runs, not one walk per few
// blocks: the walks visit every live run, so their number must not grow with the pool.
TEST(RunPool, RepackOfALargePoolWalksTheLiveRunsAFewTimes) {
    Pool pool;
    const int length = 1000;
    std::vector<Pool::Run> runs;
    while (pool.reserved() < 200 * std::size_t(65536)) {
        runs.push_back(pool.allocate(length));
        pool.at(runs.back())[0] = static_cast<int>(runs.size());
    }
    int walks = 0;
    pool.repack([&](auto move) {
        ++walks;
        for (std::size_t i = 0; i < runs.size(); i += 2) {
            move(runs[i], length);
        }
    });
    EXPECT_LE(walks, 4);
    for (std::size_t i = 0; i < runs.size(); i += 2) {
        ASSERT_EQ(pool.at(runs[i])[0], static_cast<int>(i + 1));
    }
    EXPECT_LT(pool.reserved(), 110 * std::size_t(65536));
}

}  // namespace
