#include "image/imageyuv420.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGEYUV420(T) template class ImageYUV420<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGEYUV420)
#undef VORADA_INSTANTIATE_IMAGEYUV420

}  // namespace vorada
