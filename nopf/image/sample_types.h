#pragma once
// The nine sample types the image library is compiled for. Other types work as well; these are
// instantiated once, in the .cpp of each container family.

#include <tuple>

/// Calls MACRO(type) once for every sample type, in a fixed order.
#define VORADA_FOR_EACH_SAMPLE_TYPE(MACRO) \
    MACRO(unsigned char)                   \
    MACRO(unsigned short)                  \
    MACRO(unsigned int)                    \
    MACRO(unsigned long long)              \
    MACRO(char)                            \
    MACRO(short)                           \
    MACRO(int)                             \
    MACRO(long long)                       \
    MACRO(double)

namespace vorada {

/// The same nine types as a type list, for generic code and typed tests.
using SampleTypes = std::tuple<unsigned char,
                               unsigned short,
                               unsigned int,
                               unsigned long long,
                               char,
                               short,
                               int,
                               long long,
                               double>;

}  // namespace vorada
