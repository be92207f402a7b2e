#include <gtest/gtest.h>

#include "clips/clipfile.h"
#include "common/errors.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace clips {
namespace {

ClipSummary small_summary() {
    ClipSummary s;
    s.clip = 2;
    s.segment = 1;
    s.first_frame = 10;
    s.frames = 3;
    s.width = 4;
    s.height = 2;
    s.leaves = 5;
    s.merges = 3;
    s.color_scale = 1.5;
    s.motion_scale = 0.001;
    s.area_fraction = 4;
    s.num_colors = 2;
    s.run_voxels = 48;
    ClipRegion a;
    a.label = 1;
    a.area = 6;
    a.first_frame = 0;
    a.last_frame = 2;
    a.frames = {{1, 2, 0.5, 2}, {3, 4, 1, 2}, {5, 6, 1.5, 2}};
    a.colours = {Eigen::Vector3d(50, 1, -2), Eigen::Vector3d(20, 0, 0)};
    a.weights = {4, 2};
    ClipRegion b;
    b.label = 7;
    b.area = 18;
    b.first_frame = 1;
    b.last_frame = 1;
    b.frames = {{0.25, -1, 3, 8}};
    b.colours = {Eigen::Vector3d(70, 3, 3)};
    b.weights = {18};
    s.regions = {a, b};
    s.links = {{1, 7}};
    return s;
}

// A summary written to a file of a fresh folder.
class ClipFile : public ::testing::Test {
  protected:
    void SetUp() override { write_clip_summary(path, small_summary()); }
    testing::TempDir dir;
    const std::string path = dir.file("regions.bin");
};

TEST_F(ClipFile, RoundTripsExactly) {
    const ClipSummary s = small_summary();
    const ClipSummary r = read_clip_summary(path);
    EXPECT_EQ(r.clip, 2u);
    EXPECT_EQ(r.segment, 1u);
    EXPECT_EQ(r.first_frame, 10u);
    EXPECT_EQ(r.run_voxels, 48u);
    EXPECT_EQ(r.motion_scale, 0.001);
    ASSERT_EQ(r.regions.size(), 2u);
    EXPECT_EQ(r.regions[1].label, 7u);
    EXPECT_EQ(r.regions[1].frames[0].flow_x, 0.25);
    EXPECT_EQ(r.regions[0].frames[2].points, 2);
    EXPECT_EQ(r.regions[0].colours[0], Eigen::Vector3d(50, 1, -2));
    EXPECT_EQ(r.regions[0].weights, (std::vector<double>{4, 2}));
    EXPECT_EQ(r.links, s.links);
}

TEST_F(ClipFile, RefusesDamagedFilesInOneLine) {
    const std::string good = testing::read_bytes(path);
    auto refused = [&](const std::string& bytes, const char* what) {
        testing::write_bytes(path, bytes);
        try {
            read_clip_summary(path);
            ADD_FAILURE() << "accepted: " << what;
        } catch (const VoradaFileError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.find('\n'), std::string::npos) << what;
            EXPECT_NE(message.find(path), std::string::npos) << what;
        }
    };
    // Every truncation, a bad magic, another version, a huge region count, a trailing byte.
    for (std::size_t size = 0; size < good.size(); size += 7)
        refused(good.substr(0, size), "truncated");
    refused(good.substr(0, good.size() - 1), "one byte short");
    std::string bytes = good;
    bytes[0] = 'X';
    refused(bytes, "magic");
    bytes = good;
    bytes[8] = 2;
    refused(bytes, "version");
    bytes = good;
    bytes[8 + 8 + 10 * 8 + 7] = 0x10;  // region count 2^60
    refused(bytes, "region count");
    refused(good + '\0', "trailing byte");
    ClipSummary s = small_summary();
    s.links = {{7, 1}};
    EXPECT_THROW(write_clip_summary(path, s), VoradaError);
}

}  // namespace
}  // namespace clips
}  // namespace vorada
