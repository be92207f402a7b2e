// libFuzzer target for the label code. As code: the walk without an array (used to refuse a
// stream before allocating) and the decoding agree, apart from the one check that needs the
// decoded labels. As data: labels coded and decoded come back unchanged.

#include <algorithm>
#include <string>
#include <vector>

#include "common/errors.h"
#include "io/labelcoding.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

// Bits from memory, most significant bit of each byte first.
struct MemorySource {
    const std::uint8_t* bytes;
    std::size_t position = 0;
    std::uint64_t read(unsigned n) {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i, ++position) {
            v = (v << 1) | ((bytes[position / 8] >> (7 - position % 8)) & 1u);
        }
        return v;
    }
};

struct MemorySink {
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
    void write(std::uint64_t value, unsigned n) {
        for (unsigned i = n; i-- > 0; ++position) {
            if (position % 8 == 0) {
                bytes.push_back(0);
            }
            bytes.back() |= static_cast<std::uint8_t>(((value >> i) & 1u) << (7 - position % 8));
        }
    }
};

// Decodes into values (or only walks the stream when values is null); the error text or "".
std::string decode(const std::uint8_t* code,
                   std::size_t size,
                   std::uint32_t* values,
                   std::size_t n,
                   std::size_t width,
                   unsigned bits) {
    MemorySource source{code};
    vorada::io::BoundedBitReader<MemorySource> bounded(source, 8 * size, "f");
    try {
        vorada::io::decode_labels(bounded, values, n, width, bits, "f");
    } catch (const vorada::VoradaFileError& error) {
        return error.what();
    }
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::size_t width = std::size_t{data[0]} % 32 + 1;
    const std::size_t n = (std::size_t{data[1]} << 4 | data[2] >> 4) % 2048;
    const unsigned bits = data[3] % 40;
    const std::uint8_t* code = data + 4;
    const std::size_t code_size = size - 4;

    const std::string walked = decode(code, code_size, nullptr, n, width, bits);
    std::vector<std::uint32_t> values(n, 0xDEADBEEF);
    const std::string decoded = decode(code, code_size, values.data(), n, width, bits);
    const std::string missing =
        "Error in file 'f': label code refers to a missing label in the row above";
    // Only the decoding sees labels, so it may stop earlier, at a missing label.
    fuzz::check(decoded == walked || decoded == missing);

    // The input's bytes as labels of a few distinct values, in rows of width.
    std::vector<std::uint32_t> labels(code_size);
    std::uint32_t top = 0;
    for (std::size_t i = 0; i < code_size; ++i) {
        labels[i] = code[i] % 8 == 7 ? std::uint32_t{code[i]} << (data[3] % 25) : code[i] % 8;
        top = std::max(top, labels[i]);
    }
    MemorySink sink;
    const unsigned label_bits = vorada::io::label_code_bits(top);
    vorada::io::encode_labels(labels.data(), labels.size(), width, label_bits, sink);
    std::vector<std::uint32_t> back(labels.size());
    fuzz::check(
        decode(sink.bytes.data(), sink.bytes.size(), back.data(), back.size(), width, label_bits)
            .empty());
    fuzz::check(back == labels);
    return 0;
}
