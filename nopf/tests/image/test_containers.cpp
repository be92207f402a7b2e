#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "common/errors.h"
#include "image/imagegray.h"
#include "image/imagergb.h"
#include "image/imageyuv422.h"
#include "tests/image/sample_type_list.h"

namespace vorada {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

template <typename T>
class Containers : public ::testing::Test {};
TYPED_TEST_SUITE(Containers, testing::SampleTestTypes);

TYPED_TEST(Containers, MultiArrayStoresXFastestAndIndexesAsXThenY) {
    MultiArray<TypeParam, 2> array(std::vector<unsigned long long>{3, 2});
    ASSERT_EQ(array.extent(0), 3u);
    ASSERT_EQ(array.extent(1), 2u);
    for (unsigned long long i = 0; i < 6; ++i) {
        EXPECT_EQ(array.data()[i], TypeParam(0));
        array.data()[i] = static_cast<TypeParam>(i + 1);
    }
    // Element (x, y) is number x + y·width of the block.
    EXPECT_EQ(array[0][0], TypeParam(1));
    EXPECT_EQ(array[2][0], TypeParam(3));
    EXPECT_EQ(array[0][1], TypeParam(4));
    EXPECT_EQ(array[2][1], TypeParam(6));
    // A view shares the storage.
    auto column = array[1];
    column[1] = TypeParam(42);
    EXPECT_EQ(array.data()[1 + 1 * 3], TypeParam(42));
}

TYPED_TEST(Containers, MultiArrayAssignmentResizesCopiesAndRefusesItself) {
    MultiArray<TypeParam, 2> empty;
    EXPECT_EQ(empty.extent(0), 0u);
    EXPECT_EQ(empty.num_elements(), 0u);

    MultiArray<TypeParam, 2> big(std::vector<unsigned long long>{4, 4});
    for (unsigned long long i = 0; i < 16; ++i) {
        big.data()[i] = static_cast<TypeParam>(i);
    }
    MultiArray<TypeParam, 2> small(std::vector<unsigned long long>{2, 2});
    small = big;
    ASSERT_EQ(small.extent_list(), (std::vector<unsigned long long>{4, 4}));
    EXPECT_EQ(small[3][2], TypeParam(3 + 2 * 4));

    // Copies are deep.
    small[0][0] = TypeParam(99);
    EXPECT_EQ(big[0][0], TypeParam(0));

    MultiArray<TypeParam, 2>& alias = small;
    EXPECT_THAT([&] { small = alias; },
                ThrowsMessage<VoradaError>(StrEq("MultiArray<T,D>::operator=: Self Assignment")));
}

TYPED_TEST(Containers, RgbImageIsPlanarBlackAndFillsEveryChannel) {
    ImageRGB<TypeParam> image(3, 2);
    EXPECT_EQ(image.color_space(), 0);
    EXPECT_EQ(image.width(), 3u);
    EXPECT_EQ(image.height(), 2u);
    for (const auto& channel : image.channels) {
        for (unsigned long long i = 0; i < channel.num_elements(); ++i) {
            EXPECT_EQ(channel.data()[i], TypeParam(0));
        }
    }
    image.channels[1][2][1] = TypeParam(5);
    EXPECT_EQ(image.channels[1].data()[5], TypeParam(5));

    image = std::numeric_limits<TypeParam>::max();
    for (const auto& channel : image.channels) {
        for (unsigned long long i = 0; i < channel.num_elements(); ++i) {
            EXPECT_EQ(channel.data()[i], std::numeric_limits<TypeParam>::max());
        }
    }
}

TYPED_TEST(Containers, RgbImageCopiesVolumesDeeplyWithTheirExtents) {
    ImaVol<TypeParam, 3, 2> volume({{4, 1}, {2, 1}, {2, 1}});
    EXPECT_EQ(volume.color_space(), 6);
    volume.channels[1][1][0] = TypeParam(7);

    ImageRGB<TypeParam> image(volume);
    EXPECT_EQ(image.channel_extents(), volume.channel_extents());
    EXPECT_EQ(image.channels[1][1][0], TypeParam(7));
    image.channels[1][1][0] = TypeParam(8);
    EXPECT_EQ(volume.channels[1][1][0], TypeParam(7));

    ImageRGB<TypeParam> assigned(1, 1);
    assigned = volume;
    EXPECT_EQ(assigned.channel_extents(), volume.channel_extents());
    EXPECT_EQ(assigned.channels[1][1][0], TypeParam(7));
    EXPECT_EQ(assigned.color_space(), 0);
}

TYPED_TEST(Containers, ColourSpaceCodesFollowTheClass) {
    const Image<TypeParam, 3> plain(2, 2);
    const ImageRGB<TypeParam> rgb(2, 2);
    const ImageGray<TypeParam> grey(2, 2);
    const ImaVol<TypeParam, 3, 2>& as_volume = rgb;
    EXPECT_EQ(plain.color_space(), 6);
    EXPECT_EQ(as_volume.color_space(), 0);
    EXPECT_EQ(grey.color_space(), 5);
}

TYPED_TEST(Containers, GreyImageIndexesAsXThenY) {
    ImageGray<TypeParam> grey(3, 2);
    grey[2][1] = TypeParam(9);
    EXPECT_EQ(grey.channels[0].data()[5], TypeParam(9));
    const ImageGray<TypeParam>& constant = grey;
    EXPECT_EQ(constant[2][1], TypeParam(9));
    grey = TypeParam(3);
    EXPECT_EQ(grey[0][0], TypeParam(3));
    EXPECT_EQ(grey[2][1], TypeParam(3));
}

TYPED_TEST(Containers, Yuv422ChromaHasHalfTheWidthRoundedUp) {
    const ImageYUV422<TypeParam> even(4, 3);
    EXPECT_EQ(even.channel_extents(),
              (std::vector<std::vector<unsigned long long>>{{4, 3}, {2, 3}, {2, 3}}));
    const ImageYUV422<TypeParam> odd(5, 1);
    EXPECT_EQ(odd.pair_count(), 3u);
}

TEST(ImaVol, RejectsAnExtentListOfTheWrongShape) {
    using Volume = ImaVol<unsigned char, 3, 2>;
    EXPECT_THAT(
        [] {
            Volume({{2, 2}, {2, 2}});
        },
        ThrowsMessage<VoradaError>(StrEq("ImaVol: 3 channel extents expected, 2 given")));
    EXPECT_THAT(
        [] {
            Volume({{2, 2}, {2}, {2, 2}});
        },
        ThrowsMessage<VoradaError>(StrEq("MultiArray: 2 extents expected, 1 given")));
}

TEST(ImageRGB, LargeFreshImageIsBlackUntilFilled) {
    ImageRGB<unsigned char> image(640, 480);
    const auto& channels = image.channels;
    for (const auto& channel : channels) {
        ASSERT_EQ(channel.num_elements(), 640u * 480u);
        EXPECT_EQ(std::count(channel.data(), channel.data() + channel.num_elements(), 0),
                  640 * 480);
    }
    image = 7;
    for (const auto& channel : channels) {
        EXPECT_EQ(std::count(channel.data(), channel.data() + channel.num_elements(), 7),
                  640 * 480);
    }
}

}  // namespace
}  // namespace vorada
