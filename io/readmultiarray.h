#pragma once
// Reads MultiArray<T, D> (D = 1 ... 3) from the library's multi-array file format. Sizes in the
// header are checked against the file before anything is allocated, and a corrupt payload is
// refused with a VoradaFileError naming the file; the array changes only on success.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <vector>

#include "image/multiarray.h"
#include "io/multiarrayformat.h"
#include "io/rle.h"

namespace vorada {
namespace io {

/// What the reader learnt from a checked header.
struct MultiArrayHeader {
    CompressType compress = RunLength;
    std::vector<unsigned long long> extents;
    std::uint64_t elements = 0;        ///< product of the extents
    std::uint64_t payload_offset = 0;  ///< first payload byte
    std::uint64_t file_size = 0;
};

class ReadMultiArray {
  public:
    /// No path yet.
    ReadMultiArray() = default;
    /// Stores the path; the file is opened by operator>>.
    explicit ReadMultiArray(const std::string& file);
    /// Stores the path.
    void open(const std::string& file);

    /// Reads the file into the array, resizing it to the stored extents. The data type, the
    /// dimension count and the compression must suit MultiArray<T, D>.
    template <typename T, std::size_t D>
    ReadMultiArray& operator>>(MultiArray<T, D>& array);

    /// Checks the header of the open stream against the expected element type and dimension
    /// count, and the extents against the file size.
    MultiArrayHeader _read_header(std::istream& stream,
                                  DataType type,
                                  const char* type_name,
                                  std::size_t dimensions);

    std::string path;

  private:
    // One reader per element type: opens the file, checks it, decodes it into values (in
    // storage order) and sets extents.
    void _read(std::size_t dimensions,
               std::vector<unsigned char>& values,
               std::vector<unsigned long long>& extents);
    void _read(std::size_t dimensions,
               std::vector<unsigned int>& values,
               std::vector<unsigned long long>& extents);
    void _read(std::size_t dimensions,
               std::vector<long long>& values,
               std::vector<unsigned long long>& extents);
    void _read(std::size_t dimensions,
               std::vector<double>& values,
               std::vector<unsigned long long>& extents);

    std::ifstream _open();
    void _check_run_length(vorada::compress::Rle::Status status) const;
    std::vector<unsigned char> _run_length(std::istream& stream,
                                           const MultiArrayHeader& header,
                                           std::uint64_t element_size);
    void _label_code(std::istream& stream,
                     const MultiArrayHeader& header,
                     std::vector<unsigned int>& values);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename T, std::size_t D>
ReadMultiArray& ReadMultiArray::operator>>(MultiArray<T, D>& array) {
    static_assert(D >= 1 && D <= 3, "multi-array files hold 1 to 3 dimensions");
    std::vector<typename MultiArrayElement<T>::Stored> values;
    std::vector<unsigned long long> extents;
    _read(D, values, extents);
    // Decoding succeeded: only now is the array touched. Emptying it first saves the copy of
    // old elements that a resize would make.
    array.resize(std::vector<unsigned long long>(D, 0));
    array.resize(extents);
    std::copy(values.begin(), values.end(), array.data());
    return *this;
}

}  // namespace io
}  // namespace vorada
