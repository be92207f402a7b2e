// libFuzzer target for portable floats. An 11-byte slot decodes to a finite double or fails with
// the underflow or overflow message; a decoded value in the encodable range encodes and decodes
// to itself. Eight bytes
// taken as a double encode within 11 bytes and decode exactly, or underflow below 256^-127.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "common/errors.h"
#include "io/portablefloat.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

const std::string underflow = "The float value read causes an underflow on this machine";
const std::string overflow = "The float value read causes an overflow on this machine";

bool decodes(const vorada::io::PortableFloat& portable, const unsigned char* slot, double* value) {
    try {
        *value = portable.decode(slot);
        return true;
    } catch (const vorada::VoradaError& error) {
        fuzz::check(error.what() == underflow || error.what() == overflow);
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const vorada::io::PortableFloat portable;
    unsigned char slot[vorada::io::PortableFloat::max_length] = {};
    std::memcpy(slot, data, std::min<std::size_t>(size, sizeof slot));
    // The multi-array reader refuses longer slots before decoding.
    if ((slot[0] & 0x7F) <= sizeof slot) {
        double value = 0;
        if (decodes(portable, slot, &value)) {
            fuzz::check(std::isfinite(value));
            unsigned char again[vorada::io::PortableFloat::max_length] = {};
            fuzz::check(portable.encode(value, again) <= vorada::io::PortableFloat::max_length);
            // Digits may start with 0 in a slot, so a slot can hold values below what encoding
            // reaches back to (256^-127); those encode but do not decode again.
            double back = 0;
            const bool representable = value == 0 || std::fabs(value) >= std::ldexp(1.0, -1016);
            fuzz::check(decodes(portable, again, &back) == representable);
            fuzz::check(!representable || back == value);
        }
    }
    if (size >= 8) {
        double x = 0;
        std::memcpy(&x, data, 8);
        if (std::isfinite(x)) {
            unsigned char coded[vorada::io::PortableFloat::max_length] = {};
            fuzz::check(portable.encode(x, coded) <= vorada::io::PortableFloat::max_length);
            double back = 0;
            const bool representable = x == 0 || std::fabs(x) >= std::ldexp(1.0, -1016);
            fuzz::check(decodes(portable, coded, &back) == representable);
            fuzz::check(!representable || back == x);
        }
    }
    return 0;
}
