#include "image/imavol.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMAVOL(T) \
    template class ImaVol<T, 1, 2>;  \
    template class ImaVol<T, 3, 2>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMAVOL)
#undef VORADA_INSTANTIATE_IMAVOL

}  // namespace vorada
