// libFuzzer target for .flo files: a read either fails with a "read_flow_file" error or fills
// frame 1 with finite values from a file of exactly 12 + 8 W H bytes; frame 0 is never touched.

#include <cmath>
#include <cstring>
#include <string>

#include "common/errors.h"
#include "io/flowreader.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::scratch("fuzz_flowreader", "input.flo");
    fuzz::write_file(path, data, size);
    // Small frames keep each run fast; larger flows must be refused before anything is written.
    vorada::gma::VideoSignal<double, 2> flow(16, 12, 2);
    bool read = true;
    try {
        vorada::gma::read_optical_flow(flow, path, 1);
    } catch (const vorada::VoradaError& error) {
        fuzz::check(std::strncmp(error.what(), "read_flow_file: ", 16) == 0);
        read = false;
    }
    for (long long y = 0; y < 12; ++y) {
        for (long long x = 0; x < 16; ++x) {
            fuzz::check(flow(x, y, 0)[0] == 0.0 && flow(x, y, 0)[1] == 0.0);
            fuzz::check(std::isfinite(flow(x, y, 1)[0]) && std::isfinite(flow(x, y, 1)[1]));
        }
    }
    if (read) {
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::memcpy(&width, data + 4, 4);
        std::memcpy(&height, data + 8, 4);
        fuzz::check(size ==
                    12 + 8 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    }
    return 0;
}
