#include "io/rle.h"

#include <cstring>

namespace vorada {
namespace compress {

namespace {

// Longest piece of one run; its length code L = 32767 is the largest two-byte code.
constexpr std::size_t max_piece = 32768;

unsigned char rarest_byte(const unsigned char* src, std::size_t n) {
    std::size_t histogram[256] = {};
    for (std::size_t i = 0; i < n; ++i) {
        ++histogram[src[i]];
    }
    // Ties go to the lowest value: the first minimum found.
    unsigned best = 0;
    for (unsigned v = 1; v < 256; ++v) {
        if (histogram[v] < histogram[best]) {
            best = v;
        }
    }
    return static_cast<unsigned char>(best);
}

Rle::Status decode(const unsigned char* src,
                   std::size_t length,
                   unsigned char* dst,
                   std::size_t capacity,
                   std::size_t* decoded) {
    std::size_t& out = *decoded;
    out = 0;
    if (length == 0) {
        return Rle::Status::ok;
    }
    const unsigned char escape = src[0];
    std::size_t in = 1;
    while (in < length) {
        const unsigned char c = src[in++];
        if (c != escape) {
            if (out == capacity) {
                return Rle::Status::overflow;
            }
            if (dst != nullptr) {
                dst[out] = c;
            }
            ++out;
            continue;
        }
        if (in == length) {
            return Rle::Status::truncated;
        }
        const unsigned char t = src[in++];
        std::size_t run = 0;
        unsigned char value = escape;
        if (t <= 2) {
            run = std::size_t{t} + 1;
        } else {
            std::size_t code = t;
            if (t & 0x80) {
                if (in == length) {
                    return Rle::Status::truncated;
                }
                code = std::size_t{t & 0x7Fu} * 256 + src[in++];
            }
            if (in == length) {
                return Rle::Status::truncated;
            }
            value = src[in++];
            run = code + 1;
        }
        if (capacity - out < run) {
            return Rle::Status::overflow;
        }
        if (dst != nullptr) {
            std::memset(dst + out, value, run);
        }
        out += run;
    }
    return Rle::Status::ok;
}

}  // namespace

std::size_t Rle::compress(const unsigned char* src, unsigned char* dst, std::size_t n) {
    if (n == 0) {
        return 0;
    }
    const unsigned char escape = rarest_byte(src, n);
    std::size_t out = 0;
    dst[out++] = escape;
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = src[i];
        std::size_t k = 1;
        while (k < max_piece && i + k < n && src[i + k] == c) {
            ++k;
        }
        i += k;
        if (k >= 4) {
            const std::size_t code = k - 1;
            dst[out++] = escape;
            if (code <= 127) {
                dst[out++] = static_cast<unsigned char>(code);
            } else {
                dst[out++] = static_cast<unsigned char>(0x80 | (code >> 8));
                dst[out++] = static_cast<unsigned char>(code & 0xFF);
            }
            dst[out++] = c;
        } else if (c == escape) {
            dst[out++] = escape;
            dst[out++] = static_cast<unsigned char>(k - 1);
        } else {
            for (std::size_t j = 0; j < k; ++j) {
                dst[out++] = c;
            }
        }
    }
    return out;
}

std::size_t Rle::uncompress(const unsigned char* src, unsigned char* dst, std::size_t length) {
    std::size_t decoded = 0;
    uncompress(src, length, dst, static_cast<std::size_t>(-1), &decoded);
    return decoded;
}

Rle::Status Rle::uncompress(const unsigned char* src,
                            std::size_t length,
                            unsigned char* dst,
                            std::size_t capacity,
                            std::size_t* decoded) {
    return decode(src, length, dst, capacity, decoded);
}

Rle::Status Rle::decoded_size(const unsigned char* src,
                              std::size_t length,
                              std::size_t capacity,
                              std::size_t* decoded) {
    return decode(src, length, nullptr, capacity, decoded);
}

}  // namespace compress
}  // namespace vorada
