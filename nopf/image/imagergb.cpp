#include "image/imagergb.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGERGB(T) template class ImageRGB<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGERGB)
#undef VORADA_INSTANTIATE_IMAGERGB

}  // namespace vorada
