// Reading of partitions, masks and YUV images: partitions come from the library's multi-array
// files, masks and YUV images from grey and RGB images through Magick++.
#include "common/errors.h"
#include "image/convert_colorspace.h"
#include "image/convert_types.h"
#include "io/readimage.h"
#include "io/readmultiarray.h"

namespace vorada {
namespace io {

void ReadImage::_read(ImaVol<unsigned int, 1, 2>& partition) {
    if (file_format != FORMAT_MULTIARRAY) {
        throw VoradaError("Reading unsupported image type (unknown extension) for partitions");
    }
    // The reader changes the array only once the whole file has been decoded.
    ReadMultiArray reader(file_path);
    reader >> partition.channels[0];
}

void ReadImage::_read(ImaVolMask<2>& mask) {
    ImageGray<unsigned char> gray;
    _read(gray);
    mask = convert(gray);
}

void ReadImage::_read(ImageYUV<unsigned char>& image) {
    ImageRGB<unsigned char> rgb;
    _read(rgb);
    image = to_yuv(rgb);
}

}  // namespace io
}  // namespace vorada
