#pragma once
// Writes MultiArray<T, D> (D = 1 ... 3) to the library's multi-array file format: a short
// header (magic number, file type, compression, element type, extents) and the elements,
// run-length coded, raw, or label coded.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "image/multiarray.h"
#include "io/multiarrayformat.h"

namespace vorada {
namespace io {

class WriteMultiArray {
  public:
    /// No path yet; compression RunLength.
    WriteMultiArray() = default;
    /// Stores the path and the compression; no file is touched yet.
    WriteMultiArray(const std::string& file, CompressType compression);
    /// Stores the path and the compression; no file is touched yet.
    void open(const std::string& file, CompressType compression);

    /// Writes the whole file for the array, replacing any existing one. Element types:
    /// unsigned char, unsigned int, long long (or long) and double. A compression the element
    /// type does not support throws VoradaError before the file is touched.
    template <typename T, std::size_t D>
    WriteMultiArray& operator<<(const MultiArray<T, D>& array);

    /// Writes the data type byte, the dimension count and the extents (64-bit little-endian).
    void _append_multiarray_header(const std::vector<unsigned long long>& extents,
                                   DataType type,
                                   std::ostream& stream);
    /// Run-length code of the label coder: lengths 1 to 4 give length - 1 in 3 bits; any other
    /// length gives 256 + length in 9 bits.
    static void _code_length(unsigned length, std::uint64_t* code, unsigned* bits);

    std::string path;
    CompressType compress = RunLength;

  private:
    // One writer per element type; values are in storage order.
    void _write(const std::vector<unsigned long long>& extents, const unsigned char* values);
    void _write(const std::vector<unsigned long long>& extents, const unsigned int* values);
    void _write(const std::vector<unsigned long long>& extents, const long long* values);
    void _write(const std::vector<unsigned long long>& extents, const double* values);

    void _check_combination(DataType type) const;
    std::ofstream _open_with_header(const std::vector<unsigned long long>& extents, DataType type);
    void _write_run_length(const std::vector<unsigned long long>& extents,
                           DataType type,
                           const unsigned char* element_bytes,
                           std::size_t size);
    void _finish(std::ofstream& stream);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename T, std::size_t D>
WriteMultiArray& WriteMultiArray::operator<<(const MultiArray<T, D>& array) {
    static_assert(D >= 1 && D <= 3, "multi-array files hold 1 to 3 dimensions");
    using Stored = typename MultiArrayElement<T>::Stored;
    const std::vector<unsigned long long> extents = array.extent_list();
    if constexpr (std::is_same<T, Stored>::value) {
        _write(extents, array.data());
    } else {
        const std::vector<Stored> values(array.data(), array.data() + array.num_elements());
        _write(extents, values.data());
    }
    return *this;
}

}  // namespace io
}  // namespace vorada
