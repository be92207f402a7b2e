#include "image/imageyiq.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGEYIQ(T) template class ImageYIQ<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGEYIQ)
#undef VORADA_INSTANTIATE_IMAGEYIQ

}  // namespace vorada
