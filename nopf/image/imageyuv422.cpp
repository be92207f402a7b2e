#include "image/imageyuv422.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGEYUV422(T) template class ImageYUV422<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGEYUV422)
#undef VORADA_INSTANTIATE_IMAGEYUV422

}  // namespace vorada
