#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "descriptors/area.h"
#include "descriptors/colorsignature.h"
#include "descriptors/descriptormanager.h"
#include "tests/descriptors/regions.h"
#include "tests/descriptors/temporalmean.h"

namespace {

using vorada::BacktracedVoradaException;
using vorada::VoradaError;
using vorada::gma::Area;
using vorada::gma::Coordinate;
using vorada::gma::DescriptorBase;
using vorada::gma::DescriptorManager;
using vorada::gma::Video;
using vorada::testing::RegionForest;

// Counts its computations; its payload is the region's label times 10 plus a parameter.
struct Counting : DescriptorBase {
    using type = long long;
    struct Parameters {
        long long offset = 0;
    };
    using capacity_error = VoradaError;
    static const char* name() { return "counting"; }
    static int direct;
    static int combined;

    type value = 0;

    template <typename Signal, typename Region>
    void calculate(Signal&, Region& region, const Parameters& p, DescriptorManager*) {
        ++direct;
        value = static_cast<long long>(region.label) * 10 + p.offset;
    }
    template <typename Signal, typename Region, typename Children>
    void recursive_calculate(Signal& signal,
                             Region&,
                             const Children& children,
                             const Parameters& p,
                             DescriptorManager* manager) {
        ++combined;
        value = 0;
        for (auto* child : children) {
            value += manager->calc_descriptor<Counting>(signal, *child, p);
        }
    }
};
int Counting::direct = 0;
int Counting::combined = 0;

class DescriptorManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Counting::direct = 0;
        Counting::combined = 0;
    }
    Video video{4, 3, 3};
    RegionForest forest;
    DescriptorManager manager;
};

TEST_F(DescriptorManagerTest, LabelsFromCapacityOnThrowAndStoreNothing) {
    auto& a = forest.leaf({Coordinate(0, 0, 0)});
    auto& b = forest.leaf({Coordinate(1, 0, 0)});
    manager.capacity = 2;
    EXPECT_EQ(manager.calc_descriptor<Area>(video, b, {}), 1u);  // label capacity - 1 is stored
    auto& c = forest.leaf({Coordinate(2, 0, 0)});
    const std::size_t before = manager.stored_count();
    try {
        manager.calc_descriptor<Area>(video, c, {});
        ADD_FAILURE() << "no exception";
    } catch (const BacktracedVoradaException& e) {
        EXPECT_STREQ(e.what(), "Region index too high to store the descriptor");
        EXPECT_EQ(dynamic_cast<const VoradaError*>(&e), nullptr) << "Area throws the base class";
    }
    vorada::gma::Flow flow(4, 3, 3);
    EXPECT_THAT(
        [&] { manager.calc_descriptor<vorada::gma::TemporalMean<vorada::gma::Flow>>(flow, c, {}); },
        ::testing::ThrowsMessage<VoradaError>(
            ::testing::StrEq("Region index too high to store the descriptor")));
    vorada::gma::ColorMeanDescriptorParameters colours;
    colours.num_colors = 2;
    EXPECT_THAT(
        [&] { manager.calc_descriptor<vorada::gma::ColorSignature<Video>>(video, c, colours); },
        ::testing::ThrowsMessage<VoradaError>(
            ::testing::StrEq("Region index too high to store the descriptor")));
    EXPECT_EQ(manager.stored_count(), before);
    EXPECT_EQ(manager.calc_descriptor<Area>(video, a, {}), 1u);
}

TEST_F(DescriptorManagerTest, SecondRequestReturnsTheSameReferenceWithoutComputing) {
    auto& a = forest.leaf({Coordinate(0, 0, 0)});
    manager.capacity = 1;
    const long long& first = manager.calc_descriptor<Counting>(video, a, {3});
    const long long& second = manager.calc_descriptor<Counting>(video, a, {99});
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(second, 3);
    EXPECT_EQ(Counting::direct, 1);
}

TEST_F(DescriptorManagerTest, MergedRegionFillsAllItsDescendants) {
    //        4
    //       / |
    //      3   2
    //     / |
    //    0   1
    auto& l0 = forest.leaf({Coordinate(0, 0, 0)});
    auto& l1 = forest.leaf({Coordinate(1, 0, 0), Coordinate(1, 1, 0)});
    auto& l2 = forest.leaf({Coordinate(2, 0, 1), Coordinate(2, 1, 1), Coordinate(2, 2, 1)});
    auto& m3 = forest.merge(l0, l1);
    auto& m4 = forest.merge(m3, l2);
    manager.capacity = 5;
    EXPECT_EQ(manager.calc_descriptor<Counting>(video, m4, {1}), (0 + 1) + (10 + 1) + (20 + 1));
    EXPECT_EQ(Counting::direct, 3);
    EXPECT_EQ(Counting::combined, 2);
    EXPECT_EQ(manager.stored_count(), 5u);
    EXPECT_EQ(manager.calc_descriptor<Counting>(video, m3, {}), 12);
    EXPECT_EQ(Counting::direct + Counting::combined, 5);
    // Area recursion goes through the children as hierarchical regions, into the same slots.
    EXPECT_EQ(manager.calc_descriptor<Area>(video, m4, {}), 6u);
    EXPECT_EQ(manager.stored_count(), 10u);
    EXPECT_EQ(manager.calc_descriptor<Area>(video, l1, {}), 2u);
    EXPECT_EQ(manager.stored_count(), 10u);
}

TEST_F(DescriptorManagerTest, TwoSignalObjectsWithEqualSamplesHaveSeparateCaches) {
    auto& a = forest.leaf({Coordinate(0, 0, 0)});
    manager.capacity = 1;
    Video copy = video;
    manager.calc_descriptor<Counting>(video, a, {});
    manager.calc_descriptor<Counting>(copy, a, {});
    manager.calc_descriptor<Counting>(video, a, {});
    EXPECT_EQ(Counting::direct, 2);
    EXPECT_EQ(manager.stored_count(), 2u);
}

TEST_F(DescriptorManagerTest, ReleaseDropsOneRegionOnEverySignal) {
    auto& a = forest.leaf({Coordinate(0, 0, 0)});
    auto& b = forest.leaf({Coordinate(1, 0, 0)});
    manager.capacity = 2;
    Video other = video;
    manager.calc_descriptor<Counting>(video, a, {});
    manager.calc_descriptor<Counting>(other, a, {});
    manager.calc_descriptor<Area>(video, a, {});
    const long long& kept = manager.calc_descriptor<Counting>(video, b, {});
    EXPECT_EQ(manager.stored_count(), 4u);
    manager.release(a.label);
    manager.release(a.label);  // releasing twice is harmless
    EXPECT_EQ(manager.stored_count(), 1u);
    EXPECT_EQ(kept, 10);
    EXPECT_EQ(manager.calc_descriptor<Counting>(video, a, {5}), 5);
    EXPECT_EQ(Counting::direct, 4);
    // The freed place is reused, the other region's payload is untouched.
    EXPECT_EQ(manager.calc_descriptor<Counting>(video, b, {}), 10);
}

// One release frees the region in every column, and its slot and pooled runs go to the next
// region stored: views of the released region are not read again, the new region's are its own.
TEST_F(DescriptorManagerTest, ReleasedSlotGoesToTheNextRegionWithItsOwnValues) {
    vorada::gma::Flow flow(4, 3, 3);
    flow.at(0, 0, 0)[0] = 1.5;
    flow.at(3, 2, 2)[0] = 4.0;
    vorada::gma::ColorMeanDescriptorParameters colours;
    colours.num_colors = 4;
    video.at(3, 2, 2)[0] = 60.0;
    auto& a = forest.leaf({Coordinate(0, 0, 0)});
    auto& b = forest.leaf({Coordinate(3, 2, 2), Coordinate(3, 1, 2)});
    manager.capacity = 2;
    manager.calc_descriptor<vorada::gma::TemporalMean<vorada::gma::Flow>>(flow, a, {});
    manager.calc_descriptor<vorada::gma::ColorSignature<Video>>(video, a, colours);
    manager.calc_descriptor<Area>(video, a, {});
    EXPECT_EQ(manager.region_count(), 1u);
    const std::uint32_t slot = manager.slot(a.label);
    manager.release(a.label);
    EXPECT_EQ(manager.region_count(), 0u);
    EXPECT_EQ(manager.stored_count(), 0u);
    EXPECT_EQ(manager.slot(a.label), DescriptorManager::no_slot);

    const auto mean =
        manager.calc_descriptor<vorada::gma::TemporalMean<vorada::gma::Flow>>(flow, b, {});
    const auto signature =
        manager.calc_descriptor<vorada::gma::ColorSignature<Video>>(video, b, colours);
    EXPECT_EQ(manager.slot(b.label), slot);
    EXPECT_EQ(mean.first_frame, 2);
    ASSERT_EQ(mean.sums.size(), 1u);
    EXPECT_EQ(mean.sums[0](0), 4.0);
    EXPECT_EQ(mean.counts[0], 2u);
    ASSERT_EQ(signature.features.size(), 2u);
    EXPECT_EQ(signature.features[1](0), 60.0);
    EXPECT_EQ(signature.weights[1], 0.5);
    const auto* areas = manager.values<Area>(video);
    ASSERT_NE(areas, nullptr);
    EXPECT_FALSE(areas->has(slot));  // b has no area yet; a's is gone
    EXPECT_EQ(manager.calc_descriptor<Area>(video, a, {}), 1u);
    EXPECT_NE(manager.slot(a.label), slot);
}

}  // namespace
