#pragma once
// The Magick++ storage type of each sample type read or written through pixel export/import.

#include <Magick++.h>

namespace vorada {
namespace io {

template <typename T>
Magick::StorageType storage_type();

/// 8-bit samples.
template <>
inline Magick::StorageType storage_type<unsigned char>() {
    return Magick::CharPixel;
}

/// 16-bit samples.
template <>
inline Magick::StorageType storage_type<unsigned short>() {
    return Magick::ShortPixel;
}

}  // namespace io
}  // namespace vorada
