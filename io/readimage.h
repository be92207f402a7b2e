#pragma once
// Reads image files into the library's containers through Magick++, after checking that the
// file exists and that its header, its extension and the requested format agree.

#include <string>

#include "image/colorimage.h"
#include "image/imagegray.h"
#include "image/imagergb.h"
#include "image/imavolmask.h"
#include "io/io_auxiliar.h"

namespace vorada {
namespace io {

class ReadImage {
  public:
    /// Checks path and settles its format (FORMAT_UNKNOWN: determine it from the file).
    /// Throws VoradaFileNotFound, or VoradaFileError for a directory or a format contradiction.
    explicit ReadImage(const std::string& path, ImageFormat format = FORMAT_UNKNOWN);

    /// Reads the file into the container (resized to the file's width × height).
    template <typename Container>
    void read(Container& container) {
        _read(container);
    }

    /// 8-bit RGB.
    void _read(ImageRGB<unsigned char>& image);
    /// 16-bit RGB.
    void _read(ImageRGB<unsigned short>& image);
    /// 8-bit grey (Magick's intensity).
    void _read(ImageGray<unsigned char>& image);
    /// 16-bit grey (Magick's intensity).
    void _read(ImageGray<unsigned short>& image);
    /// A partition of 32-bit labels from a multi-array file; any other format throws
    /// VoradaError before the file is read.
    void _read(ImaVol<unsigned int, 1, 2>& partition);
    /// A mask from an 8-bit grey image: true where the grey value is not 0.
    void _read(ImaVolMask<2>& mask);
    /// YUV from an 8-bit RGB image (to_yuv).
    void _read(ImageYUV<unsigned char>& image);

    /// Width and height from the file's header alone, without decoding the pixels. Fails as a
    /// read does when the header cannot be read.
    void ping(std::size_t& width, std::size_t& height) const;

    /// The path given at opening.
    const std::string& path() const { return file_path; }
    /// The format settled at opening.
    ImageFormat format() const { return file_format; }

  private:
    template <typename T>
    void _read_rgb(ImageRGB<T>& image);
    template <typename T>
    void _read_gray(ImageGray<T>& image);

    std::string file_path;
    ImageFormat file_format = FORMAT_UNKNOWN;
};

/// The format a reader settles for a file with header format h, requested format r and
/// extension format e (x is the extension, used in the messages).
ImageFormat settle_read_format(const std::string& path,
                               ImageFormat header,
                               ImageFormat requested,
                               ImageFormat by_extension,
                               const std::string& extension);

}  // namespace io
}  // namespace vorada
