#pragma once
// Writes a file as bit fields of 1 to 64 bits, most significant bit first, packed across bytes.

#include <cstdint>
#include <fstream>
#include <string>

namespace vorada {
namespace io {

/// How WriteBitStream::open treats an existing file.
enum OpenMode { Overwrite = 0, Append = 1 };

class WriteBitStream {
  public:
    /// A closed stream.
    WriteBitStream() = default;
    /// Opens path in the given mode.
    WriteBitStream(const std::string& path, OpenMode mode);
    WriteBitStream(const WriteBitStream&) = delete;
    WriteBitStream& operator=(const WriteBitStream&) = delete;
    /// Closes the file without writing a pending partial byte: call close() to keep it.
    ~WriteBitStream() = default;

    /// Opens path for binary output (create or truncate, or append); the stream must be closed.
    void open(const std::string& path, OpenMode mode);
    /// Writes a pending partial byte, then closes the file.
    void close();
    /// True while a file is open.
    bool is_open() const { return file.is_open(); }

    /// Appends the low n bits of value (n above 64 counts as 64, n = 0 writes nothing).
    void write(std::uint64_t value, unsigned int n);
    /// Writes a partially filled byte, its unfilled low bits 0.
    void force_write();

    /// The file name last given to open.
    const std::string& path() const { return file_path; }

  private:
    void put(std::uint64_t byte) { file.put(static_cast<char>(static_cast<std::uint8_t>(byte))); }

    std::string file_path;
    std::ofstream file;
    std::uint8_t buffer = 0;     ///< the byte being filled from its top bit down
    std::uint8_t free_bits = 8;  ///< unfilled low bits of buffer; 8 means empty
};

}  // namespace io
}  // namespace vorada
