#include "io/writebitstream.h"

#include "common/errors.h"

namespace vorada {
namespace io {

WriteBitStream::WriteBitStream(const std::string& path, OpenMode mode) {
    open(path, mode);
}

void WriteBitStream::open(const std::string& path, OpenMode mode) {
    if (file.is_open()) {
        throw VoradaError("BitStream already open, close it first");
    }
    std::ios::openmode flags = std::ios::out | std::ios::binary;
    if (mode == Overwrite) {
        flags |= std::ios::trunc;
    } else if (mode == Append) {
        flags |= std::ios::app;
    } else {
        throw VoradaError("Unknowm open mode in WriteBitStream");
    }
    buffer = 0;
    free_bits = 8;
    file_path = path;
    file.clear();
    file.open(path, flags);
    if (!file.is_open()) {
        throw VoradaFileNotFound(path);
    }
}

void WriteBitStream::close() {
    if (file.is_open()) {
        force_write();
    }
    file.close();
}

void WriteBitStream::write(std::uint64_t value, unsigned int n) {
    if (!file.is_open()) {
        throw VoradaError("Call 'open' before trying to write to file.");
    }
    if (n > 64) {
        n = 64;
    }
    if (n == 0) {
        return;
    }
    // A stray bit above the field would corrupt the bits already in the buffer.
    if (n < 64) {
        value &= (std::uint64_t{1} << n) - 1;
    }
    if (n < free_bits) {
        free_bits = static_cast<std::uint8_t>(free_bits - n);
        buffer = static_cast<std::uint8_t>(buffer | (value << free_bits));
    } else if (n == free_bits) {
        put(buffer | (value & 255u));
        buffer = 0;
        free_bits = 8;
    } else {
        unsigned int r = n - free_bits;
        put(buffer | (value >> r));
        while (r > 8) {
            r -= 8;
            put((value >> r) & 255u);
        }
        if (r == 8) {
            put(value & 255u);
            buffer = 0;
            free_bits = 8;
        } else {
            buffer = static_cast<std::uint8_t>((value << (8 - r)) & 255u);
            free_bits = static_cast<std::uint8_t>(8 - r);
        }
    }
}

void WriteBitStream::force_write() {
    if (free_bits < 8) {
        put(buffer);
        buffer = 0;
        free_bits = 8;
    }
}

}  // namespace io
}  // namespace vorada
