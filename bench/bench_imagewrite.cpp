// Encoding frame images: sixteen 512 x 218 frames that look like a fine segmentation (flat
// patches of about 900 random colours), written in this process by one or two threads, and
// through the write queue with its writer processes. ImageMagick encodes one PNG at a time
// per process, so only the queue's processes write in parallel.

// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "image/imagergb.h"
#include "io/imagewritequeue.h"
#include "io/writeimage.h"

namespace {

using vorada::ImageRGB;

constexpr int frames_per_iteration = 16;

std::string bench_file(int k) {
    const auto file =
        boost::filesystem::temp_directory_path() /
        ("bench_imagewrite_" + std::to_string(getpid()) + "_" + std::to_string(k) + ".png");
    return file.string();
}

// Patches of 17 x 7 pixels, each a random colour.
const ImageRGB<unsigned char>& segmentation_like() {
    static const ImageRGB<unsigned char> image = [] {
        const unsigned long long w = 512, h = 218;
        ImageRGB<unsigned char> out(w, h);
        std::mt19937 rng(5);
        std::vector<unsigned char> colours(3 * 1024);
        for (auto& c : colours) {
            c = static_cast<unsigned char>(rng());
        }
        for (unsigned long long y = 0; y < h; ++y) {
            for (unsigned long long x = 0; x < w; ++x) {
                const std::size_t patch = (x / 17 + 31 * (y / 7)) % 1024;
                for (std::size_t c = 0; c < 3; ++c) {
                    out.channels[c].data()[x + y * w] = colours[3 * patch + c];
                }
            }
        }
        return out;
    }();
    return image;
}

void BM_InProcessThreads(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([t, threads] {
                for (int k = t; k < frames_per_iteration; k += threads) {
                    vorada::io::WriteImage(bench_file(k)).write(segmentation_like());
                }
            });
        }
        for (auto& thread : pool) {
            thread.join();
        }
    }
    state.SetItemsProcessed(state.iterations() * frames_per_iteration);
}

void BM_WriteQueue(benchmark::State& state) {
    vorada::io::ImageWriteQueue queue(static_cast<unsigned>(state.range(0)));
    for (auto _ : state) {
        for (int k = 0; k < frames_per_iteration; ++k) {
            queue.write(bench_file(k), segmentation_like());
        }
        queue.finish();
    }
    state.SetItemsProcessed(state.iterations() * frames_per_iteration);
}

BENCHMARK(BM_InProcessThreads)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteQueue)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    Magick::InitializeMagick(nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    for (int k = 0; k < frames_per_iteration; ++k) {
        boost::filesystem::remove(bench_file(k));
    }
    return 0;
}
