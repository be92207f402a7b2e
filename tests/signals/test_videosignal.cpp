#include <gtest/gtest.h>

#include "signals/raster.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {
namespace {

TEST(VideoSignal, ValueLayoutIsChannelInterleavedWithXFastest) {
    VideoSignal<double, 3> signal(4, 3, 2);
    signal(1, 2, 1)[2] = 7.5;
    // 3·1 + 12·2 + 36·1 + 2
    EXPECT_EQ(signal.values[65], 7.5);
    EXPECT_EQ(signal.strides, Coordinate(3, 12, 36));
    EXPECT_EQ(signal.upper, Coordinate(3, 2, 1));
    EXPECT_EQ(signal.value_at_coord(Coordinate(1, 2, 1)).values, signal.values.data() + 63);
}

TEST(VideoSignal, NewSignalReadsZeroAndIsRgbUninitialized) {
    VideoSignal<double, 2> flow(5, 4, 3);
    EXPECT_EQ(flow.values.size(), 5u * 4 * 3 * 2);
    for (double value : flow.values) {
        EXPECT_EQ(value, 0.0);
    }
    EXPECT_EQ(flow.color_space, RGB);
    EXPECT_FALSE(flow.initialized);
    EXPECT_EQ(flow.width, 5u);
    EXPECT_EQ(flow.height, 4u);
    EXPECT_EQ(flow.frames, 3u);
}

TEST(VideoSignal, CopyIsDeepAndOwnsItself) {
    VideoSignal<double, 1> source(2, 2, 2);
    source(1, 1, 1)[0] = 3;
    VideoSignal<double, 1> copy(source);
    copy(1, 1, 1)[0] = 9;
    EXPECT_EQ(source(1, 1, 1)[0], 3);
    EXPECT_EQ(copy.owner, &copy);
    EXPECT_EQ(copy(1, 1, 1).signal, &copy);

    VideoSignal<double, 1> assigned;
    assigned = source;
    assigned(0, 0, 0)[0] = 5;
    EXPECT_EQ(source(0, 0, 0)[0], 0);
    EXPECT_EQ(assigned.size, source.size);
}

TEST(VideoSignal, MoveHandsOverTheValuesAndLeavesTheSourceEmpty) {
    VideoSignal<double, 2> source(3, 2, 2);
    source(2, 1, 1)[1] = 4;
    VideoSignal<double, 2> moved(std::move(source));
    EXPECT_EQ(moved(2, 1, 1)[1], 4);
    EXPECT_EQ(moved.owner, &moved);
    EXPECT_EQ(moved.size, Coordinate(3, 2, 2));
    EXPECT_TRUE(source.values.empty());
    EXPECT_EQ(source.size, Coordinate(0, 0, 0));
    VideoSignal<double, 2> assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned(2, 1, 1)[1], 4);
    EXPECT_EQ(assigned.owner, &assigned);
}

TEST(VideoSignal, SizedOnTheFirstFrameOnly) {
    VideoSignal<double, 3> video(5ull);
    EXPECT_TRUE(video.values.empty());
    video.size_on_frame(640, 480);
    EXPECT_TRUE(video.initialized);
    EXPECT_EQ(video.size, Coordinate(640, 480, 5));
    video(10, 10, 4)[1] = 2;
    video.size_on_frame(640, 480);
    EXPECT_EQ(video(10, 10, 4)[1], 2);
    // Frame t is one block starting at element 3·X·Y·t.
    EXPECT_EQ(video.frame_data(2), video.values.data() + 3 * 640 * 480 * 2);
}

TEST(SpacePartition, HoldsOneLabelPerPoint) {
    SpacePartition<unsigned long long, 3> labels(3, 2, 2);
    *labels.at(2, 1, 1) = 42;
    EXPECT_EQ(labels.values.back(), 42u);
    EXPECT_EQ(labels.value_at_coord(Coordinate(2, 1, 1))[0], 42u);
}

TEST(ForEachPoint, VisitsXFastestThenYThenT) {
    VideoSignal<double, 1> signal(2, 2, 2);
    std::vector<Coordinate> visited;
    for_each_point(signal,
                   [&](long long x, long long y, long long t) { visited.emplace_back(x, y, t); });
    ASSERT_EQ(visited.size(), 8u);
    EXPECT_EQ(visited[1], Coordinate(1, 0, 0));
    EXPECT_EQ(visited[2], Coordinate(0, 1, 0));
    EXPECT_EQ(visited[4], Coordinate(0, 0, 1));
}

}  // namespace
}  // namespace gma
}  // namespace vorada
