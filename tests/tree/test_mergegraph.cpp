#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "common/errors.h"
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

}  // namespace
}  // namespace testing
}  // namespace vorada
