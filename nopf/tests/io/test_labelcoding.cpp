#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/errors.h"
#include "io/labelcoding.h"

namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using vorada::VoradaFileError;
using vorada::io::BoundedBitReader;
using vorada::io::decode_labels;
using vorada::io::encode_labels;
using vorada::io::label_code_bits;
using vorada::io::label_code_length;
using Labels = std::vector<std::uint32_t>;

// Bits as a string of '0' and '1', most significant bit of each field first.
struct StringSink {
    std::string bits;
    void write(std::uint64_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            bits += ((value >> i) & 1) ? '1' : '0';
        }
    }
};

struct StringSource {
    std::string bits;
    std::size_t pos = 0;
    std::uint64_t read(unsigned n) {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) {
            v = (v << 1) | (bits.at(pos++) == '1' ? 1 : 0);
        }
        return v;
    }
};

// Fields are written apart for reading: "111 011" is the six bits 111011.
std::string fields(const std::string& spaced) {
    std::string bits;
    for (char c : spaced) {
        if (c != ' ') {
            bits += c;
        }
    }
    return bits;
}

std::string coded(const Labels& values, std::size_t width) {
    std::uint32_t top = 0;
    for (auto v : values) {
        top = std::max(top, v);
    }
    StringSink sink;
    encode_labels(values.data(), values.size(), width, label_code_bits(top), sink);
    return sink.bits;
}

Labels decoded(const std::string& bits, std::size_t n, std::size_t width, unsigned b) {
    StringSource source{fields(bits)};
    BoundedBitReader<StringSource> bounded(source, source.bits.size(), "labels.prl");
    Labels values(n, 0xDEADBEEF);
    decode_labels(bounded, values.data(), n, width, b, "labels.prl");
    return values;
}

void expect_fault(const std::string& bits,
                  std::size_t n,
                  std::size_t width,
                  unsigned b,
                  const std::string& reason) {
    EXPECT_THAT([&] { decoded(bits, n, width, b); },
                ThrowsMessage<VoradaFileError>(StrEq("Error in file 'labels.prl': " + reason)))
        << bits;
}

TEST(LabelCodeBits, FollowsTheDoublePrecisionLogarithm) {
    EXPECT_EQ(label_code_bits(0), 0u);
    EXPECT_EQ(label_code_bits(1), 1u);
    EXPECT_EQ(label_code_bits(2), 2u);
    EXPECT_EQ(label_code_bits(3), 2u);
    EXPECT_EQ(label_code_bits(4), 3u);
    EXPECT_EQ(label_code_bits(255), 8u);
    EXPECT_EQ(label_code_bits(256), 9u);
    // ln(2^29) / ln 2 rounds just above 29, so these take one bit more than needed.
    EXPECT_EQ(label_code_bits((1u << 29) - 1), 30u);
    EXPECT_EQ(label_code_bits(std::numeric_limits<std::uint32_t>::max()), 32u);
}

TEST(LabelCodeLength, ShortRunsTakeThreeBitsOthersNine) {
    std::uint64_t code = 0;
    unsigned bits = 0;
    label_code_length(1, &code, &bits);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(bits, 3u);
    label_code_length(4, &code, &bits);
    EXPECT_EQ(code, 3u);
    EXPECT_EQ(bits, 3u);
    label_code_length(5, &code, &bits);
    EXPECT_EQ(code, 261u);
    EXPECT_EQ(bits, 9u);
    label_code_length(255, &code, &bits);
    EXPECT_EQ(code, 511u);
    label_code_length(0, &code, &bits);
    EXPECT_EQ(code, 256u);
    EXPECT_EQ(bits, 9u);
}

TEST(LabelCoding, CodesHandDerivedBits) {
    // All-zero 2 x 2: value 0 in 0 bits, one run of 4.
    EXPECT_EQ(coded({0, 0, 0, 0}, 2), fields("111 011"));
    // Empty array: explicit 0, run length 0.
    EXPECT_EQ(coded({}, 3), fields("111 100000000"));
    // 1 1 2 2 2 / 1 1 2 2 2 (B = 2): the second row repeats the first, one bit per run.
    EXPECT_EQ(coded({1, 1, 2, 2, 2, 1, 1, 2, 2, 2}, 5), fields("11101 001 110 010 0 001 0 010"));
    // 1 2 3 / 2 3 3 (B = 2): labels continuing to the right in the row above take 10.
    EXPECT_EQ(coded({1, 2, 3, 2, 3, 3}, 3), fields("11101 000 110 000 110 000 10 000 10 001"));
    // 1 1 / 2 5: the row above has no change to the right, so 2 is the next label (110);
    // 5 is neither above, to the right, nor next, so it is explicit.
    EXPECT_EQ(coded({1, 1, 2, 5}, 2), fields("111001 001 110 000 111101 000"));
}

TEST(LabelCoding, CutsRunsAt255) {
    // 300 zeros in one row: 255, then a new run whose value is explicit again.
    EXPECT_EQ(coded(Labels(300, 0), 300), fields("111 111111111 111 100101101"));
}

TEST(LabelCoding, NeverCodesAWrappedNextLabel) {
    const std::uint32_t top = std::numeric_limits<std::uint32_t>::max();
    const std::string bits = coded({top, 0}, 2);
    EXPECT_EQ(bits, "111" + std::string(32, '1') + "000" + "111" + std::string(32, '0') + "000");
    EXPECT_EQ(decoded(bits, 2, 2, 32), (Labels{top, 0}));
}

TEST(LabelCoding, RoundTripsRandomPartitions) {
    std::mt19937 rng(3);
    for (std::size_t width : {1, 2, 7, 64}) {
        for (std::size_t height : {1, 3, 40}) {
            // Blocky labels: mostly copies of the row above or the left neighbour.
            std::uniform_int_distribution<int> choice(0, 9);
            Labels values(width * height);
            std::uint32_t next = 0;
            for (std::size_t k = 0; k < values.size(); ++k) {
                const int c = choice(rng);
                if (k >= width && c < 4) {
                    values[k] = values[k - width];
                } else if (k > 0 && c < 8) {
                    values[k] = values[k - 1];
                } else if (c == 8) {
                    values[k] = ++next;
                } else {
                    values[k] = static_cast<std::uint32_t>(rng() % 1000);
                }
            }
            std::uint32_t top = 0;
            for (auto v : values) {
                top = std::max(top, v);
            }
            ASSERT_EQ(decoded(coded(values, width), values.size(), width, label_code_bits(top)),
                      values)
                << width << " x " << height;
        }
    }
}

TEST(LabelDecoding, FollowsCodesIntoTheCurrentRowLikeAScanInStorageOrder) {
    // 4 4 / ?: at position 2 the element above has no change to its right in its row and no
    // element of the current row is filled yet: the code is refused.
    expect_fault("111100 001 10", 4, 2, 3, "label code refers to a missing label in the row above");
    // 4 4 / 7 ?: at position 3 the scan passes the end of the row above and finds 7.
    EXPECT_EQ(decoded("111100 001 111111 000 10 000", 4, 2, 3), (Labels{4, 4, 7, 7}));
    // 1 2 2 / 2 5 ?: at position 5 the scan passes the row above and the leading 2 of the
    // current row, and finds 5.
    EXPECT_EQ(decoded("111001 000 110 001 111010 000 111101 000 10 000", 6, 3, 3),
              (Labels{1, 2, 2, 2, 5, 5}));
}

TEST(LabelDecoding, RejectsCorruptStreams) {
    expect_fault("0 000", 4, 2, 0, "label code refers to the row above in the first row");
    expect_fault("111 000 10 000", 4, 2, 0, "label code refers to the row above in the first row");
    expect_fault("111 100000101", 4, 2, 0, "label run passes the end of the array");
    expect_fault("111 010 0 001", 4, 2, 0, "label run passes the end of the array");
    expect_fault("111 001", 4, 2, 0, "label code ends before the array is filled");
    expect_fault("111 0", 4, 2, 0, "label code ends before the array is filled");
    expect_fault("111" + std::string(33, '1') + "000", 4, 2, 33,
                 "explicit label does not fit in 32 bits");
    expect_fault("111" + std::string(32, '1') + "000" + "110" + "000", 4, 4, 32,
                 "next label after the largest does not fit in 32 bits");
    expect_fault("111", 4, 2, 65, "label values are wider than 64 bits");
}

TEST(LabelDecoding, LeavesElementsPastTheStreamUntouchedWhenTheRunIsRefused) {
    StringSource source{fields("111 10 011")};  // value 2, run of 4 into 3 elements
    BoundedBitReader<StringSource> bounded(source, source.bits.size(), "f");
    Labels values(5, 9);
    EXPECT_THROW(decode_labels(bounded, values.data(), 3, 3, 2, "f"), VoradaFileError);
    EXPECT_EQ(values[3], 9u);
    EXPECT_EQ(values[4], 9u);
}

}  // namespace
