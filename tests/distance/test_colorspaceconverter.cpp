#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "distance/colorspaceconverter.h"

namespace {

using vorada::gma::ColorSpaceConverter;
using vorada::gma::Video;
namespace color = vorada::gma::color;
using Color = Eigen::Matrix<double, 3, 1>;

Video random_rgb_video(long long x, long long y, long long t, unsigned seed) {
    Video video(x, y, t);
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> level(0.0, 255.0);
    for (double& value : video.values) {
        value = level(generator);
    }
    return video;
}

void expect_color_near(const Color& actual, const Color& expected, double tolerance) {
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(actual(c), expected(c), tolerance) << "channel " << c;
    }
}

TEST(ColorFormulas, RgbToLabOfWhiteAndBlack) {
    // The reference white is not exactly the white of the matrix, hence a and b slightly off 128.
    expect_color_near(color::rgb_to_lab(Color(255, 255, 255)), Color(100, 127.9978, 128.0042),
                      1e-4);
    EXPECT_NEAR(color::rgb_to_lab(Color(255, 255, 255))(0), 100.0, 1e-9);
    expect_color_near(color::rgb_to_lab(Color(0, 0, 0)), Color(0, 128, 128), 1e-12);
}

TEST(ColorFormulas, RgbToLabGreyHasNeutralChromaAndMonotoneLightness) {
    double previous = -1.0;
    for (double level = 0; level <= 255; level += 15) {
        const Color lab = color::rgb_to_lab(Color(level, level, level));
        EXPECT_GT(lab(0), previous);
        EXPECT_NEAR(lab(1), 128.0, 0.01);
        EXPECT_NEAR(lab(2), 128.0, 0.01);
        previous = lab(0);
    }
}

TEST(ColorFormulas, RgbToYuvAnchorsAndClamping) {
    expect_color_near(color::rgb_to_yuv(Color(0, 0, 0)), Color(16.5, 128.5, 128.5), 1e-12);
    expect_color_near(color::rgb_to_yuv(Color(255, 255, 255)), Color(235.5002, 128.5, 128.5), 1e-4);
    // (100, 150, 200): hand-computed from the matrix, 30945.15/256 + 16.5 and so on.
    expect_color_near(color::rgb_to_yuv(Color(100, 150, 200)),
                      Color(137.37949219, 157.871875, 102.96796875), 1e-6);
    // Out-of-range input is clamped per channel, not rescaled.
    const Color high = color::rgb_to_yuv(Color(0, 0, 1000));
    EXPECT_EQ(high(1), 255.0);
    EXPECT_GT(high(0), 0.0);
    EXPECT_LT(high(0), 255.0);
    const Color low = color::rgb_to_yuv(Color(-100, -100, -100));
    EXPECT_EQ(low(0), 0.0);
}

TEST(ColorFormulas, YuvToRgbClamps) {
    const Color white = color::yuv_to_rgb(Color(255, 255, 255));
    EXPECT_EQ(white(0), 255.0);
    EXPECT_NEAR(white(1), 125.787, 1e-3);
    EXPECT_EQ(white(2), 255.0);
    const Color black = color::yuv_to_rgb(Color(0, 0, 0));
    EXPECT_EQ(black(0), 0.0);
    EXPECT_NEAR(black(1), 136.076, 1e-9);
    EXPECT_EQ(black(2), 0.0);
}

TEST(ColorFormulas, YuvRoundTripShiftsUpByTheTwoHalves) {
    const Color back = color::yuv_to_rgb(color::rgb_to_yuv(Color(100, 150, 200)));
    expect_color_near(back, Color(101.88, 150.48, 202.09), 0.01);
}

TEST(ColorFormulas, LabToRgbDoesNotClamp) {
    expect_color_near(color::lab_to_rgb(Color(100, 255, 0)), Color(355.49, 139.19, 511.07), 0.01);
    const Color dark = color::lab_to_rgb(Color(0, 0, 255));
    EXPECT_LT(std::min({dark(0), dark(1), dark(2)}), 0.0);
}

TEST(ColorFormulas, LabRoundTripIsCloseOverTheRgbCube) {
    for (double r = 0; r <= 255; r += 17) {
        for (double g = 0; g <= 255; g += 17) {
            for (double b = 0; b <= 255; b += 17) {
                const Color rgb(r, g, b);
                expect_color_near(color::lab_to_rgb(color::rgb_to_lab(rgb)), rgb, 0.01);
            }
        }
    }
}

TEST(ColorFormulas, WholeLevelsAreLookedUpExactlyAndOthersComputed) {
    // The look-up must give the very bits of the formula, at every 8-bit level and elsewhere.
    for (double level = -1.0; level <= 256.0; level += 0.25) {
        const double looked_up = vorada::gma::color::srgb_byte_to_linear(level);
        const double computed = vorada::gma::color::srgb_to_linear(level / 255.0);
        EXPECT_EQ(std::memcmp(&looked_up, &computed, sizeof(double)), 0) << level;
    }
}

TEST(ColorSpaceConverter, SameSpaceLeavesEveryBitUnchanged) {
    Video video = random_rgb_video(5, 4, 3, 7);
    video.values[0] = std::numeric_limits<double>::quiet_NaN();
    video.values[1] = -1e300;
    const std::vector<double> before = video.values;
    ColorSpaceConverter<Video>().convert(video, RGB);
    EXPECT_EQ(video.color_space, RGB);
    EXPECT_EQ(std::memcmp(before.data(), video.values.data(), before.size() * sizeof(double)), 0);
}

TEST(ColorSpaceConverter, ConvertsEveryPointAndRecordsTheTarget) {
    Video video = random_rgb_video(6, 5, 4, 11);
    const Video original = video;
    ColorSpaceConverter<Video> converter;
    converter.convert(video, CIELab);
    EXPECT_EQ(video.color_space, CIELab);
    for (std::size_t i = 0; i < video.values.size(); i += 3) {
        const Color lab = color::rgb_to_lab(
            Color(original.values[i], original.values[i + 1], original.values[i + 2]));
        ASSERT_EQ(video.values[i], lab(0));
        ASSERT_EQ(video.values[i + 1], lab(1));
        ASSERT_EQ(video.values[i + 2], lab(2));
    }
    converter.convert(video, RGB);
    EXPECT_EQ(video.color_space, RGB);
    for (std::size_t i = 0; i < video.values.size(); ++i) {
        ASSERT_NEAR(video.values[i], original.values[i], 0.01);
    }
}

TEST(ColorSpaceConverter, YuvAndLabMeetThroughRgb) {
    Video video = random_rgb_video(4, 3, 2, 3);
    ColorSpaceConverter<Video> converter;
    converter.convert(video, YUV);
    const Video yuv = video;
    converter.convert(video, CIELab);
    EXPECT_EQ(video.color_space, CIELab);
    for (std::size_t i = 0; i < video.values.size(); i += 3) {
        const Color expected = color::rgb_to_lab(
            color::yuv_to_rgb(Color(yuv.values[i], yuv.values[i + 1], yuv.values[i + 2])));
        ASSERT_EQ(video.values[i], expected(0));
        ASSERT_EQ(video.values[i + 1], expected(1));
        ASSERT_EQ(video.values[i + 2], expected(2));
    }
    const Video lab = video;
    converter.convert(video, YUV);
    for (std::size_t i = 0; i < video.values.size(); i += 3) {
        const Color expected = color::rgb_to_yuv(
            color::lab_to_rgb(Color(lab.values[i], lab.values[i + 1], lab.values[i + 2])));
        ASSERT_EQ(video.values[i], expected(0));
        ASSERT_EQ(video.values[i + 1], expected(1));
        ASSERT_EQ(video.values[i + 2], expected(2));
    }
}

TEST(ColorSpaceConverter, UnknownSpaceZeroesEveryValueAndRecordsTheTarget) {
    Video video = random_rgb_video(3, 3, 2, 5);
    ColorSpaceConverter<Video> converter;
    converter.convert(video, static_cast<ColorSpaceType>(7));
    EXPECT_EQ(static_cast<int>(video.color_space), 7);
    for (double value : video.values) {
        ASSERT_EQ(value, 0.0);
    }
    video = random_rgb_video(3, 3, 2, 6);
    video.color_space = static_cast<ColorSpaceType>(-1);
    converter.convert(video, CIELab);
    EXPECT_EQ(video.color_space, CIELab);
    for (double value : video.values) {
        ASSERT_EQ(value, 0.0);
    }
}

}  // namespace
