#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>

#include "distance/colorspaceconverter.h"
#include "tools/synthetic/synthetic.h"
#include "tracking/trajectorytracking.h"

namespace {

using vorada::gma::Coordinate;
using vorada::gma::CueMap;
using vorada::gma::Flow;
using vorada::gma::LabelVolume;
using vorada::gma::Video;
using Tracker = vorada::gma::TrajectoryTracking<Video, Flow, LabelVolume>;
using Position = Tracker::Position;

const double nan_value = std::numeric_limits<double>::quiet_NaN();

// A lightness pattern of 2x2 blocks: every central difference crosses a block edge, so the
// gradient is non-zero in x and y at every pixel.
Video checkerboard(long long X, long long Y, long long T) {
    Video video(X, Y, T);
    for (long long t = 0; t < T; ++t) {
        for (long long y = 0; y < Y; ++y) {
            for (long long x = 0; x < X; ++x) {
                video.at(x, y, t)[0] = ((x / 2 + y / 2) % 2 == 0) ? 20.0 : 80.0;
            }
        }
    }
    video.color_space = CIELab;
    return video;
}

void set_flow(Flow& flow, long long x, long long y, long long t, double u, double v) {
    flow.at(x, y, t)[0] = u;
    flow.at(x, y, t)[1] = v;
}

void fill_flow(Flow& flow, double u, double v) {
    for (std::size_t i = 0; i < flow.values.size(); i += 2) {
        flow.values[i] = u;
        flow.values[i + 1] = v;
    }
}

double map_at(const CueMap& map, long long x, long long y, long long t) {
    return map.at(x, y, t)[0];
}

bool on_border(const Coordinate& size, long long x, long long y) {
    return x == 0 || y == 0 || x == size(0) - 1 || y == size(1) - 1;
}

// ---------------------------------------------------------------------------------------------
// Bilinear sampling

class InterpolateValue : public ::testing::Test {
  protected:
    // Channel 0 = x + 10y + 100t, channel 1 = 2x - y: linear, so sampling reproduces it exactly.
    InterpolateValue() : flow(4, 3, 2), tracker(4, 3, 2) {
        vorada::gma::for_each_point(flow, [&](long long x, long long y, long long t) {
            set_flow(flow, x, y, t, double(x + 10 * y + 100 * t), double(2 * x - y));
        });
    }
    Tracker::FlowValue sample(double x, double y, double t) {
        Position p(x, y, t);
        return tracker.interpolate_value(flow, p);
    }
    Flow flow;
    Tracker tracker;
};

TEST_F(InterpolateValue, ReproducesALinearFieldInsideAFrame) {
    const auto value = sample(1.25, 0.5, 1.0);
    EXPECT_NEAR(value(0), 1.25 + 5.0 + 100.0, 1e-12);
    EXPECT_NEAR(value(1), 2.5 - 0.5, 1e-12);
}

TEST_F(InterpolateValue, ReadsOnlyTheTruncatedFrame) {
    const auto value = sample(2.0, 1.0, 0.9);
    EXPECT_EQ(value(0), 12.0);
    EXPECT_EQ(value(1), 3.0);
}

TEST_F(InterpolateValue, OutsideTheDomainIsZeroAndTheUpperCornerIsInside) {
    for (const Position& p : {Position(-0.01, 1, 0), Position(3.01, 1, 0), Position(1, -0.5, 0),
                              Position(1, 2.5, 0), Position(1, 1, -0.1), Position(1, 1, 1.5),
                              Position(nan_value, 1, 0), Position(1, 1, nan_value)}) {
        Position position = p;
        EXPECT_EQ(tracker.interpolate_value(flow, position), Tracker::FlowValue::Zero())
            << position.transpose();
    }
    const auto corner = sample(3.0, 2.0, 1.0);
    EXPECT_EQ(corner(0), 123.0);
    EXPECT_EQ(corner(1), 4.0);
}

TEST_F(InterpolateValue, NeverReadsPastTheLastColumnOrRow) {
    // (4, 1, 0) would alias (0, 2, 0) in memory and (1, 3, 0) would alias (1, 0, 1): poison them.
    set_flow(flow, 0, 2, 0, nan_value, nan_value);
    set_flow(flow, 1, 0, 1, nan_value, nan_value);
    const auto right = sample(3.0, 1.0, 0.0);
    EXPECT_EQ(right(0), 13.0);
    EXPECT_EQ(right(1), 5.0);
    const auto bottom = sample(1.0, 2.0, 0.0);
    EXPECT_EQ(bottom(0), 21.0);
    EXPECT_EQ(bottom(1), 0.0);
}

// ---------------------------------------------------------------------------------------------
// Occlusion and flow variation

TEST(CalculateFlowVariation, ZeroFlowIsReliableInsideAndZeroOnBorderAndLastFrame) {
    Tracker tracker(6, 5, 3);
    Flow forward(6, 5, 3), backward(6, 5, 3);
    tracker.calculate_flow_variation(forward, backward);
    vorada::gma::for_each_point(forward, [&](long long x, long long y, long long t) {
        const double expected = (on_border(forward.size, x, y) || t == 2) ? 0.0 : 1.0;
        ASSERT_EQ(map_at(tracker.occlusion_map, x, y, t), expected) << x << "," << y << "," << t;
        ASSERT_EQ(map_at(tracker.flow_variation_map, x, y, t), expected);
    });
}

TEST(CalculateFlowVariation, OneFrameGivesZeroEverywhere) {
    Tracker tracker(4, 4, 1);
    Flow forward(4, 4, 1), backward(4, 4, 1);
    tracker.calculate_flow_variation(forward, backward);
    for (std::size_t i = 0; i < tracker.occlusion_map.values.size(); ++i) {
        EXPECT_EQ(tracker.occlusion_map.values[i], 0.0);
        EXPECT_EQ(tracker.flow_variation_map.values[i], 0.0);
    }
}

TEST(CalculateFlowVariation, OcclusionFollowsTheClosedForm) {
    Tracker tracker(6, 5, 3);
    Flow forward(6, 5, 3), backward(6, 5, 3);
    const double u = 0.6, v = -0.3, norm2 = u * u + v * v;
    fill_flow(forward, u, v);
    tracker.calculate_flow_variation(forward, backward);
    // Backward flow zero at the landing point.
    EXPECT_NEAR(map_at(tracker.occlusion_map, 2, 2, 0), std::exp(-norm2 / (0.02 * norm2 + 0.5)),
                1e-15);
    // A backward flow that exactly undoes the forward flow.
    fill_flow(backward, -u, -v);
    tracker.calculate_flow_variation(forward, backward);
    EXPECT_EQ(map_at(tracker.occlusion_map, 2, 2, 0), 1.0);
    EXPECT_EQ(map_at(tracker.flow_variation_map, 2, 2, 0), 1.0);
}

TEST(CalculateFlowVariation, LandingLeftOfTheFrameSamplesNoBackwardFlow) {
    // From (1, 2, 0) the point lands at x = -0.3: pixel 0 is inside, but the landing point is
    // outside the backward flow, so its (consistent) value must not be used.
    Tracker tracker(6, 5, 2);
    Flow forward(6, 5, 2), backward(6, 5, 2);
    set_flow(forward, 1, 2, 0, -1.3, 0.0);
    fill_flow(backward, 1.3, 0.0);
    tracker.calculate_flow_variation(forward, backward);
    const double norm2 = 1.3 * 1.3;
    EXPECT_NEAR(map_at(tracker.occlusion_map, 1, 2, 0), std::exp(-norm2 / (0.02 * norm2 + 0.5)),
                1e-15);
}

TEST(CalculateFlowVariation, DerivativesAtTheBorderReadTheNearestPixelInside) {
    // u = 0.05 x: the central difference is 0.05 inside and 0.025 at the border, where the
    // sample beyond the frame reads the border pixel itself.
    const long long X = 8, Y = 5;
    Tracker tracker(X, Y, 3);
    Flow forward(X, Y, 3), backward(X, Y, 3);
    vorada::gma::for_each_point(forward, [&](long long x, long long y, long long t) {
        set_flow(forward, x, y, t, 0.05 * double(x), 0.0);
    });
    tracker.calculate_flow_variation(forward, backward);
    for (long long x = 1; x < X - 1; ++x) {
        const double w = 0.05 * double(x);
        const long long landing = std::lround(double(x) + w);
        const double ux = (landing == X - 1) ? 0.025 : 0.05;
        EXPECT_NEAR(map_at(tracker.flow_variation_map, x, 2, 0),
                    std::exp(-(ux * ux) / (0.01 * w * w + 0.002)), 1e-12)
            << "x = " << x;
    }
    // A flow that is non-constant in y gives a lower value than a constant one.
    EXPECT_LT(map_at(tracker.flow_variation_map, 3, 2, 0), 1.0);
}

TEST(CalculateFlowVariation, NonFiniteFlowGivesUnreliableFiniteValues) {
    Tracker tracker(6, 5, 3);
    Flow forward(6, 5, 3), backward(6, 5, 3);
    set_flow(forward, 2, 2, 0, std::numeric_limits<double>::infinity(), 0.0);
    set_flow(forward, 3, 2, 0, nan_value, 0.0);
    set_flow(backward, 2, 2, 1, nan_value, nan_value);
    set_flow(forward, 3, 3, 1, 1e308, 1e308);
    tracker.calculate_flow_variation(forward, backward);
    for (const CueMap* map : {&tracker.occlusion_map, &tracker.flow_variation_map}) {
        for (double value : map->values) {
            ASSERT_TRUE(value >= 0.0 && value <= 1.0) << value;
        }
    }
    EXPECT_EQ(map_at(tracker.occlusion_map, 2, 2, 0), 0.0);
    EXPECT_EQ(map_at(tracker.occlusion_map, 3, 2, 0), 0.0);
}

// ---------------------------------------------------------------------------------------------
// Structure

// Straightforward structure measure: every window sample reads L with x and y clamped into the
// frame; float accumulation with dx outer and dy inner.
float reference_lambda(const Video& video, long long x, long long y, long long t) {
    const long long X = video.size(0), Y = video.size(1);
    auto L = [&](long long px, long long py, long long pt) {
        px = std::min(std::max(px, 0LL), X - 1);
        py = std::min(std::max(py, 0LL), Y - 1);
        return video.at(px, py, pt)[0];
    };
    Eigen::Matrix3f M = Eigen::Matrix3f::Zero();
    for (int dx = -2; dx <= 2; ++dx) {
        for (int dy = -2; dy <= 2; ++dy) {
            const float g = static_cast<float>(std::exp(-double(dx * dx + dy * dy)));
            const long long px = x + dx, py = y + dy;
            const float G[3] = {static_cast<float>(0.5 * (L(px + 1, py, t) - L(px - 1, py, t))),
                                static_cast<float>(0.5 * (L(px, py + 1, t) - L(px, py - 1, t))),
                                static_cast<float>(L(px, py, t + 1) - L(px, py, t))};
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    M(i, j) += (g * G[i]) * G[j];
                }
            }
        }
    }
    return Eigen::SelfAdjointEigenSolver<Eigen::Matrix3f>(M).eigenvalues()(1);
}

TEST(CalculateStructureTensor, MatchesAStraightforwardWindowSum) {
    const long long X = 9, Y = 7, T = 3;
    Video video(X, Y, T);
    std::mt19937 generator(5);
    for (std::size_t i = 0; i < video.values.size(); i += 3) {
        video.values[i] = static_cast<double>(generator() % 10000) / 100.0;
    }
    Tracker tracker(X, Y, T);
    tracker.calculate_structure_tensor(video);
    ASSERT_EQ(tracker.structure_frame_means.size(), 2u);
    for (long long t = 0; t < T - 1; ++t) {
        double sum = 0.0;
        for (long long y = 1; y < Y - 1; ++y) {
            for (long long x = 1; x < X - 1; ++x) {
                sum += static_cast<double>(reference_lambda(video, x, y, t));
            }
        }
        const double mean = sum / double((X - 2) * (Y - 2));
        EXPECT_EQ(tracker.structure_frame_means[t], mean);
        for (long long y = 0; y < Y; ++y) {
            for (long long x = 0; x < X; ++x) {
                const double m =
                    on_border(video.size, x, y) ? 0.0 : double(reference_lambda(video, x, y, t));
                ASSERT_EQ(map_at(tracker.structure_tensor_map, x, y, t), 1.0 - std::exp(-m / mean))
                    << x << "," << y << "," << t;
            }
        }
    }
    for (long long y = 0; y < Y; ++y) {
        for (long long x = 0; x < X; ++x) {
            EXPECT_EQ(map_at(tracker.structure_tensor_map, x, y, T - 1), 0.0);
        }
    }
}

TEST(CalculateStructureTensor, ConstantFrameHasNoStructure) {
    Video video(7, 6, 3);
    for (std::size_t i = 0; i < video.values.size(); i += 3) {
        video.values[i] = 42.0;
    }
    Tracker tracker(7, 6, 3);
    tracker.calculate_structure_tensor(video);
    ASSERT_EQ(tracker.structure_frame_means.size(), 2u);
    EXPECT_EQ(tracker.structure_frame_means[0], 0.0);
    for (double value : tracker.structure_tensor_map.values) {
        ASSERT_EQ(value, 0.0);
    }
}

TEST(CalculateStructureTensor, CheckerboardHasStructureInsideOnly) {
    const long long X = 10, Y = 8, T = 3;
    Video video = checkerboard(X, Y, T);
    Tracker tracker(X, Y, T);
    tracker.calculate_structure_tensor(video);
    EXPECT_GT(tracker.structure_frame_means[0], 0.0);
    vorada::gma::for_each_point(video, [&](long long x, long long y, long long t) {
        const double value = map_at(tracker.structure_tensor_map, x, y, t);
        if (on_border(video.size, x, y) || t == T - 1) {
            ASSERT_EQ(value, 0.0);
        } else {
            ASSERT_GT(value, 0.3) << x << "," << y << "," << t;
            ASSERT_LT(value, 1.0);
        }
    });
}

TEST(CalculateStructureTensor, ARampHasStructureInOneDirectionOnly) {
    // L grows along x only: the tensor has rank one away from the frame edge, so the middle
    // eigenvalue there is (close to) zero and tracking is refused.
    const long long X = 12, Y = 12, T = 2;
    Video video(X, Y, T);
    vorada::gma::for_each_point(video, [&](long long x, long long y, long long t) {
        video.at(x, y, t)[0] = 5.0 * double(x);
    });
    Tracker tracker(X, Y, T);
    tracker.calculate_structure_tensor(video);
    for (long long y = 3; y < Y - 3; ++y) {
        for (long long x = 3; x < X - 3; ++x) {
            EXPECT_LT(map_at(tracker.structure_tensor_map, x, y, 0), 0.01);
        }
    }
}

TEST(CalculateStructureTensor, TinyFramesAndSingleFramesStayZero) {
    for (const Coordinate& size : {Coordinate(2, 5, 3), Coordinate(5, 1, 2), Coordinate(5, 5, 1)}) {
        Video video(size(0), size(1), size(2));
        std::mt19937 generator(1);
        for (double& value : video.values) {
            value = double(generator() % 100);
        }
        Tracker tracker(size);
        tracker.calculate_structure_tensor(video);
        EXPECT_EQ(tracker.structure_frame_means.size(), static_cast<std::size_t>(size(2) - 1));
        for (double value : tracker.structure_tensor_map.values) {
            ASSERT_EQ(value, 0.0);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Tracking

TEST(TrajectoryTracking, OneFrameGivesOnePixelTrajectoriesInRasterOrder) {
    Video video = checkerboard(5, 4, 1);
    Flow forward(5, 4, 1), backward(5, 4, 1);
    Tracker tracker(video.size);
    const LabelVolume labels = tracker.calculate(video, forward, backward);
    for (std::size_t i = 0; i < labels.values.size(); ++i) {
        ASSERT_EQ(labels.values[i], i + 1);
    }
}

TEST(TrajectoryTracking, ZeroFlowWithStructureRunsStraightToTheLastButOneFrame) {
    const long long X = 10, Y = 8, T = 5;
    Video video = checkerboard(X, Y, T);
    Flow forward(X, Y, T), backward(X, Y, T);
    Tracker tracker(video.size);
    const LabelVolume labels = tracker.calculate(video, forward, backward);
    std::set<unsigned long long> last_frame;
    for (long long y = 0; y < Y; ++y) {
        for (long long x = 0; x < X; ++x) {
            const unsigned long long first = *labels.at(x, y, 0);
            for (long long t = 1; t < T - 1; ++t) {
                if (on_border(video.size, x, y)) {
                    ASSERT_NE(*labels.at(x, y, t), first);
                } else {
                    ASSERT_EQ(*labels.at(x, y, t), first) << x << "," << y << "," << t;
                }
            }
            ASSERT_NE(*labels.at(x, y, T - 1), first);
            last_frame.insert(*labels.at(x, y, T - 1));
        }
    }
    // Every last-frame pixel is a trajectory of its own.
    EXPECT_EQ(last_frame.size(), static_cast<std::size_t>(X * Y));
    // Reliability is the pixelwise minimum of the three cues.
    EXPECT_EQ(map_at(tracker.reliability_map, 4, 4, 1),
              std::min({map_at(tracker.flow_variation_map, 4, 4, 1),
                        map_at(tracker.occlusion_map, 4, 4, 1),
                        map_at(tracker.structure_tensor_map, 4, 4, 1)}));
    EXPECT_EQ(map_at(tracker.reliability_map, 0, 4, 1), 0.0);
}

TEST(TrajectoryTracking, TheEarlierSeedKeepsAPixelWherePathsMeet) {
    const long long X = 10, Y = 8, T = 3;
    Video video = checkerboard(X, Y, T);
    Flow forward(X, Y, T), backward(X, Y, T);
    set_flow(forward, 2, 3, 0, 1.0, 0.0);   // seeded first in raster order
    set_flow(forward, 4, 3, 0, -1.0, 0.0);  // lands on the same pixel (3, 3, 1)
    Tracker tracker(video.size);
    const LabelVolume labels = tracker.calculate(video, forward, backward);
    const unsigned long long a = *labels.at(2, 3, 0), b = *labels.at(4, 3, 0);
    EXPECT_LT(a, b);
    EXPECT_EQ(*labels.at(3, 3, 1), a);
    for (long long y = 0; y < Y; ++y) {
        for (long long x = 0; x < X; ++x) {
            for (long long t = 1; t < T; ++t) {
                ASSERT_NE(*labels.at(x, y, t), b);
            }
        }
    }
    // Nobody reached (4, 3, 1): it starts a trajectory after every one of frame 0.
    EXPECT_GT(*labels.at(4, 3, 1), static_cast<unsigned long long>(X * Y));
}

TEST(TrajectoryTracking, StepsOntoOrPastTheLeftBorderEndTheTrajectory) {
    const long long X = 8, Y = 6, T = 3;
    Video video = checkerboard(X, Y, T);
    Flow forward(X, Y, T), backward(X, Y, T);
    set_flow(forward, 1, 2, 0, -1.4, 0.0);  // x = -0.4 rounds to the border pixel 0
    set_flow(forward, 1, 3, 0, -1.6, 0.0);  // x = -0.6 rounds to -1, outside the volume
    Tracker tracker(video.size);
    const LabelVolume labels = tracker.calculate(video, forward, backward);
    for (long long y : {2LL, 3LL}) {
        const unsigned long long label = *labels.at(1, y, 0);
        std::size_t count = 0;
        for (unsigned long long value : labels.values) {
            count += (value == label) ? 1 : 0;
        }
        EXPECT_EQ(count, 1u) << "row " << y;
    }
}

TEST(TrajectoryTracking, SubPixelMotionAccumulatesAlongATrajectory) {
    // 0.4 pixels a frame: rounding every step would never move; the unrounded position reaches
    // x = 2.8 -> 3 in frame 2.
    const long long X = 10, Y = 8, T = 5;
    Video video = checkerboard(X, Y, T);
    Flow forward(X, Y, T), backward(X, Y, T);
    fill_flow(forward, 0.4, 0.0);
    fill_flow(backward, -0.4, 0.0);
    Tracker tracker(video.size);
    const LabelVolume labels = tracker.calculate(video, forward, backward);
    const unsigned long long label = *labels.at(2, 3, 0);
    EXPECT_EQ(*labels.at(2, 3, 1), label);  // 2.4
    EXPECT_EQ(*labels.at(3, 3, 2), label);  // 2.8
    EXPECT_EQ(*labels.at(3, 3, 3), label);  // 3.2
}

TEST(TrajectoryTracking, CuesAreReadAtThePixelSteppedOnto) {
    // Zero forward flow. Column 2: the backward flow into frame 2 disagrees, which spoils the
    // occlusion cue of (2, 3, 1). Column 5: the forward flow of frame 2 varies around (5, 3),
    // which spoils the flow-variation cue of (5, 3, 1). Column 7: the backward flow into frame 1
    // disagrees, which spoils only the cue of the starting pixel (7, 5, 0).
    const long long X = 10, Y = 8, T = 4;
    Video video = checkerboard(X, Y, T);
    Flow forward(X, Y, T), backward(X, Y, T);
    set_flow(backward, 2, 3, 2, 2.0, 0.0);
    set_flow(forward, 6, 3, 2, 0.0, 1.0);
    set_flow(forward, 4, 3, 2, 0.0, -1.0);
    set_flow(backward, 7, 5, 1, 2.0, 0.0);
    Tracker tracker(video.size);
    const LabelVolume labels = tracker.calculate(video, forward, backward);
    EXPECT_LT(map_at(tracker.occlusion_map, 2, 3, 1), std::exp(-1.0));
    EXPECT_LT(map_at(tracker.flow_variation_map, 5, 3, 1), std::exp(-1.0));
    EXPECT_NE(*labels.at(2, 3, 1), *labels.at(2, 3, 0));
    EXPECT_NE(*labels.at(5, 3, 1), *labels.at(5, 3, 0));
    EXPECT_LT(map_at(tracker.occlusion_map, 7, 5, 0), std::exp(-1.0));
    EXPECT_EQ(*labels.at(7, 5, 1), *labels.at(7, 5, 0));
    EXPECT_EQ(*labels.at(7, 5, 2), *labels.at(7, 5, 0));
}

TEST(TrajectoryTracking, WeakStructureStopsATrajectory) {
    // Frame 1 is flat in a block around (4, 4): no structure to track onto.
    const long long X = 10, Y = 10, T = 3;
    Video video = checkerboard(X, Y, T);
    for (long long y = 1; y < 8; ++y) {
        for (long long x = 1; x < 8; ++x) {
            video.at(x, y, 1)[0] = 50.0;
            video.at(x, y, 2)[0] = 50.0;
        }
    }
    Flow forward(X, Y, T), backward(X, Y, T);
    Tracker tracker(video.size);
    const LabelVolume labels = tracker.calculate(video, forward, backward);
    EXPECT_LT(map_at(tracker.structure_tensor_map, 4, 4, 1), 0.3);
    EXPECT_NE(*labels.at(4, 4, 1), *labels.at(4, 4, 0));
    EXPECT_GE(map_at(tracker.structure_tensor_map, 4, 4, 0), 0.3);
}

TEST(TrajectoryTracking, RejectsInputsOfAnotherSize) {
    Video video = checkerboard(6, 5, 2);
    Flow forward(6, 5, 2), backward(6, 4, 2);
    Tracker tracker(video.size);
    EXPECT_THROW(tracker.calculate(video, forward, backward), vorada::VoradaError);
}

class TrackingOnSyntheticVideo : public ::testing::TestWithParam<unsigned> {};

TEST_P(TrackingOnSyntheticVideo, LabelsAreDenseChainsAndMapsStayInRange) {
    auto synthetic = vorada::synthetic::make_synthetic(
        vorada::synthetic::random_options(40, 30, 6, 3, GetParam()));
    vorada::gma::ColorSpaceConverter<Video>().convert(synthetic.video, CIELab);
    Tracker tracker(synthetic.video.size);
    const LabelVolume labels =
        tracker.calculate(synthetic.video, synthetic.forward_flow, synthetic.backward_flow);

    for (const CueMap* map : {&tracker.reliability_map, &tracker.occlusion_map,
                              &tracker.flow_variation_map, &tracker.structure_tensor_map}) {
        for (double value : map->values) {
            ASSERT_TRUE(std::isfinite(value) && value >= 0.0 && value <= 1.0) << value;
        }
    }
    // Labels start at 1 in raster order of first appearance, without gaps; each trajectory has
    // one pixel per frame in consecutive frames and moves at most a few pixels a step.
    std::map<unsigned long long, Coordinate> last_pixel;
    unsigned long long next = 1;
    vorada::gma::for_each_point(labels, [&](long long x, long long y, long long t) {
        const unsigned long long label = *labels.at(x, y, t);
        auto found = last_pixel.find(label);
        if (found == last_pixel.end()) {
            ASSERT_EQ(label, next);
            ++next;
        } else {
            ASSERT_EQ(found->second(2), t - 1) << "label " << label;
            ASSERT_LE(std::abs(found->second(0) - x), 3);
            ASSERT_LE(std::abs(found->second(1) - y), 3);
        }
        last_pixel[label] = Coordinate(x, y, t);
    });
    EXPECT_LT(next - 1, labels.values.size());  // some trajectories were followed
}

TEST_P(TrackingOnSyntheticVideo, MapsAndLabelsDoNotDependOnTheThreadCount) {
    auto synthetic = vorada::synthetic::make_synthetic(
        vorada::synthetic::random_options(40, 30, 6, 3, GetParam()));
    vorada::gma::ColorSpaceConverter<Video>().convert(synthetic.video, CIELab);
    Tracker alone(synthetic.video.size);
    Tracker shared(synthetic.video.size);
    alone.threads = 1;
    shared.threads = 4;
    const LabelVolume labels =
        alone.calculate(synthetic.video, synthetic.forward_flow, synthetic.backward_flow);
    EXPECT_EQ(
        shared.calculate(synthetic.video, synthetic.forward_flow, synthetic.backward_flow).values,
        labels.values);
    EXPECT_EQ(shared.structure_frame_means, alone.structure_frame_means);
    EXPECT_EQ(shared.reliability_map.values, alone.reliability_map.values);
    EXPECT_EQ(shared.occlusion_map.values, alone.occlusion_map.values);
    EXPECT_EQ(shared.flow_variation_map.values, alone.flow_variation_map.values);
    EXPECT_EQ(shared.structure_tensor_map.values, alone.structure_tensor_map.values);
}

INSTANTIATE_TEST_SUITE_P(Seeds, TrackingOnSyntheticVideo, ::testing::Values(1u, 2u, 3u));

}  // namespace
