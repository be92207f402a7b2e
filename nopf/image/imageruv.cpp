#include "image/imageruv.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGERUV(T) template class ImageRUV<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGERUV)
#undef VORADA_INSTANTIATE_IMAGERUV

}  // namespace vorada
