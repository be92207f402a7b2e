#pragma once
// Writes the library's containers to image files through Magick++; the file format follows the
// path's extension.

#include <string>

#include "image/colorimage.h"
#include "image/imagegray.h"
#include "image/imagergb.h"
#include "image/multiarray.h"
#include "io/io_auxiliar.h"

namespace vorada {
namespace io {

/// Encoder quality of the files written as images: 100 selects zlib's highest level for PNG.
constexpr int exact_image_quality = 100;
/// zlib level 5 without row filters: the same pixels as exact_image_quality, encoded about seven
/// times faster into files about 5 % larger.
constexpr int fast_image_quality = 50;

class WriteImage {
  public:
    /// Settles the format from the extension; an unknown one throws VoradaFileError. `quality`
    /// is the encoder's quality setting for the RGB and grey images.
    explicit WriteImage(const std::string& path, int quality = exact_image_quality);

    /// Writes the container to the file, replacing it.
    template <typename Container>
    void write(const Container& container) {
        _write(container);
    }

    /// 8-bit RGB. Every format but the multi-array one and grey-only .pgm (both refused with
    /// VoradaFileError before a file is touched) reads back.
    void _write(const ImageRGB<unsigned char>& image);
    /// 16-bit RGB.
    void _write(const ImageRGB<unsigned short>& image);
    /// 8-bit grey.
    void _write(const ImageGray<unsigned char>& image);
    /// 16-bit grey; a PNG keeps all 16 bits even where 8 would hold the samples.
    void _write(const ImageGray<unsigned short>& image);
    /// A partition (ImagePartition<unsigned int> or any one-channel volume of 32-bit labels),
    /// label coded into a multi-array file; any other format throws VoradaError untouched.
    void _write(const ImaVol<unsigned int, 1, 2>& partition);
    /// Raw Bayer samples, stored uncompressed in a multi-array file; any other format throws
    /// VoradaError untouched.
    void _write(const MultiArray<unsigned char, 2>& samples);
    /// A mask as an 8-bit grey image: 255 where true, 0 elsewhere.
    void _write(const ImaVol<bool, 1, 2>& mask);
    /// YUV as an 8-bit RGB image (to_rgb).
    void _write(const ImageYUV<unsigned char>& image);

    /// The path given at opening.
    const std::string& path() const { return file_path; }
    /// The format settled at opening.
    ImageFormat format() const { return file_format; }

  private:
    // Colour and grey images go through Magick++, which cannot write the library's own
    // multi-array format; refused before any file is touched.
    void _refuse_multiarray() const;
    template <typename T>
    void _write_rgb(const ImageRGB<T>& image);
    template <typename T>
    void _write_gray(const ImageGray<T>& image);

    std::string file_path;
    ImageFormat file_format = FORMAT_UNKNOWN;
    int file_quality = exact_image_quality;
};

}  // namespace io
}  // namespace vorada
