#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <boost/filesystem.hpp>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "io/segmentation.h"
#include "tests/support/tempdir.h"

// After the headers that bring in <cassert>: Magick++ includes assert.h inside its own namespace.
#include <Magick++.h>

namespace vorada {
namespace testing {
namespace {

using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

gma::LabelVolume make_labels(long long x,
                             long long y,
                             long long t,
                             const std::vector<unsigned long long>& values) {
    gma::LabelVolume labels(x, y, t);
    labels.values = values;
    return labels;
}

// The colours a process whose generator was (re)started with seed 1 draws first; a fresh
// process behaves as if seeded with 1.
std::vector<std::array<int, 3>> first_colors(std::size_t count) {
    std::srand(1);
    std::vector<std::array<int, 3>> colors;
    std::set<std::array<int, 3>> seen;
    while (colors.size() < count) {
        std::array<int, 3> c;
        c[0] = std::rand() % 256;
        c[1] = std::rand() % 256;
        c[2] = std::rand() % 256;
        if (seen.insert(c).second) {
            colors.push_back(c);
        }
    }
    return colors;
}

TEST(WriteLabelFile, TwoByOneByOneIsFortyGoldenBytes) {
    TempDir dir;
    gma::Video video(2, 1, 1);
    gma::LabelVolume labels = make_labels(2, 1, 1, {5, 0x0102030405060708ULL});
    gma::write_label_file(labels, video, dir.path());
    const std::string expected(
        "\x02\0\0\0\0\0\0\0"
        "\x01\0\0\0\0\0\0\0"
        "\x01\0\0\0\0\0\0\0"
        "\x05\0\0\0\0\0\0\0"
        "\x08\x07\x06\x05\x04\x03\x02\x01",
        40);
    EXPECT_EQ(read_bytes(dir.file("frames.sgm")), expected);

    // An existing file is replaced, not appended to.
    gma::write_label_file(labels, video, dir.path());
    EXPECT_EQ(read_bytes(dir.file("frames.sgm")).size(), 40u);
}

TEST(WriteLabelFile, AFileThatCannotBeOpenedIsAnError) {
    TempDir dir;
    const std::string missing = dir.file("no_such_directory");
    gma::Video video(2, 1, 1);
    gma::LabelVolume labels(2, 1, 1);
    EXPECT_THAT(
        [&] { gma::write_label_file(labels, video, missing); },
        ThrowsMessage<VoradaFileError>(StartsWith("Error in file '" + missing + "/frames.sgm': ")));
}

TEST(WriteLabelFile, AShortWriteIsAnErrorAndLeavesNoFile) {
    // The file size limit makes the device refuse bytes past the first 4 KiB, as a full disk
    // would; what was written goes, and the final name never appears.
    TempDir dir;
    gma::Video video(64, 64, 2);
    gma::LabelVolume labels(64, 64, 2);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{4096, limit.rlim_max};
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THAT([&] { gma::write_label_file(labels, video, dir.path()); },
                ThrowsMessage<VoradaFileError>(StrEq("Error in file '" + dir.file("frames.sgm") +
                                                     "': cannot be written: File too large")));
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous_handler);
    EXPECT_TRUE(boost::filesystem::is_empty(dir.path()));
}

TEST(CompactSegmentIndices, FollowFirstAppearanceInRasterOrder) {
    gma::LabelVolume labels = make_labels(2, 2, 1, {7, 3, 7, 5});
    std::size_t count = 0;
    EXPECT_EQ(gma::compact_segment_indices(labels, count),
              (std::vector<std::uint32_t>{0, 1, 0, 2}));
    EXPECT_EQ(count, 3u);
}

TEST(DrawSegmentColors, KRegionsGetKDistinctColours) {
    const std::size_t count = 20000;  // large enough that repeated candidates do occur
    const std::vector<std::uint8_t> colors = gma::draw_segment_colors(count);
    std::set<std::array<int, 3>> distinct;
    for (std::size_t i = 0; i < count; ++i) {
        distinct.insert({colors[3 * i], colors[3 * i + 1], colors[3 * i + 2]});
    }
    EXPECT_EQ(distinct.size(), count);
}

TEST(DrawSegmentColors, ARepeatedCandidateIsDrawnAgainWhole) {
    const std::vector<int> draws = {1, 2, 3, 257, 258, 259, 1, 2, 4};
    std::size_t next = 0;
    const std::vector<std::uint8_t> colors =
        gma::draw_segment_colors(2, [&] { return draws[next++]; });
    EXPECT_EQ(colors, (std::vector<std::uint8_t>{1, 2, 3, 1, 2, 4}));
    EXPECT_EQ(next, draws.size());
}

TEST(DrawSegmentColors, MoreRegionsThanColoursIsAnError) {
    EXPECT_THROW(gma::draw_segment_colors(16777217, [] { return 0; }), VoradaError);
}

TEST(PaintSegments, ColoursFollowFirstAppearanceNotLabelOrder) {
    // Frame 0's first row starts with label 9, so 9 takes the first colour drawn.
    std::srand(1);
    gma::LabelVolume labels = make_labels(3, 1, 2, {9, 2, 9, 2, 5, 5});
    gma::Video video(3, 1, 2);
    video.color_space = CIELab;
    std::size_t count = 0;
    const auto indices = gma::compact_segment_indices(labels, count);
    const auto colors = gma::draw_segment_colors(count);
    const ImageRGB<unsigned char> frames[2] = {gma::paint_segment_frame(video, indices, colors, 0),
                                               gma::paint_segment_frame(video, indices, colors, 1)};
    auto pixel = [&frames](int x, int t) {
        return std::array<int, 3>{frames[t].channels[0].data()[x], frames[t].channels[1].data()[x],
                                  frames[t].channels[2].data()[x]};
    };
    const auto expected = first_colors(3);
    EXPECT_EQ(pixel(0, 0), expected[0]);
    EXPECT_EQ(pixel(2, 0), expected[0]);
    EXPECT_EQ(pixel(1, 0), expected[1]);
    EXPECT_EQ(pixel(0, 1), expected[1]);
    EXPECT_EQ(pixel(2, 1), expected[2]);
    EXPECT_EQ(frames[1].width(), 3u);
    EXPECT_THROW(gma::paint_segment_frame(video, indices, colors, 2), VoradaError);
}

TEST(WriteSegmentation, LabelsAndVideoOfDifferentSizesAreRefused) {
    TempDir dir;
    gma::LabelVolume labels(2, 2, 1);
    gma::Video video(2, 1, 2);
    EXPECT_THROW(gma::write_segmentation(labels, video, dir.path()), VoradaError);
    EXPECT_FALSE(std::ifstream(dir.file("frames.sgm")).good());
}

TEST(WriteSegmentation, WritesOnePngPerFrameAndTheLabelFile) {
    std::srand(1);
    TempDir dir;
    gma::LabelVolume labels = make_labels(2, 2, 2, {4, 4, 1, 4, 1, 1, 1, 4});
    gma::Video video(2, 2, 2);
    gma::write_segmentation(labels, video, dir.path());
    const auto expected = first_colors(2);

    const std::string label_file = read_bytes(dir.file("frames.sgm"));
    ASSERT_EQ(label_file.size(), 24u + 8u * 8u);
    EXPECT_EQ(label_file[24], '\x04');
    EXPECT_EQ(label_file[24 + 8 * 2], '\x01');

    // Frame 0 holds labels 4 4 / 1 4 and frame 1 labels 1 1 / 1 4; label 4 is met first.
    const std::vector<std::vector<int>> frame_colors = {{0, 0, 1, 0}, {1, 1, 1, 0}};
    for (int t = 0; t < 2; ++t) {
        Magick::Image image;
        image.read(dir.file(t == 0 ? "00000.png" : "00001.png"));
        ASSERT_EQ(image.columns(), 2u);
        ASSERT_EQ(image.rows(), 2u);
        std::vector<unsigned char> pixels(12);
        image.write(0, 0, 2, 2, "RGB", Magick::CharPixel, pixels.data());
        for (int p = 0; p < 4; ++p) {
            const std::array<int, 3> got = {pixels[3 * p], pixels[3 * p + 1], pixels[3 * p + 2]};
            EXPECT_EQ(got, expected[frame_colors[t][p]]) << "frame " << t << " pixel " << p;
        }
    }
}

TEST(SegmentationFrameWriter, WritesTheBytesOfTheWholeVolumeWriter) {
    TempDir whole, framed;
    const std::vector<unsigned long long> values = {4, 4, 1, 4, 1, 1, 7, 4};
    gma::LabelVolume labels = make_labels(2, 2, 2, values);
    gma::Video video(2, 2, 2);
    io::ImageWriteQueue queue(0);
    std::srand(1);
    gma::write_segmentation(labels, video, whole.path(), &queue);
    std::srand(1);
    gma::SegmentationFrameWriter writer(framed.path(), 2, 2, 2, 3, &queue);
    const std::uint64_t frame_labels[2][4] = {{4, 4, 1, 4}, {1, 1, 7, 4}};
    const std::uint32_t compact[2][4] = {{0, 0, 1, 0}, {1, 1, 2, 0}};
    writer.write_frame(frame_labels[0], compact[0]);
    EXPECT_THROW(writer.commit(), VoradaError);  // a frame short
    writer.write_frame(frame_labels[1], compact[1]);
    writer.commit();
    queue.finish();
    for (const char* name : {"frames.sgm", "00000.png", "00001.png"}) {
        EXPECT_EQ(read_bytes(framed.file(name)), read_bytes(whole.file(name))) << name;
    }
}

}  // namespace
}  // namespace testing
}  // namespace vorada
