#include "image/imageyuv.h"

namespace vorada {

template class ImageYUV<unsigned char>;
template class ImageYUV<unsigned short>;
template class ImageYUV<short>;
template class ImageYUV<long long>;
template class ImageYUV<double>;

}  // namespace vorada
