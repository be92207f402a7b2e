#pragma once
// Byte-level run-length coding with an escape byte chosen as the rarest value of the input.

#include <cstddef>

namespace vorada {
namespace compress {

class Rle {
  public:
    /// Outcome of a checked decoding.
    enum class Status {
        ok,        ///< the whole stream was decoded
        overflow,  ///< a literal or run would pass the destination's capacity
        truncated  ///< the stream ends inside a code
    };

    /// Room the destination of compress needs for n source bytes.
    static std::size_t max_compressed_size(std::size_t n) { return n + n / 256 + 2; }

    /// Codes n bytes of src into dst (room for max_compressed_size(n)) and returns the coded
    /// length; n = 0 writes nothing and returns 0.
    static std::size_t compress(const unsigned char* src, unsigned char* dst, std::size_t n);

    /// Decodes the length coded bytes of src into dst, which must have room for every decoded
    /// byte; returns the number of bytes decoded. Use the checked form for untrusted input.
    static std::size_t uncompress(const unsigned char* src, unsigned char* dst, std::size_t length);

    /// Decodes like uncompress but never writes more than capacity bytes into dst nor reads
    /// more than length bytes of src; *decoded receives the number of bytes written.
    static Status uncompress(const unsigned char* src,
                             std::size_t length,
                             unsigned char* dst,
                             std::size_t capacity,
                             std::size_t* decoded);

    /// The checked decoding without its output: counts into *decoded what uncompress would
    /// write, so a reader can refuse a stream that cannot fill its array before allocating it.
    static Status decoded_size(const unsigned char* src,
                               std::size_t length,
                               std::size_t capacity,
                               std::size_t* decoded);
};

}  // namespace compress
}  // namespace vorada
