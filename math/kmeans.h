#pragma once
// k-means clustering of colour values with farthest-first seeding. Used when a region has more
// distinct colours than its signature may keep.

#include <Eigen/Core>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vorada {
namespace math {
namespace statistics {

/// Clusters points into K groups; results in `centroids` and `weights` (fraction of points).
template <typename Feature>
class KMeans {
  public:
    /// Threshold on the relative change of the cost; a negative value becomes 0.001.
    double epsilon = 0.001;
    unsigned long long max_iterations = 500;
    std::vector<Feature> centroids;
    Eigen::VectorXd weights;
    /// -1 when clustering was asked for at least as many clusters as points (or none).
    double status = 0;

    KMeans() = default;
    KMeans(double stop_epsilon, unsigned long long iteration_limit)
        : epsilon(stop_epsilon), max_iterations(iteration_limit) {}

    /// Clusters `points` into k groups. With k >= number of points, or k = 0, only sets
    /// `status` to -1 and leaves the results as they were.
    void calculate(const std::vector<Feature>& points, unsigned int k);

  private:
    void _seed(const std::vector<Feature>& points);
    double _assign(const std::vector<Feature>& points, std::vector<std::size_t>& labels) const;
    void _update(const std::vector<Feature>& points, const std::vector<std::size_t>& labels);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename Feature>
void KMeans<Feature>::calculate(const std::vector<Feature>& points, unsigned int k) {
    // k = 0 would leave no cluster for the first seed; it is refused like k >= n.
    if (k == 0 || k >= points.size()) {
        status = -1;
        return;
    }
    centroids.assign(k, Feature::Zero());
    weights = Eigen::VectorXd::Zero(k);
    std::vector<std::size_t> labels(points.size(), 0);
    _seed(points);
    if (epsilon < 0) {
        epsilon = 0.001;
    }
    double previous_cost = 0;
    for (unsigned long long j = 0;; ++j) {
        const double cost = _assign(points, labels);
        // Never stops after the first assignment; with a previous cost of 0 the ratio is
        // infinite or undefined and the comparison fails, so only the iteration limit stops.
        if (j > 0 &&
            (epsilon > std::fabs(previous_cost - cost) / previous_cost || j >= max_iterations)) {
            break;
        }
        _update(points, labels);
        previous_cost = cost;
    }
}

template <typename Feature>
void KMeans<Feature>::_seed(const std::vector<Feature>& points) {
    const std::size_t n = points.size();
    std::vector<char> taken(n, 0);
    auto take_equal = [&](const Feature& centroid) {
        for (std::size_t p = 0; p < n; ++p) {
            if (points[p] == centroid) {
                taken[p] = 1;
            }
        }
    };
    // First seed: the point of largest norm; ties keep the earlier point.
    std::size_t candidate = 0;
    double largest = 0;
    for (std::size_t p = 0; p < n; ++p) {
        const double norm = points[p].norm();
        if (norm > largest) {
            largest = norm;
            candidate = p;
        }
    }
    centroids[0] = points[candidate];
    take_equal(centroids[0]);
    // Farthest first: the free point whose nearest seed is farthest; ties keep the earlier one.
    for (std::size_t c = 1; c < centroids.size(); ++c) {
        candidate = 0;
        double farthest = 0;
        for (std::size_t p = 0; p < n; ++p) {
            if (taken[p]) {
                continue;
            }
            double nearest = 1e100;
            for (std::size_t q = 0; q < c; ++q) {
                const double distance = (points[p] - centroids[q]).norm();
                if (distance < nearest) {
                    nearest = distance;
                }
            }
            if (nearest > farthest) {
                farthest = nearest;
                candidate = p;
            }
        }
        centroids[c] = points[candidate];
        take_equal(centroids[c]);
    }
}

template <typename Feature>
double KMeans<Feature>::_assign(const std::vector<Feature>& points,
                                std::vector<std::size_t>& labels) const {
    double cost = 0;
    for (std::size_t p = 0; p < points.size(); ++p) {
        double best = 1e10;
        for (std::size_t c = 0; c < centroids.size(); ++c) {
            const double distance = (points[p] - centroids[c]).norm();
            // Ties go to the earlier centroid.
            if (distance < best) {
                best = distance;
                labels[p] = c;
            }
        }
        cost += best;
    }
    return cost;
}

template <typename Feature>
void KMeans<Feature>::_update(const std::vector<Feature>& points,
                              const std::vector<std::size_t>& labels) {
    const std::size_t k = centroids.size();
    std::vector<Feature> sums(k, Feature::Zero());
    std::vector<unsigned long long> members(k, 0);
    for (std::size_t p = 0; p < points.size(); ++p) {
        sums[labels[p]] += points[p];
        ++members[labels[p]];
    }
    const double n = static_cast<double>(points.size());
    for (std::size_t c = 0; c < k; ++c) {
        // An empty cluster moves to the zero colour and keeps a weight of one point.
        const double m = static_cast<double>(members[c]);
        centroids[c] = sums[c] * (members[c] == 0 ? 1.0 : 1.0 / m);
        weights(static_cast<Eigen::Index>(c)) = (members[c] == 0 ? 1.0 : m) / n;
    }
}

}  // namespace statistics
}  // namespace math
}  // namespace vorada
