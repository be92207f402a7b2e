#pragma once
// Bit-level coding of label images: runs along rows (at most 255 elements), whose values repeat
// the element above, continue a label seen to the right in the row above, start the next
// label, or are given explicitly. Rows are W consecutive elements in storage order.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"

namespace vorada {
namespace io {

/// Bits of an explicit label: ceil(ln(max + 1) / ln 2) in double precision.
unsigned label_code_bits(std::uint32_t max_value);

/// Run-length code: lengths 1 to 4 give length - 1 in 3 bits, others 256 + length in 9 bits.
void label_code_length(unsigned length, std::uint64_t* code, unsigned* bits);

/// For each element of one row, the index of the first later element of that row holding a
/// different value (the row's end if none). Shared by the coder and the decoder.
class RowChangeIndex {
  public:
    /// Index over rows of `width` elements of `values`.
    RowChangeIndex(const std::uint32_t* values, std::size_t width) : data(values), w(width) {}
    /// First q > p in the row of p with data[q] != data[p], or the end of that row. The whole
    /// row of p must be filled.
    std::size_t next_change(std::size_t p);

  private:
    const std::uint32_t* data;
    std::size_t w;
    std::size_t row = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> change;
};

/// Writes the label code of n values (rows of `width`) with explicit values in `bits` bits to
/// sink, which offers write(value, nbits). Does not flush.
template <typename BitSink>
void encode_labels(
    const std::uint32_t* values, std::size_t n, std::size_t width, unsigned bits, BitSink& sink);

/// Reads n values (rows of `width`) from source, which offers read(nbits) and
/// bits_left(); explicit values have `bits` bits. Throws VoradaFileError naming path on a
/// stream that ends early or does not describe an array of n values. With values null the
/// stream is only walked: every check that does not need the decoded labels is made, so a
/// caller can refuse a stream before allocating the array for it.
template <typename BitSource>
void decode_labels(BitSource& source,
                   std::uint32_t* values,
                   std::size_t n,
                   std::size_t width,
                   unsigned bits,
                   const std::string& path);

// ---------------------------------------------------------------------------------------------
// Implementation

/// A bit source that refuses to read past a budget of bits, so a decoder never reads beyond
/// the end of its file.
template <typename Reader>
class BoundedBitReader {
  public:
    /// Reads from reader at most `available` bits; errors name path.
    BoundedBitReader(Reader& reader, std::uint64_t available, std::string path)
        : source(reader), left(available), file(std::move(path)) {}
    /// The next nbits bits (at most 64); throws VoradaFileError when the budget is exhausted.
    std::uint64_t read(unsigned nbits) {
        if (nbits == 0) {
            return 0;
        }
        if (nbits > left) {
            throw VoradaFileError(file, "label code ends before the array is filled");
        }
        left -= nbits;
        return source.read(nbits);
    }
    /// Bits still allowed.
    std::uint64_t bits_left() const { return left; }

  private:
    Reader& source;
    std::uint64_t left;
    std::string file;
};

template <typename BitSink>
void _write_label_run(BitSink& sink, std::size_t run) {
    std::uint64_t code = 0;
    unsigned nbits = 0;
    label_code_length(static_cast<unsigned>(run), &code, &nbits);
    sink.write(code, nbits);
}

template <typename BitSink>
void _write_explicit_label(BitSink& sink, std::uint32_t value, unsigned bits) {
    sink.write(7, 3);
    if (bits > 0) {
        sink.write(value, bits);
    }
}

template <typename BitSink>
void encode_labels(
    const std::uint32_t* values, std::size_t n, std::size_t width, unsigned bits, BitSink& sink) {
    if (n == 0) {
        _write_explicit_label(sink, 0, bits);
        _write_label_run(sink, 0);
        return;
    }
    _write_explicit_label(sink, values[0], bits);
    std::uint32_t largest = values[0];
    RowChangeIndex above(values, width);
    std::size_t run = 1;
    for (std::size_t k = 1; k < n; ++k) {
        const std::uint32_t v = values[k];
        if (v == values[k - 1] && run < 255) {
            ++run;
            continue;
        }
        _write_label_run(sink, run);
        run = 1;
        if (k >= width) {
            const std::uint32_t h = values[k - width];
            if (v == h) {
                sink.write(0, 1);
                continue;
            }
            // next_change stops at the end of the row above, which bounds the look to the right.
            const std::size_t q = above.next_change(k - width);
            if (q < k - k % width && values[q] == v) {
                sink.write(2, 2);
                largest = std::max(largest, v);
                continue;
            }
        }
        // The next label is only coded as such while it fits in 32 bits; the decoder could
        // not tell a wrapped value from a fresh start.
        if (largest != std::numeric_limits<std::uint32_t>::max() && v == largest + 1) {
            sink.write(6, 3);
        } else {
            _write_explicit_label(sink, v, bits);
        }
        largest = std::max(largest, v);
    }
    _write_label_run(sink, run);
}

/// Value of a "to the right in the row above" code at position pos: the first element after
/// the one above that differs from it, scanning in storage order through filled elements only.
/// scan_row and scan_pos cache, per row, how far the row's leading run of equal values reaches.
inline bool _label_to_the_right(const std::uint32_t* values,
                                std::size_t pos,
                                std::size_t width,
                                RowChangeIndex& above,
                                std::size_t& scan_row,
                                std::size_t& scan_pos,
                                std::uint32_t* v) {
    const std::uint32_t h = values[pos - width];
    const std::size_t row_start = pos - pos % width;
    std::size_t q = above.next_change(pos - width);
    if (q == row_start) {
        if (row_start == pos) {
            return false;
        }
        if (values[row_start] != h) {
            q = row_start;
        } else {
            if (scan_row != row_start) {
                scan_row = row_start;
                scan_pos = row_start + 1;
            }
            while (scan_pos < pos && values[scan_pos] == h) {
                ++scan_pos;
            }
            if (scan_pos == pos) {
                return false;
            }
            q = scan_pos;
        }
    }
    *v = values[q];
    return true;
}

template <typename BitSource>
void decode_labels(BitSource& source,
                   std::uint32_t* values,
                   std::size_t n,
                   std::size_t width,
                   unsigned bits,
                   const std::string& path) {
    constexpr std::uint32_t top = std::numeric_limits<std::uint32_t>::max();
    if (bits > 64) {
        throw VoradaFileError(path, "label values are wider than 64 bits");
    }
    RowChangeIndex above(values, width);
    std::size_t scan_row = std::numeric_limits<std::size_t>::max();
    std::size_t scan_pos = 0;
    std::uint32_t largest = 0;
    std::size_t pos = 0;
    while (pos < n) {
        std::uint32_t v = 0;
        if (source.read(1) == 0) {
            if (pos < width) {
                throw VoradaFileError(path, "label code refers to the row above in the first row");
            }
            if (values != nullptr) {
                v = values[pos - width];
            }
        } else if (source.read(1) == 0) {
            if (pos < width) {
                throw VoradaFileError(path, "label code refers to the row above in the first row");
            }
            if (values != nullptr &&
                !_label_to_the_right(values, pos, width, above, scan_row, scan_pos, &v)) {
                throw VoradaFileError(path,
                                      "label code refers to a missing label in the row above");
            }
        } else if (source.read(1) == 1) {
            const std::uint64_t x = source.read(bits);
            if (x > top) {
                throw VoradaFileError(path, "explicit label does not fit in 32 bits");
            }
            v = static_cast<std::uint32_t>(x);
            largest = std::max(largest, v);
        } else {
            if (largest == top) {
                throw VoradaFileError(path, "next label after the largest does not fit in 32 bits");
            }
            v = ++largest;
        }
        const std::size_t length =
            source.read(1) == 1 ? source.read(8) : static_cast<std::size_t>(source.read(2)) + 1;
        if (length > n - pos) {
            throw VoradaFileError(path, "label run passes the end of the array");
        }
        if (values != nullptr) {
            std::fill(values + pos, values + pos + length, v);
        }
        pos += length;
    }
}

}  // namespace io
}  // namespace vorada
