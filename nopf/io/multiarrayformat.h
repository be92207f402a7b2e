#pragma once
// Codes and layout shared by the multi-array file writer and reader.

#include <cstdint>

namespace vorada {
namespace io {

/// How the elements of a multi-array file are coded (one byte in the file).
enum CompressType : unsigned char {
    RunLength = 0,  ///< byte run-length coding of the element bytes
    LabelCode = 1,  ///< bit-level label coding, unsigned 32-bit elements only
    Raw = 3,        ///< element bytes as they are, 8-bit elements only
};

/// Element type of a multi-array file (one byte in the file).
enum DataType : unsigned char {
    UInt8 = 0,
    UInt32 = 4,
    Int64 = 7,
    Float64 = 9,
};

/// The 16-bit magic number, stored little-endian as FF 00.
constexpr std::uint16_t multiarray_magic = 255;
/// File type byte of a multi-array file.
constexpr unsigned char multiarray_file_type = 1;
/// Bytes before the extents: magic, file type, compression, data type, dimension count.
constexpr std::uint64_t multiarray_fixed_header = 13;
/// Bytes of one portable float slot of a Float64 payload.
constexpr std::uint64_t float64_slot = 11;

/// Data type code, message name and the type the coders work on, for each supported element
/// type.
template <typename T>
struct MultiArrayElement;

template <>
struct MultiArrayElement<unsigned char> {
    using Stored = unsigned char;
    static constexpr DataType code = UInt8;
    static constexpr const char* name = "uint8";
};
template <>
struct MultiArrayElement<unsigned int> {
    using Stored = unsigned int;
    static constexpr DataType code = UInt32;
    static constexpr const char* name = "uint32";
};
template <>
struct MultiArrayElement<long long> {
    using Stored = long long;
    static constexpr DataType code = Int64;
    static constexpr const char* name = "int64";
};
template <>
struct MultiArrayElement<long> {
    using Stored = long long;
    static constexpr DataType code = Int64;
    static constexpr const char* name = "int64";
};
template <>
struct MultiArrayElement<double> {
    using Stored = double;
    static constexpr DataType code = Float64;
    static constexpr const char* name = "float64";
};

/// Whether a file may pair this data type with this compression.
constexpr bool multiarray_combination_supported(DataType type, unsigned compress) {
    switch (type) {
        case UInt8:
            return compress == RunLength || compress == Raw;
        case UInt32:
            return compress == RunLength || compress == LabelCode;
        case Int64:
        case Float64:
            return compress == RunLength;
    }
    return false;
}

}  // namespace io
}  // namespace vorada
