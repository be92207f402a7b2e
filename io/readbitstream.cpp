#include "io/readbitstream.h"

#include <string>

#include "common/errors.h"

namespace vorada {
namespace io {

ReadBitStream::ReadBitStream(const std::string& path) {
    open(path);
}

void ReadBitStream::open(const std::string& path) {
    if (file.is_open()) {
        throw VoradaError("BitStream already open, close it first");
    }
    buffer = 0;
    bits_left = 0;
    next_byte = 0;
    file_path = path;
    file.clear();
    file.open(path, std::ios::in | std::ios::binary);
    if (!file.is_open()) {
        throw VoradaFileNotFound(path);
    }
}

void ReadBitStream::close() {
    file.close();
}

void ReadBitStream::require_open(const char* message) const {
    if (!file.is_open()) {
        throw VoradaError(message);
    }
}

bool ReadBitStream::load_byte() {
    char byte = 0;
    if (!file.read(&byte, 1)) {
        return false;
    }
    buffer = static_cast<std::uint8_t>(byte);
    ++next_byte;
    return true;
}

std::uint64_t ReadBitStream::read(unsigned int n) {
    require_open("Call 'open' before trying to read from a file.");
    if (n > 64) {
        n = 64;
    }
    const unsigned int asked = n;
    const std::uint64_t start = 8 * next_byte - bits_left;
    std::uint64_t result = 0;
    while (n > bits_left) {
        // With no unread bits the buffer is 0; skipping it avoids a shift by 64.
        if (bits_left > 0) {
            result |= static_cast<std::uint64_t>(buffer) << (n - bits_left);
        }
        const unsigned int taken = bits_left;
        if (!load_byte()) {
            // A failed read leaves the stream where it was, usable for the next seek or read.
            seekg(start);
            throw VoradaFileError(file_path, "reading " + std::to_string(asked) + " bits at bit " +
                                                 std::to_string(start) +
                                                 " passes the end of the file");
        }
        n -= taken;
        bits_left = 8;
    }
    if (n > 0) {
        result |= static_cast<std::uint64_t>(buffer >> (bits_left - n));
        bits_left = static_cast<std::uint8_t>(bits_left - n);
        buffer = static_cast<std::uint8_t>(buffer & ((1u << bits_left) - 1u));
    }
    return result;
}

void ReadBitStream::seekg(std::uint64_t position) {
    require_open("Call 'open' before trying to move the pointer from a file.");
    // A read past the end leaves the stream failed; a seek starts afresh.
    file.clear();
    file.seekg(static_cast<std::streamoff>(position / 8), std::ios::beg);
    next_byte = position / 8;
    buffer = 0;
    bits_left = 0;
    if (position % 8 != 0) {
        read(static_cast<unsigned int>(position % 8));
    }
}

std::uint64_t ReadBitStream::tellg() {
    require_open("Call 'open' before trying to get the position of the pointer in a file.");
    const std::streamoff byte_position = file.tellg();
    if (byte_position < 0) {
        throw VoradaError("ifstream::tellg() returns -1");
    }
    return 8 * static_cast<std::uint64_t>(byte_position) - bits_left;
}

std::uint64_t ReadBitStream::remaining_size() {
    require_open("Call 'open' before trying to get size of file.");
    const std::uint64_t position = tellg();
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    if (end < 0) {
        throw VoradaError("ifstream::tellg() returns -1");
    }
    const std::uint64_t end_bits = 8 * static_cast<std::uint64_t>(end) - bits_left;
    seekg(position);
    return end_bits - position;
}

}  // namespace io
}  // namespace vorada
