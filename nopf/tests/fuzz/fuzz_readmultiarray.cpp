// libFuzzer target: every input is written to a file and read as each supported element type
// and dimension count. A read must either fail with one of the library's errors, leaving the
// array empty, or give an array of the stored extents that survives a write/read round trip.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "common/errors.h"
#include "image/multiarray.h"
#include "io/readmultiarray.h"
#include "io/writemultiarray.h"

namespace {

// Scratch files live in memory: the target writes and reads a dozen files per input.
std::string scratch(const char* name) {
    return "/dev/shm/fuzz_readmultiarray_" + std::to_string(getpid()) + "_" + name;
}

template <typename T, std::size_t D>
void read_as(const std::string& input, const std::string& copy) {
    vorada::MultiArray<T, D> a;
    try {
        vorada::io::ReadMultiArray(input) >> a;
    } catch (const vorada::BacktracedVoradaException&) {
        if (a.num_elements() != 0) {
            __builtin_trap();
        }
        return;
    }
    vorada::io::WriteMultiArray(copy, vorada::io::RunLength) << a;
    vorada::MultiArray<T, D> back;
    vorada::io::ReadMultiArray(copy) >> back;
    if (back.extent_list() != a.extent_list() ||
        !std::equal(a.data(), a.data() + a.num_elements(), back.data())) {
        __builtin_trap();
    }
}

template <typename T>
void read_all_dimensions(const std::string& input, const std::string& copy) {
    read_as<T, 1>(input, copy);
    read_as<T, 2>(input, copy);
    read_as<T, 3>(input, copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string input = scratch("input.mult");
    static const std::string copy = scratch("copy.mult");
    {
        std::ofstream file(input, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    read_all_dimensions<unsigned char>(input, copy);
    read_all_dimensions<unsigned int>(input, copy);
    read_all_dimensions<long long>(input, copy);
    read_all_dimensions<double>(input, copy);
    return 0;
}
