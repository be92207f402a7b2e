#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common/errors.h"
#include "image/convert_colorspace.h"
#include "image/convert_types.h"
#include "tests/image/sample_type_list.h"

namespace vorada {
namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const char* const not_clear =
    "NOT IMPLEMENTED : This function is not implemented on pourpose because it is not clear how "
    "the conversion is defined";

template <typename T>
ImageRGB<T> one_pixel(double r, double g, double b) {
    ImageRGB<T> image(1, 1);
    image.channels[0].data()[0] = static_cast<T>(r);
    image.channels[1].data()[0] = static_cast<T>(g);
    image.channels[2].data()[0] = static_cast<T>(b);
    return image;
}

template <typename T, std::size_t C>
std::vector<double> pixel(const ImaVol<T, C, 2>& image, std::size_t i = 0) {
    std::vector<double> values;
    for (const auto& channel : image.channels) {
        values.push_back(static_cast<double>(channel.data()[i]));
    }
    return values;
}

// ----- sample types -------------------------------------------------------------------------

TEST(SampleCast, TruncatesThenWrapsFloatingValues) {
    EXPECT_EQ((sample_cast<unsigned char, double>(-3.7)), 253);
    EXPECT_EQ((sample_cast<unsigned char, double>(300.2)), 44);
    EXPECT_EQ((sample_cast<short, double>(-40000.9)), 25536);
    EXPECT_EQ((sample_cast<unsigned int, double>(std::numeric_limits<double>::quiet_NaN())), 0u);
    EXPECT_EQ((sample_cast<long long, double>(1e300)), 0);
    EXPECT_EQ((sample_cast<unsigned short, long long>(70000)), 4464);
    EXPECT_EQ((sample_cast<unsigned int, short>(-1)), 4294967295u);
    EXPECT_TRUE((sample_cast<bool, unsigned char>(2)));
    EXPECT_FALSE((sample_cast<bool, unsigned char>(0)));
    EXPECT_EQ((sample_cast<unsigned char, bool>(true)), 1);
    EXPECT_EQ((sample_cast<float, double>(1e300)), std::numeric_limits<float>::infinity());
}

TEST(Convert, ImageToBytesWrapsOutOfRangeDoubles) {
    ImaVol<double, 1, 2> image(std::vector<std::vector<unsigned long long>>{{3, 1}});
    image.channels[0].data()[0] = -3.7;
    image.channels[0].data()[1] = 300.2;
    image.channels[0].data()[2] = 12.9;
    const ImaVol<unsigned char, 1, 2> bytes = convert<unsigned char, double>(image);
    EXPECT_THAT(pixel(bytes, 0), ElementsAre(253));
    EXPECT_THAT(pixel(bytes, 1), ElementsAre(44));
    EXPECT_THAT(pixel(bytes, 2), ElementsAre(12));
}

TEST(Convert, KeepsEveryChannelsExtentsAndTheOrigin) {
    // A sub-sampled layout: the channels differ in size, and each keeps its own.
    ImaVol<unsigned char, 3, 3> volume(
        std::vector<std::vector<unsigned long long>>{{4, 2, 2}, {2, 2, 2}, {2, 1, 1}});
    volume.channels[1].data()[7] = 200;
    typename MultiArray<unsigned char, 3>::Extents bases = {{1, -2, 3}};
    volume.channels[1].reindex(bases);
    const auto converted = convert<long long, unsigned char>(volume);
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(converted.channels[c].extent_list(), volume.channels[c].extent_list());
    }
    EXPECT_EQ(converted.channels[1].data()[7], 200);
    EXPECT_EQ(converted.channels[1].index_bases()[1], -2);
    EXPECT_EQ(converted.channels[1][2][-1][4], 200);
}

TEST(Convert, MultiArraysOfOneAndThreeDimensions) {
    MultiArray<unsigned char, 1> flags(std::vector<unsigned long long>{3});
    flags.data()[1] = 7;
    const auto as_bool = convert<bool, unsigned char>(flags);
    EXPECT_THAT(std::vector<bool>(as_bool.data(), as_bool.data() + 3),
                ElementsAre(false, true, false));
    const auto back = convert<unsigned char, bool>(as_bool);
    EXPECT_EQ(back.data()[1], 1);

    MultiArray<double, 3> cube(std::vector<unsigned long long>{2, 2, 2});
    cube.data()[7] = -1.5;
    const auto words = convert<unsigned short, double>(cube);
    EXPECT_EQ(words.extent_list(), (std::vector<unsigned long long>{2, 2, 2}));
    EXPECT_EQ(words.data()[7], 65535);
}

template <typename T>
class ConvertTyped : public ::testing::Test {};
TYPED_TEST_SUITE(ConvertTyped, testing::SampleTestTypes);

TYPED_TEST(ConvertTyped, DoubleRoundTripKeepsSmallValuesAndTypeLimitsStayDefined) {
    using T = TypeParam;
    ImaVol<T, 3, 2> image(std::vector<std::vector<unsigned long long>>(3, {2, 2}));
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t i = 0; i < 4; ++i) {
            image.channels[c].data()[i] = static_cast<T>(10 * c + i);
        }
    }
    image.channels[0].data()[3] = std::numeric_limits<T>::max();
    const auto doubles = convert<double, T>(image);
    const auto back = convert<T, double>(doubles);
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t i = 0; i < 4; ++i) {
            if (c == 0 && i == 3) {
                continue;
            }
            EXPECT_EQ(back.channels[c].data()[i], image.channels[c].data()[i]);
        }
    }
    // The largest 64-bit values round up to 2^64 in double, which wraps to 0; smaller types
    // come back exactly.
    const T top = back.channels[0].data()[3];
    if (sizeof(T) < 8) {
        EXPECT_EQ(top, std::numeric_limits<T>::max());
    } else if (std::is_integral<T>::value && std::is_unsigned<T>::value) {
        EXPECT_EQ(top, T(0));
    }
}

TEST(Convert, GrayImagesBecomeMasksAndBack) {
    ImageGray<unsigned char> gray(4, 1);
    const unsigned char values[4] = {0, 1, 255, 0};
    std::copy(values, values + 4, gray.channels[0].data());
    const ImaVolMask<2> mask = convert(gray);
    const bool* m = mask.channels[0].data();
    EXPECT_THAT(std::vector<bool>(m, m + 4), ElementsAre(false, true, true, false));
    const ImageGray<unsigned char> marked = convert(mask, 7);
    EXPECT_THAT(pixel(marked, 1), ElementsAre(7));
    EXPECT_THAT(pixel(marked, 3), ElementsAre(0));
    EXPECT_EQ(marked.channels[0].extent_list(), (std::vector<unsigned long long>{4, 1}));
}

// ----- colour spaces ------------------------------------------------------------------------

TEST(ColorConversion, YiqOfBlueClipsIAndTruncatesQ) {
    const auto yiq = to_yiq(one_pixel<unsigned char>(0, 0, 255));
    // Y = 29.07 + 0.5, I = 0.5 - 81.855 clipped to 0, Q = 79.305 + 0.5.
    EXPECT_THAT(pixel(yiq), ElementsAre(29, 0, 79));
    EXPECT_THAT(pixel(to_riq(one_pixel<unsigned char>(0, 0, 255))), ElementsAre(0, 0, 79));
}

TEST(ColorConversion, YuvOfBlackAndWhiteIsStudioRange) {
    EXPECT_THAT(pixel(to_yuv(one_pixel<unsigned char>(0, 0, 0))), ElementsAre(16, 128, 128));
    EXPECT_THAT(pixel(to_yuv(one_pixel<unsigned char>(255, 255, 255))), ElementsAre(235, 128, 128));
    // Red: Y = 81.98, U = 90.70, V = 240.4998, Q = 54.56, all truncated.
    EXPECT_THAT(pixel(to_yuv(one_pixel<unsigned char>(255, 0, 0))), ElementsAre(81, 90, 240));
    EXPECT_THAT(pixel(to_rcq(one_pixel<unsigned char>(255, 0, 0))), ElementsAre(255, 240, 54));
    EXPECT_THAT(pixel(to_ruv(one_pixel<unsigned char>(255, 0, 0))), ElementsAre(255, 240, 90));
}

TEST(ColorConversion, RgbYuvRoundTripStaysWithinTwoLevels) {
    ImageRGB<unsigned char> image(6, 6);
    for (std::size_t i = 0; i < 36; ++i) {
        image.channels[0].data()[i] = static_cast<unsigned char>(20 + 6 * i);
        image.channels[1].data()[i] = static_cast<unsigned char>(230 - 5 * i);
        image.channels[2].data()[i] = static_cast<unsigned char>(40 + (i * 37) % 180);
    }
    const ImageRGB<unsigned char> back = to_rgb(to_yuv(image));
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t i = 0; i < 36; ++i) {
            EXPECT_NEAR(back.channels[c].data()[i], image.channels[c].data()[i], 2)
                << c << " " << i;
        }
    }
}

TEST(ColorConversion, GrayRoundsWithoutClipping) {
    EXPECT_THAT(pixel(to_gray(one_pixel<unsigned char>(255, 255, 255))), ElementsAre(255));
    EXPECT_THAT(pixel(to_gray(one_pixel<unsigned char>(1, 1, 1))), ElementsAre(1));
    EXPECT_THAT(pixel(to_gray(one_pixel<long long>(-100, 1000, 3))), ElementsAre(557));
    const ImaVol<unsigned char, 3, 2>& plain = one_pixel<unsigned char>(0, 0, 255);
    EXPECT_THAT(pixel(to_gray(plain)), ElementsAre(29));
    const ImageRGB<long long> rgb = to_rgb(to_gray(one_pixel<long long>(10, 10, 10)));
    EXPECT_THAT(pixel(rgb), ElementsAre(10, 10, 10));
}

TEST(ColorConversion, GrayOfYuvAndLabTakesTheFirstChannel) {
    ImageYUV<double> yuv(1, 1);
    yuv.channels[0].data()[0] = 17.25;
    EXPECT_THAT(pixel(to_gray(yuv)), ElementsAre(17.25));
    ImageCIELab<unsigned char> lab(1, 1);
    lab.channels[0].data()[0] = 42;
    EXPECT_THAT(pixel(to_gray(lab)), ElementsAre(42));
    ImaVol<short, 1, 2> plain(std::vector<std::vector<unsigned long long>>{{1, 1}});
    plain.channels[0].data()[0] = -5;
    EXPECT_THAT(pixel(to_gray(plain)), ElementsAre(-5));
    const ImageCIELab<double> from_gray = to_cielab(to_gray(yuv));
    EXPECT_THAT(pixel(from_gray), ElementsAre(17.25, 128, 128));
}

TEST(ColorConversion, GreyToLabToRgbStaysNeutral) {
    // The grey value is L*; with neutral a and b the colour is a grey whose own L* is that value.
    ImageGray<double> grey(101, 1);
    for (std::size_t i = 0; i <= 100; ++i) {
        grey.channels[0].data()[i] = static_cast<double>(i);
    }
    const ImageRGB<double> rgb = to_rgb(to_cielab(grey));
    const ImageCIELab<double> lab = to_cielab(rgb);
    for (std::size_t i = 0; i <= 100; ++i) {
        const double expected[] = {static_cast<double>(i), 128.0, 128.0};
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_NEAR(rgb.channels[c].data()[i], rgb.channels[0].data()[i], 0.01) << i;
            EXPECT_NEAR(lab.channels[c].data()[i], expected[c], 0.01) << i;
        }
    }
    // In bytes, grey 50 becomes mid grey, not the cyan that a = b = 0 gave.
    ImageGray<unsigned char> byte_grey(1, 1);
    byte_grey.channels[0].data()[0] = 50;
    EXPECT_THAT(pixel(to_cielab(byte_grey)), ElementsAre(50, 128, 128));
    EXPECT_THAT(pixel(to_rgb(to_cielab(byte_grey))), ElementsAre(118, 118, 118));
}

TEST(ColorConversion, CielabReferenceColours) {
    // Values computed by hand from the formulas (a and b offset by 128, then truncated).
    EXPECT_THAT(pixel(to_cielab(one_pixel<unsigned char>(255, 0, 0))), ElementsAre(53, 208, 195));
    EXPECT_THAT(pixel(to_cielab(one_pixel<unsigned char>(0, 0, 0))), ElementsAre(0, 128, 128));
    const auto green = pixel(to_cielab(one_pixel<double>(10, 200, 30)));
    EXPECT_NEAR(green[0], 70.5001319946117, 1e-9);
    EXPECT_NEAR(green[1], 57.48631100538299, 1e-9);
    EXPECT_NEAR(green[2], 192.94066751991528, 1e-9);
    const auto white = pixel(to_cielab(one_pixel<double>(255, 255, 255)));
    EXPECT_NEAR(white[0], 100.0, 1e-9);
    EXPECT_NEAR(white[1], 128 - 0.00221996732463, 1e-9);
    EXPECT_NEAR(white[2], 128 + 0.00424381501745, 1e-9);
}

TEST(ColorConversion, CielabRoundTripsWithinStatedTolerances) {
    ImageRGB<double> colours(5, 5);
    ImageRGB<unsigned char> bytes(5, 5);
    for (std::size_t i = 0; i < 25; ++i) {
        const double rgb[3] = {static_cast<double>(10 * i + 5), static_cast<double>(250 - 9 * i),
                               static_cast<double>((i * 53) % 256)};
        for (std::size_t c = 0; c < 3; ++c) {
            colours.channels[c].data()[i] = rgb[c];
            bytes.channels[c].data()[i] = static_cast<unsigned char>(rgb[c]);
        }
    }
    // In double only the six-digit matrices stand between the two directions: 0.01 level.
    const ImageRGB<double> back = to_rgb(to_cielab(colours));
    // In bytes L*, a and b are truncated to whole units, which for dark colours moves RGB by up
    // to about 15 levels; the byte path must equal the double path truncated.
    const ImageCIELab<unsigned char> lab_bytes = to_cielab(bytes);
    const ImageRGB<unsigned char> back_bytes = to_rgb(lab_bytes);
    const ImageRGB<double> back_exact =
        to_rgb(ImageCIELab<double>(convert<double, unsigned char>(lab_bytes)));
    double total_error = 0;
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t i = 0; i < 25; ++i) {
            EXPECT_NEAR(back.channels[c].data()[i], colours.channels[c].data()[i], 0.01);
            EXPECT_NEAR(back_bytes.channels[c].data()[i], bytes.channels[c].data()[i], 16);
            EXPECT_EQ(back_bytes.channels[c].data()[i],
                      static_cast<int>(back_exact.channels[c].data()[i]));
            total_error += std::abs(back_bytes.channels[c].data()[i] - bytes.channels[c].data()[i]);
        }
    }
    EXPECT_LT(total_error / 75, 4.0);
}

TEST(ColorConversion, CielabKeepsTheSourceOrigin) {
    ImageRGB<unsigned char> image = one_pixel<unsigned char>(255, 0, 0);
    typename MultiArray<unsigned char, 2>::Extents bases = {{3, -1}};
    for (auto& channel : image.channels) {
        channel.reindex(bases);
    }
    const auto lab = to_cielab(image);
    EXPECT_EQ(lab.channels[2].index_bases()[0], 3);
    EXPECT_EQ(lab.channels[2][3][-1], 195);
    EXPECT_EQ(to_rgb(lab).channels[0].index_bases()[1], -1);
}

TEST(ColorConversion, UnprovidedConversionsThrowTheirMessages) {
    EXPECT_THAT([] { to_yuv(ImageCIELab<double>(1, 1)); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(not_clear)));
    EXPECT_THAT([] { to_cielab(ImageYUV<double>(1, 1)); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(not_clear)));
    EXPECT_THAT([] { to_rgb(ImageYUV<double>(1, 1)); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(not_clear)));
    EXPECT_THAT([] { to_yuv(ImageRGB<double>(1, 1)); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(not_clear)));
    const char* unknown =
        "NOT IMPLEMENTED : to_yuv: This function is not implemented on purpose because the color "
        "space is not known";
    EXPECT_THAT([] { to_yuv(Image<unsigned char, 3>(1, 1)); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(unknown)));
    EXPECT_THAT([] { to_yuv(ImageYIQ<unsigned char>(1, 1)); },
                ThrowsMessage<VoradaNotImplemented>(StrEq(unknown)));
}

TEST(ColorConversion, UnequalChannelsAreRefused) {
    ImageRGB<unsigned char> image(
        std::vector<std::vector<unsigned long long>>{{2, 2}, {1, 2}, {2, 2}});
    EXPECT_THAT([&] { to_yiq(image); },
                ThrowsMessage<VoradaError>(StrEq("to_yiq: the image channels differ in size")));
}

TEST(ColorConversion, YuvAndLabPassThroughRgb) {
    const ImageRGB<unsigned char> red = one_pixel<unsigned char>(255, 0, 0);
    const ImageYUV<unsigned char> yuv = to_yuv(red);
    EXPECT_EQ(pixel(to_cielab(yuv)), pixel(to_cielab(to_rgb(yuv))));
    const ImageCIELab<unsigned char> lab = to_cielab(red);
    EXPECT_EQ(pixel(to_yuv(lab)), pixel(to_yuv(to_rgb(lab))));
    EXPECT_EQ(pixel(to_yuv(yuv)), pixel(yuv));
}

// ----- chroma upsampling --------------------------------------------------------------------

std::vector<double> row(const MultiArray<double, 2>& plane) {
    return std::vector<double>(plane.data(), plane.data() + plane.num_elements());
}

TEST(ChromaUpsample, TwoSamplesBecomeFourOnTheFixedPointGrid) {
    MultiArray<double, 2> plane(std::vector<unsigned long long>{4, 2});
    plane.data()[1] = 32.0;
    plane.data()[4] = 8.0;
    plane.data()[5] = 8.0;
    horiz_chroma_upsample(plane, 2);
    // Positions -2, 6, 14, 22 sixteenths; the ends read the clamped first and last samples.
    EXPECT_THAT(row(plane), ElementsAre(0.5, 12.5, 28.5, 32.5, 8.5, 8.5, 8.5, 8.5));
}

TEST(ChromaUpsample, OneToOneKeepsEverySample) {
    MultiArray<double, 2> plane(std::vector<unsigned long long>{3, 1});
    plane.data()[0] = 1.0;
    plane.data()[1] = 2.0;
    plane.data()[2] = 3.0;
    horiz_chroma_upsample(plane, 3);
    EXPECT_THAT(row(plane), ElementsAre(1.5, 2.5, 3.5));
}

TEST(ChromaUpsample, VerticalPassStartsAQuarterSampleEarlier) {
    // One chroma column (width 1) over two rows, upsampled to 2 × 4: vertical positions
    // -4, 4, 12, 20 sixteenths.
    MultiArray<double, 2> plane(std::vector<unsigned long long>{2, 4});
    plane.data()[0 + 1 * 2] = 32.0;
    horizvert_chroma_upsample(plane, 1, 2);
    EXPECT_THAT(row(plane), ElementsAre(0.5, 0.5, 8.5, 8.5, 24.5, 24.5, 32.5, 32.5));
}

TEST(ChromaUpsample, RefusesWidthsOutsideThePlane) {
    MultiArray<double, 2> plane(std::vector<unsigned long long>{4, 1});
    EXPECT_THROW(horiz_chroma_upsample(plane, 5), VoradaError);
    EXPECT_THROW(horiz_chroma_upsample(plane, 0), VoradaError);
    EXPECT_THROW(horizvert_chroma_upsample(plane, 2, 2), VoradaError);
}

TEST(ChromaUpsample, OddWidth422KeepsTheLumaSize) {
    ImageYUV422<unsigned char> image(3, 1);
    image.channels[0].data()[2] = 99;
    image.channels[1].data()[1] = 32;
    image.channels[2].data()[0] = 10;
    image.channels[2].data()[1] = 10;
    // The chroma plane is four samples wide (0.5, 12.5, 28.5, 32.5); the result keeps three.
    const ImageYUV<unsigned char> full = to_yuv(image);
    for (const auto& channel : full.channels) {
        EXPECT_EQ(channel.extent_list(), (std::vector<unsigned long long>{3, 1}));
    }
    EXPECT_THAT(pixel(full, 0), ElementsAre(0, 0, 10));
    EXPECT_THAT(pixel(full, 1), ElementsAre(0, 12, 10));
    EXPECT_THAT(pixel(full, 2), ElementsAre(99, 28, 10));

    ImageYUV422<double> doubles(3, 1);
    doubles.channels[1].data()[1] = 32;
    EXPECT_THAT(row(to_yuv(doubles).channels[1]), ElementsAre(0.5, 12.5, 28.5));
}

TEST(ChromaUpsample, Yuv420UpsamplesBothDirections) {
    ImageYUV420<long long> image(2, 3);
    image.channels[1].data()[1] = 32;  // U at (0, 1) of a 1 × 2 chroma plane
    const ImageYUV<long long> full = to_yuv(image);
    EXPECT_EQ(full.channels[1].extent_list(), (std::vector<unsigned long long>{2, 3}));
    // Rows 0.5, 8.5, 24.5 (of 0.5, 8.5, 24.5, 32.5) truncated.
    EXPECT_THAT(std::vector<long long>(full.channels[1].data(), full.channels[1].data() + 6),
                ElementsAre(0, 0, 8, 8, 24, 24));
    EXPECT_THAT(std::vector<long long>(full.channels[2].data(), full.channels[2].data() + 6),
                ::testing::Each(0));
}

TEST(ChromaUpsample, MismatchedChromaIsRefused) {
    ImageYUV422<unsigned char> image(
        std::vector<std::vector<unsigned long long>>{{4, 1}, {1, 1}, {1, 1}});
    EXPECT_THROW(to_yuv(image), VoradaError);
}

}  // namespace
}  // namespace vorada
