#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "image/clipping.h"
#include "tests/image/sample_type_list.h"

namespace vorada {
namespace {

MultiArray<double, 2> row_of(const std::vector<double>& values) {
    MultiArray<double, 2> array(std::vector<unsigned long long>{values.size(), 1});
    for (std::size_t i = 0; i < values.size(); ++i) {
        array.data()[i] = values[i];
    }
    return array;
}

std::vector<double> values_of(const MultiArray<double, 2>& array) {
    return std::vector<double>(array.data(), array.data() + array.num_elements());
}

TEST(Clipping, ConstructorsSetBoundsAndReplacementValuesInOrder) {
    const Clipping standard;
    EXPECT_EQ(standard.name, "Clipping");
    EXPECT_EQ(standard.lower_bound, 0.0);
    EXPECT_EQ(standard.upper_bound, 255.0);
    EXPECT_EQ(standard.below_value, 0.0);
    EXPECT_EQ(standard.above_value, 255.0);

    const Clipping clamp(-2.5, 7.0);
    EXPECT_EQ(clamp.below_value, -2.5);
    EXPECT_EQ(clamp.above_value, 7.0);

    const Clipping replace(10.0, 20.0, 1.0, 2.0);
    EXPECT_EQ(replace.lower_bound, 10.0);
    EXPECT_EQ(replace.upper_bound, 20.0);
    EXPECT_EQ(replace.below_value, 1.0);
    EXPECT_EQ(replace.above_value, 2.0);
}

TEST(Clipping, ClampsDoublesAndKeepsBoundsAndTheSource) {
    const MultiArray<double, 2> source = row_of({-3.2, 17.5, 300.0, 0.0, 255.0});
    const MultiArray<double, 2> clipped = Clipping(0, 255).implementation(source);
    EXPECT_THAT(values_of(clipped), ::testing::ElementsAre(0.0, 17.5, 255.0, 0.0, 255.0));
    EXPECT_EQ(source.data()[0], -3.2);
}

TEST(Clipping, ReplacesOutsideSamplesByTheirOwnValues) {
    const MultiArray<double, 2> clipped =
        Clipping(10, 20, 0, 255).implementation(row_of({5, 15, 25, 10, 20}));
    EXPECT_THAT(values_of(clipped), ::testing::ElementsAre(0, 15, 255, 10, 20));
}

TEST(Clipping, SwappedBoundsTestBelowFirstThenAbove) {
    // Lower 20 above upper 10: everything below 20 takes the below value, the rest is above 10.
    const MultiArray<double, 2> clipped =
        Clipping(20, 10, -1, 99).implementation(row_of({5, 15, 20, 25}));
    EXPECT_THAT(values_of(clipped), ::testing::ElementsAre(-1, -1, 99, 99));
}

TEST(Clipping, LeavesNanUnchanged) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const MultiArray<double, 2> clipped = Clipping(0, 1).implementation(row_of({nan, 2.0}));
    EXPECT_TRUE(std::isnan(clipped.data()[0]));
    EXPECT_EQ(clipped.data()[1], 1.0);
}

TEST(Clipping, TruncatesReplacementValuesForBytes) {
    MultiArray<unsigned char, 2> bytes(std::vector<unsigned long long>{4, 1});
    const unsigned char in[4] = {0, 201, 200, 1};
    std::copy(in, in + 4, bytes.data());
    const auto clipped = Clipping(0.5, 200.7).implementation(bytes);
    EXPECT_THAT(std::vector<int>(clipped.data(), clipped.data() + 4),
                ::testing::ElementsAre(0, 200, 200, 1));
}

TEST(Clipping, OutOfRangeReplacementValuesWrapLikeSampleCasts) {
    MultiArray<unsigned char, 2> bytes(std::vector<unsigned long long>{2, 1});
    bytes.data()[0] = 5;
    bytes.data()[1] = 25;
    const auto wrapped = Clipping(10, 20, -1.0, 300.7).implementation(bytes);
    EXPECT_EQ(wrapped.data()[0], 255);
    EXPECT_EQ(wrapped.data()[1], 44);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto zeroed = Clipping(10, 20, nan, 1e300).implementation(bytes);
    EXPECT_EQ(zeroed.data()[0], 0);
    EXPECT_EQ(zeroed.data()[1], 0);
}

template <typename T>
class ClippingTyped : public ::testing::Test {};
TYPED_TEST_SUITE(ClippingTyped, testing::SampleTestTypes);

TYPED_TEST(ClippingTyped, ClampsEveryChannelOfImagesAndVolumes) {
    using T = TypeParam;
    const std::vector<T> in = {T(0), T(1), T(50), T(100), T(101), T(127)};
    const std::vector<T> expected = {T(1), T(1), T(50), T(100), T(100), T(100)};

    ImaVol<T, 3, 2> image(std::vector<std::vector<unsigned long long>>(3, {3, 2}));
    ImaVol<T, 1, 3> volume(std::vector<std::vector<unsigned long long>>{{1, 2, 3}});
    for (std::size_t i = 0; i < in.size(); ++i) {
        for (auto& channel : image.channels) {
            channel.data()[i] = in[i];
        }
        volume.channels[0].data()[i] = in[i];
    }
    const Clipping clamp(1, 100);
    const auto clipped_image = clamp.implementation(image);
    const auto clipped_volume = clamp.implementation(volume);
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(std::vector<T>(clipped_image.channels[c].data(),
                                 clipped_image.channels[c].data() + in.size()),
                  expected);
    }
    EXPECT_EQ(clipped_volume.channels[0].extent_list(), (std::vector<unsigned long long>{1, 2, 3}));
    EXPECT_EQ(std::vector<T>(clipped_volume.channels[0].data(),
                             clipped_volume.channels[0].data() + in.size()),
              expected);
    const auto clipped_array = clamp.implementation(image.channels[1]);
    EXPECT_EQ(std::vector<T>(clipped_array.data(), clipped_array.data() + in.size()), expected);
}

TYPED_TEST(ClippingTyped, KeepsTheTypeLimitsInsideWideBounds) {
    using T = TypeParam;
    MultiArray<T, 2> array(std::vector<unsigned long long>{2, 1});
    array.data()[0] = std::numeric_limits<T>::lowest();
    array.data()[1] = std::numeric_limits<T>::max();
    const double infinity = std::numeric_limits<double>::infinity();
    const auto clipped = Clipping(-infinity, infinity).implementation(array);
    EXPECT_EQ(clipped.data()[0], std::numeric_limits<T>::lowest());
    EXPECT_EQ(clipped.data()[1], std::numeric_limits<T>::max());
}

}  // namespace
}  // namespace vorada
