#pragma once
// Image file formats, told by a file's extension or by its first bytes.

#include <string>

namespace vorada {
namespace io {

/// File formats; FORMAT_UNKNOWN also asks a reader to determine the format itself.
enum ImageFormat {
    FORMAT_JPG = 0,         ///< .jpg .jpeg; header FF D8
    FORMAT_PNG = 1,         ///< .png; header 89 50 4E 47 0D 0A 1A 0A
    FORMAT_TIFF = 2,        ///< .tiff .tif; header II 2A or MM 00 2A
    FORMAT_RAS = 3,         ///< .ras; any header not otherwise recognised
    FORMAT_BMP = 4,         ///< .bmp; header BM
    FORMAT_PNM = 5,         ///< .ppm .pgm; header P5 or P6
    FORMAT_MULTIARRAY = 6,  ///< .mult .prl .bay .bayer; header FF 00
    FORMAT_UNKNOWN = 7      ///< anything else, or a broken PNG or TIFF signature
};

/// The extension of path as the file system library defines it ("" when there is none).
std::string image_extension(const std::string& path);
/// The format named by the path's extension (case-sensitive); FORMAT_UNKNOWN when none matches.
ImageFormat get_image_format(const std::string& path);
/// The format told by the file's first bytes; reads only the bytes it needs.
ImageFormat get_image_format_from_header(const std::string& path);

}  // namespace io
}  // namespace vorada
