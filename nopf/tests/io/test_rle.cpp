#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "io/rle.h"

namespace {

using vorada::compress::Rle;
using Bytes = std::vector<unsigned char>;

Bytes compressed(const Bytes& in) {
    Bytes out(Rle::max_compressed_size(in.size()));
    out.resize(Rle::compress(in.data(), out.data(), in.size()));
    return out;
}

Bytes uncompressed(const Bytes& coded, std::size_t n) {
    Bytes out(n);
    std::size_t decoded = 0;
    EXPECT_EQ(Rle::uncompress(coded.data(), coded.size(), out.data(), n, &decoded),
              Rle::Status::ok);
    out.resize(decoded);
    return out;
}

// Every byte value `copies` times, value by value: all equally rare, so the escape is 00.
Bytes every_value(std::size_t copies) {
    Bytes in;
    for (int v = 0; v < 256; ++v) {
        in.insert(in.end(), copies, static_cast<unsigned char>(v));
    }
    return in;
}

TEST(Rle, CodesARunAndALiteralWithTheAbsentZeroAsEscape) {
    const Bytes in{0x41, 0x41, 0x41, 0x41, 0x41, 0x42};
    const Bytes code{0x00, 0x00, 0x04, 0x41, 0x42};
    EXPECT_EQ(compressed(in), code);
    EXPECT_EQ(uncompressed(code, in.size()), in);
}

TEST(Rle, PicksTheRarestByteAndTheLowestAmongTies) {
    // 0x41 four times, 0x07 once, 0x09 once, everything else absent: escape 00.
    EXPECT_EQ(compressed({0x07, 0x41, 0x41, 0x41, 0x41, 0x09})[0], 0x00);
    // All values present; 0x05 is the only one seen once.
    Bytes in = every_value(2);
    in.erase(in.begin() + 10);
    EXPECT_EQ(compressed(in)[0], 0x05);
}

TEST(Rle, CodesEscapeBytesInTheInput) {
    // Single escape byte: E 00; the other values stay literals.
    Bytes once = every_value(1);
    Bytes code = compressed(once);
    ASSERT_EQ(code.size(), 258u);
    EXPECT_EQ((Bytes{code[0], code[1], code[2], code[3]}), (Bytes{0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(uncompressed(code, once.size()), once);

    // Three escape bytes: E 02; the threes of other values stay literals.
    Bytes thrice = every_value(3);
    code = compressed(thrice);
    EXPECT_EQ((Bytes{code[0], code[1], code[2], code[3]}), (Bytes{0x00, 0x00, 0x02, 0x01}));
    EXPECT_EQ(code.size(), 1 + 2 + 255 * 3u);
    EXPECT_EQ(uncompressed(code, thrice.size()), thrice);

    // Four escape bytes: a run E 03 E; every other run of four is E 03 v.
    Bytes four = every_value(4);
    code = compressed(four);
    EXPECT_EQ((Bytes{code[0], code[1], code[2], code[3], code[4], code[5], code[6]}),
              (Bytes{0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x01}));
    EXPECT_EQ(uncompressed(code, four.size()), four);
}

TEST(Rle, UsesTwoLengthBytesAndCutsLongRuns) {
    EXPECT_EQ(compressed(Bytes(200, 0x41)), (Bytes{0x00, 0x00, 0x80, 0xC7, 0x41}));
    EXPECT_EQ(compressed(Bytes(129, 0x41)), (Bytes{0x00, 0x00, 0x80, 0x80, 0x41}));
    EXPECT_EQ(compressed(Bytes(128, 0x41)), (Bytes{0x00, 0x00, 0x7F, 0x41}));
    const Bytes code{0x00, 0x00, 0xFF, 0xFF, 0x41, 0x00, 0x9C, 0x3F, 0x41};
    EXPECT_EQ(compressed(Bytes(40000, 0x41)), code);
    EXPECT_EQ(uncompressed(code, 40000), Bytes(40000, 0x41));
}

TEST(Rle, EmptyInputCodesToNothing) {
    unsigned char sentinel = 0x5A;
    EXPECT_EQ(Rle::compress(nullptr, &sentinel, 0), 0u);
    EXPECT_EQ(sentinel, 0x5A);
    EXPECT_EQ(Rle::uncompress(nullptr, &sentinel, 0), 0u);
}

TEST(Rle, RoundTripsWithinTheStatedExpansion) {
    std::mt19937 rng(7);
    const std::size_t lengths[] = {1, 2, 3, 4, 5, 255, 256, 257, 32768, 32769, 70000};
    for (std::size_t n : lengths) {
        for (int alphabet : {1, 2, 3, 17, 256}) {
            // Runs of random length over a small alphabet, and plain noise when alphabet = 256.
            std::uniform_int_distribution<int> value(0, alphabet - 1);
            std::uniform_int_distribution<int> run(1, alphabet == 256 ? 1 : 40);
            Bytes in;
            while (in.size() < n) {
                in.insert(in.end(), static_cast<std::size_t>(run(rng)),
                          static_cast<unsigned char>(value(rng)));
            }
            in.resize(n);
            const Bytes code = compressed(in);
            ASSERT_LE(code.size(), n + n / 256 + 2) << n << " " << alphabet;
            ASSERT_EQ(uncompressed(code, n), in) << n << " " << alphabet;
        }
    }
}

TEST(Rle, CheckedDecodingStopsAtCapacityAndAtTruncation) {
    Bytes out(8, 0xEE);
    std::size_t decoded = 99;
    // A run of five into room for four: nothing past the room is touched.
    const Bytes run{0x00, 0x00, 0x04, 0x41};
    EXPECT_EQ(Rle::uncompress(run.data(), run.size(), out.data(), 4, &decoded),
              Rle::Status::overflow);
    EXPECT_EQ(out[4], 0xEE);
    // Literals past the room.
    const Bytes literals{0x00, 0x41, 0x42, 0x43};
    EXPECT_EQ(Rle::uncompress(literals.data(), literals.size(), out.data(), 2, &decoded),
              Rle::Status::overflow);
    EXPECT_EQ(decoded, 2u);
    // Streams ending after the escape, inside a two-byte length, before the run's value.
    for (const Bytes& cut : {Bytes{0x00, 0x41, 0x00}, Bytes{0x00, 0x00, 0x80},
                             Bytes{0x00, 0x00, 0x04}, Bytes{0x00, 0x00, 0x80, 0x05}}) {
        EXPECT_EQ(Rle::uncompress(cut.data(), cut.size(), out.data(), out.size(), &decoded),
                  Rle::Status::truncated);
    }
}

}  // namespace
