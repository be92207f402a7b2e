#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "image/colorimage.h"
#include "image/imagegray.h"
#include "image/imageyuv420.h"
#include "image/imavolmask.h"
#include "tests/image/sample_type_list.h"

namespace vorada {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using Extents = std::vector<std::vector<unsigned long long>>;

// Three channels: channel 0 of 4 × 3, channels 1 and 2 as given.
template <typename T>
ImaVol<T, 3, 2> volume_with(std::vector<unsigned long long> second,
                            std::vector<unsigned long long> third) {
    return ImaVol<T, 3, 2>(Extents{{4, 3}, second, third});
}

// One family member with its tag and the messages of its per-channel-sizes constructor.
template <template <typename> class Family, typename T>
void expect_size_checks(const std::string& tag,
                        const std::string& first,
                        const std::string& second) {
    const std::string widths = "All channel widths must be equal for " + tag;
    const std::string heights = "All channel heights must be equal for " + tag;
    // Half-width chroma, as in a sub-sampled layout.
    EXPECT_THAT(
        [&] {
            Family<T> image(volume_with<T>({2, 3}, {2, 3}));
        },
        ThrowsMessage<VoradaError>(StrEq(widths)));
    EXPECT_THAT(
        [&] {
            Family<T> image(volume_with<T>({4, 3}, {4, 2}));
        },
        ThrowsMessage<VoradaError>(StrEq(heights)));
    // Width and height both wrong: the width is reported.
    EXPECT_THAT(
        [&] {
            Family<T> image(volume_with<T>({4, 3}, {3, 2}));
        },
        ThrowsMessage<VoradaError>(StrEq(widths)));
    EXPECT_THAT(
        [&] {
            Family<T> image(Extents{{4, 3}, {4, 2}, {4, 3}});
        },
        ThrowsMessage<VoradaError>(StrEq(first)));
    EXPECT_THAT(
        [&] {
            Family<T> image(Extents{{4, 3}, {4, 3}, {5, 3}});
        },
        ThrowsMessage<VoradaError>(StrEq(second)));

    // A failed assignment leaves the target as it was.
    Family<T> target(2, 2);
    target = T(7);
    EXPECT_THAT(
        [&] {
            target = volume_with<T>({4, 3}, {4, 1});
        },
        ThrowsMessage<VoradaError>(StrEq(heights)));
    EXPECT_EQ(target.width(), 2u);
    for (const auto& channel : target.channels) {
        ASSERT_EQ(channel.num_elements(), 4u);
        EXPECT_EQ(channel.data()[3], T(7));
    }
    // A valid volume is taken over, channel by channel.
    auto good = volume_with<T>({4, 3}, {4, 3});
    good.channels[2].data()[11] = T(5);
    target = good;
    EXPECT_EQ(target.channels[2].extent_list(), (std::vector<unsigned long long>{4, 3}));
    EXPECT_EQ(target.channels[2].data()[11], T(5));
    const Family<T> copy(good);
    EXPECT_EQ(copy.channels[2].data()[11], T(5));
}

template <typename T>
class ColorFamily : public ::testing::Test {};
TYPED_TEST_SUITE(ColorFamily, testing::SampleTestTypes);

TYPED_TEST(ColorFamily, ThreeChannelClassesCheckWidthsBeforeHeights) {
    using T = TypeParam;
    const std::string u = "U channel dimensions must be equal to Y channel dimensions";
    const std::string v = "V channel dimensions must be equal to Y channel dimensions";
    expect_size_checks<ImageYIQ, T>("YIQ", u, v);
    expect_size_checks<ImageRIQ, T>("RIQ", u, v);
    expect_size_checks<ImageRCQ, T>("RCQ", u, v);
    expect_size_checks<ImageRUV, T>("RUV", u, v);
}

TYPED_TEST(ColorFamily, GrayImageIndexesByXThenYAndFills) {
    using T = TypeParam;
    ImageGray<T> gray(3, 2);
    gray[2][1] = T(9);
    EXPECT_EQ(gray.channels[0].data()[2 + 1 * 3], T(9));
    const ImageGray<T>& view = gray;
    EXPECT_EQ(view[2][1], T(9));
    gray = T(4);
    EXPECT_EQ(gray.channels[0].data()[5], T(4));
    EXPECT_EQ(gray.color_space(), 5);

    ImageGray<T> other(Extents{{5, 1}});
    other = static_cast<const ImaVol<T, 1, 2>&>(gray);
    EXPECT_EQ(other.channels[0].extent_list(), (std::vector<unsigned long long>{3, 2}));
    EXPECT_EQ(other[0][0], T(4));
}

template <typename T>
class YuvAndLab : public ::testing::Test {};
using YuvTypes = ::testing::Types<unsigned char, unsigned short, short, long long, double>;
TYPED_TEST_SUITE(YuvAndLab, YuvTypes);

TYPED_TEST(YuvAndLab, CheckSizesWithTheirOwnMessages) {
    using T = TypeParam;
    expect_size_checks<ImageYUV, T>("YUV",
                                    "U channel dimensions must be equal to Y channel dimensions",
                                    "V channel dimensions must be equal to Y channel dimensions");
    expect_size_checks<ImageCIELab, T>(
        "L*ab", "a channel dimensions must be equal to L* channel dimensions",
        "b channel dimensions must be equal to L* channel dimensions");
}

TEST(ColorFamily, ReportsColorSpaceCodes) {
    EXPECT_EQ(ImageYIQ<int>(4, 3).color_space(), 6);
    EXPECT_EQ(ImageRIQ<int>(4, 3).color_space(), 6);
    EXPECT_EQ(ImageRCQ<int>(4, 3).color_space(), 6);
    EXPECT_EQ(ImageRUV<int>(4, 3).color_space(), 6);
    EXPECT_EQ(ImageCIELab<double>(4, 3).color_space(), 4);
    const ImaVol<unsigned char, 3, 2>& yuv = ImageYUV<unsigned char>(1, 1);
    EXPECT_EQ(yuv.color_space(), 1);
}

TEST(ColorFamily, FillingAYuvImageSetsEveryChannel) {
    ImageYUV<unsigned char> image(3, 2);
    image = static_cast<unsigned char>(7);
    for (const auto& channel : image.channels) {
        EXPECT_THAT(std::vector<int>(channel.data(), channel.data() + 6), ::testing::Each(7));
    }
}

TEST(ColorFamily, SubsampledContainersRoundChromaSizesUp) {
    const ImageYUV420<unsigned char> image(5, 3);
    EXPECT_EQ(image.channels[0].extent_list(), (std::vector<unsigned long long>{5, 3}));
    EXPECT_EQ(image.channels[1].extent_list(), (std::vector<unsigned long long>{3, 2}));
    EXPECT_EQ(image.channels[2].extent_list(), (std::vector<unsigned long long>{3, 2}));
}

TEST(ImaVolMask, CopiesAndAssignsOneBooleanChannel) {
    ImaVolMask<2> mask(std::vector<unsigned long long>{2, 2});
    EXPECT_EQ(mask.channels[0].num_elements(), 4u);
    mask = true;
    mask.channels[0].data()[1] = false;
    ImaVolMask<2> copy(static_cast<const ImaVol<bool, 1, 2>&>(mask));
    EXPECT_TRUE(copy.channels[0].data()[0]);
    EXPECT_FALSE(copy.channels[0].data()[1]);
    ImaVolMask<2> other;
    other = mask;
    EXPECT_EQ(other.channels[0].extent_list(), (std::vector<unsigned long long>{2, 2}));
    EXPECT_FALSE(other.channels[0].data()[1]);
}

}  // namespace
}  // namespace vorada
