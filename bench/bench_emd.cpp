// Time of one Earth Mover's Distance for small signatures, and of fusing two 8-colour
// signatures into one, as the tree does for every merge.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "descriptors/colorsignature.h"
#include "math/emd.h"
#include "math/signature.h"
#include "signals/videosignal.h"

namespace {

using Colour = Eigen::Vector3d;
using Solver =
    vorada::math::optimization::EMD<vorada::math::optimization::PerceptualDistance<Colour>>;

vorada::math::Signature<Colour> random_signature(std::mt19937& random, std::size_t n) {
    std::uniform_real_distribution<double> channel(-50.0, 80.0);
    std::uniform_real_distribution<double> mass(0.05, 1.0);
    vorada::math::Signature<Colour> s;
    s.weights.resize(static_cast<Eigen::Index>(n));
    double total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        s.features.emplace_back(channel(random), channel(random), channel(random));
        s.weights(static_cast<Eigen::Index>(i)) = mass(random);
        total += s.weights(static_cast<Eigen::Index>(i));
    }
    s.weights /= total;
    return s;
}

void emd_of_size(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    std::mt19937 random(1);
    std::vector<vorada::math::Signature<Colour>> pool;
    for (int k = 0; k < 64; ++k) {
        pool.push_back(random_signature(random, n));
    }
    auto solver = std::make_unique<Solver>(
        vorada::math::optimization::PerceptualDistance<Colour>(Colour(0.01, 0.01, 0.01)));
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(solver->_emd(pool[k % 64], pool[(k + 1) % 64], nullptr));
        ++k;
    }
}
BENCHMARK(emd_of_size)->Arg(1)->Arg(4)->Arg(8);

void fuse_two_eight_colour_signatures(benchmark::State& state) {
    std::mt19937 random(2);
    const auto a = random_signature(random, 8);
    const auto b = random_signature(random, 8);
    vorada::gma::ColorMeanDescriptorParameters parameters;
    parameters.num_colors = 8;
    parameters.channel_weights = Colour(0.01, 0.01, 0.01);
    for (auto _ : state) {
        std::vector<Colour> colours;
        std::vector<double> weights;
        for (std::size_t i = 0; i < 8; ++i) {
            colours.push_back(a.features[i]);
            weights.push_back(0.6 * a.weights(static_cast<Eigen::Index>(i)));
            colours.push_back(b.features[i]);
            weights.push_back(0.4 * b.weights(static_cast<Eigen::Index>(i)));
        }
        vorada::gma::ColorSignature<vorada::gma::Video>::fuse(colours, weights, parameters);
        benchmark::DoNotOptimize(colours.data());
    }
}
BENCHMARK(fuse_two_eight_colour_signatures);

}  // namespace

BENCHMARK_MAIN();
