// Cost of building the region partition and of merging it down: a raster-order absorption in
// which one growing region takes one small neighbour at a time, and a round-based pairing that
// merges neighbours level by level as a balanced tree would. Both should grow linearly with the
// number of voxels.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "signals/partition.h"
#include "signals/temporalneighbors.h"
#include "tree/mergegraph.h"

namespace {

using Region = vorada::gma::Trajectory<vorada::gma::Video>;
using Partition = vorada::gma::HierarchicalRegionPartition<Region, vorada::gma::IN_FRAME_4>;
using vorada::gma::MergeGraph;

// The merge graph over the partition's leaf pairs, with room for every merge.
void build_graph(Partition& partition, MergeGraph& graph) {
    const std::vector<vorada::gma::LeafPair> pairs = partition.leaf_pairs.pairs();
    partition.leaf_pairs.clear();
    graph.reset(partition.regions.capacity());
    graph.add_pairs([&pairs](auto visit) {
        for (const auto& pair : pairs) {
            visit(pair.first, pair.second);
        }
    });
}

// Leaves of 1–4 voxels along rows (about 1.3 voxels per leaf, as tracking yields on real input).
vorada::gma::LabelVolume small_leaves(long long x_size, long long y_size, long long t_size) {
    vorada::gma::LabelVolume labels(x_size, y_size, t_size);
    std::mt19937 generator(12345);
    unsigned long long next = 1;
    for (std::size_t v = 0; v < labels.values.size(); ++v) {
        const bool continue_leaf =
            v % static_cast<std::size_t>(x_size) != 0 && generator() % 4 == 0;
        labels.values[v] = continue_leaf ? labels.values[v - 1] : next++;
    }
    return labels;
}

// Init plus straight temporal links and the merge graph on width 512, height 218 and the given
// number of frames.
void BM_InitWithTemporalLinks(benchmark::State& state) {
    const long long frames = state.range(0);
    vorada::gma::LabelVolume labels = small_leaves(512, 218, frames);
    vorada::gma::Video video(512, 218, frames);
    vorada::gma::Flow forward(512, 218, frames), backward(512, 218, frames);
    for (auto _ : state) {
        auto partition = std::make_unique<Partition>();
        partition->init(labels);
        vorada::gma::add_temporal_neighbors(video, *partition, forward, backward,
                                            partition->leaf_labels, 0);
        MergeGraph graph;
        build_graph(*partition, graph);
        state.PauseTiming();
        state.counters["leaves"] = static_cast<double>(partition->regions.size());
        partition.reset();
        state.ResumeTiming();
    }
    state.counters["voxels"] = static_cast<double>(labels.values.size());
}
BENCHMARK(BM_InitWithTemporalLinks)
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// One region absorbs its lowest neighbour, again and again, in one frame of width 256: its
// neighbour list is the raster front (about one row), so each merge joins about 256 entries.
void BM_AbsorbOneAtATime(benchmark::State& state) {
    const long long height = state.range(0);
    vorada::gma::LabelVolume labels = small_leaves(256, height, 1);
    std::size_t merges = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto owner = std::make_unique<Partition>();
        Partition& partition = *owner;
        partition.init(labels);
        partition.update_labels = true;
        MergeGraph graph;
        build_graph(partition, graph);
        state.ResumeTiming();
        Region* top = &partition.regions[0];
        const std::size_t leaves = partition.regions.size();
        std::vector<MergeGraph::Label> neighbours = graph.neighbours(0);
        while (partition.regions.size() + 4 < 2 * leaves && !neighbours.empty()) {
            Region& next = partition.regions[neighbours.front()];
            const auto first = top->label;
            top = partition.merge_units(*top, next, partition.regions.size());
            neighbours = graph.join(first, next.label, top->label);
        }
        partition.refresh_current_labels();
        merges = partition.regions.size() - leaves;
        state.PauseTiming();  // the partition's destruction is not part of the measurement
        owner.reset();
        state.ResumeTiming();
    }
    state.counters["voxels"] = static_cast<double>(labels.values.size());
    state.counters["merges"] = static_cast<double>(merges);
}
BENCHMARK(BM_AbsorbOneAtATime)
    ->Arg(2048)
    ->Arg(4096)
    ->Arg(8192)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Rounds of pairing: every top-level region not yet merged in this round merges with its lowest
// neighbour not yet merged in this round, until at most 100 regions are left.
void BM_PairwiseRounds(benchmark::State& state) {
    const long long frames = state.range(0);
    vorada::gma::LabelVolume labels = small_leaves(512, 218, frames);
    vorada::gma::Video video(512, 218, frames);
    vorada::gma::Flow forward(512, 218, frames), backward(512, 218, frames);
    std::size_t merges = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto owner = std::make_unique<Partition>();
        Partition& partition = *owner;
        partition.init(labels);
        vorada::gma::add_temporal_neighbors(video, partition, forward, backward,
                                            partition.leaf_labels, 2);
        partition.update_labels = true;
        MergeGraph graph;
        build_graph(partition, graph);
        const std::size_t leaves = partition.regions.size();
        std::vector<unsigned char> busy;
        state.ResumeTiming();
        std::size_t top_level = leaves;
        bool merged_any = true;
        while (top_level > 100 && merged_any) {
            merged_any = false;
            const std::size_t end = partition.regions.size();
            busy.assign(2 * leaves, 0);
            for (std::size_t i = 0; i < end && top_level > 100; ++i) {
                Region& a = partition.regions[i];
                if (a.parent || busy[i]) {
                    continue;
                }
                for (const MergeGraph::Label label : graph.neighbours(a.label)) {
                    Region* b = &partition.regions[label];
                    if (!busy[b->label]) {
                        busy[i] = busy[b->label] = 1;
                        Region* p = partition.merge_units(a, *b, partition.regions.size());
                        graph.join(a.label, b->label, p->label);
                        busy[p->label] = 1;
                        --top_level;
                        merged_any = true;
                        break;
                    }
                }
            }
        }
        partition.refresh_current_labels();
        merges = partition.regions.size() - leaves;
        state.PauseTiming();
        owner.reset();
        state.ResumeTiming();
    }
    state.counters["voxels"] = static_cast<double>(labels.values.size());
    state.counters["merges"] = static_cast<double>(merges);
}
BENCHMARK(BM_PairwiseRounds)
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
