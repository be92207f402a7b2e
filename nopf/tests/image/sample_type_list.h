#pragma once
// The library's nine sample types as a GoogleTest type list.

#include <gtest/gtest.h>

#include <tuple>

#include "image/sample_types.h"

namespace vorada {
namespace testing {

template <typename Tuple>
struct TupleToTestTypes;
template <typename... Ts>
struct TupleToTestTypes<std::tuple<Ts...>> {
    using type = ::testing::Types<Ts...>;
};

using SampleTestTypes = TupleToTestTypes<SampleTypes>::type;

}  // namespace testing
}  // namespace vorada
