#include "image/imagegray.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAGEGRAY(T) template class ImageGray<T>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAGEGRAY)
#undef VORADA_INSTANTIATE_IMAGEGRAY

}  // namespace vorada
