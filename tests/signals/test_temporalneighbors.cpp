#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "signals/temporalneighbors.h"
#include "tests/signals/regiontesthelpers.h"

namespace vorada {
namespace testing {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using Labels = std::set<unsigned long long>;

void set_flow(gma::Flow& flow, long long x, long long y, long long t, double dx, double dy) {
    flow.at(x, y, t)[0] = dx;
    flow.at(x, y, t)[1] = dy;
}

// A 16 × 16 × 2 video. Frame 0 is label 100 except a few marked pixels; frame 1 is label 600
// except the single pixels 500 at (10,10) and 510 at (3,3), whose backward flows point between
// pixels of frame 0.
class RoundingTest : public ::testing::Test {
  protected:
    RoundingTest() : video(16, 16, 2), forward(16, 16, 2), backward(16, 16, 2) {
        std::vector<unsigned long long> values(16 * 16 * 2, 100);
        auto put = [&](long long x, long long y, long long t, unsigned long long label) {
            values[static_cast<std::size_t>(x + 16 * (y + 16 * t))] = label;
        };
        for (long long i = 0; i < 256; ++i) {
            put(i % 16, i / 16, 1, 600);
        }
        put(11, 10, 0, 200);
        put(10, 10, 0, 300);
        put(10, 9, 0, 400);
        put(3, 4, 0, 700);
        put(3, 3, 0, 720);
        put(10, 10, 1, 500);
        put(3, 3, 1, 510);
        labels = make_labels(16, 16, 2, values);
        partition.init(labels);
        set_flow(backward, 10, 10, 1, 0.5, -0.5);  // 10.5 → 11, 9.5 → 10
        set_flow(backward, 3, 3, 1, 0.4, 0.6);     // 3.4 → 3, 3.6 → 4
    }
    Region& of(unsigned long long tracker_label) {
        return partition.regions[partition.label_map.at(tracker_label)];
    }
    Labels neighbors_of(unsigned long long tracker_label) {
        Labels tracker_labels;
        for (unsigned long long leaf : paired_with(partition, of(tracker_label).label)) {
            for (unsigned long long l : {100, 200, 300, 400, 500, 510, 600, 700, 720}) {
                if (partition.label_map.at(l) == leaf) {
                    tracker_labels.insert(l);
                }
            }
        }
        return tracker_labels;
    }
    gma::Video video;
    gma::Flow forward, backward;
    gma::LabelVolume labels;
    Partition partition;
};

TEST_F(RoundingTest, HalvesRoundAwayFromZero) {
    gma::add_temporal_neighbors(video, partition, forward, backward, partition.leaf_labels, 0);
    EXPECT_EQ(neighbors_of(500), (Labels{200, 600}));
    EXPECT_EQ(neighbors_of(510), (Labels{600, 700}));
    EXPECT_EQ(met_from(partition, of(500).label, of(200).label), of(500).label);
}

TEST_F(RoundingTest, ARegionOfFrameZeroOnlyTriesNoForwardTarget) {
    // Region 300 lives in frame 0 alone: its backward target lies before the video, so its
    // forward target (10,10,1) = region 500 is never tried. Region 600 follows zero flows back.
    gma::add_temporal_neighbors(video, partition, forward, backward, partition.leaf_labels, 0);
    EXPECT_EQ(neighbors_of(300), (Labels{100, 200, 400}));
    EXPECT_EQ(neighbors_of(600), (Labels{100, 200, 400, 500, 510, 700}));
}

TEST_F(RoundingTest, ModeTwoLooksStraightBackWhateverTheFlow) {
    gma::add_temporal_neighbors(video, partition, forward, backward, partition.leaf_labels, 2);
    EXPECT_EQ(neighbors_of(500), (Labels{300, 600}));
    EXPECT_EQ(neighbors_of(510), (Labels{600, 720}));
}

// 3 × 1 × 3 (tracker labels, leaf index = label − 1):
//   t 0:  1 2 3
//   t 1:  1 4 5
//   t 2:  6 4 7
class SpanTest : public ::testing::Test {
  protected:
    SpanTest() : video(3, 1, 3), forward(3, 1, 3), backward(3, 1, 3) {
        labels = make_labels(3, 1, 3, {1, 2, 3, 1, 4, 5, 6, 4, 7});
        partition.init(labels);
    }
    Region& r(unsigned long long tracker_label) { return partition.regions[tracker_label - 1]; }
    Labels neighbors_of(unsigned long long tracker_label) {
        Labels result;
        for (unsigned long long l : paired_with(partition, r(tracker_label).label)) {
            result.insert(l + 1);
        }
        return result;
    }
    void run(unsigned long long mode = 0) {
        gma::add_temporal_neighbors(video, partition, forward, backward, partition.leaf_labels,
                                    mode);
    }
    gma::Video video;
    gma::Flow forward, backward;
    gma::LabelVolume labels;
    Partition partition;
};

TEST_F(SpanTest, FirstFrameLooksBackAndLastFrameLooksAhead) {
    run();
    EXPECT_EQ(neighbors_of(1), (Labels{2, 4, 6}));        // ahead from t 1 to 6; nothing before t 0
    EXPECT_EQ(neighbors_of(4), (Labels{1, 2, 5, 6, 7}));  // back from t 1 to 2; nothing after t 2
    EXPECT_EQ(neighbors_of(5), (Labels{3, 4, 7}));        // one frame: back to 3 and ahead to 7
    EXPECT_EQ(neighbors_of(2), (Labels{1, 3, 4}));
    // The pair 1–6 is met first from region 1 (lower in the store).
    EXPECT_EQ(met_from(partition, 0, 5), 0);
    EXPECT_EQ(met_from(partition, 4, 6), 4);
}

TEST_F(SpanTest, ASpatialNeighbourKeepsItsFirstMeeting) {
    set_flow(backward, 1, 0, 1, -1.0, 0.0);  // region 4 now looks back onto region 1
    run();
    EXPECT_EQ(met_from(partition, 0, 3), 0);
    EXPECT_EQ(met_from(partition, 3, 1), -1);
}

TEST_F(SpanTest, FlowLeavingTheVideoMakesNoLink) {
    for (long long t = 0; t < 3; ++t) {
        for (long long x = 0; x < 3; ++x) {
            set_flow(forward, x, 0, t, 100.0, 0.0);
            set_flow(backward, x, 0, t, 0.0, -2.0);
        }
    }
    set_flow(backward, 2, 0, 1, std::numeric_limits<double>::quiet_NaN(), 0.0);
    run();
    EXPECT_EQ(neighbors_of(1), (Labels{2, 4}));
    EXPECT_EQ(neighbors_of(5), (Labels{4}));
    // Mode 2 ignores the same flows.
    run(2);
    EXPECT_EQ(neighbors_of(1), (Labels{2, 4, 6}));
    EXPECT_EQ(neighbors_of(5), (Labels{3, 4, 7}));
}

TEST_F(SpanTest, ALabelThatNamesNoRegionIsAnError) {
    gma::LabelVolume foreign = partition.leaf_labels;
    foreign.values[1] = 99;  // (1,0,0), the backward target of region 4
    EXPECT_THAT(
        [&] { gma::add_temporal_neighbors(video, partition, forward, backward, foreign, 0); },
        ThrowsMessage<VoradaError>(StrEq("Partition: region index not found.")));
}

TEST_F(SpanTest, MergedRegionsAreSkipped) {
    partition.merge_units(r(1), r(2), 7);
    run();
    EXPECT_EQ(partition.regions[7].children.size(), 2u);
    EXPECT_TRUE(paired_with(partition, 7).empty());  // no pairs for a merged region
}

}  // namespace
}  // namespace testing
}  // namespace vorada
