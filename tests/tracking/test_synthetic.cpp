#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "common/errors.h"
#include "driver/pipeline.h"
#include "io/flowreader.h"
#include "signals/raster.h"
#include "tests/support/tempdir.h"
#include "tools/synthetic/synthetic.h"

namespace {

using vorada::gma::Flow;
using namespace vorada::synthetic;

// Two shapes moving by whole pixels, so the texture of a pixel reappears exactly where its flow
// points.
Options integer_motion() {
    Options options;
    options.width = 30;
    options.height = 20;
    options.frames = 4;
    Shape disc;
    disc.x = 8;
    disc.y = 9;
    disc.half_width = 5;
    disc.dx = 2;
    disc.dy = 1;
    Shape box;
    box.kind = ShapeKind::rectangle;
    box.x = 22;
    box.y = 8;
    box.half_width = 4;
    box.half_height = 3;
    box.dx = -1;
    box.dy = 0;
    box.color = Eigen::Vector3d(40, 160, 90);
    options.shapes = {disc, box};
    return options;
}

TEST(MakeSynthetic, IsDeterministicAndDependsOnTheSeed) {
    const Synthetic a = make_synthetic(default_sample_options());
    const Synthetic b = make_synthetic(default_sample_options());
    EXPECT_EQ(a.video.values, b.video.values);
    EXPECT_EQ(a.forward_flow.values, b.forward_flow.values);
    EXPECT_EQ(a.layers.values, b.layers.values);
    Options other = default_sample_options();
    other.seed += 1;
    EXPECT_NE(make_synthetic(other).video.values, a.video.values);
    EXPECT_EQ(a.video.size, vorada::gma::Coordinate(160, 120, 8));
    for (double value : a.video.values) {
        ASSERT_TRUE(value >= 0.0 && value <= 255.0 && value == std::floor(value)) << value;
    }
}

TEST(MakeSynthetic, FlowsCarryEachVisiblePixelToItsOwnTexture) {
    const Synthetic s = make_synthetic(integer_motion());
    const long long X = s.video.size(0), Y = s.video.size(1), T = s.video.size(2);
    std::size_t checked = 0;
    vorada::gma::for_each_point(s.video, [&](long long x, long long y, long long t) {
        const double* w = s.forward_flow.at(x, y, t);
        const double* back = s.backward_flow.at(x, y, t);
        if (t == T - 1) {
            ASSERT_EQ(w[0], 0.0);
            ASSERT_EQ(w[1], 0.0);
        }
        if (t == 0) {
            ASSERT_EQ(back[0], 0.0);
            ASSERT_EQ(back[1], 0.0);
        } else if (t < T - 1) {
            ASSERT_EQ(back[0], -w[0]);
            ASSERT_EQ(back[1], -w[1]);
        }
        if (t == T - 1) {
            return;
        }
        const long long nx = x + static_cast<long long>(w[0]);
        const long long ny = y + static_cast<long long>(w[1]);
        const unsigned long long layer = *s.layers.at(x, y, t);
        if (nx < 0 || ny < 0 || nx >= X || ny >= Y || *s.layers.at(nx, ny, t + 1) != layer) {
            return;  // leaves the frame or becomes hidden
        }
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(s.video.at(nx, ny, t + 1)[c], s.video.at(x, y, t)[c]);
        }
        ++checked;
    });
    EXPECT_GT(checked, static_cast<std::size_t>(X * Y));
    // Both shapes and the background are visible in frame 0.
    EXPECT_EQ(*s.layers.at(8, 9, 0), 1u);
    EXPECT_EQ(*s.layers.at(22, 8, 0), 2u);
    EXPECT_EQ(*s.layers.at(0, 0, 0), 0u);
}

TEST(MakeSynthetic, RejectsAnEmptySize) {
    Options options;
    options.frames = 0;
    EXPECT_THROW(make_synthetic(options), vorada::VoradaError);
}

TEST(WriteFlo, WritesTheTagAndReadsBackThroughTheFlowReader) {
    vorada::testing::TempDir dir;
    const Synthetic s = make_synthetic(integer_motion());
    write_flo(dir.file("a.flo"), s.forward_flow, 1);
    const std::string bytes = vorada::testing::read_bytes(dir.file("a.flo"));
    ASSERT_EQ(bytes.size(), 12u + 8u * 30u * 20u);
    EXPECT_EQ(bytes.substr(0, 4), "PIEH");  // 202021.25 as a little-endian float
    EXPECT_EQ(bytes.substr(4, 8), std::string("\x1e\0\0\0\x14\0\0\0", 8));
    Flow read(30, 20, 4);
    vorada::gma::read_optical_flow(read, dir.file("a.flo"), 2);
    for (long long y = 0; y < 20; ++y) {
        for (long long x = 0; x < 30; ++x) {
            ASSERT_EQ(read.at(x, y, 2)[0], s.forward_flow.at(x, y, 1)[0]);
            ASSERT_EQ(read.at(x, y, 2)[1], s.forward_flow.at(x, y, 1)[1]);
        }
    }
    EXPECT_THROW(write_flo(dir.file("b.flo"), s.forward_flow, 4), vorada::VoradaError);
    EXPECT_THROW(write_flo(dir.file("missing/c.flo"), s.forward_flow, 0), vorada::VoradaFileError);
}

TEST(WriteSample, WritesEveryFlowAndFrameUnderTheReadersNames) {
    vorada::testing::TempDir dir;
    Synthetic s = make_synthetic(integer_motion());
    write_sample(dir.file("sample"), s);
    const std::string root = dir.file("sample");
    Flow forward, backward;
    vorada::gma::load_flows(forward, backward, s.video, root, 0);
    EXPECT_EQ(forward.values, s.forward_flow.values);
    EXPECT_EQ(backward.values, s.backward_flow.values);
    for (unsigned long long t = 0; t < 4; ++t) {
        EXPECT_TRUE(boost::filesystem::is_regular_file(vorada::gma::frame_path(root, t))) << t;
    }
    // Whole colour levels survive the 8-bit images unchanged.
    vorada::gma::Video video(4ULL);
    vorada::gma::load_frames(video, root, 0, 4);
    EXPECT_EQ(video.size, s.video.size);
    EXPECT_EQ(video.values, s.video.values);
}

}  // namespace
