#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "signals/partition.h"
#include "tests/signals/regiontesthelpers.h"

namespace vorada {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// Two frames of 4 × 2 (tracker labels; leaf indices 1→0, 2→1, 3→2, 4→3, 5→4):
//
//   frame 0:  1 1 2 3      frame 1:  5 5 2 5
//             4 4 4 3                5 5 5 5
//
// Leaf adjacency: 0–1, 0–3, 1–2, 1–3, 1–4, 2–3. Region 3 touches both 0 and 1.
class MergeTest : public ::testing::Test {
  protected:
    MergeTest() {
        labels = make_labels(4, 2, 2, {1, 1, 2, 3, 4, 4, 4, 3, 5, 5, 2, 5, 5, 5, 5, 5});
        partition.init(labels);
    }
    Region& r(std::size_t i) { return partition.regions[i]; }
    gma::LabelVolume labels;
    Partition partition;
};

TEST_F(MergeTest, MergingTwoLeavesMakesTheirParent) {
    Region* p = partition.merge_units(r(0), r(1), 5);
    ASSERT_EQ(p, &r(5));
    EXPECT_EQ(p->label, 5u);
    EXPECT_EQ(p->parent, nullptr);
    ASSERT_EQ(p->children.size(), 2u);
    EXPECT_EQ(p->children[0], &r(0));
    EXPECT_EQ(p->children[1], &r(1));
    EXPECT_EQ(r(0).parent, p);
    EXPECT_EQ(r(1).parent, p);
    EXPECT_EQ(partition.max_index, 5u);
    EXPECT_EQ(p->first_frame, 0);
    EXPECT_EQ(p->last_frame, 1);
    EXPECT_THAT(own_points(*p), ElementsAre(at(0, 0, 0), at(1, 0, 0), at(2, 0, 0), at(2, 0, 1)));
    EXPECT_THAT(own_points(r(0)), ElementsAre(at(0, 0, 0), at(1, 0, 0)));  // leaves keep theirs
    EXPECT_EQ(r(1).size(), 2u);
}

TEST_F(MergeTest, ParentTakesTheUnionOfTheChildrensNeighbours) {
    Link* untouched = r(2).neighbors.find(&r(3));
    Region* p = partition.merge_units(r(0), r(1), 5);
    EXPECT_EQ(neighbor_labels(*p), (std::set<unsigned long long>{2, 3, 4}));
    EXPECT_TRUE(r(0).neighbors.empty());
    EXPECT_TRUE(r(1).neighbors.empty());
    // Region 3 touched both children and now has exactly one link to the parent.
    EXPECT_EQ(neighbor_labels(r(3)), (std::set<unsigned long long>{2, 5}));
    EXPECT_EQ(neighbor_labels(r(4)), (std::set<unsigned long long>{5}));
    EXPECT_EQ(r(2).neighbors.find(&r(3)), untouched);
    for (const auto& entry : p->neighbors) {
        EXPECT_EQ(entry.second->first, p);
        EXPECT_EQ(entry.second->second, entry.first);
        EXPECT_EQ(entry.second->distance, 0.0);
        EXPECT_EQ(entry.first->neighbors.find(p), entry.second);
    }
}

TEST_F(MergeTest, MergingAMergedRegionWithALeafEmptiesTheMergedChildsList) {
    Region* p = partition.merge_units(r(0), r(1), 5);
    Region* q = partition.merge_units(r(3), *p, 6);
    EXPECT_TRUE(p->empty());
    EXPECT_TRUE(own_points(*p).empty());
    EXPECT_EQ(q->size(), 7u);
    EXPECT_THAT(own_points(*q), ElementsAre(at(0, 1, 0), at(1, 1, 0), at(2, 1, 0), at(0, 0, 0),
                                            at(1, 0, 0), at(2, 0, 0), at(2, 0, 1)));
    EXPECT_EQ(neighbor_labels(*q), (std::set<unsigned long long>{2, 4}));
    EXPECT_EQ(region_points(*p).size(), 4u);  // still reachable by descending
}

TEST_F(MergeTest, AWrongIndexIsRefusedAndChangesNothing) {
    EXPECT_THAT([&] { partition.merge_units(r(0), r(1), 6); },
                ThrowsMessage<VoradaError>(StrEq("Index of region out of bounds")));
    EXPECT_THAT([&] { partition.merge_units(r(0), r(1), 4); },
                ThrowsMessage<VoradaError>(StrEq("Index of region out of bounds")));
    EXPECT_EQ(partition.regions.size(), 5u);
    EXPECT_EQ(partition.max_index, 4u);
    EXPECT_EQ(r(0).parent, nullptr);
    EXPECT_EQ(neighbor_labels(r(0)), (std::set<unsigned long long>{1, 3}));
}

TEST_F(MergeTest, ARegionThatIsAlreadyMergedIsRefused) {
    partition.merge_units(r(0), r(1), 5);
    EXPECT_THROW(partition.merge_units(r(0), r(2), 6), VoradaError);
    EXPECT_THROW(partition.merge_units(r(2), r(2), 6), VoradaError);
    EXPECT_EQ(partition.regions.size(), 6u);
}

TEST_F(MergeTest, DetachedLinksKeepTheAdjacencyAndComeBackForTheGivenPairs) {
    partition.detach_links();
    EXPECT_TRUE(partition.links_are_detached());
    EXPECT_EQ(r(0).neighbors.find(&r(1)), nullptr);
    EXPECT_TRUE(r(0).neighbors.contains(&r(1)));
    Region* p = partition.merge_units(r(0), r(1), 5);
    EXPECT_EQ(neighbor_labels(*p), (std::set<unsigned long long>{2, 3, 4}));
    EXPECT_TRUE(r(4).neighbors.contains(p));
    EXPECT_EQ(p->neighbors.find(&r(2)), nullptr);
    const std::vector<Link*> made = partition.reattach_links({{p, &r(4)}, {&r(3), &r(2)}});
    ASSERT_EQ(made.size(), 2u);
    EXPECT_FALSE(partition.links_are_detached());
    EXPECT_EQ(made[0]->first, p);
    EXPECT_EQ(made[0]->second, &r(4));
    EXPECT_EQ(p->neighbors.find(&r(4)), made[0]);
    EXPECT_EQ(r(4).neighbors.find(p), made[0]);
    EXPECT_EQ(r(2).neighbors.find(&r(3)), made[1]);
    EXPECT_EQ(r(3).neighbors.find(&r(2))->first, &r(3));
    // A pair that is not adjacent, or that has its link already, is refused.
    EXPECT_THROW(partition.reattach_links({{&r(2), &r(4)}}), VoradaError);
    EXPECT_THROW(partition.reattach_links({{p, &r(4)}}), VoradaError);
    // Merges make link objects again.
    Region* q = partition.merge_units(*p, r(4), 6);
    ASSERT_NE(q->neighbors.find(&r(2)), nullptr);
    EXPECT_EQ(q->neighbors.find(&r(2))->first, q);
}

TEST_F(MergeTest, UpdatedLabelsShowTheNewRegionOnEveryVoxelOfBothChildren) {
    partition.update_labels = true;
    partition.merge_units(r(0), r(1), 5);
    EXPECT_FALSE(partition.current_labels_fresh());
    partition.refresh_current_labels();
    EXPECT_TRUE(partition.current_labels_fresh());
    EXPECT_EQ(partition.current_labels.values,
              (std::vector<unsigned long long>{5, 5, 5, 2, 3, 3, 3, 2, 4, 4, 5, 4, 4, 4, 4, 4}));
    partition.merge_units(r(3), r(5), 6);
    partition.refresh_current_labels();
    EXPECT_EQ(partition.current_labels.values,
              (std::vector<unsigned long long>{6, 6, 6, 2, 6, 6, 6, 2, 4, 4, 6, 4, 4, 4, 4, 4}));
    EXPECT_EQ(partition.leaf_labels.values,
              (std::vector<unsigned long long>{0, 0, 1, 2, 3, 3, 3, 2, 4, 4, 1, 4, 4, 4, 4, 4}));
}

TEST_F(MergeTest, LabelsStayWhenMergesDoNotUpdateThem) {
    partition.update_labels = false;
    partition.merge_units(r(0), r(1), 5);
    partition.refresh_current_labels();
    EXPECT_EQ(partition.current_labels.values, partition.leaf_labels.values);

    // A later updating merge writes its own label; an earlier one that did not update is
    // simply overwritten where the two overlap.
    partition.update_labels = true;
    partition.merge_units(r(5), r(4), 6);
    partition.update_labels = false;
    partition.merge_units(r(6), r(2), 7);
    partition.refresh_current_labels();
    EXPECT_EQ(partition.current_labels.values,
              (std::vector<unsigned long long>{6, 6, 6, 2, 3, 3, 3, 2, 6, 6, 6, 6, 6, 6, 6, 6}));
}

// Random merges on a random label volume, checked after every merge against the adjacency seen
// in the refreshed label volume: the neighbours of every top-level region are exactly the
// top-level regions touching it within a frame, each pair sharing one link.
TEST(MergeUnits, RandomMergesKeepTheAdjacencyOfTheTopLevelRegions) {
    const long long X = 7, Y = 6, T = 3;
    std::mt19937 generator(77);
    std::vector<unsigned long long> values(X * Y * T);
    for (auto& value : values) {
        value = generator() % 40;
    }
    gma::LabelVolume labels = make_labels(X, Y, T, values);
    Partition partition;
    partition.init(labels);
    partition.update_labels = true;
    const Region* store = partition.regions.data();
    const std::size_t leaves = partition.regions.size();

    auto check = [&]() {
        partition.refresh_current_labels();
        const auto& current = partition.current_labels.values;
        std::map<unsigned long long, std::set<unsigned long long>> touching;
        std::map<unsigned long long, std::size_t> voxels;
        for (long long t = 0; t < T; ++t) {
            for (long long y = 0; y < Y; ++y) {
                for (long long x = 0; x < X; ++x) {
                    const std::size_t v = static_cast<std::size_t>(x + X * (y + Y * t));
                    ++voxels[current[v]];
                    touching[current[v]];
                    const std::size_t right = x + 1 < X ? v + 1 : v;
                    const std::size_t below = y + 1 < Y ? v + static_cast<std::size_t>(X) : v;
                    for (std::size_t w : {right, below}) {
                        if (current[w] != current[v]) {
                            touching[current[v]].insert(current[w]);
                            touching[current[w]].insert(current[v]);
                        }
                    }
                }
            }
        }
        for (const Region& region : partition.regions) {
            if (region.parent) {
                ASSERT_TRUE(region.neighbors.empty());
                continue;
            }
            ASSERT_EQ(neighbor_labels(region), touching[region.label]) << region.label;
            ASSERT_EQ(region.size(), voxels[region.label]);
            std::size_t visited = 0;
            gma::for_each_own_point(region, [&](const gma::Coordinate& p) {
                ++visited;
                ASSERT_EQ(current[static_cast<std::size_t>(p(0) + X * (p(1) + Y * p(2)))],
                          region.label);
            });
            ASSERT_EQ(visited, voxels[region.label]);
            for (const auto& entry : region.neighbors) {
                ASSERT_EQ(entry.first->neighbors.find(&region), entry.second);
            }
        }
    };

    check();
    for (;;) {
        std::vector<Region*> candidates;
        for (Region& region : partition.regions) {
            if (!region.parent && !region.neighbors.empty()) {
                candidates.push_back(&region);
            }
        }
        if (candidates.empty()) {
            break;
        }
        Region* a = candidates[generator() % candidates.size()];
        auto entry = a->neighbors.begin() + generator() % a->neighbors.size();
        Region* b = static_cast<Region*>(entry->first);
        partition.merge_units(*a, *b, partition.regions.size());
        ASSERT_NO_FATAL_FAILURE(check());
    }
    // Every voxel of a frame is connected, and labels span frames: everything ends in one region.
    EXPECT_EQ(partition.regions.size(), 2 * leaves - 1);
    EXPECT_EQ(partition.regions.data(), store);  // the store never moved
    EXPECT_THAT(
        [&] {
            partition.merge_units(partition.regions[0], partition.regions[1],
                                  partition.regions.size());
        },
        ThrowsMessage<VoradaError>(StrEq("Index of region out of bounds")));
}

}  // namespace
}  // namespace testing
}  // namespace vorada
