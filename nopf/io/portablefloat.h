#pragma once
// Machine-independent encoding of doubles: a sign, a base-256 exponent and up to eight base-256
// mantissa digits, one byte each. Multi-array files store double elements this way.

namespace vorada {
namespace io {

class PortableFloat {
  public:
    /// Longest encoding in bytes: length byte, two exponent bytes, eight digits.
    static constexpr int max_length = 11;

    /// Builds the power tables and the largest double of this machine in base-256 form.
    PortableFloat();

    /// Writes the encoding of the finite value x to out (room for max_length bytes) and
    /// returns its length. Infinities and NaN throw VoradaError.
    int encode(double x, unsigned char* out) const;

    /// Decodes one value starting at in; reads byte 0, the exponent bytes and the digits up to
    /// the length stored in byte 0. Throws VoradaError on underflow or overflow of a double.
    double decode(const unsigned char* in) const;

    /// Splits x into sign (-1, 0, 1), mantissa in [1, 256) and exponent with
    /// |x| = mantissa * 256^exponent; all three are 0 for x = 0. x must be finite.
    void _Norm256Float64(double x, short* sign, double* mantissa, int* exponent) const;

    /// 256^(2^i) for i = 0 ... count: 2^8, 2^16, ..., 2^512.
    double powers[7];
    /// The reciprocals of powers.
    double inverse_powers[7];
    /// Index of the largest table entry.
    int count;
    /// The largest double as max_mantissa * 256^max_exponent, mantissa in [1, 256).
    double max_mantissa;
    int max_exponent;
};

}  // namespace io
}  // namespace vorada
