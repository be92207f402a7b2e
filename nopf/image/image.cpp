#include "image/image.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGE(T) \
    template class Image<T, 1>;     \
    template class Image<T, 3>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGE)
#undef VORADA_INSTANTIATE_IMAGE

}  // namespace vorada
