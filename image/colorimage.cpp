#include "image/colorimage.h"

namespace vorada {

#define VORADA_INSTANTIATE_COLORIMAGE(T)        \
    template class ColorImage<T, yuv_space>;    \
    template class ColorImage<T, cielab_space>; \
    template class ColorImage<T, yiq_space>;    \
    template class ColorImage<T, riq_space>;    \
    template class ColorImage<T, rcq_space>;    \
    template class ColorImage<T, ruv_space>;
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_COLORIMAGE)
#undef VORADA_INSTANTIATE_COLORIMAGE

}  // namespace vorada
