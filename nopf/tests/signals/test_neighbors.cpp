#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "signals/bst.h"
#include "signals/neighbors.h"
#include "tests/signals/regiontesthelpers.h"

namespace vorada {
namespace testing {
namespace {

using Space = Region::SpaceRegionType;
using LinkSet = BST<Link, Link::compare_distance_function>;

class NeighborContainerTest : public ::testing::Test {
  protected:
    NeighborContainerTest() {
        regions.reserve(6);
        for (unsigned long long i = 0; i < 6; ++i) {
            regions.emplace_back(i);
        }
    }
    ~NeighborContainerTest() override {
        for (Region& region : regions) {
            region.neighbors.release_links();
        }
    }
    Space* r(std::size_t i) { return &regions[i]; }
    std::vector<Region> regions;
};

TEST_F(NeighborContainerTest, InsertMakesOneLinkRecordedByBothRegions) {
    Link* link = regions[3].neighbors.neighbors_insert(r(1), nullptr);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->first, r(3));
    EXPECT_EQ(link->second, r(1));
    EXPECT_EQ(link->distance, 0.0);
    EXPECT_EQ(regions[3].neighbors.find(r(1)), link);
    EXPECT_EQ(regions[1].neighbors.find(r(3)), link);
    EXPECT_EQ(regions[1].neighbors.size(), 1u);
}

TEST_F(NeighborContainerTest, InsertOfAKnownNeighbourReturnsTheExistingLink) {
    Link* link = regions[0].neighbors.neighbors_insert(r(2), nullptr);
    Link other;
    EXPECT_EQ(regions[0].neighbors.neighbors_insert(r(2), &other), link);
    EXPECT_EQ(regions[2].neighbors.neighbors_insert(r(0), nullptr), link);
    EXPECT_EQ(regions[0].neighbors.find(r(2)), link);
    EXPECT_EQ(regions[0].neighbors.size(), 1u);
    EXPECT_EQ(regions[2].neighbors.size(), 1u);
}

// A neighbour of two merged regions drops its entries for them and records the parent, the
// newest region, last; entries for other regions keep their order and links.
TEST_F(NeighborContainerTest, ReplaceByNewestDropsTheChildrenAndAppendsTheParent) {
    auto& container = regions[0].neighbors.links;
    using Entry = decltype(regions[0].neighbors)::Entry;
    Link kept[3];
    Link parent_link;
    // (gone first, gone second, entries present before) for children 1 and 3 of parent 5.
    for (auto& present : std::vector<std::vector<std::size_t>>{
             {1, 2, 3, 4}, {1, 2, 4}, {2, 3, 4}, {1, 3}, {3}, {2, 3}}) {
        container.clear();
        std::vector<std::size_t> expected;
        for (std::size_t i : present) {
            container.push_back(Entry{r(i), &kept[i % 3]});
            if (i != 1 && i != 3) {
                expected.push_back(i);
            }
        }
        // Either argument order: the two children may come in any address order.
        if (present.size() % 2) {
            regions[0].neighbors.replace_by_newest(r(3), r(1), r(5), &parent_link);
        } else {
            regions[0].neighbors.replace_by_newest(r(1), r(3), r(5), &parent_link);
        }
        expected.push_back(5);
        ASSERT_EQ(container.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(container[k].first, r(expected[k]));
            EXPECT_EQ(container[k].second, expected[k] == 5 ? &parent_link : &kept[expected[k] % 3]);
        }
    }
    container.release();
}

TEST_F(NeighborContainerTest, IterationYieldsNeighboursInAddressOrderWithTheirLinks) {
    for (std::size_t i : {4, 1, 5, 2}) {
        regions[3].neighbors.neighbors_insert(r(i), nullptr);
    }
    std::vector<unsigned long long> labels;
    for (const auto& entry : regions[3].neighbors) {
        labels.push_back(entry.first->label);
        EXPECT_EQ(entry.second, entry.first->neighbors.find(r(3)));
        EXPECT_EQ(entry.second->first, r(3));
        EXPECT_EQ(entry.second->second, entry.first);
    }
    EXPECT_EQ(labels, (std::vector<unsigned long long>{1, 2, 4, 5}));
}

TEST_F(NeighborContainerTest, EraseWithDeleteRemovesBothEntries) {
    regions[0].neighbors.neighbors_insert(r(1), nullptr);
    Link* kept = regions[0].neighbors.neighbors_insert(r(2), nullptr);
    regions[1].neighbors.neighbors_erase(r(0), true);
    EXPECT_FALSE(regions[0].neighbors.contains(r(1)));
    EXPECT_FALSE(regions[1].neighbors.contains(r(0)));
    EXPECT_EQ(regions[0].neighbors.find(r(2)), kept);
    regions[1].neighbors.neighbors_erase(r(4), true);  // not a neighbour: nothing happens
    EXPECT_EQ(regions[0].neighbors.size(), 1u);
}

TEST_F(NeighborContainerTest, EraseWithoutDeleteRemovesOnlyTheOwnersEntry) {
    Link* link = regions[0].neighbors.neighbors_insert(r(1), nullptr);
    regions[0].neighbors.neighbors_erase(r(1), false);
    EXPECT_FALSE(regions[0].neighbors.contains(r(1)));
    EXPECT_EQ(regions[1].neighbors.find(r(0)), link);
    EXPECT_EQ(link->first, r(0));  // the link itself is still alive
}

TEST_F(NeighborContainerTest, ARegionCannotBeItsOwnNeighbour) {
    EXPECT_THROW(regions[2].neighbors.neighbors_insert(r(2), nullptr), VoradaError);
    EXPECT_TRUE(regions[2].neighbors.empty());
}

// Links between hand-made regions for the link set tests.
class LinkSetTest : public ::testing::Test {
  protected:
    LinkSetTest() {
        regions.reserve(8);
        for (unsigned long long i = 0; i < 8; ++i) {
            regions.emplace_back(i);
        }
    }
    Link make(std::size_t first, std::size_t second, double distance) {
        Link link;
        link.first = &regions[first];
        link.second = &regions[second];
        link.distance = distance;
        return link;
    }
    std::vector<Region> regions;
};

TEST_F(LinkSetTest, EqualDistancesLeaveByFirstLabelThenSecondLabel) {
    std::vector<Link> links = {make(3, 1, 0.5), make(2, 7, 0.5), make(2, 5, 0.5), make(6, 0, 0.25),
                               make(0, 4, 0.75)};
    LinkSet set;
    for (Link& link : links) {
        set.insert(&link);
    }
    EXPECT_TRUE(set.verify());
    std::vector<Link*> order;
    while (!set.empty()) {
        order.push_back(set.smallest());
        set.erase(set.smallest());
    }
    EXPECT_EQ(order, (std::vector<Link*>{&links[3], &links[2], &links[1], &links[0], &links[4]}));
    EXPECT_EQ(set.smallest(), nullptr);
}

TEST_F(LinkSetTest, ErasedLinkCanBeReinsertedWithANewDistance) {
    std::vector<Link> links = {make(1, 0, 1.0), make(2, 0, 2.0), make(3, 0, 3.0)};
    LinkSet set;
    for (Link& link : links) {
        set.insert(&link);
    }
    set.erase(&links[0]);
    EXPECT_EQ(set.smallest(), &links[1]);
    links[0].distance = 5.0;
    set.insert(&links[0]);
    EXPECT_EQ(set.size(), 3u);
    EXPECT_EQ(set.smallest(), &links[1]);
    EXPECT_EQ(set.largest(), &links[0]);
    EXPECT_EQ(set.next(&links[1]), &links[2]);
    EXPECT_EQ(set.next(&links[0]), nullptr);
    EXPECT_TRUE(set.verify());
}

TEST_F(LinkSetTest, RandomInsertsAndErasesMatchAnOrderedModel) {
    // Few distinct distances, so the label tie-breaks are exercised constantly.
    std::vector<Link> links;
    links.reserve(64);
    for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t j = 0; j < 8; ++j) {
            links.push_back(make(i, j, 0.0));
        }
    }
    using Key = std::tuple<double, unsigned long long, unsigned long long>;
    auto key = [](const Link& l) { return Key(l.distance, l.first->label, l.second->label); };
    std::set<Key> model;
    std::vector<bool> inside(links.size(), false);
    LinkSet set;
    std::mt19937 generator(20240611);
    for (int step = 0; step < 4000; ++step) {
        const std::size_t i = generator() % links.size();
        if (inside[i]) {
            set.erase(&links[i]);
            model.erase(key(links[i]));
        } else {
            links[i].distance = static_cast<double>(generator() % 4) * 0.5;
            set.insert(&links[i]);
            model.insert(key(links[i]));
        }
        inside[i] = !inside[i];
        ASSERT_EQ(set.size(), model.size());
        if (!model.empty()) {
            ASSERT_EQ(key(*set.smallest()), *model.begin());
        }
        if (step % 100 == 0) {
            ASSERT_TRUE(set.verify());
            std::vector<Key> walked;
            for (Link* l = set.smallest(); l; l = set.next(l)) {
                walked.push_back(key(*l));
            }
            ASSERT_EQ(walked, std::vector<Key>(model.begin(), model.end()));
        }
    }
}

TEST_F(LinkSetTest, CompareOrdersByDistanceBeforeLabels) {
    Link::compare_distance_function before;
    const Link near = make(7, 6, 0.1);
    const Link far = make(0, 1, 0.2);
    EXPECT_TRUE(before(near, far));
    EXPECT_FALSE(before(far, near));
    const Link same_first = make(7, 5, 0.1);
    EXPECT_TRUE(before(same_first, near));
    EXPECT_FALSE(before(near, near));
}

}  // namespace
}  // namespace testing
}  // namespace vorada
