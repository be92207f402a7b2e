#include "io/portablefloat.h"

#include <cmath>
#include <limits>
#include <string>

#include "common/errors.h"

namespace vorada {
namespace io {

namespace {

// Offset of the two-byte exponent form; it sets bit 15 for every exponent it is used for.
constexpr int two_byte_exponent_bias = 0xBFFF;

std::string describe_non_finite(double x) {
    if (std::isnan(x)) {
        return "nan";
    }
    return x < 0 ? "-inf" : "inf";
}

}  // namespace

PortableFloat::PortableFloat() : count(6), max_mantissa(0.0), max_exponent(0) {
    double p = 256.0;
    for (int i = 0; i <= count; ++i) {
        powers[i] = p;
        inverse_powers[i] = 1.0 / p;
        p = p * p;
    }
    short sign = 0;
    _Norm256Float64(std::numeric_limits<double>::max(), &sign, &max_mantissa, &max_exponent);
}

void PortableFloat::_Norm256Float64(double x, short* sign, double* mantissa, int* exponent) const {
    if (x == 0.0) {
        *sign = 0;
        *mantissa = 0.0;
        *exponent = 0;
        return;
    }
    *sign = x < 0 ? -1 : 1;
    double m = std::fabs(x);
    int e = 0;
    if (m >= 256.0) {
        // Every finite double is below 256^128, so one pass down the table leaves m < 256.
        for (int i = count; i >= 0; --i) {
            if (m >= powers[i]) {
                m *= inverse_powers[i];
                e += 1 << i;
            }
        }
    } else if (m < 1.0) {
        // The largest factor may be needed twice: subnormals lie below 256^-127.
        for (int i = count; i >= 0; --i) {
            while (m * powers[i] < 256.0) {
                m *= powers[i];
                e -= 1 << i;
            }
        }
    }
    *mantissa = m;
    *exponent = e;
}

int PortableFloat::encode(double x, unsigned char* out) const {
    if (!std::isfinite(x)) {
        throw VoradaError("Cannot encode " + describe_non_finite(x) +
                          " as a portable float: only finite values are representable");
    }
    short sign = 0;
    double m = 0.0;
    int e = 0;
    _Norm256Float64(x, &sign, &m, &e);

    int n = 1;
    if (e >= -64 && e <= 63) {
        out[n++] = static_cast<unsigned char>(e + 64);
    } else {
        const unsigned value = static_cast<unsigned>(e + two_byte_exponent_bias);
        out[n++] = static_cast<unsigned char>(value >> 8);
        out[n++] = static_cast<unsigned char>(value & 0xFF);
    }
    // Eight digits carry 64 bits, more than the 53 significant bits of a double: exact.
    int digits = 0;
    while (m != 0.0 && digits < 8) {
        const double d = std::floor(m);
        out[n++] = static_cast<unsigned char>(d);
        m = (m - d) * 256.0;
        ++digits;
    }
    out[0] = static_cast<unsigned char>(n | (x < 0 ? 0x80 : 0));
    return n;
}

double PortableFloat::decode(const unsigned char* in) const {
    const int n = in[0] & 0x7F;
    const bool negative = (in[0] & 0x80) != 0;
    int e = 0;
    int start = 0;
    if (in[1] & 0x80) {
        e = in[1] * 256 + in[2] - two_byte_exponent_bias;
        start = 3;
    } else {
        e = in[1] - 64;
        start = 2;
    }
    double s = 0.0;
    for (int i = n - 1; i >= start; --i) {
        s = s / 256.0 + in[i];
    }
    // The range checks look at the magnitude, so negative values fail exactly like positive ones.
    if (e < 0) {
        const int k = -e;
        for (int j = 0; j <= count; ++j) {
            if (k & (1 << j)) {
                s *= inverse_powers[j];
            }
        }
        if (k >= (1 << (count + 1)) || s == 0.0) {
            throw VoradaError("The float value read causes an underflow on this machine");
        }
    } else {
        if (e > max_exponent || (e == max_exponent && s > max_mantissa)) {
            throw VoradaError("The float value read causes an overflow on this machine");
        }
        for (int j = 0; j <= count; ++j) {
            if (e & (1 << j)) {
                s *= powers[j];
            }
        }
    }
    return negative ? -s : s;
}

}  // namespace io
}  // namespace vorada
