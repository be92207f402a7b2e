// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "common/errors.h"
#include "io/readimage.h"
#include "signals/videosignal.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace gma {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

const bool magick_ready = [] {
    Magick::InitializeMagick(nullptr);
    return true;
}();

class WriteFrame : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(magick_ready);
        // 3 × 2 × 2: frame 0 a ramp, frame 1 constant 200.
        for (long long t = 0; t < 2; ++t) {
            for (long long y = 0; y < 2; ++y) {
                for (long long x = 0; x < 3; ++x) {
                    double* value = video.at(x, y, t);
                    for (int c = 0; c < 3; ++c) {
                        value[c] = t == 0 ? 40.0 * x + 100.0 * y + c + 0.75 : 200.0;
                    }
                }
            }
        }
    }
    ImageRGB<unsigned char> read_back(const std::string& path) {
        ImageRGB<unsigned char> image;
        io::ReadImage(path).read(image);
        return image;
    }
    testing::TempDir directory;
    Video video{3, 2, 2};
};

TEST_F(WriteFrame, PngRoundTripGivesTheTruncatedEightBitValues) {
    const std::string path = directory.file("00000.png");
    video.write_frame(path, 0);
    const ImageRGB<unsigned char> image = read_back(path);
    ASSERT_EQ(image.width(), 3u);
    ASSERT_EQ(image.height(), 2u);
    for (long long y = 0; y < 2; ++y) {
        for (long long x = 0; x < 3; ++x) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(image.channels[c][x][y], 40 * x + 100 * y + c)
                    << "x " << x << " y " << y << " c " << c;
            }
        }
    }
}

TEST_F(WriteFrame, WritesOnlyTheRequestedFrame) {
    const std::string path = directory.file("00001.png");
    video.write_frame(path, 1);
    const ImageRGB<unsigned char> image = read_back(path);
    for (const auto& channel : image.channels) {
        EXPECT_EQ(std::count(channel.data(), channel.data() + 6, 200), 6);
    }
}

TEST_F(WriteFrame, OutOfRangeValuesAreClamped) {
    video.at(0, 0, 0)[0] = -1.0;
    video.at(1, 0, 0)[0] = 256.0;
    video.at(2, 0, 0)[0] = 1e300;
    video.at(0, 1, 0)[0] = -1e300;
    const std::string path = directory.file("clamped.png");
    video.write_frame(path, 0);
    const ImageRGB<unsigned char> image = read_back(path);
    EXPECT_EQ(image.channels[0][0][0], 0);
    EXPECT_EQ(image.channels[0][1][0], 255);
    EXPECT_EQ(image.channels[0][2][0], 255);
    EXPECT_EQ(image.channels[0][0][1], 0);
}

TEST_F(WriteFrame, RefusesOtherColourSpacesAndWritesNothing) {
    video.color_space = CIELab;
    const std::string path = directory.file("lab.png");
    EXPECT_THAT([&] { video.write_frame(path, 0); },
                ThrowsMessage<BacktracedVoradaException>(
                    StrEq("Cannot save a different colorspace other than RGB")));
    EXPECT_FALSE(boost::filesystem::exists(path));
}

TEST_F(WriteFrame, RefusesAFrameOutsideTheVideo) {
    EXPECT_THAT([&] { video.write_frame(directory.file("x.png"), 2); },
                ThrowsMessage<VoradaError>(
                    StrEq("write_frame: frame 2 of 3x2 lies outside a video of 3x2x2")));
}

}  // namespace
}  // namespace gma
}  // namespace vorada
