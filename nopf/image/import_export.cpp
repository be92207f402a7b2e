#include "image/import_export.h"

namespace vorada {

#define VORADA_INSTANTIATE_IMPORT_EXPORT(T)                                                        \
    template void export_to<T, T>(const ImageRGB<T>&, T*, unsigned long long, ImportExportMode);   \
    template void import_from<T, T>(ImageRGB<T>&, const T*, unsigned long long, ImportExportMode); \
    template void export_to<T>(const ImageGray<T>&, T*, unsigned long long, ImportExportMode);     \
    template void import_from<T>(ImageGray<T>&, const T*, unsigned long long, ImportExportMode);   \
    template void export_to<T>(const ImageYUV422<T>&, T*, unsigned long long, ImportExportMode);   \
    template void import_from<T>(ImageYUV422<T>&, const T*, unsigned long long, ImportExportMode);
VORADA_FOR_EACH_SAMPLE_TYPE(VORADA_INSTANTIATE_IMPORT_EXPORT)
#undef VORADA_INSTANTIATE_IMPORT_EXPORT

template void export_to<unsigned char, double>(const ImageRGB<unsigned char>&,
                                               double*,
                                               unsigned long long,
                                               ImportExportMode);
template void import_from<unsigned char, double>(ImageRGB<unsigned char>&,
                                                 const double*,
                                                 unsigned long long,
                                                 ImportExportMode);

}  // namespace vorada
