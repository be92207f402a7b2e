#include "image/multiarray.h"

namespace vorada {

#define VORADA_INSTANTIATE_MULTIARRAY(T) template class MultiArray<T, 2>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_MULTIARRAY)
#undef VORADA_INSTANTIATE_MULTIARRAY

}  // namespace vorada
