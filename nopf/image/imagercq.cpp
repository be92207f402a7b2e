#include "image/imagercq.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGERCQ(T) template class ImageRCQ<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGERCQ)
#undef VORADA_INSTANTIATE_IMAGERCQ

}  // namespace vorada
