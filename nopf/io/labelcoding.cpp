#include "io/labelcoding.h"

#include <cmath>

namespace vorada {
namespace io {

unsigned label_code_bits(std::uint32_t max_value) {
    // The constant and the double-precision steps are part of the format: a few exact powers
    // of two come out one bit wider, and files must match bit for bit.
    const double ln2 = 0.6931471805599453;
    return static_cast<unsigned>(std::ceil(std::log(static_cast<double>(max_value) + 1.0) / ln2));
}

void label_code_length(unsigned length, std::uint64_t* code, unsigned* bits) {
    if (length >= 1 && length <= 4) {
        *code = length - 1;
        *bits = 3;
    } else {
        *code = 256 + std::uint64_t{length};
        *bits = 9;
    }
}

std::size_t RowChangeIndex::next_change(std::size_t p) {
    const std::size_t r = p / w;
    const std::size_t start = r * w;
    if (r != row) {
        row = r;
        change.resize(w);
        change[w - 1] = start + w;
        for (std::size_t i = w - 1; i-- > 0;) {
            change[i] = data[start + i + 1] != data[start + i] ? start + i + 1 : change[i + 1];
        }
    }
    return change[p - start];
}

}  // namespace io
}  // namespace vorada
