#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

TEST_F(MergeTest, MergingAMergedRegionWithALeafEmptiesTheMergedChildsList) {
    Region* p = partition.merge_units(r(0), r(1), 5);
    Region* q = partition.merge_units(r(3), *p, 6);
    EXPECT_TRUE(p->empty());
    EXPECT_TRUE(own_points(*p).empty());
    EXPECT_EQ(q->size(), 7u);
    EXPECT_THAT(own_points(*q), ElementsAre(at(0, 1, 0), at(1, 1, 0), at(2, 1, 0), at(0, 0, 0),
                                            at(1, 0, 0), at(2, 0, 0), at(2, 0, 1)));
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
}

TEST_F(MergeTest, ARegionThatIsAlreadyMergedIsRefused) {
    partition.merge_units(r(0), r(1), 5);
    EXPECT_THROW(partition.merge_units(r(0), r(2), 6), VoradaError);
    EXPECT_THROW(partition.merge_units(r(2), r(2), 6), VoradaError);
    EXPECT_EQ(partition.regions.size(), 6u);
}

TEST_F(MergeTest, UpdatedLabelsShowTheNewRegionOnEveryVoxelOfBothChildren) {
    partition.update_labels = true;
    partition.merge_units(r(0), r(1), 5);
    partition.refresh_current_labels();
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

}  // namespace
}  // namespace testing
}  // namespace vorada
