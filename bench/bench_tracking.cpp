// Times the trajectory tracker on synthetic videos of 1x, 2x and 4x the voxels, and on the
// alley_1_half data set when it is present (../shared/data/alley_1_half beside the project, or
// the directory in VORADA_ALLEY_DIR).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cstdlib>
#include <exception>
#include <string>

#include "distance/colorspaceconverter.h"
#include "driver/pipeline.h"
#include "tools/synthetic/synthetic.h"
#include "tracking/trajectorytracking.h"

namespace {

using vorada::gma::Flow;
using vorada::gma::LabelVolume;
using vorada::gma::Video;
using Tracker = vorada::gma::TrajectoryTracking<Video, Flow, LabelVolume>;

void run_tracker(benchmark::State& state, Video& video, Flow& forward, Flow& backward) {
    unsigned long long trajectories = 0;
    for (auto _ : state) {
        Tracker tracker(video.size);
        LabelVolume labels = tracker.calculate(video, forward, backward);
        benchmark::DoNotOptimize(labels.values.data());
        // Labels are dense 1..N, so the largest is the number of trajectories.
        trajectories = *std::max_element(labels.values.begin(), labels.values.end());
    }
    state.counters["trajectories"] = static_cast<double>(trajectories);
    const double voxels = static_cast<double>(video.point_count());
    state.counters["voxels"] = voxels;
    state.counters["voxel_rate"] = benchmark::Counter(
        voxels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Arguments: width, height, frames.
void BM_TrackSynthetic(benchmark::State& state) {
    auto synthetic = vorada::synthetic::make_synthetic(
        vorada::synthetic::random_options(state.range(0), state.range(1), state.range(2), 3, 11));
    vorada::gma::ColorSpaceConverter<Video>().convert(synthetic.video, CIELab);
    run_tracker(state, synthetic.video, synthetic.forward_flow, synthetic.backward_flow);
}
BENCHMARK(BM_TrackSynthetic)
    ->Args({160, 120, 8})
    ->Args({160, 120, 16})
    ->Args({320, 240, 8})
    ->Args({160, 120, 32})
    ->Unit(benchmark::kMillisecond);

void BM_TrackAlley(benchmark::State& state) {
    const char* configured = std::getenv("VORADA_ALLEY_DIR");
    const std::string directory =
        configured ? configured : VORADA_SOURCE_DIR "/../shared/data/alley_1_half";
    if (!boost::filesystem::is_directory(directory)) {
        state.SkipWithError(("no data set at " + directory).c_str());
        return;
    }
    Video video(10ULL);
    Flow forward, backward;
    try {
        vorada::gma::load_frames(video, directory, 0, 10);
        vorada::gma::load_flows(forward, backward, video, directory, 0);
    } catch (const std::exception& error) {
        state.SkipWithError(("cannot load the data set: " + std::string(error.what())).c_str());
        return;
    }
    vorada::gma::ColorSpaceConverter<Video>().convert(video, CIELab);
    run_tracker(state, video, forward, backward);
}
BENCHMARK(BM_TrackAlley)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
