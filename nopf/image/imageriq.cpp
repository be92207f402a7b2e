#include "image/imageriq.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGERIQ(T) template class ImageRIQ<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGERIQ)
#undef VORADA_INSTANTIATE_IMAGERIQ

}  // namespace vorada
