#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "signals/region.h"
#include "tests/signals/regiontesthelpers.h"

namespace vorada {
namespace testing {
namespace {

using gma::Coordinate;
using ::testing::ElementsAre;

Region leaf(unsigned long long label, const std::vector<Coordinate>& points) {
    Region region(label);
    for (const Coordinate& c : points) {
        region.add_point(c);
    }
    return region;
}

TEST(Trajectory, NewRegionIsEmptyWithSentinelFrameSpan) {
    Region region(42);
    EXPECT_EQ(region.label, 42u);
    EXPECT_TRUE(region.empty());
    EXPECT_EQ(region.first_frame, 1000000000);
    EXPECT_EQ(region.last_frame, -1);
    EXPECT_EQ(region.parent, nullptr);
    EXPECT_TRUE(region.children.empty());
    EXPECT_TRUE(region_points(region).empty());
}

TEST(Trajectory, AddedPointsKeepTheirOrderAndWidenTheFrameSpan) {
    Region region(0);
    std::vector<Coordinate> expected;
    // Past several powers of two, so the owned array grows more than once.
    for (long long i = 0; i < 70; ++i) {
        expected.push_back(at(i % 5, i / 5, 3 + (i * 7) % 4));
        region.add_point(expected.back());
    }
    EXPECT_EQ(region.size(), 70u);
    EXPECT_EQ(own_points(region), expected);
    EXPECT_EQ(region.first_frame, 3);
    EXPECT_EQ(region.last_frame, 6);

    const Region copy(region);
    region.add_point(at(9, 9, 9));
    EXPECT_EQ(own_points(copy), expected);  // deep copy, unaffected by later appends
}

TEST(HierarchicalRegion, InitOfTwoLeavesConcatenatesTheirListsAndKeepsThem) {
    Region a = leaf(0, {at(0, 0, 0), at(1, 0, 0)});
    Region b = leaf(1, {at(2, 0, 1)});
    Region p(2);
    p._init(&a, &b);
    ASSERT_EQ(p.children.size(), 2u);
    EXPECT_EQ(p.children[0], &a);
    EXPECT_EQ(p.children[1], &b);
    EXPECT_EQ(a.parent, &p);
    EXPECT_EQ(b.parent, &p);
    EXPECT_EQ(p.size(), 3u);
    EXPECT_THAT(own_points(p), ElementsAre(at(0, 0, 0), at(1, 0, 0), at(2, 0, 1)));
    EXPECT_THAT(own_points(a), ElementsAre(at(0, 0, 0), at(1, 0, 0)));
    EXPECT_THAT(own_points(b), ElementsAre(at(2, 0, 1)));
}

TEST(HierarchicalRegion, InitEmptiesTheListOfAMergedChildOnly) {
    Region a = leaf(0, {at(0, 0, 0)});
    Region b = leaf(1, {at(1, 0, 0)});
    Region c = leaf(2, {at(2, 0, 0)});
    Region ab(3);
    ab._init(&a, &b);
    Region top(4);
    top._init(&c, &ab);
    EXPECT_TRUE(ab.empty());
    EXPECT_TRUE(own_points(ab).empty());
    EXPECT_EQ(c.size(), 1u);
    EXPECT_THAT(own_points(top), ElementsAre(at(2, 0, 0), at(0, 0, 0), at(1, 0, 0)));
    // The merged child's voxels are still reached by descending.
    EXPECT_THAT(region_points(ab), ElementsAre(at(0, 0, 0), at(1, 0, 0)));
}

TEST(HierarchicalRegion, InitWithANullArgumentMakesOneChild) {
    Region a = leaf(0, {at(4, 4, 4)});
    Region p(1);
    p._init(&a, nullptr);
    EXPECT_EQ(p.children.size(), 1u);
    EXPECT_THAT(region_points(p), ElementsAre(at(4, 4, 4)));
}

TEST(HierarchicalRegion, InitRejectsAChildThatAlreadyHasAParent) {
    Region a = leaf(0, {at(0, 0, 0)});
    Region b = leaf(1, {at(1, 0, 0)});
    Region p(2);
    p._init(&a, &b);
    Region q(3);
    EXPECT_THROW(q._init(&a, nullptr), VoradaError);
    EXPECT_THROW(q._init(&b, &b), VoradaError);
    EXPECT_TRUE(q.children.empty());
}

// Tree of the point iteration test (labels; leaves hold the listed x values):
//
//            g
//          /   \   .
//         e     f
//        / \   / \   .
//       a   b c   d      a: x 0,1   b: (none)   c: x 2   d: x 3,4
TEST(ForEachRegionPoint, VisitsEveryLeafDepthFirstFirstChildBeforeSecond) {
    Region a = leaf(0, {at(0, 0, 0), at(1, 0, 0)});
    Region b(1);
    Region c = leaf(2, {at(2, 0, 0)});
    Region d = leaf(3, {at(3, 0, 0), at(4, 0, 0)});
    Region e(4), f(5), g(6);
    e._init(&a, &b);
    f._init(&c, &d);
    g._init(&e, &f);

    std::vector<long long> xs;
    gma::for_each_region_point(g, [&](const Coordinate& p) { xs.push_back(p(0)); });
    EXPECT_THAT(xs, ElementsAre(0, 1, 2, 3, 4));
    xs.clear();
    gma::for_each_region_point(f, [&](const Coordinate& p) { xs.push_back(p(0)); });
    EXPECT_THAT(xs, ElementsAre(2, 3, 4));  // stops at f, does not climb into g
    EXPECT_TRUE(region_points(b).empty());
    EXPECT_EQ(g.size(), 5u);
    EXPECT_TRUE(e.empty());
}

TEST(ForEachRegionPoint, WalksAVeryDeepTreeWithoutRecursion) {
    // One region absorbing a leaf at a time: depth equals the number of merges.
    const std::size_t depth = 200000;
    std::vector<Region> regions;
    regions.reserve(2 * depth + 1);
    for (std::size_t i = 0; i <= depth; ++i) {
        regions.emplace_back(i);
        regions.back().add_point(at(static_cast<long long>(i), 0, 0));
    }
    Region* top = &regions[0];
    for (std::size_t i = 1; i <= depth; ++i) {
        regions.emplace_back(depth + i);
        regions.back()._init(top, &regions[i]);
        top = &regions.back();
    }
    long long expected = 0;
    bool in_order = true;
    gma::for_each_region_point(*top, [&](const Coordinate& p) { in_order &= p(0) == expected++; });
    EXPECT_TRUE(in_order);
    EXPECT_EQ(expected, static_cast<long long>(depth + 1));
}

TEST(Trajectory, CopyOfAMergedRegionKeepsItsListAndAdoptsTheChildren) {
    Region a = leaf(0, {at(0, 0, 0)});
    Region b = leaf(1, {at(1, 0, 2)});
    Region p(2);
    p._init(&a, &b);
    p.first_frame = 0;
    p.last_frame = 2;
    const Region copy(p);
    EXPECT_EQ(a.parent, &copy);
    EXPECT_EQ(b.parent, &copy);
    EXPECT_EQ(copy.label, 2u);
    EXPECT_EQ(copy.last_frame, 2);
    EXPECT_EQ(copy.parent, nullptr);
    EXPECT_THAT(own_points(copy), ElementsAre(at(0, 0, 0), at(1, 0, 2)));
}

TEST(Trajectory, MergedRegionRefusesDirectAppends) {
    Region a = leaf(0, {at(0, 0, 0)});
    Region p(1);
    p._init(&a, nullptr);
    EXPECT_THROW(p.add_point(at(1, 1, 1)), VoradaError);
}

TEST(Trajectory, KeepsPointsAtTheEdgesOfItsRangeAndRefusesPointsBeyond) {
    Region region(0);
    region.add_point(at(2147483647, -2147483648LL, 7));
    EXPECT_THAT(own_points(region), ElementsAre(at(2147483647, -2147483648LL, 7)));
    EXPECT_THROW(region.add_point(at(2147483648LL, 0, 0)), VoradaError);
    EXPECT_THROW(region.add_point(at(0, 0, -2147483649LL)), VoradaError);
    EXPECT_EQ(region.size(), 1u);
}

TEST(Trajectory, StaysCompact) {
    // 1.7 million of these are reserved for a real input.
    EXPECT_LE(sizeof(Region), 48u);
}

}  // namespace
}  // namespace testing
}  // namespace vorada
