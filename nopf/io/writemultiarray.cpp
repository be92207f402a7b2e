#include "io/writemultiarray.h"

#include <algorithm>

#include "common/errors.h"
#include "io/labelcoding.h"
#include "io/portablefloat.h"
#include "io/rle.h"
#include "io/writebitstream.h"

namespace vorada {
namespace io {

namespace {

void put_u64(std::ostream& stream, std::uint64_t value) {
    char bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    stream.write(bytes, 8);
}

std::size_t element_count(const std::vector<unsigned long long>& extents) {
    std::size_t n = 1;
    for (unsigned long long e : extents) {
        n *= e;
    }
    return n;
}

// Little-endian bytes of unsigned values of `width` bytes each.
template <typename Unsigned>
std::vector<unsigned char> little_endian(const Unsigned* values, std::size_t n) {
    constexpr std::size_t width = sizeof(Unsigned);
    std::vector<unsigned char> bytes(n * width);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t b = 0; b < width; ++b) {
            bytes[i * width + b] = static_cast<unsigned char>((values[i] >> (8 * b)) & 0xFF);
        }
    }
    return bytes;
}

}  // namespace

WriteMultiArray::WriteMultiArray(const std::string& file, CompressType compression)
    : path(file), compress(compression) {}

void WriteMultiArray::open(const std::string& file, CompressType compression) {
    path = file;
    compress = compression;
}

void WriteMultiArray::_append_multiarray_header(const std::vector<unsigned long long>& extents,
                                                DataType type,
                                                std::ostream& stream) {
    stream.put(static_cast<char>(type));
    put_u64(stream, extents.size());
    for (unsigned long long e : extents) {
        put_u64(stream, e);
    }
}

void WriteMultiArray::_code_length(unsigned length, std::uint64_t* code, unsigned* bits) {
    label_code_length(length, code, bits);
}

void WriteMultiArray::_check_combination(DataType type) const {
    if (!multiarray_combination_supported(type, compress)) {
        throw VoradaError("Unknown compress type");
    }
}

std::ofstream WriteMultiArray::_open_with_header(const std::vector<unsigned long long>& extents,
                                                 DataType type) {
    // Unbuffered, so a failing device shows at the field that failed; the payload goes out in
    // large blocks anyway.
    std::ofstream stream;
    stream.rdbuf()->pubsetbuf(nullptr, 0);
    stream.open(path, std::ios::binary | std::ios::trunc);
    if (!stream) {
        throw VoradaFileNotFound(path);
    }
    stream.put(static_cast<char>(multiarray_magic & 0xFF));
    stream.put(static_cast<char>(multiarray_magic >> 8));
    if (!stream) {
        throw VoradaFileError(path, "Cannot write magic number into file");
    }
    stream.put(static_cast<char>(multiarray_file_type));
    if (!stream) {
        throw VoradaFileError(path, "Cannot write filetype into file");
    }
    stream.put(static_cast<char>(compress));
    if (!stream) {
        throw VoradaFileError(path, "Cannot write compress type into file");
    }
    _append_multiarray_header(extents, type, stream);
    return stream;
}

void WriteMultiArray::_finish(std::ofstream& stream) {
    stream.close();
    if (!stream) {
        throw VoradaFileError(path, "Cannot write data into file");
    }
}

void WriteMultiArray::_write_run_length(const std::vector<unsigned long long>& extents,
                                        DataType type,
                                        const unsigned char* element_bytes,
                                        std::size_t size) {
    std::vector<unsigned char> coded(vorada::compress::Rle::max_compressed_size(size));
    coded.resize(vorada::compress::Rle::compress(element_bytes, coded.data(), size));
    std::ofstream stream = _open_with_header(extents, type);
    put_u64(stream, coded.size());
    stream.write(reinterpret_cast<const char*>(coded.data()),
                 static_cast<std::streamsize>(coded.size()));
    _finish(stream);
}

void WriteMultiArray::_write(const std::vector<unsigned long long>& extents,
                             const unsigned char* values) {
    _check_combination(UInt8);
    const std::size_t n = element_count(extents);
    if (compress == RunLength) {
        _write_run_length(extents, UInt8, values, n);
        return;
    }
    std::ofstream stream = _open_with_header(extents, UInt8);
    put_u64(stream, n);
    stream.write(reinterpret_cast<const char*>(values), static_cast<std::streamsize>(n));
    _finish(stream);
}

void WriteMultiArray::_write(const std::vector<unsigned long long>& extents,
                             const unsigned int* values) {
    _check_combination(UInt32);
    const std::size_t n = element_count(extents);
    if (compress == RunLength) {
        const std::vector<unsigned char> bytes = little_endian(values, n);
        _write_run_length(extents, UInt32, bytes.data(), bytes.size());
        return;
    }
    const unsigned int top = n == 0 ? 0 : *std::max_element(values, values + n);
    const unsigned bits = label_code_bits(top);
    std::ofstream stream = _open_with_header(extents, UInt32);
    stream.put(static_cast<char>(bits));
    _finish(stream);
    // The label code continues the same file bit by bit.
    WriteBitStream bit_stream(path, Append);
    encode_labels(values, n, n == 0 ? 1 : extents[0], bits, bit_stream);
    bit_stream.close();
}

void WriteMultiArray::_write(const std::vector<unsigned long long>& extents,
                             const long long* values) {
    _check_combination(Int64);
    const std::size_t n = element_count(extents);
    // Conversion to unsigned is modular: the two's complement bits of each value.
    const std::vector<unsigned long long> twos_complement(values, values + n);
    const std::vector<unsigned char> bytes = little_endian(twos_complement.data(), n);
    _write_run_length(extents, Int64, bytes.data(), bytes.size());
}

void WriteMultiArray::_write(const std::vector<unsigned long long>& extents, const double* values) {
    _check_combination(Float64);
    const std::size_t n = element_count(extents);
    // Each value in an 11-byte slot, zero-padded; non-finite values throw before the file is
    // touched.
    const PortableFloat portable;
    std::vector<unsigned char> slots(n * float64_slot, 0);
    for (std::size_t i = 0; i < n; ++i) {
        portable.encode(values[i], slots.data() + i * float64_slot);
    }
    _write_run_length(extents, Float64, slots.data(), slots.size());
}

}  // namespace io
}  // namespace vorada
