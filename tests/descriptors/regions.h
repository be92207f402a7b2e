#pragma once
// Small hand-built region trees for the descriptor tests.

#include <deque>
#include <vector>

#include "signals/region.h"
#include "signals/videosignal.h"

namespace vorada {
namespace testing {

using TestTrajectory = gma::Trajectory<gma::Video>;

/// Regions that never move once made, as in the partition's store.
class RegionForest {
  public:
    /// A leaf with the given points, labelled by its position.
    TestTrajectory& leaf(const std::vector<gma::Coordinate>& points) {
        regions.emplace_back(regions.size());
        for (const auto& p : points) {
            regions.back().add_point(p);
        }
        return regions.back();
    }
    /// The parent of first and second, with the frame span of both.
    TestTrajectory& merge(TestTrajectory& first, TestTrajectory& second) {
        regions.emplace_back(regions.size());
        TestTrajectory& parent = regions.back();
        parent._init(&first, &second);
        parent.first_frame = std::min(first.first_frame, second.first_frame);
        parent.last_frame = std::max(first.last_frame, second.last_frame);
        return parent;
    }
    std::size_t size() const { return regions.size(); }

  private:
    std::deque<TestTrajectory> regions;
};

}  // namespace testing
}  // namespace vorada
