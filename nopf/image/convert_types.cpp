#include "image/convert_types.h"

namespace vorada {

namespace {

template <typename To, typename From>
void convert_channel(const MultiArray<From, 2>& source, MultiArray<To, 2>& target, To when_true) {
    target.resize(source.extent_list());
    typename MultiArray<To, 2>::Extents bases;
    std::copy(source.index_bases(), source.index_bases() + 2, bases.begin());
    target.reindex(bases);
    const From* in = source.data();
    To* out = target.data();
    for (std::size_t i = 0; i < source.num_elements(); ++i) {
        out[i] = in[i] != From(0) ? when_true : To(0);
    }
}

}  // namespace

ImaVolMask<2> convert(const ImageGray<unsigned char>& image) {
    ImaVolMask<2> mask;
    convert_channel(image.channels[0], mask.channels[0], true);
    return mask;
}

ImageGray<unsigned char> convert(const ImaVolMask<2>& mask, unsigned char value) {
    ImageGray<unsigned char> image;
    convert_channel(mask.channels[0], image.channels[0], value);
    return image;
}

#define VORADA_CONVERT_IMAVOL(TO, FROM, C, D) \
    template ImaVol<TO, C, D> convert<TO, FROM, C, D>(const ImaVol<FROM, C, D>&);
#define VORADA_CONVERT_MULTIARRAY(TO, FROM, D) \
    template MultiArray<TO, D> convert<TO, FROM, D>(const MultiArray<FROM, D>&);
#include "image/convert_types_list.h"
#undef VORADA_CONVERT_IMAVOL
#undef VORADA_CONVERT_MULTIARRAY

}  // namespace vorada
