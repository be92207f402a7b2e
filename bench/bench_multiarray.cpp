// Throughput of multi-array files: a 1920 x 1080 partition of about 300 regions through the
// label coder, and a 64 MB byte array through the run-length coder and raw storage.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "image/multiarray.h"
#include "io/readmultiarray.h"
#include "io/writemultiarray.h"

namespace {

using vorada::MultiArray;
using vorada::io::CompressType;
using vorada::io::ReadMultiArray;
using vorada::io::WriteMultiArray;

std::string bench_file(const char* name) {
    const auto file = boost::filesystem::temp_directory_path() /
                      ("bench_multiarray_" + std::to_string(getpid()) + "_" + name);
    return file.string();
}

// 20 x 15 blocks with wavy borders, labelled 1 ... 300 in raster order of the blocks.
const MultiArray<unsigned int, 2>& partition() {
    static const MultiArray<unsigned int, 2> labels = [] {
        const std::size_t w = 1920, h = 1080;
        MultiArray<unsigned int, 2> a({w, h});
        for (std::size_t y = 0; y < h; ++y) {
            for (std::size_t x = 0; x < w; ++x) {
                const double bx = (x + 12.0 * std::sin(y / 17.0) + 12.0) / 97.0;
                const double by = (y + 9.0 * std::sin(x / 23.0) + 9.0) / 73.0;
                a.data()[x + y * w] =
                    1 + static_cast<unsigned>(bx) + 20 * static_cast<unsigned>(by);
            }
        }
        return a;
    }();
    return labels;
}

// 64 MB of short runs (1 to 8 bytes) over a 40-value alphabet: compressible, but not trivially.
const MultiArray<unsigned char, 1>& bytes() {
    static const MultiArray<unsigned char, 1> data = [] {
        const std::size_t n = 64u << 20;
        MultiArray<unsigned char, 1> a({n});
        std::mt19937 rng(11);
        std::size_t i = 0;
        while (i < n) {
            const unsigned char v = static_cast<unsigned char>(rng() % 40);
            for (std::size_t k = 1 + rng() % 8; k > 0 && i < n; --k) {
                a.data()[i++] = v;
            }
        }
        return a;
    }();
    return data;
}

template <typename T, std::size_t D>
void write_array(benchmark::State& state, const MultiArray<T, D>& a, CompressType compress) {
    const std::string file = bench_file("write.mult");
    for (auto _ : state) {
        WriteMultiArray(file, compress) << a;
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * a.num_elements() * sizeof(T)));
    std::remove(file.c_str());
}

template <typename T, std::size_t D>
void read_array(benchmark::State& state, const MultiArray<T, D>& a, CompressType compress) {
    const std::string file = bench_file("read.mult");
    WriteMultiArray(file, compress) << a;
    MultiArray<T, D> back;
    for (auto _ : state) {
        ReadMultiArray(file) >> back;
        benchmark::DoNotOptimize(back.data());
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * a.num_elements() * sizeof(T)));
    std::remove(file.c_str());
}

void BM_WriteLabelCode(benchmark::State& s) {
    write_array(s, partition(), vorada::io::LabelCode);
}
void BM_ReadLabelCode(benchmark::State& s) {
    read_array(s, partition(), vorada::io::LabelCode);
}
void BM_WriteRunLength(benchmark::State& s) {
    write_array(s, bytes(), vorada::io::RunLength);
}
void BM_ReadRunLength(benchmark::State& s) {
    read_array(s, bytes(), vorada::io::RunLength);
}
void BM_WriteRaw(benchmark::State& s) {
    write_array(s, bytes(), vorada::io::Raw);
}
void BM_ReadRaw(benchmark::State& s) {
    read_array(s, bytes(), vorada::io::Raw);
}

}  // namespace

BENCHMARK(BM_WriteLabelCode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLabelCode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteRunLength)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRunLength)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRaw)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
