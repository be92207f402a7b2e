#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "tree/binarypartitiontree.h"

namespace vorada {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

using Region = gma::Trajectory<gma::Video>;
using Tree = gma::BinaryPartitionTree<gma::Video, Region, gma::IN_FRAME_4>;
using LabelPair = std::pair<unsigned long long, unsigned long long>;

const std::vector<unsigned long long> driver_levels = {900, 800, 700, 600, 500, 400, 300, 200,
                                                       100, 40,  30,  20,  10,  5,   3,   2};

// What the stub distance model was asked, and how it answers.
struct StubLog {
    std::vector<LabelPair> calls;  ///< (a, b) labels of every region_distance call, in order
    std::function<double(const Region&, const Region&)> distance;
    std::function<double(const Region&, const Region&)> bound;  ///< for BoundedStubModel
    std::size_t bounds = 0;
    int constructed = 0;
    int taken_over = 0;  ///< models built from parameters handed over
    int destroyed = 0;
};

// A distance model whose answers the test chooses; it records the order of its arguments.
struct StubModel {
    struct Parameters {
        StubLog* log = nullptr;
    };
    explicit StubModel(const Parameters& parameters) : log(parameters.log) { ++log->constructed; }
    explicit StubModel(Parameters&& parameters) : StubModel(parameters) { ++log->taken_over; }
    ~StubModel() { ++log->destroyed; }
    StubModel(const StubModel&) = delete;
    StubModel& operator=(const StubModel&) = delete;

    template <typename Partition>
    double region_distance(Region& a, Region& b, gma::Video&, Partition&, gma::DescriptorManager&) {
        log->calls.emplace_back(a.label, b.label);
        return log->distance ? log->distance(a, b) : 1.0;
    }
    void prepare_descriptors(Region&, gma::Video&, gma::DescriptorManager&) {}

    StubLog* log;
};

// A stub that also offers a lower bound, so the tree puts off measuring links.
struct BoundedStubModel : StubModel {
    using StubModel::StubModel;

    template <typename Partition>
    void region_distance_bounds(Region& a,
                                Region* const* others,
                                std::size_t count,
                                double* bounds,
                                gma::Video&,
                                Partition&,
                                gma::DescriptorManager&) {
        for (std::size_t i = 0; i < count; ++i) {
            ++log->bounds;
            bounds[i] = log->bound(a, *others[i]);
        }
    }
};

gma::LabelVolume make_labels(long long x,
                             long long y,
                             long long t,
                             const std::vector<unsigned long long>& values) {
    gma::LabelVolume labels(x, y, t);
    labels.values = values;
    return labels;
}

// Every voxel its own tracker label: X·Y·T leaves numbered in raster order.
gma::LabelVolume distinct_labels(long long x, long long y, long long t) {
    gma::LabelVolume labels(x, y, t);
    for (std::size_t v = 0; v < labels.values.size(); ++v) {
        labels.values[v] = v + 1;
    }
    return labels;
}

// A tree set up over `labels` the way the driver does it, keeping what it reports.
struct TreeFixture {
    gma::Video video;
    std::unique_ptr<Tree> tree;
    StubLog log;
    std::vector<Tree::Merge> merges;                                       ///< every merge reported
    std::map<unsigned long long, std::vector<unsigned long long>> levels;  ///< labels per level
    std::vector<unsigned long long> level_order;
    std::vector<LabelPair> progress;  ///< (done, total) of every progress report

    TreeFixture(gma::LabelVolume labels, Tree::Parameters parameters) {
        video = gma::Video(labels.size(0), labels.size(1), labels.size(2));
        video.initialized = true;
        for (double& value : video.values) {
            value = 100.0;
        }
        tree = std::make_unique<Tree>(parameters);
        tree->init(labels);
        tree->reports.merged = [this](const Tree::Merge& merge) { merges.push_back(merge); };
        tree->reports.progressed = [this](unsigned long long done, unsigned long long total) {
            ASSERT_EQ(done, merges.size());  // after the merge's own report
            progress.emplace_back(done, total);
        };
        tree->reports.level_reached = [this](unsigned long long level) {
            level_order.push_back(level);
            levels[level] = tree->partition.current_labels.values;
        };
    }

    // Runs create and returns what it printed on the standard error stream.
    template <typename Model = StubModel>
    std::string create() {
        StubModel::Parameters parameters;
        parameters.log = &log;
        ::testing::internal::CaptureStderr();
        try {
            tree->create<Model>(video, parameters);
        } catch (...) {
            ::testing::internal::GetCapturedStderr();
            throw;
        }
        return ::testing::internal::GetCapturedStderr();
    }
};

Tree::Parameters parameters_with(unsigned long long min_regions,
                                 std::vector<unsigned long long> levels) {
    Tree::Parameters parameters;
    parameters.update_labels = true;
    parameters.min_regions = min_regions;
    parameters.output_levels = std::move(levels);
    return parameters;
}

TEST(BinaryPartitionTreeLevels, ParametersHandedOverAreTakenOverByTheModel) {
    TreeFixture run(distinct_labels(4, 1, 1), parameters_with(1, {}));
    StubModel::Parameters parameters;
    parameters.log = &run.log;
    run.tree->create<StubModel>(run.video, std::move(parameters));
    EXPECT_EQ(run.log.constructed, 1);
    EXPECT_EQ(run.log.taken_over, 1);  // moved into the model, never copied
    EXPECT_EQ(run.log.destroyed, 1);
    EXPECT_EQ(run.tree->level, 1u);
    EXPECT_EQ(run.merges.size(), 2u);
}

std::size_t top_level_count(const Tree& tree) {
    std::size_t count = 0;
    for (const Region& region : tree.partition.regions) {
        count += region.parent ? 0 : 1;
    }
    return count;
}

std::vector<LabelPair> merge_children(const Tree& tree, std::size_t leaves) {
    std::vector<LabelPair> merges;
    for (std::size_t i = leaves; i < tree.partition.regions.size(); ++i) {
        const Region& region = tree.partition.regions[i];
        merges.push_back({region.children[0]->label, region.children[1]->label});
    }
    return merges;
}

// Smaller regions merge first, as with the real model; ties are frequent.
double smaller_area(const Region& a, const Region& b) {
    return static_cast<double>(std::min(a.size(), b.size()));
}

TEST(BinaryPartitionTreeLevels, FiveHundredLeavesReportEveryDriverLevelOncePerMerge) {
    TreeFixture run(distinct_labels(500, 1, 1), parameters_with(1, driver_levels));
    ASSERT_EQ(run.tree->level, 499u);
    ASSERT_EQ(run.tree->last_index, 499u);
    ASSERT_EQ(run.tree->descriptor_manager.capacity, 999u);
    ASSERT_TRUE(run.tree->partition.update_labels);
    run.log.distance = smaller_area;
    EXPECT_EQ(run.create(), "");  // the tree prints nothing

    // The entries above the starting level are used up one per merge, then 400 waits for 400.
    EXPECT_THAT(run.level_order,
                ElementsAre(498, 497, 496, 495, 494, 400, 300, 200, 100, 40, 30, 20, 10, 5, 3, 2));

    const auto& regions = run.tree->partition.regions;
    for (const auto& reported : run.levels) {
        const unsigned long long level = reported.first;
        SCOPED_TRACE(level);
        const std::vector<unsigned long long>& labels = reported.second;
        ASSERT_EQ(labels.size(), 500u);
        const std::set<std::uint64_t> distinct(labels.begin(), labels.end());
        EXPECT_EQ(distinct.size(), level + 1);
        // After 499 − level merges the newest region is 499 + (499 − level); every voxel shows
        // the region that held it then: an ancestor of its leaf, not yet merged further.
        const unsigned long long newest = 499 + (499 - level);
        for (std::size_t v = 0; v < labels.size(); ++v) {
            const std::uint64_t label = labels[v];
            ASSERT_LE(label, newest) << "voxel " << v;
            const Region* node = &regions[v];
            while (node->label != label && node->parent) {
                node = static_cast<const Region*>(node->parent);
            }
            ASSERT_EQ(node->label, label) << "voxel " << v << " shows a region not holding it";
            ASSERT_TRUE(!node->parent || node->parent->label > newest) << "voxel " << v;
        }
    }

    // Every merge is reported in order with its children, distance and the regions left.
    ASSERT_EQ(run.merges.size(), 498u);
    std::vector<double> area(500, 1.0);
    for (std::size_t i = 0; i < run.merges.size(); ++i) {
        const Tree::Merge& merge = run.merges[i];
        const Region& parent = regions[500 + i];
        ASSERT_EQ(merge.label, 500 + i);
        ASSERT_EQ(merge.first, parent.children[0]->label);
        ASSERT_EQ(merge.second, parent.children[1]->label);
        ASSERT_EQ(merge.distance, std::min(area[merge.first], area[merge.second]));
        ASSERT_EQ(merge.regions, 499 - i);
        area.push_back(area[merge.first] + area[merge.second]);
    }

    // min_regions 1: the loop ends with two regions.
    EXPECT_EQ(run.tree->level, 1u);
    EXPECT_EQ(run.tree->last_index, 997u);
    EXPECT_EQ(regions.size(), 998u);
    EXPECT_EQ(top_level_count(*run.tree), 2u);
    EXPECT_EQ(run.log.constructed, 1);
    EXPECT_EQ(run.log.destroyed, 1);
}

TEST(BinaryPartitionTreeLevels, StartingAtTheFloorMergesNothing) {
    // Two frames of two voxels: four leaves, level 3, floor 3.
    TreeFixture run(distinct_labels(2, 1, 2), parameters_with(3, driver_levels));
    run.create();
    EXPECT_EQ(run.tree->partition.regions.size(), 4u);
    EXPECT_EQ(run.tree->level, 3u);
    EXPECT_TRUE(run.levels.empty());
    EXPECT_TRUE(run.merges.empty());
    EXPECT_TRUE(run.progress.empty());
    // The initial distances are still computed.
    EXPECT_THAT(run.log.calls, ElementsAre(LabelPair(1, 0), LabelPair(3, 2)));
}

TEST(BinaryPartitionTreeLevels, ProgressIsReportedAfterEveryMergeWithTheMergesToMake) {
    TreeFixture run(distinct_labels(11, 1, 1), parameters_with(0, {}));
    run.create();
    EXPECT_EQ(run.tree->level, 0u);
    EXPECT_EQ(top_level_count(*run.tree), 1u);
    ASSERT_EQ(run.progress.size(), 10u);
    for (std::size_t i = 0; i < run.progress.size(); ++i) {
        EXPECT_EQ(run.progress[i], LabelPair(i + 1, 10));
    }
}

TEST(BinaryPartitionTreeLevels, SeparateComponentsStopTheLoopWhenTheLinksRunOut) {
    // Three frames of two voxels and no temporal links: three pairs that can never meet.
    TreeFixture run(distinct_labels(2, 1, 3), parameters_with(1, {4, 3, 2}));
    run.create();
    EXPECT_EQ(run.tree->level, 2u);
    EXPECT_EQ(run.tree->partition.regions.size(), 9u);
    EXPECT_EQ(run.progress.back(), LabelPair(3, 4));  // three of the four merges planned
    EXPECT_THAT(run.level_order, ElementsAre(4, 3, 2));
}

TEST(BinaryPartitionTreeOrder, InitialDistancesFromTheHigherLabelAndTiesByFirstThenSecond) {
    // Leaves:   0 1 2      links (first, second): (0,1) (0,3) (1,2) (1,3) and (2,0), whose
    //           3 3 0      first is the higher label because the pair is first met at leaf 2.
    TreeFixture run(make_labels(3, 2, 1, {10, 11, 12, 13, 13, 10}), parameters_with(1, {}));
    ASSERT_EQ(run.tree->partition.leaf_pairs.pairs(),
              (std::vector<gma::LeafPair>{{0, 1}, {2, 0}, {1, 2}, {0, 3}, {1, 3}}));
    // {1,3} and {2,0} tie at the smallest distance: (1,3) goes first because its first region
    // has the lower label, although the other pair holds the lowest label of all.
    run.log.distance = [](const Region& a, const Region& b) {
        const std::set<unsigned long long> pair{a.label, b.label};
        if (pair == std::set<unsigned long long>{1, 3} ||
            pair == std::set<unsigned long long>{0, 2}) {
            return 1.0;
        }
        return 5.0;
    };
    run.create();
    EXPECT_THAT(merge_children(*run.tree, 4), ElementsAre(LabelPair(1, 3), LabelPair(2, 0)));
    // Each initial link once, from its higher-labelled end, in store then address order; then
    // the new region against each of its neighbours in label order.
    EXPECT_THAT(run.log.calls,
                ElementsAre(LabelPair(1, 0), LabelPair(2, 0), LabelPair(2, 1), LabelPair(3, 0),
                            LabelPair(3, 1), LabelPair(4, 0), LabelPair(4, 2), LabelPair(5, 4)));
}

TEST(BinaryPartitionTreeOrder, EqualDistancesWithTheSameFirstGoByTheSecondLabel) {
    // Leaves 0 1 / 2 3: all distances equal; (0,1) precedes (0,2), then (2,3) precedes the
    // links of the new region 4 because 2 < 4.
    TreeFixture run(distinct_labels(2, 2, 1), parameters_with(1, {}));
    run.create();
    EXPECT_THAT(merge_children(*run.tree, 4), ElementsAre(LabelPair(0, 1), LabelPair(2, 3)));
}

// ---------------------------------------------------------------------------------------------
// A plain model of the merge loop: every live link in one ordered set, no deferral. Distances
// depend only on labels and areas, so they can be computed without the tree.

struct PlainLink {
    double distance;
    unsigned long long first, second;
    bool operator<(const PlainLink& other) const {
        return std::tie(distance, first, second) <
               std::tie(other.distance, other.first, other.second);
    }
    bool operator==(const PlainLink& other) const {
        return distance == other.distance && first == other.first && second == other.second;
    }
};

double jittered_area(unsigned long long a,
                     unsigned long long b,
                     std::uint64_t area_a,
                     std::uint64_t area_b) {
    return static_cast<double>(std::min(area_a, area_b)) +
           0.5 * static_cast<double>((a + 3 * b) % 3);
}

struct PlainRun {
    std::vector<LabelPair> merges;
    std::vector<LabelPair> calls;
};

PlainRun plain_merge_loop(const Tree& tree, unsigned long long min_regions) {
    PlainRun run;
    const auto& regions = tree.partition.regions;
    std::vector<std::uint64_t> area;
    std::vector<std::map<unsigned long long, PlainLink>> neighbors(2 * regions.size());
    std::set<PlainLink> links;
    for (const Region& region : regions) {
        area.push_back(region.size());
    }
    for (const gma::LeafPair& pair : tree.partition.leaf_pairs.pairs()) {
        const unsigned long long high = std::max(pair.first, pair.second);
        const unsigned long long low = std::min(pair.first, pair.second);
        run.calls.push_back({high, low});
        PlainLink link{jittered_area(high, low, area[high], area[low]), pair.first, pair.second};
        neighbors[high][low] = link;
        neighbors[low][high] = link;
        links.insert(link);
    }
    unsigned long long level = regions.size() - 1;
    unsigned long long next = regions.size();
    while (level > min_regions && !links.empty()) {
        const PlainLink smallest = *links.begin();
        const unsigned long long a = smallest.first, b = smallest.second;
        run.merges.push_back({a, b});
        std::set<unsigned long long> joined;
        for (unsigned long long child : {a, b}) {
            for (const auto& entry : neighbors[child]) {
                links.erase(entry.second);
                neighbors[entry.first].erase(child);
                if (entry.first != a && entry.first != b) {
                    joined.insert(entry.first);
                }
            }
            neighbors[child].clear();
        }
        const unsigned long long parent = next++;
        area.push_back(area[a] + area[b]);
        for (unsigned long long other : joined) {
            run.calls.push_back({parent, other});
            PlainLink link{jittered_area(parent, other, area[parent], area[other]), parent, other};
            neighbors[parent][other] = link;
            neighbors[other][parent] = link;
            links.insert(link);
        }
        --level;
    }
    return run;
}

TEST(BinaryPartitionTreeOrder, ManyLinksMergeInExactlyTheOrderOfOneOrderedSet) {
    // 260 × 260 leaves give about 135 000 links, more than the set takes in at once, so links
    // wait outside it and are brought in as it runs dry.
    const long long side = 260;
    TreeFixture run(distinct_labels(side, side, 1), parameters_with(1, {}));
    const std::size_t leaves = run.tree->partition.regions.size();
    const PlainRun expected = plain_merge_loop(*run.tree, 1);
    ASSERT_GT(expected.calls.size(), 2u * 65536u);
    run.log.distance = [](const Region& a, const Region& b) {
        return jittered_area(a.label, b.label, a.size(), b.size());
    };
    run.create();

    const std::vector<LabelPair> merges = merge_children(*run.tree, leaves);
    ASSERT_EQ(merges.size(), expected.merges.size());
    for (std::size_t i = 0; i < merges.size(); ++i) {
        ASSERT_EQ(merges[i], expected.merges[i]) << "merge " << i;
    }
    EXPECT_TRUE(run.log.calls == expected.calls);
    EXPECT_EQ(run.log.calls.size(), expected.calls.size());
}

TEST(BinaryPartitionTreeOrder, BoundsPutOffMeasuringWithoutChangingTheOrder) {
    // Bounds are half the distance or the distance itself (ties between a bound and a distance
    // must still go by the labels), and the links merge exactly as with measured distances.
    const long long side = 260;
    TreeFixture run(distinct_labels(side, side, 1), parameters_with(1, {}));
    const std::size_t leaves = run.tree->partition.regions.size();
    const PlainRun expected = plain_merge_loop(*run.tree, 1);
    run.log.distance = [](const Region& a, const Region& b) {
        return jittered_area(a.label, b.label, a.size(), b.size());
    };
    run.log.bound = [](const Region& a, const Region& b) {
        const double distance = jittered_area(a.label, b.label, a.size(), b.size());
        return (a.label + b.label) % 3 == 0 ? distance : 0.5 * distance;
    };
    run.create<BoundedStubModel>();

    const std::vector<LabelPair> merges = merge_children(*run.tree, leaves);
    ASSERT_EQ(merges.size(), expected.merges.size());
    for (std::size_t i = 0; i < merges.size(); ++i) {
        ASSERT_EQ(merges[i], expected.merges[i]) << "merge " << i;
    }
    // Every link got its bound from the same end as it would have got its distance; only some
    // were measured, each from that end.
    EXPECT_EQ(run.log.bounds, expected.calls.size());
    EXPECT_LT(run.log.calls.size(), expected.calls.size());
    const std::set<LabelPair> askers(expected.calls.begin(), expected.calls.end());
    for (const LabelPair& call : run.log.calls) {
        ASSERT_EQ(askers.count(call), 1u) << call.first << " " << call.second;
    }
}

}  // namespace
}  // namespace testing
}  // namespace vorada
