// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <cstring>

#include "common/errors.h"
#include "driver/cueimages.h"
#include "driver/pipeline.h"
#include "io/readimage.h"
#include "io/writeimage.h"
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

std::string le32(std::uint32_t word) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((word >> (8 * i)) & 0xFF);
    }
    return bytes;
}

// A constant flow (u, v) over a width × height frame.
std::string constant_flow(std::uint32_t width, std::uint32_t height, float u, float v) {
    std::uint32_t u_word, v_word, tag_word;
    const float tag = 202021.25f;
    std::memcpy(&u_word, &u, 4);
    std::memcpy(&v_word, &v, 4);
    std::memcpy(&tag_word, &tag, 4);
    std::string bytes = le32(tag_word) + le32(width) + le32(height);
    for (std::uint32_t i = 0; i < width * height; ++i) {
        bytes += le32(u_word) + le32(v_word);
    }
    return bytes;
}

class LoadFrames : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(magick_ready);
        boost::filesystem::create_directories(directory.file("frames"));
        boost::filesystem::create_directories(directory.file("flows"));
    }
    // Frame number n: a 3 × 2 picture whose red is 10·n + x, green 100 + y, blue n.
    void write_frame_file(unsigned long long n, unsigned long long width = 3) {
        ImageRGB<unsigned char> image(width, 2);
        for (unsigned long long y = 0; y < 2; ++y) {
            for (unsigned long long x = 0; x < width; ++x) {
                image.channels[0][x][y] = static_cast<unsigned char>(10 * n + x);
                image.channels[1][x][y] = static_cast<unsigned char>(100 + y);
                image.channels[2][x][y] = static_cast<unsigned char>(n);
            }
        }
        io::WriteImage(frame_path(directory.path(), n)).write(image);
    }
    testing::TempDir directory;
};

TEST_F(LoadFrames, ReadsFramesAndFlowsIntoTheirIndices) {
    for (unsigned long long n = 5; n <= 7; ++n) {
        write_frame_file(n);
    }
    testing::write_bytes(forward_flow_path(directory.path(), 5), constant_flow(3, 2, 1.5f, 0));
    testing::write_bytes(forward_flow_path(directory.path(), 6), constant_flow(3, 2, 2.5f, 0));
    testing::write_bytes(backward_flow_path(directory.path(), 6), constant_flow(3, 2, 0, -1.5f));
    testing::write_bytes(backward_flow_path(directory.path(), 7), constant_flow(3, 2, 0, -2.5f));

    Video video(3ull);
    load_frames(video, directory.path(), 5, 3);
    ASSERT_EQ(video.size, Coordinate(3, 2, 3));
    EXPECT_TRUE(video.initialized);
    for (long long t = 0; t < 3; ++t) {
        for (long long y = 0; y < 2; ++y) {
            for (long long x = 0; x < 3; ++x) {
                const double* value = video.at(x, y, t);
                EXPECT_EQ(value[0], 10.0 * (5 + t) + x);
                EXPECT_EQ(value[1], 100.0 + y);
                EXPECT_EQ(value[2], 5.0 + t);
            }
        }
    }

    Flow forward, backward;
    load_flows(forward, backward, video, directory.path(), 5);
    EXPECT_EQ(forward.at(2, 1, 0)[0], 1.5);
    EXPECT_EQ(forward.at(2, 1, 1)[0], 2.5);
    EXPECT_EQ(forward.at(2, 1, 2)[0], 0.0);
    EXPECT_EQ(backward.at(0, 0, 0)[1], 0.0);
    EXPECT_EQ(backward.at(0, 0, 1)[1], -1.5);
    EXPECT_EQ(backward.at(0, 0, 2)[1], -2.5);
}

TEST_F(LoadFrames, RejectsAFrameOfAnotherSizeBeforeCopyingIt) {
    write_frame_file(0);
    write_frame_file(1, 4);
    Video video(2ull);
    const std::string second = frame_path(directory.path(), 1);
    EXPECT_THAT(
        [&] { load_frames(video, directory.path(), 0, 2); },
        ThrowsMessage<VoradaFileError>(StrEq(
            "Error in file '" + second + "': frame of 4x2 differs from the first frame of 3x2")));
    EXPECT_EQ(video.at(2, 1, 1)[0], 0.0);
}

TEST_F(LoadFrames, MissingFramesAndDirectoriesAreNamed) {
    write_frame_file(0);
    Video video(2ull);
    const std::string missing = frame_path(directory.path(), 1);
    EXPECT_THAT([&] { load_frames(video, directory.path(), 0, 2); },
                ThrowsMessage<VoradaError>(StrEq("File " + missing + " not found: " +
                                                 directory.path() + "/frames has frames 0")));

    boost::filesystem::create_directory(frame_path(directory.path(), 3));
    Video other(1ull);
    const std::string folder = frame_path(directory.path(), 3);
    EXPECT_THAT([&] { load_frames(other, directory.path(), 3, 1); },
                ThrowsMessage<VoradaFileError>(
                    StrEq("Error in file '" + folder + "':  Not a valid file, is a directory.")));
}

TEST_F(LoadFrames, TruncatedFrameIsAnErrorNotACrash) {
    write_frame_file(0);
    const std::string path = frame_path(directory.path(), 0);
    const std::string bytes = testing::read_bytes(path);
    testing::write_bytes(path, bytes.substr(0, bytes.size() - 20));
    Video video(1ull);
    EXPECT_ANY_THROW(load_frames(video, directory.path(), 0, 1));
}

TEST_F(LoadFrames, RefusesMoreFramesThanTheVideoHolds) {
    write_frame_file(0);
    write_frame_file(1);
    Video video(1ull);
    EXPECT_THAT([&] { load_frames(video, directory.path(), 0, 2); },
                ThrowsMessage<VoradaError>(
                    StrEq("load_frames: frame index 1 outside a video of 1 frames")));
}

TEST(ConvertMapToImage, ScalesEveryChannelByTwoHundredFiftyFive) {
    CueMap map(2, 1, 2);
    map.at(0, 0, 0)[0] = 1.0;
    map.at(1, 0, 0)[0] = 0.5;
    map.at(1, 0, 1)[0] = 0.25;
    map.color_space = CIELab;
    const Video image = convert_map_to_image(map);
    EXPECT_EQ(image.size, Coordinate(2, 1, 2));
    EXPECT_EQ(image.color_space, RGB);
    EXPECT_FALSE(image.initialized);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.frames, 2u);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(image.at(0, 0, 0)[c], 255.0);
        EXPECT_EQ(image.at(1, 0, 0)[c], 127.5);
        EXPECT_EQ(image.at(0, 0, 1)[c], 0.0);
        EXPECT_EQ(image.at(1, 0, 1)[c], 63.75);
    }
}

TEST(ConvertMapToImage, HalfGreyIsWrittenAsOneHundredTwentySeven) {
    ASSERT_TRUE(magick_ready);
    testing::TempDir directory;
    CueMap map(1, 1, 1);
    map.at(0, 0, 0)[0] = 0.5;
    Video image = convert_map_to_image(map);
    image.write_frame(directory.file("00000.png"), 0);
    ImageRGB<unsigned char> read;
    io::ReadImage(directory.file("00000.png")).read(read);
    ASSERT_EQ(read.width(), 1u);
    EXPECT_EQ(read.channels[0][0][0], 127);
    EXPECT_EQ(read.channels[2][0][0], 127);
}

}  // namespace
}  // namespace gma
}  // namespace vorada
