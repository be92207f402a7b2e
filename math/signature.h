#pragma once
// A weighted set of features: the colour summary of a region, compared by the Earth Mover's
// Distance.

#include <Eigen/Core>
#include <vector>

namespace vorada {
namespace math {

/// Features with one weight (mass) each, in the same order. The list types default to a plain
/// vector and a dynamic Eigen vector; the descriptor cache stores signatures with inline lists
/// (math/inlinevector.h) that hold the same values in the same order.
template <typename Feature,
          typename FeatureList = std::vector<Feature>,
          typename WeightList = Eigen::VectorXd>
struct Signature {
    using feature_type = Feature;

    FeatureList features;
    WeightList weights;
};

}  // namespace math
}  // namespace vorada
