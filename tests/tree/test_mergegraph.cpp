#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "signals/partition.h"
#include "signals/region.h"
#include "tree/mergegraph.h"

namespace vorada {
namespace testing {
namespace {

using gma::MergeGraph;
using Label = MergeGraph::Label;

// Random merges over a random graph, checked against sets edited as a merge edits neighbour
// lists: every join must give the union of the children's neighbours minus the children, while
// the pool is compacted every few merges. After each compaction the pool holds exactly the
// live lists.
TEST(MergeGraph, JoinGivesTheUnionOfTheChildrensNeighbours) {
    std::mt19937 random(20261208);
    const Label leaves = 3000;
    std::vector<std::set<Label>> model(2 * leaves - 1);
    std::vector<std::pair<Label, Label>> pairs;
    for (Label a = 0; a < leaves; ++a) {
        for (int k = 0; k < 3; ++k) {
            const Label b = static_cast<Label>(random() % leaves);
            if (a != b && model[a].insert(b).second) {
                model[b].insert(a);
                pairs.emplace_back(a, b);
            }
        }
    }
    MergeGraph graph(64);
    graph.reset(model.size());
    graph.add_pairs([&](auto visit) {
        for (const auto& pair : pairs) {
            visit(pair.first, pair.second);
        }
    });
    std::vector<Label> top;
    for (Label a = 0; a < leaves; ++a) {
        top.push_back(a);
        EXPECT_EQ(graph.neighbours(a), std::vector<Label>(model[a].begin(), model[a].end()));
    }
    int compactions = 0;
    for (Label merged = leaves; merged < model.size(); ++merged) {
        // Merge a top-level region with a neighbour, or with any other when it has none.
        const std::size_t i = random() % top.size();
        const Label a = top[i];
        Label b = top[(i + 1) % top.size()];
        if (!model[a].empty()) {
            b = *std::next(model[a].begin(), static_cast<long>(random() % model[a].size()));
        }
        for (const Label child : {a, b}) {
            for (const Label n : model[child]) {
                model[n].erase(child);
                if (n != a && n != b) {
                    model[n].insert(merged);
                    model[merged].insert(n);
                }
            }
            model[child].clear();
        }
        const std::size_t dropped = graph.dropped_entries();
        const std::vector<Label>& joined = graph.join(a, b, merged);
        ASSERT_EQ(joined, std::vector<Label>(model[merged].begin(), model[merged].end()));
        if (dropped > 0 && graph.dropped_entries() == 0) {
            ++compactions;
            std::size_t live = 0;
            for (Label label = 0; label <= merged; ++label) {
                std::size_t first = 0, length = 0;
                if (graph.list_place(label, first, length)) {
                    ASSERT_GT(length, 0u) << label;
                    ASSERT_LE(first + length, graph.pool_entries()) << label;
                    live += length;
                }
            }
            ASSERT_EQ(graph.pool_entries(), live);
        }
        EXPECT_EQ(graph.top(a), merged);
        top.erase(std::find(top.begin(), top.end(), a));
        top.erase(std::find(top.begin(), top.end(), b));
        top.push_back(merged);
    }
    EXPECT_EQ(top.size(), 1u);
    EXPECT_GT(compactions, 10);
    EXPECT_THROW(graph.join(top[0], top[0], 0), VoradaError);
    EXPECT_THROW(graph.top(static_cast<Label>(model.size())), VoradaError);
}

// Random merges of a partition built from a random label volume, its leaf pairs in the graph:
// after every merge the neighbours of each top-level region are exactly the top-level regions
// touching it within a frame, as the refreshed label volume shows them.
TEST(MergeGraph, LeafPairsFollowTheLabelVolumeThroughMerges) {
    using Region = gma::Trajectory<gma::Video>;
    const long long X = 7, Y = 6, T = 3;
    std::mt19937 random(77);
    gma::LabelVolume labels(X, Y, T);
    for (auto& value : labels.values) {
        value = random() % 40;
    }
    gma::HierarchicalRegionPartition<Region, gma::IN_FRAME_4> partition;
    partition.init(labels);
    partition.update_labels = true;
    const std::size_t leaves = partition.regions.size();
    const std::vector<gma::LeafPair> pairs = partition.leaf_pairs.pairs();
    MergeGraph graph;
    graph.reset(2 * leaves - 1);
    graph.add_pairs([&](auto visit) {
        for (const auto& pair : pairs) {
            visit(pair.first, pair.second);
        }
    });

    auto check = [&]() {
        partition.refresh_current_labels();
        const auto& current = partition.current_labels.values;
        std::map<Label, std::set<Label>> touching;
        for (long long t = 0; t < T; ++t) {
            for (long long y = 0; y < Y; ++y) {
                for (long long x = 0; x < X; ++x) {
                    const std::size_t v = static_cast<std::size_t>(x + X * (y + Y * t));
                    const std::size_t right = x + 1 < X ? v + 1 : v;
                    const std::size_t below = y + 1 < Y ? v + static_cast<std::size_t>(X) : v;
                    for (std::size_t w : {right, below}) {
                        if (current[w] != current[v]) {
                            touching[static_cast<Label>(current[v])].insert(
                                static_cast<Label>(current[w]));
                            touching[static_cast<Label>(current[w])].insert(
                                static_cast<Label>(current[v]));
                        }
                    }
                }
            }
        }
        for (const Region& region : partition.regions) {
            if (!region.parent) {
                const std::set<Label>& expected = touching[region.label];
                ASSERT_EQ(graph.neighbours(region.label),
                          std::vector<Label>(expected.begin(), expected.end()))
                    << region.label;
            }
        }
    };

    check();
    std::vector<Label> candidates;
    for (;;) {
        candidates.clear();
        for (const Region& region : partition.regions) {
            if (!region.parent && !graph.neighbours(region.label).empty()) {
                candidates.push_back(region.label);
            }
        }
        if (candidates.empty()) {
            break;
        }
        const Label a = candidates[random() % candidates.size()];
        const std::vector<Label> around = graph.neighbours(a);
        const Label b = around[random() % around.size()];
        partition.merge_units(partition.regions[a], partition.regions[b], partition.regions.size());
        graph.join(a, b, static_cast<Label>(partition.regions.size() - 1));
        ASSERT_NO_FATAL_FAILURE(check());
    }
    // Every voxel of a frame is connected, and labels span frames: everything ends in one region.
    EXPECT_EQ(partition.regions.size(), 2 * leaves - 1);
}

}  // namespace
}  // namespace testing
}  // namespace vorada
