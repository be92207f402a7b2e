#include "math/emd.h"

#include <cstdio>

namespace vorada {
namespace math {
namespace optimization {
namespace detail {

void emd_warn_potentials() {
    std::fputs("emd: Unexpected error in findBasicVariables!\n", stderr);
    std::fputs("This typically happens when the 1e-10 defined in\n", stderr);
    std::fputs("emd.h is not right for the scale of the problem.\n", stderr);
}

}  // namespace detail

template class EMD<PerceptualDistance<Eigen::Vector3d>>;

}  // namespace optimization
}  // namespace math
}  // namespace vorada
