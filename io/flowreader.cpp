#include "io/flowreader.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/errors.h"

namespace vorada {
namespace gma {
namespace {

// .flo fields are little-endian whatever the host.
std::uint32_t little_endian_word(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

float little_endian_float(const unsigned char* bytes) {
    const std::uint32_t word = little_endian_word(bytes);
    float value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

bool read_word(std::ifstream& in, std::uint32_t& word) {
    unsigned char bytes[4];
    in.read(reinterpret_cast<char*>(bytes), 4);
    if (in.gcount() != 4) {
        return false;
    }
    word = little_endian_word(bytes);
    return true;
}

// The first word of every .flo file: the float 202021.25, "PIEH" in ASCII.
constexpr std::uint32_t flo_tag = 0x48454950;

}  // namespace

void read_optical_flow(VideoSignal<double, 2>& signal, std::string path, unsigned long long t) {
    if (path.empty()) {
        throw VoradaError("read_flow_file: empty filename");
    }
    // Every other message names the file.
    const auto fail = [&path](const std::string& reason) {
        return VoradaError("read_flow_file: " + path + ": " + reason);
    };
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.substr(dot) != ".flo") {
        throw fail("extension .flo expected");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        throw fail("could not open");
    }
    std::uint32_t tag = 0, width_word = 0, height_word = 0;
    if (!read_word(in, tag) || !read_word(in, width_word) || !read_word(in, height_word)) {
        throw fail("problem reading file");
    }
    if (tag != flo_tag) {
        throw fail("not a .flo flow file (wrong magic number)");
    }
    const auto width = static_cast<std::int32_t>(width_word);
    const auto height = static_cast<std::int32_t>(height_word);
    if (width < 1 || width > 99999) {
        throw fail("illegal width");
    }
    if (height < 1 || height > 99999) {
        throw fail("illegal height");
    }
    // A flow of another size than the frames belongs to other frames: a larger one would be
    // written outside the signal, a smaller one would leave part of the frame without motion.
    if (width != signal.size(0) || height != signal.size(1)) {
        throw fail("flow of " + std::to_string(width) + "x" + std::to_string(height) +
                   " differs from the frames of " + std::to_string(signal.size(0)) + "x" +
                   std::to_string(signal.size(1)));
    }
    if (static_cast<long long>(t) >= signal.size(2)) {
        throw fail("frame index " + std::to_string(t) + " outside a signal of " +
                   std::to_string(signal.size(2)) + " frames");
    }

    // Read the whole payload at once; a short file still stores every complete pair it holds.
    const std::size_t pair_count =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<unsigned char> payload(pair_count * 8);
    in.read(reinterpret_cast<char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
    const std::size_t pairs_read = static_cast<std::size_t>(in.gcount()) / 8;
    for (std::size_t i = 0; i < pairs_read; ++i) {
        const long long x = static_cast<long long>(i % static_cast<std::size_t>(width));
        const long long y = static_cast<long long>(i / static_cast<std::size_t>(width));
        const float u = little_endian_float(&payload[8 * i]);
        const float v = little_endian_float(&payload[8 * i + 4]);
        // NaN would make the cue maps and the merge order undefined; infinities are no
        // displacement either (the format's "unknown" marker is a finite 1e9 and above).
        if (!std::isfinite(u) || !std::isfinite(v)) {
            throw fail("non-finite flow value at pixel (" + std::to_string(x) + ", " +
                       std::to_string(y) + ")");
        }
        double* value = signal.at(x, y, static_cast<long long>(t));
        value[0] = static_cast<double>(u);
        value[1] = static_cast<double>(v);
    }
    if (pairs_read < pair_count) {
        throw fail("file is too short");
    }
    char extra;
    if (in.read(&extra, 1) && in.gcount() == 1) {
        throw fail("file is too long");
    }
}

}  // namespace gma
}  // namespace vorada
