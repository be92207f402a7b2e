#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "distance/motioncolordistancemodel.h"
#include "tests/descriptors/regions.h"

namespace {

using vorada::gma::Coordinate;
using vorada::gma::CueMap;
using vorada::gma::DescriptorManager;
using vorada::gma::Flow;
using vorada::gma::Video;
using vorada::testing::RegionForest;
using vorada::testing::TestTrajectory;
using Model = vorada::gma::MotionColorDistanceModel<Video, TestTrajectory, Flow, double>;

struct NoPartition {};

// A 6 x 2 video of 4 frames. Column x has colour (10x, 0, 0); flow (1, 0) in columns 0-2 and
// (0, 0) elsewhere; reliability 0.5 everywhere.
class MotionColorDistanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        parameters.flow = Flow(6, 2, 4);
        parameters.reliability_map = CueMap(6, 2, 4);
        for (long long t = 0; t < 4; ++t) {
            for (long long y = 0; y < 2; ++y) {
                for (long long x = 0; x < 6; ++x) {
                    video.at(x, y, t)[0] = 10.0 * static_cast<double>(x);
                    parameters.flow.at(x, y, t)[0] = x < 3 ? 1.0 : 0.0;
                    parameters.reliability_map.at(x, y, t)[0] = 0.5;
                }
            }
        }
        parameters.num_colors = 2;
        parameters.color_weight = 0.01;
        parameters.motion_weight = 2.0;
        parameters.area_weight = 0.25;
        manager.capacity = 16;
    }
    // A leaf holding column x in the given frames.
    TestTrajectory& column(long long x, long long first, long long last) {
        std::vector<Coordinate> points;
        for (long long t = first; t <= last; ++t) {
            points.emplace_back(x, 0, t);
            points.emplace_back(x, 1, t);
        }
        return forest.leaf(points);
    }
    double colour_distance(double ax, double bx) const {
        const double d = ax - bx;
        return static_cast<double>(static_cast<float>(1.0 - std::exp(-std::sqrt(0.01 * (d * d)))));
    }

    Video video{6, 2, 4};
    Model::Parameters parameters;
    RegionForest forest;
    DescriptorManager manager;
    NoPartition partition;
};

TEST_F(MotionColorDistanceTest, MotionTermIsTheLargestWeightedFrameDifference) {
    auto model = std::make_unique<Model>(parameters);
    auto& moving = column(0, 0, 2);
    auto& still = column(4, 1, 3);
    // Common frames 1 and 2; w = 0.5, D = |2·1 − 2·0| = 2.
    EXPECT_DOUBLE_EQ(model->motion_distance(moving, still, video, partition, manager),
                     1.0 - std::exp(-1.0));
    auto& also_moving = column(1, 0, 2);
    EXPECT_EQ(model->motion_distance(moving, also_moving, video, partition, manager), 0.0);
}

TEST_F(MotionColorDistanceTest, DisjointLifetimesHaveNoMotionTermAndNoMotionDescriptors) {
    auto model = std::make_unique<Model>(parameters);
    auto& early = column(0, 0, 1);
    auto& late = column(5, 2, 3);
    EXPECT_EQ(model->motion_distance(early, late, video, partition, manager), 0.0);
    EXPECT_EQ(manager.stored_count(), 0u);  // returned before asking for descriptors
    const double c = colour_distance(0, 50);
    EXPECT_DOUBLE_EQ(model->region_distance(early, late, video, partition, manager),
                     std::log(1.0 + 0.25 * 4.0) * (1.0 - (1.0 - 0.99 * c) * (1.0 - 0.99 * 0.0)));
}

TEST_F(MotionColorDistanceTest, CommonLifetimeOnlyInTheLastFrameGivesNoMotionTerm) {
    auto model = std::make_unique<Model>(parameters);
    auto& a = column(0, 1, 3);
    auto& b = column(4, 3, 3);
    EXPECT_EQ(model->motion_distance(a, b, video, partition, manager), 0.0);
}

TEST_F(MotionColorDistanceTest, FramesWhereOneRegionHasNoPointAreSkipped) {
    auto model = std::make_unique<Model>(parameters);
    // Region a spans frames 0-2 with no point in frame 1; b lives in frame 1 only.
    auto& a = forest.leaf({Coordinate(0, 0, 0), Coordinate(0, 0, 2)});
    auto& b = forest.leaf({Coordinate(4, 0, 1), Coordinate(4, 1, 1)});
    // Common frame 1 only, where a has no point.
    EXPECT_EQ(model->motion_distance(a, b, video, partition, manager), 0.0);
}

TEST_F(MotionColorDistanceTest, ZeroReliabilityCancelsAFrame) {
    for (long long y = 0; y < 2; ++y) {
        parameters.reliability_map.at(0, y, 1)[0] = 0.0;
    }
    auto model = std::make_unique<Model>(parameters);
    auto& a = column(0, 1, 1);
    auto& b = column(4, 1, 1);
    EXPECT_EQ(model->motion_distance(a, b, video, partition, manager), 0.0);
}

TEST_F(MotionColorDistanceTest, ZeroAreaWeightMakesEveryDistanceZero) {
    parameters.area_weight = 0.0;
    auto model = std::make_unique<Model>(parameters);
    auto& a = column(0, 0, 2);
    auto& b = column(5, 0, 2);
    EXPECT_EQ(model->region_distance(a, b, video, partition, manager), 0.0);
}

TEST_F(MotionColorDistanceTest, SameColourAndMotionGiveZeroWhateverTheAreas) {
    auto model = std::make_unique<Model>(parameters);
    for (long long t = 0; t < 4; ++t) {
        for (long long y = 0; y < 2; ++y) {
            video.at(4, y, t)[0] = 30.0;  // column 4 now looks like column 3
        }
    }
    auto& a = column(3, 0, 2);
    auto& b = column(4, 1, 1);
    EXPECT_EQ(model->region_distance(a, b, video, partition, manager), 0.0);
}

TEST_F(MotionColorDistanceTest, CombinesColourMotionAndAreaAsWritten) {
    auto model = std::make_unique<Model>(parameters);
    auto& a = column(0, 0, 2);  // 6 points
    auto& b = column(4, 1, 2);  // 4 points
    const double c = colour_distance(0, 40);
    const double m = 1.0 - std::exp(-1.0);
    EXPECT_DOUBLE_EQ(model->region_distance(a, b, video, partition, manager),
                     std::log(1.0 + 0.25 * 4.0) * (1.0 - (1.0 - 0.99 * c) * (1.0 - 0.99 * m)));
    // Merged regions draw on the children's cached descriptors.
    auto& c2 = column(5, 1, 2);
    auto& merged = forest.merge(b, c2);
    const double merged_distance = model->region_distance(a, merged, video, partition, manager);
    EXPECT_GT(merged_distance, 0.0);
    EXPECT_EQ(manager.calc_descriptor<vorada::gma::Area>(video, merged, {}), 8u);
}

TEST_F(MotionColorDistanceTest, ModelTakingTheParametersOverMeasuresAsOneThatCopiesThem) {
    auto copied = std::make_unique<Model>(parameters);
    auto& a = column(0, 0, 2);
    auto& b = column(4, 1, 3);
    const double expected = copied->region_distance(a, b, video, partition, manager);
    Model::Parameters handed = parameters;
    auto moved = std::make_unique<Model>(std::move(handed));
    EXPECT_TRUE(handed.flow.values.empty());
    EXPECT_TRUE(handed.reliability_map.values.empty());
    DescriptorManager other_manager;
    other_manager.capacity = 16;
    EXPECT_EQ(moved->region_distance(a, b, video, partition, other_manager), expected);
}

TEST_F(MotionColorDistanceTest, ModelKeepsItsOwnCopiesOfTheSignals) {
    auto model = std::make_unique<Model>(parameters);
    for (long long t = 0; t < 4; ++t) {
        for (long long y = 0; y < 2; ++y) {
            parameters.flow.at(0, y, t)[0] = 0.0;
        }
    }
    auto& a = column(0, 0, 2);
    auto& b = column(4, 0, 2);
    EXPECT_DOUBLE_EQ(model->motion_distance(a, b, video, partition, manager), 1.0 - std::exp(-1.0));
    EXPECT_NE(&model->flow, &parameters.flow);
}

// A merged region prepared by the model measures exactly like one seen by a fresh model and
// manager, even after the children's descriptors are released.
TEST_F(MotionColorDistanceTest, PreparedDescriptorsGiveTheSameDistancesAsFreshLookups) {
    auto& left = column(0, 0, 2);
    auto& right = column(1, 1, 3);
    auto& other = column(4, 0, 3);
    auto model = std::make_unique<Model>(parameters);
    const double before = model->region_distance(left, other, video, partition, manager);
    EXPECT_EQ(model->region_distance(left, other, video, partition, manager), before);

    auto& merged = forest.merge(left, right);
    model->prepare_descriptors(merged, video, manager);
    manager.release(left.label);
    manager.release(right.label);
    const double remembered = model->region_distance(merged, other, video, partition, manager);

    DescriptorManager fresh_manager;
    fresh_manager.capacity = 16;
    auto fresh_model = std::make_unique<Model>(parameters);
    EXPECT_EQ(fresh_model->region_distance(merged, other, video, partition, fresh_manager),
              remembered);
}

TEST_F(MotionColorDistanceTest, BoundNeverExceedsTheDistance) {
    auto model = std::make_unique<Model>(parameters);
    std::vector<TestTrajectory*> regions = {&column(0, 0, 3), &column(1, 1, 3), &column(2, 0, 1),
                                            &column(3, 0, 2), &column(4, 2, 3), &column(5, 0, 3)};
    regions.push_back(&forest.merge(*regions[0], *regions[3]));
    regions.push_back(&forest.merge(*regions[4], *regions[5]));
    for (auto* region : regions) {
        model->prepare_descriptors(*region, video, manager);
    }
    for (auto* a : regions) {
        for (auto* b : regions) {
            const double distance = model->region_distance(*a, *b, video, partition, manager);
            const double bound = model->region_distance_bound(*a, *b, video, partition, manager);
            EXPECT_LE(bound, distance) << a->label << " " << b->label;
            EXPECT_GE(bound, 0.0);
        }
    }
    // Without motion and with one colour each the bound misses only what pricing the ground
    // distance without the exponential takes off: at most 3 %.
    const double distance =
        model->region_distance(*regions[2], *regions[4], video, partition, manager);
    EXPECT_GE(model->region_distance_bound(*regions[2], *regions[4], video, partition, manager),
              0.97 * distance);
}

TEST_F(MotionColorDistanceTest, BoundsOffTheGridAndWithNegativeChannelsNeverExceedTheDistance) {
    for (long long t = 0; t < 4; ++t) {
        for (long long y = 0; y < 2; ++y) {
            for (long long x = 0; x < 6; ++x) {
                double* colour = video.at(x, y, t);
                colour[0] = 10.3 * static_cast<double>(x) + 0.017 * static_cast<double>(t);
                colour[1] = 40.0 + 3.7 * static_cast<double>(y);
                colour[2] = x == 5 ? -2.0 : 128.123;
            }
        }
    }
    auto model = std::make_unique<Model>(parameters);
    std::vector<TestTrajectory*> regions = {&column(0, 0, 3), &column(1, 1, 3), &column(2, 0, 1),
                                            &column(3, 0, 2), &column(4, 2, 3), &column(5, 0, 3)};
    regions.push_back(&forest.merge(*regions[0], *regions[3]));
    for (auto* region : regions) {
        model->prepare_descriptors(*region, video, manager);
    }
    for (auto* a : regions) {
        for (auto* b : regions) {
            const double distance = model->region_distance(*a, *b, video, partition, manager);
            const double bound = model->region_distance_bound(*a, *b, video, partition, manager);
            EXPECT_LE(bound, distance) << a->label << " " << b->label;
            // Colours 10 apart stay far apart in the bound.
            if (a != b && a != regions[6] && b != regions[6] && distance > 0 &&
                a->first_frame > b->last_frame) {
                EXPECT_GT(bound, 0.9 * distance);
            }
        }
    }
}

// Regions kept in a store indexed by label, as the tree's partition keeps them.
struct LabelledStore {
    std::vector<TestTrajectory> regions;
};

// Bounds of regions in such a store find the signatures by store position, without reading the
// regions; they equal the bounds found through the regions' labels.
TEST_F(MotionColorDistanceTest, BoundsByStorePositionEqualBoundsByLabel) {
    LabelledStore store;
    store.regions.reserve(4);
    for (long long x = 0; x < 4; ++x) {
        store.regions.emplace_back(static_cast<unsigned long long>(store.regions.size()));
        for (long long t = x % 2; t < 3; ++t) {
            store.regions.back().add_point(Coordinate(x + 1, 0, t));
        }
    }
    auto model = std::make_unique<Model>(parameters);
    for (auto& a : store.regions) {
        for (auto& b : store.regions) {
            const double by_label = model->region_distance_bound(a, b, video, partition, manager);
            EXPECT_EQ(model->region_distance_bound(a, b, video, store, manager), by_label);
            EXPECT_LE(by_label, model->region_distance(a, b, video, partition, manager));
        }
    }
    // A region outside the store is found by its label (4: the forest's first labels are taken).
    for (int i = 0; i < 4; ++i) {
        forest.leaf({});
    }
    auto& outside = column(5, 0, 3);
    ASSERT_EQ(outside.label, 4u);
    EXPECT_EQ(model->region_distance_bound(outside, store.regions[2], video, store, manager),
              model->region_distance_bound(outside, store.regions[2], video, partition, manager));
}

// A released region leaves nothing behind that a region stored after it could be mistaken for:
// its slot and pool runs go to the next region, and its own distances come out as before.
TEST_F(MotionColorDistanceTest, ReleasedRegionsAreMeasuredAfreshWhenTheirPlaceIsReused) {
    auto model = std::make_unique<Model>(parameters);
    auto& a = column(0, 0, 2);
    auto& other = column(4, 0, 3);
    const double before = model->region_distance(a, other, video, partition, manager);
    const std::size_t stored = manager.stored_count();
    manager.release(a.label);
    EXPECT_EQ(manager.stored_count(), stored - 2);  // its signature (with its area), its flow sums
    auto& b = column(2, 1, 3);                      // takes a's slot and runs
    const double b_distance = model->region_distance(b, other, video, partition, manager);
    EXPECT_EQ(model->region_distance(a, other, video, partition, manager), before);

    DescriptorManager fresh_manager;
    fresh_manager.capacity = 16;
    auto fresh_model = std::make_unique<Model>(parameters);
    EXPECT_EQ(fresh_model->region_distance(b, other, video, partition, fresh_manager), b_distance);
    EXPECT_EQ(manager.region_count(), 3u);
}

}  // namespace
