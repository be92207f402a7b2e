// libFuzzer target for run-length coding. As code: the counting pass and the decoding agree and
// stay within the capacity. As data: coding then decoding gives the bytes back, within the
// stated expansion.

#include <cstring>
#include <vector>

#include "io/rle.h"
#include "tests/fuzz/fuzz_common.h"

using vorada::compress::Rle;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte sets the capacity (in units of 64 bytes) the code must fit in.
    if (size == 0) {
        return 0;
    }
    const std::size_t capacity = std::size_t{data[0]} * 64;
    const std::uint8_t* code = data + 1;
    const std::size_t length = size - 1;
    std::size_t counted = 0;
    const Rle::Status counted_status = Rle::decoded_size(code, length, capacity, &counted);
    std::vector<unsigned char> out(capacity);
    std::size_t decoded = 0;
    const Rle::Status status = Rle::uncompress(code, length, out.data(), capacity, &decoded);
    fuzz::check(status == counted_status && decoded == counted && decoded <= capacity);

    std::vector<unsigned char> coded(Rle::max_compressed_size(size));
    const std::size_t n = Rle::compress(data, coded.data(), size);
    fuzz::check(n <= Rle::max_compressed_size(size));
    std::vector<unsigned char> back(size);
    fuzz::check(Rle::uncompress(coded.data(), n, back.data(), size, &decoded) == Rle::Status::ok);
    fuzz::check(decoded == size && std::memcmp(back.data(), data, size) == 0);
    return 0;
}
