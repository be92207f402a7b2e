#include "io/readmultiarray.h"

#include <cstring>
#include <limits>

#include "common/errors.h"
#include "io/labelcoding.h"
#include "io/portablefloat.h"
#include "io/readbitstream.h"
#include "io/rle.h"

namespace vorada {
namespace io {

namespace {

// The most bytes one coded byte can stand for: E, two length bytes and the value give 32768.
constexpr std::uint64_t rle_max_expansion = 8192;
// The most elements one bit of label code can stand for: a run of 255 costs at least 10 bits.
constexpr std::uint64_t label_max_elements_per_bit = 26;
constexpr std::uint64_t index_limit = std::numeric_limits<std::int64_t>::max();

bool read_exact(std::istream& stream, unsigned char* out, std::uint64_t n) {
    stream.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
    return static_cast<std::uint64_t>(stream.gcount()) == n;
}

std::uint64_t little_endian(const unsigned char* bytes, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t b = width; b-- > 0;) {
        v = (v << 8) | bytes[b];
    }
    return v;
}

}  // namespace

ReadMultiArray::ReadMultiArray(const std::string& file) : path(file) {}

void ReadMultiArray::open(const std::string& file) {
    path = file;
}

std::ifstream ReadMultiArray::_open() {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        throw VoradaFileNotFound(path);
    }
    return stream;
}

MultiArrayHeader ReadMultiArray::_read_header(std::istream& stream,
                                              DataType type,
                                              const char* type_name,
                                              std::size_t dimensions) {
    MultiArrayHeader header;
    stream.seekg(0, std::ios::end);
    const std::streamoff size = stream.tellg();
    stream.seekg(0, std::ios::beg);
    if (size < 0 || !stream) {
        throw VoradaFileError(path, "cannot determine the file size");
    }
    header.file_size = static_cast<std::uint64_t>(size);

    unsigned char magic[2] = {};
    if (!read_exact(stream, magic, 2) || little_endian(magic, 2) != multiarray_magic) {
        throw VoradaError("Magic number does not exists in the file");
    }
    unsigned char fields[11] = {};  // file type, compression, data type, dimension count
    if (!read_exact(stream, fields, 1)) {
        throw VoradaFileError(path, "header ends early");
    }
    if (fields[0] != multiarray_file_type) {
        throw VoradaError("File type is not multiarray");
    }
    if (!read_exact(stream, fields + 1, 10)) {
        throw VoradaFileError(path, "header ends early");
    }
    if (fields[2] != type) {
        throw VoradaError(std::string("Datatype is not ") + type_name + " in file");
    }
    if (little_endian(fields + 3, 8) != dimensions) {
        throw VoradaError("Dimensions in the file do not correspond to templated dimensions");
    }
    if (!multiarray_combination_supported(type, fields[1])) {
        throw VoradaError("Unknown compress type");
    }
    header.compress = static_cast<CompressType>(fields[1]);

    // Extents must be valid array indices and their product (zeros counted as ones, so the
    // array's strides stay in range too) must not overflow.
    std::uint64_t product = 1;
    std::uint64_t elements = 1;
    for (std::size_t d = 0; d < dimensions; ++d) {
        unsigned char bytes[8];
        if (!read_exact(stream, bytes, 8)) {
            throw VoradaFileError(path, "header ends early");
        }
        const std::uint64_t e = little_endian(bytes, 8);
        if (e > index_limit || (e > 1 && product > index_limit / e)) {
            throw VoradaFileError(path, "extents overflow");
        }
        product *= std::max<std::uint64_t>(e, 1);
        elements *= e;
        header.extents.push_back(e);
    }
    header.elements = elements;
    header.payload_offset = multiarray_fixed_header + 8 * dimensions;
    return header;
}

void ReadMultiArray::_check_run_length(vorada::compress::Rle::Status status) const {
    switch (status) {
        case vorada::compress::Rle::Status::overflow:
            throw VoradaFileError(path, "run-length code passes the end of the array");
        case vorada::compress::Rle::Status::truncated:
            throw VoradaFileError(path, "run-length code ends inside a code");
        case vorada::compress::Rle::Status::ok:
            break;
    }
}

std::vector<unsigned char> ReadMultiArray::_run_length(std::istream& stream,
                                                       const MultiArrayHeader& header,
                                                       std::uint64_t element_size) {
    if (header.elements > index_limit / element_size) {
        throw VoradaFileError(path, "extents overflow");
    }
    const std::uint64_t expected = header.elements * element_size;
    const std::uint64_t remaining = header.file_size - header.payload_offset;
    unsigned char bytes[8];
    if (remaining < 8 || !read_exact(stream, bytes, 8)) {
        throw VoradaFileError(path, "run-length payload ends early");
    }
    const std::uint64_t length = little_endian(bytes, 8);
    if (length > remaining - 8) {
        throw VoradaFileError(path, "run-length payload ends early");
    }
    if (expected > 0 && (length == 0 || expected / rle_max_expansion > length - 1)) {
        throw VoradaFileError(path, "extents exceed what the file could hold");
    }
    std::vector<unsigned char> coded(length);
    if (!read_exact(stream, coded.data(), length)) {
        throw VoradaFileError(path, "run-length payload ends early");
    }
    // Count what the code decodes to before allocating: a header may claim far more than a
    // short code fills, and the array must not be allocated for a file that will be refused.
    std::size_t decoded = 0;
    _check_run_length(
        vorada::compress::Rle::decoded_size(coded.data(), length, expected, &decoded));
    if (decoded != expected) {
        throw VoradaFileError(path, "run-length code ends before the array is filled");
    }
    std::vector<unsigned char> out(expected);
    _check_run_length(
        vorada::compress::Rle::uncompress(coded.data(), length, out.data(), expected, &decoded));
    return out;
}

void ReadMultiArray::_label_code(std::istream& stream,
                                 const MultiArrayHeader& header,
                                 std::vector<unsigned int>& values) {
    unsigned char bits = 0;
    if (header.file_size <= header.payload_offset || !read_exact(stream, &bits, 1)) {
        throw VoradaFileError(path, "label code ends before the array is filled");
    }
    const std::uint64_t available = 8 * (header.file_size - header.payload_offset - 1);
    if (header.elements / label_max_elements_per_bit > available) {
        throw VoradaFileError(path, "extents exceed what the file could hold");
    }
    if (header.elements == 0) {
        values.clear();
        return;
    }
    ReadBitStream bit_stream(path);
    const std::uint64_t start = 8 * (header.payload_offset + 1);
    // First pass without an array: a code that cannot fill the array the header claims is
    // refused before that array is allocated.
    bit_stream.seekg(start);
    BoundedBitReader<ReadBitStream> counter(bit_stream, available, path);
    decode_labels(counter, nullptr, header.elements, header.extents[0], bits, path);

    values.assign(header.elements, 0);
    bit_stream.seekg(start);
    BoundedBitReader<ReadBitStream> reader(bit_stream, available, path);
    decode_labels(reader, values.data(), values.size(), header.extents[0], bits, path);
}

void ReadMultiArray::_read(std::size_t dimensions,
                           std::vector<unsigned char>& values,
                           std::vector<unsigned long long>& extents) {
    std::ifstream stream = _open();
    const MultiArrayHeader header = _read_header(stream, UInt8, "uint8", dimensions);
    if (header.compress == RunLength) {
        values = _run_length(stream, header, 1);
    } else {
        const std::uint64_t remaining = header.file_size - header.payload_offset;
        unsigned char bytes[8];
        if (remaining < 8 || !read_exact(stream, bytes, 8)) {
            throw VoradaFileError(path, "raw payload ends early");
        }
        const std::uint64_t count = little_endian(bytes, 8);
        if (count != header.elements) {
            throw VoradaFileError(path, "raw element count does not match the extents");
        }
        if (count > remaining - 8) {
            throw VoradaFileError(path, "raw payload ends early");
        }
        values.resize(count);
        if (!read_exact(stream, values.data(), count)) {
            throw VoradaFileError(path, "raw payload ends early");
        }
    }
    extents = header.extents;
}

void ReadMultiArray::_read(std::size_t dimensions,
                           std::vector<unsigned int>& values,
                           std::vector<unsigned long long>& extents) {
    std::ifstream stream = _open();
    const MultiArrayHeader header = _read_header(stream, UInt32, "uint32", dimensions);
    if (header.compress == LabelCode) {
        _label_code(stream, header, values);
    } else {
        const std::vector<unsigned char> bytes = _run_length(stream, header, 4);
        values.resize(header.elements);
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = static_cast<unsigned int>(little_endian(&bytes[4 * i], 4));
        }
    }
    extents = header.extents;
}

void ReadMultiArray::_read(std::size_t dimensions,
                           std::vector<long long>& values,
                           std::vector<unsigned long long>& extents) {
    std::ifstream stream = _open();
    const MultiArrayHeader header = _read_header(stream, Int64, "int64", dimensions);
    const std::vector<unsigned char> bytes = _run_length(stream, header, 8);
    values.resize(header.elements);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint64_t v = little_endian(&bytes[8 * i], 8);
        std::memcpy(&values[i], &v, sizeof v);
    }
    extents = header.extents;
}

void ReadMultiArray::_read(std::size_t dimensions,
                           std::vector<double>& values,
                           std::vector<unsigned long long>& extents) {
    std::ifstream stream = _open();
    const MultiArrayHeader header = _read_header(stream, Float64, "float64", dimensions);
    const std::vector<unsigned char> slots = _run_length(stream, header, float64_slot);
    const PortableFloat portable;
    values.resize(header.elements);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const unsigned char* slot = &slots[float64_slot * i];
        if ((slot[0] & 0x7F) > float64_slot) {
            throw VoradaFileError(path, "portable float is longer than its slot");
        }
        values[i] = portable.decode(slot);
    }
    extents = header.extents;
}

}  // namespace io
}  // namespace vorada
