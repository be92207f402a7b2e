#pragma once
// Copies between planar images and flat, pixel-interleaved buffers. Pixels follow the channels'
// storage order (x fastest, then y); the buffer has no row gaps. The size argument is not used:
// the caller provides a buffer large enough for the image in the chosen mode.

#include <cmath>
#include <limits>
#include <type_traits>

#include "common/errors.h"
#include "image/imagegray.h"
#include "image/imagergb.h"
#include "image/imageyuv422.h"
#include "image/sample_types.h"

namespace vorada {

/// Buffer layouts; the numbers are part of the library's interface.
enum ImportExportMode {
    BUFFER_RGB = 0,   ///< R, G, B
    BUFFER_BGR = 1,   ///< B, G, R
    BUFFER_RGBA = 2,  ///< R, G, B, then 1 on export (skipped on import)
    BUFFER_GRAY = 3,  ///< the grey value
    BUFFER_YUYV = 4,  ///< per pixel pair: Y0, U, Y1, V
    BUFFER_UYVY = 5   ///< per pixel pair: U, Y0, V, Y1
};

/// Copies an RGB image into a buffer of B (modes 0, 1, 2); samples are converted to B.
template <typename T, typename B>
void export_to(const ImageRGB<T>& image, B* buffer, unsigned long long size, ImportExportMode mode);
/// Fills an RGB image, already sized, from a buffer of B (modes 0, 1, 2). A floating buffer
/// value stored in an integer sample is truncated toward zero and wrapped to the sample's width.
template <typename T, typename B>
void import_from(ImageRGB<T>& image,
                 const B* buffer,
                 unsigned long long size,
                 ImportExportMode mode);
/// Copies a grey image into a buffer: mode 3 one value per pixel, mode 0 the value three times.
template <typename T>
void export_to(const ImageGray<T>& image,
               T* buffer,
               unsigned long long size,
               ImportExportMode mode);
/// Fills a grey image, already sized, from a buffer of one value per pixel (mode 3).
template <typename T>
void import_from(ImageGray<T>& image,
                 const T* buffer,
                 unsigned long long size,
                 ImportExportMode mode);
/// Copies a 4:2:2 image into a buffer of four values per pixel pair (modes 4, 5).
template <typename T>
void export_to(const ImageYUV422<T>& image,
               T* buffer,
               unsigned long long size,
               ImportExportMode mode);
/// Fills a 4:2:2 image, already sized, from a buffer of four values per pixel pair (modes 4, 5).
template <typename T>
void import_from(ImageYUV422<T>& image,
                 const T* buffer,
                 unsigned long long size,
                 ImportExportMode mode);

/// A floating value as an integer sample: truncated toward zero, then reduced to the low bits
/// of To (256.0 -> 0 and -1.0 -> 255 for unsigned char). NaN and infinities give 0.
template <typename To, typename From>
To wrap_sample(From value);

// ---------------------------------------------------------------------------------------------
// Implementation

namespace detail {

[[noreturn]] inline void unsupported_buffer_mode() {
    throw VoradaNotImplemented("Buffer Color Mode not implemented");
}

// Every sample index below the first channel's element count must exist in every channel.
template <typename T, std::size_t C>
unsigned long long common_element_count(const ImaVol<T, C, 2>& image) {
    const unsigned long long count = image.channels[0].num_elements();
    for (const auto& channel : image.channels) {
        if (channel.num_elements() != count) {
            throw VoradaError("Pixel buffer copy: the image channels differ in size");
        }
    }
    return count;
}

template <typename T>
unsigned long long yuv422_pair_count(const ImageYUV422<T>& image) {
    const unsigned long long pairs = image.channels[1].num_elements();
    if (image.channels[2].num_elements() != pairs) {
        throw VoradaError("ImageYUV422: the U and V channels differ in size");
    }
    // Pair j reads luma elements 2j and 2j+1; refuse a luma channel too small for that.
    if (image.channels[0].num_elements() < 2 * pairs) {
        throw VoradaError("ImageYUV422: the Y channel holds fewer than two samples per U, V pair");
    }
    return pairs;
}

template <typename To, typename From>
To convert_sample(From value) {
    if constexpr (std::is_same<To, From>::value) {
        return value;
    } else if constexpr (std::is_integral<To>::value && std::is_floating_point<From>::value) {
        return wrap_sample<To>(value);
    } else {
        static_assert(std::is_floating_point<To>::value,
                      "pixel buffers convert only to the same type or between integer samples "
                      "and floating values");
        return static_cast<To>(value);
    }
}

}  // namespace detail

template <typename To, typename From>
To wrap_sample(From value) {
    static_assert(std::is_integral<To>::value && std::is_floating_point<From>::value,
                  "wrap_sample turns floating values into integer samples");
    const double truncated = std::trunc(static_cast<double>(value));
    if (!std::isfinite(truncated)) {
        return To(0);
    }
    constexpr double two_to_63 = 9223372036854775808.0;
    if (truncated >= -two_to_63 && truncated < two_to_63) {
        // Unsigned targets wrap modulo their width; signed ones keep the two's-complement bits.
        return static_cast<To>(static_cast<unsigned long long>(static_cast<long long>(truncated)));
    }
    // Beyond 64 bits a double is a multiple of 2^11, so its low 64 bits are exact in a double.
    constexpr double two_to_64 = 18446744073709551616.0;
    double low = std::fmod(truncated, two_to_64);
    if (low < 0) {
        low += two_to_64;
    }
    return static_cast<To>(static_cast<unsigned long long>(low));
}

template <typename T, typename B>
void export_to(const ImageRGB<T>& image, B* buffer, unsigned long long, ImportExportMode mode) {
    if (mode != BUFFER_RGB && mode != BUFFER_BGR && mode != BUFFER_RGBA) {
        detail::unsupported_buffer_mode();
    }
    const unsigned long long n = detail::common_element_count(image);
    const T* red = image.channels[0].data();
    const T* green = image.channels[1].data();
    const T* blue = image.channels[2].data();
    if (mode == BUFFER_BGR) {
        std::swap(red, blue);
    }
    const unsigned long long step = mode == BUFFER_RGBA ? 4 : 3;
    for (unsigned long long i = 0; i < n; ++i, buffer += step) {
        buffer[0] = static_cast<B>(red[i]);
        buffer[1] = static_cast<B>(green[i]);
        buffer[2] = static_cast<B>(blue[i]);
        if (mode == BUFFER_RGBA) {
            buffer[3] = B(1);
        }
    }
}

template <typename T, typename B>
void import_from(ImageRGB<T>& image, const B* buffer, unsigned long long, ImportExportMode mode) {
    if (mode != BUFFER_RGB && mode != BUFFER_BGR && mode != BUFFER_RGBA) {
        detail::unsupported_buffer_mode();
    }
    const unsigned long long n = detail::common_element_count(image);
    T* red = image.channels[0].data();
    T* green = image.channels[1].data();
    T* blue = image.channels[2].data();
    if (mode == BUFFER_BGR) {
        std::swap(red, blue);
    }
    const unsigned long long step = mode == BUFFER_RGBA ? 4 : 3;
    for (unsigned long long i = 0; i < n; ++i, buffer += step) {
        red[i] = detail::convert_sample<T>(buffer[0]);
        green[i] = detail::convert_sample<T>(buffer[1]);
        blue[i] = detail::convert_sample<T>(buffer[2]);
    }
}

template <typename T>
void export_to(const ImageGray<T>& image, T* buffer, unsigned long long, ImportExportMode mode) {
    const T* grey = image.channels[0].data();
    const unsigned long long n = image.channels[0].num_elements();
    if (mode == BUFFER_GRAY) {
        std::copy(grey, grey + n, buffer);
    } else if (mode == BUFFER_RGB) {
        for (unsigned long long i = 0; i < n; ++i, buffer += 3) {
            buffer[0] = buffer[1] = buffer[2] = grey[i];
        }
    } else {
        detail::unsupported_buffer_mode();
    }
}

template <typename T>
void import_from(ImageGray<T>& image, const T* buffer, unsigned long long, ImportExportMode mode) {
    if (mode != BUFFER_GRAY) {
        detail::unsupported_buffer_mode();
    }
    std::copy(buffer, buffer + image.channels[0].num_elements(), image.channels[0].data());
}

template <typename T>
void export_to(const ImageYUV422<T>& image, T* buffer, unsigned long long, ImportExportMode mode) {
    if (mode != BUFFER_YUYV && mode != BUFFER_UYVY) {
        detail::unsupported_buffer_mode();
    }
    const unsigned long long pairs = detail::yuv422_pair_count(image);
    const T* luma = image.channels[0].data();
    const T* u = image.channels[1].data();
    const T* v = image.channels[2].data();
    for (unsigned long long j = 0; j < pairs; ++j, buffer += 4) {
        if (mode == BUFFER_YUYV) {
            buffer[0] = luma[2 * j];
            buffer[1] = u[j];
            buffer[2] = luma[2 * j + 1];
            buffer[3] = v[j];
        } else {
            buffer[0] = u[j];
            buffer[1] = luma[2 * j];
            buffer[2] = v[j];
            buffer[3] = luma[2 * j + 1];
        }
    }
}

template <typename T>
void import_from(ImageYUV422<T>& image,
                 const T* buffer,
                 unsigned long long,
                 ImportExportMode mode) {
    if (mode != BUFFER_YUYV && mode != BUFFER_UYVY) {
        detail::unsupported_buffer_mode();
    }
    const unsigned long long pairs = detail::yuv422_pair_count(image);
    T* luma = image.channels[0].data();
    T* u = image.channels[1].data();
    T* v = image.channels[2].data();
    for (unsigned long long j = 0; j < pairs; ++j, buffer += 4) {
        if (mode == BUFFER_YUYV) {
            luma[2 * j] = buffer[0];
            u[j] = buffer[1];
            luma[2 * j + 1] = buffer[2];
            v[j] = buffer[3];
        } else {
            u[j] = buffer[0];
            luma[2 * j] = buffer[1];
            v[j] = buffer[2];
            luma[2 * j + 1] = buffer[3];
        }
    }
}

#define VORADA_EXTERN_IMPORT_EXPORT(T)                                                 \
    extern template void export_to<T, T>(const ImageRGB<T>&, T*, unsigned long long,   \
                                         ImportExportMode);                            \
    extern template void import_from<T, T>(ImageRGB<T>&, const T*, unsigned long long, \
                                           ImportExportMode);                          \
    extern template void export_to<T>(const ImageGray<T>&, T*, unsigned long long,     \
                                      ImportExportMode);                               \
    extern template void import_from<T>(ImageGray<T>&, const T*, unsigned long long,   \
                                        ImportExportMode);                             \
    extern template void export_to<T>(const ImageYUV422<T>&, T*, unsigned long long,   \
                                      ImportExportMode);                               \
    extern template void import_from<T>(ImageYUV422<T>&, const T*, unsigned long long, \
                                        ImportExportMode);
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_EXTERN_IMPORT_EXPORT)
#undef VORADA_EXTERN_IMPORT_EXPORT

extern template void export_to<unsigned char, double>(const ImageRGB<unsigned char>&,
                                                      double*,
                                                      unsigned long long,
                                                      ImportExportMode);
extern template void import_from<unsigned char, double>(ImageRGB<unsigned char>&,
                                                        const double*,
                                                        unsigned long long,
                                                        ImportExportMode);

}  // namespace vorada
