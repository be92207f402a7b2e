// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <string>
#include <vector>

#include "common/errors.h"
#include "image/imagepartition.h"
#include "io/readimage.h"
#include "io/readmultiarray.h"
#include "io/writeimage.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using vorada::testing::read_bytes;
using vorada::testing::TempDir;

const bool magick_ready = [] {
    Magick::InitializeMagick(nullptr);
    return true;
}();

class PartitionFiles : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(magick_ready); }
    TempDir directory;
};

ImagePartition<unsigned int> labels() {
    // 4 × 3 partition:  1 1 2 2
    //                   1 3 3 2
    //                   1 3 3 70000
    ImagePartition<unsigned int> partition(4, 3);
    const unsigned int values[12] = {1, 1, 2, 2, 1, 3, 3, 2, 1, 3, 3, 70000};
    std::copy(values, values + 12, partition.channels[0].data());
    return partition;
}

TEST_F(PartitionFiles, PartitionRoundTripsThroughPrl) {
    const std::string path = directory.file("labels.prl");
    const ImagePartition<unsigned int> partition = labels();
    WriteImage(path).write(partition);
    EXPECT_EQ(static_cast<unsigned char>(read_bytes(path).at(3)), LabelCode);

    ImaVol<unsigned int, 1, 2> back;
    ReadImage(path).read(back);
    EXPECT_EQ(back.channels[0].extent_list(), (std::vector<unsigned long long>{4, 3}));
    EXPECT_EQ(
        std::vector<unsigned int>(back.channels[0].data(), back.channels[0].data() + 12),
        std::vector<unsigned int>(partition.channels[0].data(), partition.channels[0].data() + 12));
}

TEST_F(PartitionFiles, PartitionsAndBayerArraysNeedTheMultiArrayFormat) {
    const std::string png = directory.file("labels.png");
    EXPECT_THAT([&] { WriteImage(png).write(labels()); },
                ThrowsMessage<VoradaError>(
                    StrEq("File format no supported to save a ImagePartition: use .prl")));
    const MultiArray<unsigned char, 2> samples(std::vector<unsigned long long>{2, 2});
    EXPECT_THAT([&] { WriteImage(png).write(samples); },
                ThrowsMessage<VoradaError>(
                    StrEq("File format no supported to save an ImageBayer: use .bay")));
    EXPECT_FALSE(boost::filesystem::exists(png));

    // A PNG read as a partition is refused before it is read.
    ImageGray<unsigned char> gray(2, 2);
    WriteImage(png).write(gray);
    ImaVol<unsigned int, 1, 2> partition(std::vector<std::vector<unsigned long long>>{{1, 1}});
    partition.channels[0].data()[0] = 5;
    EXPECT_THAT([&] { ReadImage(png).read(partition); },
                ThrowsMessage<VoradaError>(
                    StrEq("Reading unsupported image type (unknown extension) for partitions")));
    EXPECT_EQ(partition.channels[0].data()[0], 5u);
}

TEST_F(PartitionFiles, BayerSamplesAreStoredRaw) {
    const std::string path = directory.file("sensor.bay");
    MultiArray<unsigned char, 2> samples(std::vector<unsigned long long>{3, 2});
    for (unsigned char i = 0; i < 6; ++i) {
        samples.data()[i] = static_cast<unsigned char>(40 * i + 1);
    }
    WriteImage(path).write(samples);
    const std::string bytes = read_bytes(path);
    ASSERT_EQ(bytes.size(), 13u + 16u + 8u + 6u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[3]), Raw);
    EXPECT_EQ(bytes.substr(37), std::string("\x01\x29\x51\x79\xa1\xc9", 6));
    MultiArray<unsigned char, 2> back;
    ReadMultiArray(path) >> back;
    EXPECT_EQ(back.extent_list(), (std::vector<unsigned long long>{3, 2}));
    EXPECT_EQ(back[2][1], samples[2][1]);
}

TEST_F(PartitionFiles, MaskRoundTripsThroughPng) {
    const std::string path = directory.file("mask.png");
    ImaVolMask<2> mask(std::vector<unsigned long long>{3, 2});
    mask.channels[0].data()[0] = true;
    mask.channels[0].data()[4] = true;
    WriteImage(path).write(mask);

    ImageGray<unsigned char> gray;
    ReadImage(path).read(gray);
    EXPECT_THAT(std::vector<int>(gray.channels[0].data(), gray.channels[0].data() + 6),
                ::testing::ElementsAre(255, 0, 0, 0, 255, 0));
    ImaVolMask<2> back;
    ReadImage(path).read(back);
    EXPECT_EQ(back.channels[0].extent_list(), (std::vector<unsigned long long>{3, 2}));
    EXPECT_THAT(std::vector<bool>(back.channels[0].data(), back.channels[0].data() + 6),
                ::testing::ElementsAre(true, false, false, false, true, false));
}

TEST_F(PartitionFiles, GreyOnesReadAsTrue) {
    const std::string path = directory.file("ones.png");
    ImageGray<unsigned char> gray(2, 1);
    gray.channels[0].data()[1] = 1;
    WriteImage(path).write(gray);
    ImaVolMask<2> mask;
    ReadImage(path).read(mask);
    EXPECT_FALSE(mask.channels[0].data()[0]);
    EXPECT_TRUE(mask.channels[0].data()[1]);
}

TEST_F(PartitionFiles, YuvImagesGoThroughRgb) {
    const std::string path = directory.file("yuv.png");
    ImageYUV<unsigned char> image(2, 1);
    const unsigned char yuv[2][3] = {{81, 90, 240}, {235, 128, 128}};
    for (std::size_t c = 0; c < 3; ++c) {
        image.channels[c].data()[0] = yuv[0][c];
        image.channels[c].data()[1] = yuv[1][c];
    }
    WriteImage(path).write(image);
    ImageRGB<unsigned char> rgb;
    ReadImage(path).read(rgb);
    EXPECT_EQ(rgb.channels[0].data()[1], 255);  // white
    ImageYUV<unsigned char> back;
    ReadImage(path).read(back);
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_NEAR(back.channels[c].data()[0], yuv[0][c], 2);
        EXPECT_NEAR(back.channels[c].data()[1], yuv[1][c], 2);
    }
}

}  // namespace
}  // namespace io
}  // namespace vorada
