#pragma once
// Reads a file as bit fields of 1 to 64 bits, most significant bit first, packed across bytes.

#include <cstdint>
#include <fstream>
#include <string>

namespace vorada {
namespace io {

class ReadBitStream {
  public:
    /// A closed stream.
    ReadBitStream() = default;
    /// Opens path for reading.
    explicit ReadBitStream(const std::string& path);
    ReadBitStream(const ReadBitStream&) = delete;
    ReadBitStream& operator=(const ReadBitStream&) = delete;

    /// Opens path for binary input; the stream must be closed.
    void open(const std::string& path);
    /// Closes the file; a failure shows only in the stream's state.
    void close();
    /// True while a file is open.
    bool is_open() const { return file.is_open(); }

    /// The next n bits (n above 64 counts as 64, n = 0 reads nothing) as an unsigned number.
    /// Asking for bits past the end of the file throws VoradaFileError naming the file and the
    /// positions, and leaves the position unchanged.
    std::uint64_t read(unsigned int n);
    /// Moves to a bit position counted from the start of the file.
    void seekg(std::uint64_t position);
    /// The current bit position.
    std::uint64_t tellg();
    /// 8 × (file size − current byte position): the bits held in the byte buffer are not counted.
    std::uint64_t remaining_size();

    /// The file name last given to open.
    const std::string& path() const { return file_path; }

  private:
    void require_open(const char* message) const;
    bool load_byte();

    std::string file_path;
    std::ifstream file;
    std::uint8_t buffer = 0;      ///< the last byte loaded; consumed bits cleared
    std::uint8_t bits_left = 0;   ///< unread low bits of buffer, 0 to 8
    std::uint64_t next_byte = 0;  ///< index of the next byte load_byte reads
};

}  // namespace io
}  // namespace vorada
