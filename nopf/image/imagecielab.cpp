#include "image/imagecielab.h"

namespace vorada {

template class ImageCIELab<unsigned char>;
template class ImageCIELab<unsigned short>;
template class ImageCIELab<short>;
template class ImageCIELab<long long>;
template class ImageCIELab<double>;

}  // namespace vorada
