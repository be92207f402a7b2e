#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "common/errors.h"
#include "io/portablefloat.h"

namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using vorada::VoradaError;
using vorada::io::PortableFloat;
using Bytes = std::vector<unsigned char>;

Bytes encoded(double x) {
    PortableFloat pf;
    unsigned char out[PortableFloat::max_length] = {};
    const int n = pf.encode(x, out);
    return Bytes(out, out + n);
}

double decoded(Bytes bytes) {
    bytes.resize(PortableFloat::max_length, 0);
    return PortableFloat().decode(bytes.data());
}

std::uint64_t bits_of(double x) {
    std::uint64_t b = 0;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

TEST(PortableFloat, TablesHoldThePowersAndTheLargestDouble) {
    PortableFloat pf;
    EXPECT_EQ(pf.count, 6);
    for (int i = 0; i <= 6; ++i) {
        EXPECT_EQ(pf.powers[i], std::ldexp(1.0, 8 << i));
        EXPECT_EQ(pf.inverse_powers[i], std::ldexp(1.0, -(8 << i)));
    }
    EXPECT_EQ(pf.max_exponent, 127);
    EXPECT_EQ(pf.max_mantissa, 256.0 - std::ldexp(1.0, -45));
}

TEST(PortableFloat, NormalisesToABase256Mantissa) {
    PortableFloat pf;
    short sign = 7;
    double m = 7;
    int e = 7;
    pf._Norm256Float64(0.0, &sign, &m, &e);
    EXPECT_EQ(sign, 0);
    EXPECT_EQ(m, 0.0);
    EXPECT_EQ(e, 0);
    pf._Norm256Float64(-300.0, &sign, &m, &e);
    EXPECT_EQ(sign, -1);
    EXPECT_EQ(m, 300.0 / 256.0);
    EXPECT_EQ(e, 1);
    pf._Norm256Float64(std::ldexp(3.0, -20), &sign, &m, &e);  // 3 * 2^-20 = 48 * 256^-3
    EXPECT_EQ(sign, 1);
    EXPECT_EQ(m, 48.0);
    EXPECT_EQ(e, -3);
    // The smallest subnormal, 2^-1074 = 64 * 256^-135: the largest factor is needed twice.
    pf._Norm256Float64(std::numeric_limits<double>::denorm_min(), &sign, &m, &e);
    EXPECT_EQ(m, 64.0);
    EXPECT_EQ(e, -135);
}

TEST(PortableFloat, EncodesHandDerivedBytes) {
    EXPECT_EQ(encoded(1.0), (Bytes{0x03, 0x40, 0x01}));
    EXPECT_EQ(encoded(-1.5), (Bytes{0x84, 0x40, 0x01, 0x80}));
    EXPECT_EQ(encoded(256.0), (Bytes{0x03, 0x41, 0x01}));
    EXPECT_EQ(encoded(0.5), (Bytes{0x03, 0x3F, 0x80}));
    EXPECT_EQ(encoded(0.0), (Bytes{0x02, 0x40}));
    EXPECT_EQ(encoded(M_PI), (Bytes{0x09, 0x40, 0x03, 0x24, 0x3F, 0x6A, 0x88, 0x85, 0xA3}));
    EXPECT_EQ(encoded(1e300), (Bytes{0x0A, 0xC0, 0x7B, 0x17, 0xE4, 0x3C, 0x88, 0x00, 0x75, 0x9C}));
}

TEST(PortableFloat, SwitchesToTwoExponentBytesOutsideMinus64To63) {
    EXPECT_EQ(encoded(std::ldexp(1.0, -512)), (Bytes{0x03, 0x00, 0x01}));        // e = -64
    EXPECT_EQ(encoded(std::ldexp(1.0, -520)), (Bytes{0x04, 0xBF, 0xBE, 0x01}));  // e = -65
    EXPECT_EQ(encoded(std::ldexp(1.0, 504)), (Bytes{0x03, 0x7F, 0x01}));         // e = 63
    EXPECT_EQ(encoded(std::ldexp(1.0, 512)), (Bytes{0x04, 0xC0, 0x3F, 0x01}));   // e = 64
}

TEST(PortableFloat, LargestDoubleUsesExponent127AndDecodes) {
    const double top = std::numeric_limits<double>::max();
    const Bytes bytes{0x0A, 0xC0, 0x7E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8};
    EXPECT_EQ(encoded(top), bytes);
    EXPECT_EQ(decoded(bytes), top);
    EXPECT_EQ(decoded(encoded(-top)), -top);
}

TEST(PortableFloat, DecodesHandDerivedBytes) {
    EXPECT_EQ(decoded({0x03, 0x40, 0x01}), 1.0);
    EXPECT_EQ(decoded({0x84, 0x40, 0x01, 0x80}), -1.5);
    EXPECT_EQ(decoded({0x03, 0x3F, 0x80}), 0.5);
    EXPECT_EQ(decoded({0x02, 0x40}), 0.0);
    EXPECT_EQ(decoded({0x09, 0x40, 0x03, 0x24, 0x3F, 0x6A, 0x88, 0x85, 0xA3}), M_PI);
    // 2^-1016 = 256^-127, the smallest magnitude that decodes.
    EXPECT_EQ(decoded({0x04, 0xBF, 0x80, 0x01}), std::ldexp(1.0, -1016));
}

TEST(PortableFloat, RoundTripsEveryRepresentableMagnitudeExactly) {
    PortableFloat pf;
    std::mt19937_64 rng(12345);
    // Random bit patterns with biased exponents 7 ... 2046, i.e. magnitudes 2^-1016 ... max.
    std::uniform_int_distribution<std::uint64_t> mantissa(0, (std::uint64_t{1} << 52) - 1);
    std::uniform_int_distribution<std::uint64_t> exponent(7, 2046);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t b =
            (std::uint64_t(i & 1) << 63) | (exponent(rng) << 52) | mantissa(rng);
        double x = 0;
        std::memcpy(&x, &b, sizeof x);
        unsigned char out[PortableFloat::max_length] = {};
        const int n = pf.encode(x, out);
        ASSERT_LE(n, PortableFloat::max_length);
        ASSERT_EQ(bits_of(pf.decode(out)), b) << x;
    }
}

TEST(PortableFloat, ValuesBelow256ToTheMinus127EncodeButUnderflow) {
    const double tiny[] = {std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::denorm_min(), -std::ldexp(1.0, -1017)};
    EXPECT_EQ(encoded(std::numeric_limits<double>::min()), (Bytes{0x04, 0xBF, 0x7F, 0x04}));
    EXPECT_EQ(encoded(std::numeric_limits<double>::denorm_min()), (Bytes{0x04, 0xBF, 0x78, 0x40}));
    for (double x : tiny) {
        const Bytes bytes = encoded(x);
        EXPECT_THAT([&] { decoded(bytes); },
                    ThrowsMessage<VoradaError>(
                        StrEq("The float value read causes an underflow on this machine")));
    }
}

TEST(PortableFloat, ValuesAboveTheLargestDoubleOverflowWhateverTheirSign) {
    const char* message = "The float value read causes an overflow on this machine";
    // Exponent 128.
    EXPECT_THAT(
        [&] {
            decoded({0x04, 0xC0, 0x7F, 0x01});
        },
        ThrowsMessage<VoradaError>(StrEq(message)));
    // Exponent 127 with a mantissa that rounds to 256, above the largest double's.
    EXPECT_THAT(
        [&] {
            decoded({0x0A, 0xC0, 0x7E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        },
        ThrowsMessage<VoradaError>(StrEq(message)));
    EXPECT_THAT(
        [&] {
            decoded({0x8A, 0xC0, 0x7E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        },
        ThrowsMessage<VoradaError>(StrEq(message)));
}

TEST(PortableFloat, RejectsInfinitiesAndNanNamingTheValue) {
    PortableFloat pf;
    unsigned char out[PortableFloat::max_length] = {};
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_THAT(
        [&] { pf.encode(inf, out); },
        ThrowsMessage<VoradaError>(
            StrEq("Cannot encode inf as a portable float: only finite values are representable")));
    EXPECT_THAT([&] { pf.encode(-inf, out); },
                ThrowsMessage<VoradaError>(StrEq("Cannot encode -inf as a portable float: only "
                                                 "finite values are representable")));
    EXPECT_THAT(
        [&] { pf.encode(std::numeric_limits<double>::quiet_NaN(), out); },
        ThrowsMessage<VoradaError>(
            StrEq("Cannot encode nan as a portable float: only finite values are representable")));
}

}  // namespace
