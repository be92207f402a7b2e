#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common/errors.h"
#include "image/import_export.h"
#include "tests/image/sample_type_list.h"

namespace vorada {
namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const char* const not_implemented = "NOT IMPLEMENTED : Buffer Color Mode not implemented";

ImageRGB<unsigned char> two_pixels() {
    ImageRGB<unsigned char> image(2, 1);
    image.channels[0][0][0] = 10;
    image.channels[1][0][0] = 20;
    image.channels[2][0][0] = 30;
    image.channels[0][1][0] = 40;
    image.channels[1][1][0] = 50;
    image.channels[2][1][0] = 60;
    return image;
}

TEST(ExportTo, RgbModesInterleaveInTheirOrder) {
    const ImageRGB<unsigned char> image = two_pixels();
    std::vector<double> rgb(6), bgr(6), rgba(8);
    export_to<unsigned char, double>(image, rgb.data(), rgb.size(), BUFFER_RGB);
    export_to<unsigned char, double>(image, bgr.data(), bgr.size(), BUFFER_BGR);
    export_to<unsigned char, double>(image, rgba.data(), rgba.size(), BUFFER_RGBA);
    EXPECT_THAT(rgb, ElementsAre(10, 20, 30, 40, 50, 60));
    EXPECT_THAT(bgr, ElementsAre(30, 20, 10, 60, 50, 40));
    EXPECT_THAT(rgba, ElementsAre(10, 20, 30, 1, 40, 50, 60, 1));
}

TEST(ExportTo, RgbImageRefusesOtherModesAndWritesNothing) {
    const ImageRGB<unsigned char> image = two_pixels();
    std::vector<unsigned char> buffer(8, 77);
    for (ImportExportMode mode : {BUFFER_GRAY, BUFFER_YUYV, BUFFER_UYVY}) {
        EXPECT_THAT(
            ([&] { export_to<unsigned char, unsigned char>(image, buffer.data(), 8, mode); }),
            ThrowsMessage<VoradaNotImplemented>(StrEq(not_implemented)));
    }
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 77), 8);
}

TEST(ImportFrom, DoublesAreTruncatedAndWrappedToTheirLowEightBits) {
    ImageRGB<unsigned char> image(1, 1);
    const double first[] = {12.9, 255.0, 0.5};
    import_from<unsigned char, double>(image, first, 3, BUFFER_RGB);
    EXPECT_EQ(image.channels[0][0][0], 12);
    EXPECT_EQ(image.channels[1][0][0], 255);
    EXPECT_EQ(image.channels[2][0][0], 0);

    const double second[] = {256.0, -1.0, -0.9};
    import_from<unsigned char, double>(image, second, 3, BUFFER_RGB);
    EXPECT_EQ(image.channels[0][0][0], 0);
    EXPECT_EQ(image.channels[1][0][0], 255);
    EXPECT_EQ(image.channels[2][0][0], 0);
}

TEST(WrapSample, HandlesValuesBeyondSixtyFourBitsAndNonFiniteOnes) {
    EXPECT_EQ(wrap_sample<unsigned char>(300.7), 44);
    EXPECT_EQ(wrap_sample<unsigned char>(-3.7), 253);
    // 2^64 + 2^12 and -(2^63) - 2^11: beyond long long, their low bits are still exact.
    EXPECT_EQ(wrap_sample<unsigned long long>(18446744073709555712.0), 4096u);
    EXPECT_EQ(wrap_sample<unsigned char>(1e300), 0);
    EXPECT_EQ(wrap_sample<unsigned long long>(-9223372036854777856.0), 9223372036854773760ull);
    EXPECT_EQ(wrap_sample<unsigned char>(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(wrap_sample<unsigned char>(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(wrap_sample<short>(-2.5), -2);
}

TEST(ImportFrom, RgbaSkipsTheFourthValueAndBgrSwapsRedAndBlue) {
    ImageRGB<unsigned char> image(2, 1);
    const unsigned char rgba[] = {1, 2, 3, 99, 4, 5, 6, 99};
    import_from<unsigned char, unsigned char>(image, rgba, 8, BUFFER_RGBA);
    EXPECT_EQ(image.channels[0][1][0], 4);
    EXPECT_EQ(image.channels[2][1][0], 6);
    const unsigned char bgr[] = {1, 2, 3, 4, 5, 6};
    import_from<unsigned char, unsigned char>(image, bgr, 6, BUFFER_BGR);
    EXPECT_EQ(image.channels[0][0][0], 3);
    EXPECT_EQ(image.channels[1][0][0], 2);
    EXPECT_EQ(image.channels[2][0][0], 1);
}

TEST(ImportFrom, UnequalChannelsAreRefusedRatherThanOverrun) {
    ImageRGB<unsigned char> image({{2, 2}, {1, 2}, {2, 2}});
    std::vector<unsigned char> buffer(12, 1);
    EXPECT_THAT(
        ([&] { import_from<unsigned char, unsigned char>(image, buffer.data(), 12, BUFFER_RGB); }),
        ThrowsMessage<VoradaError>(StrEq("Pixel buffer copy: the image channels differ in size")));
}

template <typename T>
class RgbBuffers : public ::testing::Test {};
TYPED_TEST_SUITE(RgbBuffers, testing::SampleTestTypes);

TYPED_TEST(RgbBuffers, ExportThenImportGivesTheSameImageInEveryMode) {
    using T = TypeParam;
    ImageRGB<T> source(3, 2);
    for (std::size_t c = 0; c < 3; ++c) {
        for (unsigned long long i = 0; i < 6; ++i) {
            source.channels[c].data()[i] = static_cast<T>(10 * c + i + 1);
        }
    }
    source.channels[2].data()[5] = std::numeric_limits<T>::max();
    source.channels[0].data()[0] = std::numeric_limits<T>::lowest();
    for (ImportExportMode mode : {BUFFER_RGB, BUFFER_BGR, BUFFER_RGBA}) {
        std::vector<T> buffer(4 * 6);
        export_to<T, T>(source, buffer.data(), buffer.size(), mode);
        ImageRGB<T> copy(3, 2);
        import_from<T, T>(copy, buffer.data(), buffer.size(), mode);
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_TRUE(std::equal(copy.channels[c].data(), copy.channels[c].data() + 6,
                                   source.channels[c].data()))
                << "mode " << mode << " channel " << c;
        }
    }
}

TYPED_TEST(RgbBuffers, GreyExportsOnceOrThreeTimesAndImportsOnlyOnce) {
    using T = TypeParam;
    ImageGray<T> grey(2, 1);
    grey[0][0] = T(4);
    grey[1][0] = std::numeric_limits<T>::max();
    std::vector<T> single(2), triple(6);
    export_to(grey, single.data(), 2, BUFFER_GRAY);
    export_to(grey, triple.data(), 6, BUFFER_RGB);
    EXPECT_THAT(single, ElementsAre(T(4), std::numeric_limits<T>::max()));
    EXPECT_THAT(triple, ElementsAre(T(4), T(4), T(4), std::numeric_limits<T>::max(),
                                    std::numeric_limits<T>::max(), std::numeric_limits<T>::max()));

    ImageGray<T> back(2, 1);
    import_from(back, single.data(), 2, BUFFER_GRAY);
    EXPECT_EQ(back[1][0], std::numeric_limits<T>::max());
    EXPECT_THAT([&] { import_from(back, triple.data(), 6, BUFFER_RGB); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(not_implemented)));
    EXPECT_THAT([&] { export_to(grey, triple.data(), 6, BUFFER_BGR); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(not_implemented)));
}

TYPED_TEST(RgbBuffers, Yuv422PairsInterleaveLumaAndChromaByMode) {
    using T = TypeParam;
    ImageYUV422<T> image(4, 1);
    for (unsigned long long i = 0; i < 4; ++i) {
        image.channels[0].data()[i] = static_cast<T>(i + 1);  // Y 1 2 3 4
    }
    image.channels[1].data()[0] = T(10);
    image.channels[1].data()[1] = T(11);
    image.channels[2].data()[0] = T(20);
    image.channels[2].data()[1] = T(21);
    std::vector<T> yuyv(8), uyvy(8);
    export_to(image, yuyv.data(), 8, BUFFER_YUYV);
    export_to(image, uyvy.data(), 8, BUFFER_UYVY);
    EXPECT_THAT(yuyv, ElementsAre(T(1), T(10), T(2), T(20), T(3), T(11), T(4), T(21)));
    EXPECT_THAT(uyvy, ElementsAre(T(10), T(1), T(20), T(2), T(11), T(3), T(21), T(4)));

    ImageYUV422<T> back(4, 1);
    import_from(back, uyvy.data(), 8, BUFFER_UYVY);
    EXPECT_EQ(back.channel_extents(), image.channel_extents());
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_TRUE(std::equal(back.channels[c].data(),
                               back.channels[c].data() + back.channels[c].num_elements(),
                               image.channels[c].data()));
    }
    EXPECT_THAT([&] { export_to(image, yuyv.data(), 8, BUFFER_RGB); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(not_implemented)));
}

TEST(ExportTo, Yuv422WithTooFewLumaSamplesIsRefused) {
    // Odd width: three chroma pairs would read luma element 5 of a 5-sample row.
    const ImageYUV422<unsigned char> image(5, 1);
    std::vector<unsigned char> buffer(12);
    EXPECT_THAT([&] { export_to(image, buffer.data(), 12, BUFFER_YUYV); },
                ThrowsMessage<VoradaError>(StrEq(
                    "ImageYUV422: the Y channel holds fewer than two samples per U, V pair")));
}

}  // namespace
}  // namespace vorada
