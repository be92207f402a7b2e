#include <gtest/gtest.h>

#include "descriptors/flowsums.h"
#include "tests/descriptors/regions.h"
#include "tests/descriptors/temporalmean.h"

namespace {

using vorada::gma::Coordinate;
using vorada::gma::CueMap;
using vorada::gma::DescriptorManager;
using vorada::gma::Flow;
using vorada::gma::FlowSums;
using vorada::gma::TemporalMean;
using vorada::testing::RegionForest;

// Flow (x + 10t, y - t) at every point, reliability x / 10.
class TemporalMeanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (long long t = 0; t < 10; ++t) {
            for (long long y = 0; y < 4; ++y) {
                for (long long x = 0; x < 5; ++x) {
                    flow.at(x, y, t)[0] = static_cast<double>(x + 10 * t);
                    flow.at(x, y, t)[1] = static_cast<double>(y - t);
                    reliability.at(x, y, t)[0] = static_cast<double>(x) / 10.0;
                }
            }
        }
        manager.capacity = 8;
    }
    Flow flow{5, 4, 10};
    CueMap reliability{5, 4, 10};
    RegionForest forest;
    DescriptorManager manager;
};

TEST_F(TemporalMeanTest, FramesWithoutPointsKeepZeroSumsAndCounts) {
    auto& leaf = forest.leaf({Coordinate(1, 1, 4), Coordinate(2, 1, 4), Coordinate(3, 2, 6)});
    const auto& mean = manager.calc_descriptor<TemporalMean<Flow>>(flow, leaf, {});
    EXPECT_EQ(mean.first_frame, 4);
    EXPECT_EQ(mean.last_frame, 6);
    ASSERT_EQ(mean.sums.size(), 3u);
    ASSERT_EQ(mean.counts.size(), 3u);
    EXPECT_EQ(mean.counts[0], 2u);
    EXPECT_EQ(mean.counts[1], 0u);
    EXPECT_EQ(mean.counts[2], 1u);
    EXPECT_DOUBLE_EQ(mean.sums[0](0), 41 + 42);
    EXPECT_DOUBLE_EQ(mean.sums[0](1), -3 - 3);
    EXPECT_DOUBLE_EQ(mean.sums[1](0), 0);
    EXPECT_DOUBLE_EQ(mean.sums[2](0), 63);
    EXPECT_DOUBLE_EQ(mean.sums[2](1), -4);
}

TEST_F(TemporalMeanTest, MergingSpansTwoToThreeAndFiveToNineGivesTwoToNine) {
    const std::vector<Coordinate> early = {Coordinate(0, 0, 2), Coordinate(1, 0, 3)};
    const std::vector<Coordinate> late = {Coordinate(4, 3, 5), Coordinate(2, 2, 7),
                                          Coordinate(3, 3, 9), Coordinate(1, 1, 9)};
    auto& a = forest.leaf(early);
    auto& b = forest.leaf(late);
    auto& merged = forest.merge(a, b);
    std::vector<Coordinate> all = early;
    all.insert(all.end(), late.begin(), late.end());
    auto& together = forest.leaf(all);

    const auto& combined = manager.calc_descriptor<TemporalMean<Flow>>(flow, merged, {});
    const auto& direct = manager.calc_descriptor<TemporalMean<Flow>>(flow, together, {});
    EXPECT_EQ(combined.first_frame, 2);
    EXPECT_EQ(combined.last_frame, 9);
    ASSERT_EQ(combined.counts.size(), 8u);
    EXPECT_EQ(combined.counts[2], 0u);  // frame 4
    EXPECT_EQ(combined.sums[2](0), 0.0);
    EXPECT_EQ(combined.sums[2](1), 0.0);
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(combined.counts[k], direct.counts[k]) << k;
        EXPECT_EQ(combined.sums[k](0), direct.sums[k](0)) << k;
        EXPECT_EQ(combined.sums[k](1), direct.sums[k](1)) << k;
    }
}

TEST_F(TemporalMeanTest, OverlappingChildrenAddInTheSharedFrame) {
    auto& a = forest.leaf({Coordinate(0, 0, 3), Coordinate(1, 0, 4)});
    auto& b = forest.leaf({Coordinate(2, 0, 4), Coordinate(3, 0, 4)});
    auto& merged = forest.merge(a, b);
    const auto& mean = manager.calc_descriptor<TemporalMean<CueMap>>(reliability, merged, {});
    ASSERT_EQ(mean.counts.size(), 2u);
    EXPECT_EQ(mean.counts[1], 3u);
    EXPECT_DOUBLE_EQ(mean.sums[1](0), 0.1 + 0.2 + 0.3);
}

TEST_F(TemporalMeanTest, FlowAndReliabilityLiveSideBySideUnderOneName) {
    auto& leaf = forest.leaf({Coordinate(3, 1, 0)});
    const auto& motion = manager.calc_descriptor<TemporalMean<Flow>>(flow, leaf, {});
    const auto& trust = manager.calc_descriptor<TemporalMean<CueMap>>(reliability, leaf, {});
    EXPECT_EQ(manager.stored_count(), 2u);
    EXPECT_DOUBLE_EQ(motion.sums[0](0), 3);
    EXPECT_DOUBLE_EQ(trust.sums[0](0), 0.3);
}

// The joint record must hold, bit for bit, what the two means give on their own signals, for a
// leaf and for a merged region whose children share a frame.
TEST_F(TemporalMeanTest, FlowSumsHoldTheFlowAndReliabilityMeansBitForBit) {
    for (long long t = 0; t < 10; ++t) {
        for (long long x = 0; x < 5; ++x) {
            reliability.at(x, 2, t)[0] = 1.0 / (3.0 + static_cast<double>(x + t));
            flow.at(x, 2, t)[0] = 0.1f * static_cast<float>(t) - 0.7f;
        }
    }
    auto& a = forest.leaf({Coordinate(0, 2, 3), Coordinate(1, 2, 4), Coordinate(4, 2, 4)});
    auto& b = forest.leaf({Coordinate(2, 2, 4), Coordinate(3, 2, 6), Coordinate(1, 0, 6)});
    auto& merged = forest.merge(a, b);
    const FlowSums<Flow, CueMap>::Parameters with{&reliability};
    for (auto* region : {&a, &merged}) {
        const auto joint = manager.calc_descriptor<FlowSums<Flow, CueMap>>(flow, *region, with);
        const auto motion = manager.calc_descriptor<TemporalMean<Flow>>(flow, *region, {});
        const auto trust = manager.calc_descriptor<TemporalMean<CueMap>>(reliability, *region, {});
        EXPECT_EQ(joint.first_frame, motion.first_frame);
        ASSERT_EQ(joint.frames.size(), motion.counts.size());
        ASSERT_EQ(joint.frames.size(), trust.counts.size());
        for (std::size_t k = 0; k < joint.frames.size(); ++k) {
            EXPECT_EQ(joint.frames[k].points, motion.counts[k]) << k;
            EXPECT_EQ(joint.frames[k].points, trust.counts[k]) << k;
            EXPECT_EQ(joint.frames[k].flow_x, motion.sums[k](0)) << k;
            EXPECT_EQ(joint.frames[k].flow_y, motion.sums[k](1)) << k;
            EXPECT_EQ(joint.frames[k].reliability, trust.sums[k](0)) << k;
        }
    }
    using Sums = FlowSums<Flow, CueMap>;
    auto& alone = forest.leaf({Coordinate(1, 1, 1)});
    EXPECT_THROW(manager.calc_descriptor<Sums>(flow, alone, {}), vorada::VoradaError);
}

// Points of the table's store are read from the table, others from the signals; the sums are
// the same, bit for bit, as when every point is read from the signals.
TEST_F(TemporalMeanTest, FlowSumsReadIndexedPointsFromTheTableAndTheRestFromTheSignals) {
    using Sums = FlowSums<Flow, CueMap>;
    for (long long x = 0; x < 5; ++x) {
        reliability.at(x, 2, 4)[0] = 1.0 / (3.0 + static_cast<double>(x));
    }
    const std::vector<Coordinate> own = {Coordinate(0, 2, 3), Coordinate(1, 2, 4)};
    const std::vector<Coordinate> indexed = {Coordinate(2, 2, 4), Coordinate(4, 2, 4),
                                             Coordinate(3, 2, 6)};
    Sums expected;
    expected.calculate(flow, forest.merge(forest.leaf(own), forest.leaf(indexed)), {&reliability},
                       nullptr);

    std::vector<vorada::gma::StoredPoint> store;
    for (const Coordinate& point : indexed) {
        store.emplace_back(point);
    }
    auto& shared = forest.leaf({});
    shared.assign_shared(store.data(), store.size());
    shared.first_frame = 4;
    shared.last_frame = 6;
    Sums::PointTable table;
    table.build(store, flow, reliability);
    for (const Coordinate& point : indexed) {  // the table holds the values from before
        flow.at(point(0), point(1), point(2))[0] = 1e9;
        reliability.at(point(0), point(1), point(2))[0] = 1e9;
    }
    Sums read;
    read.calculate(flow, forest.merge(forest.leaf(own), shared), {&reliability, &table}, nullptr);
    ASSERT_EQ(read.value.frames.size(), expected.value.frames.size());
    for (std::size_t k = 0; k < read.value.frames.size(); ++k) {
        EXPECT_EQ(read.value.frames[k].flow_x, expected.value.frames[k].flow_x) << k;
        EXPECT_EQ(read.value.frames[k].flow_y, expected.value.frames[k].flow_y) << k;
        EXPECT_EQ(read.value.frames[k].reliability, expected.value.frames[k].reliability) << k;
        EXPECT_EQ(read.value.frames[k].points, expected.value.frames[k].points) << k;
    }
}

// Slots of up to 120 frames, enough for a repack once three in four are released: every slot
// still held, the highest included, gives back exactly the frames put into it.
TEST(FlowSumsStorage, RepackKeepsTheFramesOfEverySlotStillHeld) {
    using vorada::gma::FlowFrame;
    vorada::gma::FlowSumsStorage storage(1024);
    auto frame = [](std::uint32_t slot, std::size_t k) {
        return FlowFrame{slot + 0.5, -static_cast<double>(k), slot * 1e-4 + static_cast<double>(k),
                         static_cast<double>(k + 1)};
    };
    const std::uint32_t slots = 8000;
    std::vector<const FlowFrame*> placed(slots);
    for (std::uint32_t slot = 0; slot < slots; ++slot) {
        vorada::gma::FlowSumsValues values;
        values.first_frame = slot % 7;
        values.last_frame = values.first_frame + slot % 120;
        for (std::size_t k = 0; k <= slot % 120; ++k) {
            values.frames.push_back(frame(slot, k));
        }
        placed[slot] = storage.put(slot, std::move(values)).frames.data();
    }
    for (std::uint32_t slot = 0; slot < slots; ++slot) {
        if (slot % 4 != 3) {
            storage.clear(slot);
        }
    }
    bool moved = false;
    for (std::uint32_t slot = 3; slot < slots; slot += 4) {
        ASSERT_TRUE(storage.has(slot));
        const auto view = storage.get(slot);
        ASSERT_EQ(view.first_frame, slot % 7);
        ASSERT_EQ(view.last_frame, slot % 7 + slot % 120);
        ASSERT_EQ(view.frames.size(), slot % 120 + 1);
        for (std::size_t k = 0; k < view.frames.size(); ++k) {
            const FlowFrame expected = frame(slot, k);
            ASSERT_EQ(view.frames[k].flow_x, expected.flow_x) << slot << " " << k;
            ASSERT_EQ(view.frames[k].flow_y, expected.flow_y) << slot << " " << k;
            ASSERT_EQ(view.frames[k].reliability, expected.reliability) << slot << " " << k;
            ASSERT_EQ(view.frames[k].points, expected.points) << slot << " " << k;
        }
        moved = moved || view.frames.data() != placed[slot];
    }
    EXPECT_TRUE(moved);  // the runs were repacked
    EXPECT_FALSE(storage.has(slots - 2));
}

TEST_F(TemporalMeanTest, RegionWithoutPointsHasNoEntries) {
    auto& empty = forest.leaf({});
    const auto& mean = manager.calc_descriptor<TemporalMean<Flow>>(flow, empty, {});
    EXPECT_EQ(mean.counts.size(), 0u);
    EXPECT_EQ(mean.sums.size(), 0u);
}

}  // namespace
