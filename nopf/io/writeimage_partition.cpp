// Writing of partitions, Bayer samples, masks and YUV images: partitions and Bayer samples go
// to the library's multi-array files, masks and YUV images through grey and RGB images.
#include "common/errors.h"
#include "image/convert_colorspace.h"
#include "image/convert_types.h"
#include "image/imavolmask.h"
#include "io/writeimage.h"
#include "io/writemultiarray.h"

namespace vorada {
namespace io {

void WriteImage::_write(const ImaVol<unsigned int, 1, 2>& partition) {
    if (file_format != FORMAT_MULTIARRAY) {
        throw VoradaError("File format no supported to save a ImagePartition: use .prl");
    }
    WriteMultiArray writer(file_path, LabelCode);
    writer << partition.channels[0];
}

void WriteImage::_write(const MultiArray<unsigned char, 2>& samples) {
    if (file_format != FORMAT_MULTIARRAY) {
        throw VoradaError("File format no supported to save an ImageBayer: use .bay");
    }
    WriteMultiArray writer(file_path, Raw);
    writer << samples;
}

void WriteImage::_write(const ImaVol<bool, 1, 2>& mask) {
    const ImaVolMask<2> copy(mask);
    _write(convert(copy, static_cast<unsigned char>(255)));
}

void WriteImage::_write(const ImageYUV<unsigned char>& image) {
    _write(to_rgb(image));
}

}  // namespace io
}  // namespace vorada
