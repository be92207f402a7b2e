#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "signals/partition.h"
#include "tests/signals/regiontesthelpers.h"

namespace vorada {
namespace testing {
namespace {

using ::testing::ElementsAre;

TEST(HierarchicalRegionPartition, LeavesAreNumberedByFirstAppearanceInRasterOrder) {
    // 2 × 2 × 2:  frame 0   7 7     frame 1   3 9
    //                       7 3               9 9
    gma::LabelVolume labels = make_labels(2, 2, 2, {7, 7, 7, 3, 3, 9, 9, 9});
    Partition partition;
    partition.init(labels);
    EXPECT_EQ(partition.label_map.at(7), 0u);
    EXPECT_EQ(partition.label_map.at(3), 1u);
    EXPECT_EQ(partition.label_map.at(9), 2u);
    EXPECT_EQ(partition.leaf_labels.values,
              (std::vector<unsigned long long>{0, 0, 0, 1, 1, 2, 2, 2}));
    EXPECT_EQ(partition.current_labels.values, partition.leaf_labels.values);
    EXPECT_EQ(partition.max_index, 2u);
    ASSERT_EQ(partition.regions.size(), 3u);
    EXPECT_GE(partition.regions.capacity(), 5u);
    EXPECT_EQ(labels.values[0], 7u);  // the input is not changed
}

TEST(HierarchicalRegionPartition, LeavesHoldTheirVoxelsInRasterOrderWithTheirFrameSpan) {
    gma::LabelVolume labels = make_labels(2, 2, 2, {7, 7, 7, 3, 3, 9, 9, 9});
    Partition partition;
    partition.init(labels);
    const auto& r = partition.regions;
    EXPECT_THAT(own_points(r[0]), ElementsAre(at(0, 0, 0), at(1, 0, 0), at(0, 1, 0)));
    EXPECT_THAT(own_points(r[1]), ElementsAre(at(1, 1, 0), at(0, 0, 1)));
    EXPECT_THAT(own_points(r[2]), ElementsAre(at(1, 0, 1), at(0, 1, 1), at(1, 1, 1)));
    EXPECT_EQ(r[1].first_frame, 0);
    EXPECT_EQ(r[1].last_frame, 1);
    EXPECT_EQ(r[2].first_frame, 1);
    EXPECT_EQ(r[2].last_frame, 1);
    for (std::size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].label, i);
        EXPECT_TRUE(r[i].children.empty());
        EXPECT_EQ(r[i].parent, nullptr);
    }
}

TEST(HierarchicalRegionPartition, ASingleLabelGivesOneRegionWithoutLinks) {
    gma::LabelVolume labels = make_labels(3, 2, 2, std::vector<unsigned long long>(12, 5));
    Partition partition;
    partition.init(labels);
    ASSERT_EQ(partition.regions.size(), 1u);
    EXPECT_EQ(partition.max_index, 0u);
    EXPECT_TRUE(partition.leaf_pairs.pairs().empty());
    EXPECT_EQ(partition.regions[0].size(), 12u);
}

TEST(HierarchicalRegionPartition, AnEmptyVolumeGivesNoRegions) {
    gma::LabelVolume labels(0, 0, 0);
    Partition partition;
    partition.init(labels);
    EXPECT_TRUE(partition.regions.empty());
    EXPECT_EQ(partition.max_index, 0u);
}

TEST(HierarchicalRegionPartition, OnePairPerAdjacencyMetFromTheEarlierVoxel) {
    // One frame, 3 × 2 (leaf indices in brackets):
    //     1[0] 2[1] 3[2]
    //     3[2] 2[1] 3[2]
    // Pair {0,1} first met at (0,0)→(1,0); {1,2} at (1,0)→(2,0), from leaf 1; {0,2} at
    // (0,0)→(0,1), from leaf 0. The later meetings (0,1)→(1,1) and (1,1)→(2,1) add nothing.
    // Pairs come ordered by their higher label, then their lower one.
    gma::LabelVolume labels = make_labels(3, 2, 1, {1, 2, 3, 3, 2, 3});
    Partition partition;
    partition.init(labels);
    EXPECT_EQ(partition.leaf_pairs.pairs(), (std::vector<gma::LeafPair>{{0, 1}, {0, 2}, {1, 2}}));
}

TEST(LeafPairs, APairKeepsItsFirstMeetingAndComesOnceInLabelOrder) {
    gma::LeafPairs pairs;
    for (const auto& met : std::vector<gma::LeafPair>{
             {5, 2}, {2, 5}, {1, 7}, {0, 3}, {7, 1}, {3, 2}, {2, 3}, {4, 6}, {5, 2}, {6, 4}}) {
        pairs.add(met.first, met.second);
    }
    EXPECT_EQ(pairs.pairs(), (std::vector<gma::LeafPair>{{0, 3}, {3, 2}, {5, 2}, {4, 6}, {1, 7}}));
    EXPECT_THROW(pairs.add(4, 4), VoradaError);
    pairs.clear();
    EXPECT_TRUE(pairs.pairs().empty());
}

TEST(HierarchicalRegionPartition, DiagonalAndCrossFrameContactsMakeNoLink) {
    // frame 0: 1 2    frame 1: 4 2     1 touches 3 only diagonally; 4 lies on top of 1 one
    //          2 3             2 2     frame later, and frames do not touch.
    gma::LabelVolume labels = make_labels(2, 2, 2, {1, 2, 2, 3, 4, 2, 2, 2});
    Partition partition;
    partition.init(labels);
    // 1→0, 2→1, 3→2, 4→3
    EXPECT_EQ(paired_with(partition, 0), (std::set<unsigned long long>{1}));
    EXPECT_EQ(paired_with(partition, 1), (std::set<unsigned long long>{0, 2, 3}));
    EXPECT_EQ(paired_with(partition, 2), (std::set<unsigned long long>{1}));
    EXPECT_EQ(paired_with(partition, 3), (std::set<unsigned long long>{1}));
}

TEST(HierarchicalRegionPartition, InitAgainStartsFromScratch) {
    gma::LabelVolume first = make_labels(2, 1, 1, {8, 9});
    gma::LabelVolume second = make_labels(3, 1, 1, {9, 4, 4});
    Partition partition;
    partition.init(first);
    partition.init(second);
    EXPECT_EQ(partition.regions.size(), 2u);
    EXPECT_EQ(partition.leaf_labels.values, (std::vector<unsigned long long>{0, 1, 1}));
    EXPECT_EQ(partition.label_map.size(), 2u);
    EXPECT_EQ(partition.leaf_pairs.pairs(), (std::vector<gma::LeafPair>{{0, 1}}));
}

TEST(HierarchicalRegionPartition, LargeLabelValuesAreMappedToo) {
    gma::LabelVolume labels = make_labels(3, 1, 1, {~0ULL, 5, ~0ULL});
    Partition partition;
    partition.init(labels);
    EXPECT_EQ(partition.label_map.at(~0ULL), 0u);
    EXPECT_EQ(partition.leaf_labels.values, (std::vector<unsigned long long>{0, 1, 0}));
}

TEST(HierarchicalRegionPartition, EveryVoxelLiesInExactlyOneLeaf) {
    const long long X = 9, Y = 7, T = 3;
    std::vector<unsigned long long> values(X * Y * T);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = (i * 2654435761u) % 17 + 100;
    }
    gma::LabelVolume labels = make_labels(X, Y, T, values);
    Partition partition;
    partition.init(labels);
    std::vector<int> seen(values.size(), 0);
    std::size_t total = 0;
    for (const Region& region : partition.regions) {
        gma::for_each_region_point(region, [&](const gma::Coordinate& p) {
            const std::size_t v = static_cast<std::size_t>(p(0) + X * (p(1) + Y * p(2)));
            ++seen[v];
            ++total;
            EXPECT_EQ(partition.leaf_labels.values[v], region.label);
        });
    }
    EXPECT_EQ(total, values.size());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(values.size()));
}

}  // namespace
}  // namespace testing
}  // namespace vorada
