#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <cstring>
#include <fstream>
#include <set>

#include "clips/clipfile.h"
#include "clips/join.h"
#include "io/treefile.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace clips {
namespace {

// A video of 6×1 pixels and 4 frames in two clips of 2 frames: a red object at x = t moving
// right by one pixel per frame over a grey background. In clip 0 the background is two
// leaves merged into one region; in clip 1 it is one leaf.
constexpr std::uint64_t width = 6, frames = 4;

JoinSettings settings_for(const std::string& input, const std::string& output) {
    JoinSettings settings;
    settings.input_directory = input;
    settings.output_directory = output;
    settings.color_scale = 5;
    settings.motion_scale = 1.5;
    settings.area_fraction = 0.001;
    settings.num_colors = 4;
    settings.output_levels = {2, 1};  // a level holds one region more than its name
    settings.png_mode = io::PngMode::none;
    return settings;
}

ClipRegion region(std::uint32_t label,
                  double flow,
                  std::uint64_t per_frame,
                  const Eigen::Vector3d& colour) {
    ClipRegion r;
    r.label = label;
    r.area = 2 * per_frame;
    r.first_frame = 0;
    r.last_frame = 1;
    const double n = static_cast<double>(per_frame);
    r.frames = {{flow * n, 0, n, n}, {flow * n, 0, n, n}};
    r.colours = {colour};
    r.weights = {1};
    return r;
}

void write_clip(const std::string& output, const Clip& clip, const JoinSettings& settings) {
    const std::string dir = clip_directory(output, clip.index);
    boost::filesystem::create_directories(dir);
    const bool split = clip.index == 0;  // clip 0: background leaves 1 (x < object) and 2
    std::vector<std::uint64_t> leaves;
    for (std::uint64_t t = clip.first; t <= clip.last; ++t) {
        for (std::uint64_t x = 0; x < width; ++x) {
            leaves.push_back(x == t ? 0 : (split && x > t ? 2 : 1));
        }
    }
    io::TreeFileWriter tree(dir + "/tree.bpt", width, 1, clip.frames(), leaves.data(),
                            split ? 3 : 2);
    if (split) {
        tree.add(io::TreeMerge{3, 1, 2, 2, 0.0});
    }
    tree.finish();
    ClipSummary s;
    s.clip = clip.index;
    s.segment = clip.segment;
    s.first_frame = clip.first;
    s.frames = clip.frames();
    s.width = width;
    s.height = 1;
    s.leaves = split ? 3 : 2;
    s.merges = split ? 1 : 0;
    s.color_scale = settings.color_scale;
    s.motion_scale = settings.motion_scale;
    s.area_fraction = settings.area_fraction;
    s.num_colors = settings.num_colors;
    s.run_voxels = width * frames;
    s.regions = {region(0, 1, 1, {50, 60, 40}), region(split ? 3 : 1, 0, 5, {70, 0, 0})};
    s.links = {{0, split ? 3u : 1u}};
    write_clip_summary(dir + "/" + clip_summary_name, s);
}

void write_flow(const std::string& path, const std::vector<float>& u) {
    std::ofstream out(path, std::ios::binary);
    const std::int32_t header[3] = {0x48454950, static_cast<std::int32_t>(u.size()), 1};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (float value : u) {
        const float pair[2] = {value, 0};
        out.write(reinterpret_cast<const char*>(pair), sizeof pair);
    }
}

std::vector<std::uint64_t> read_labels(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::uint64_t header[3] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    EXPECT_EQ(header[0] * header[1] * header[2], width * frames) << path;
    std::vector<std::uint64_t> labels(width * frames);
    in.read(reinterpret_cast<char*>(labels.data()),
            static_cast<std::streamsize>(8 * labels.size()));
    EXPECT_TRUE(in) << path;
    return labels;
}

// The labels of a cut of the tree file at `regions` regions, voxel by voxel.
std::vector<std::uint64_t> cut_tree(const io::TreeFile& tree, std::uint64_t regions) {
    std::vector<std::uint64_t> top(tree.leaf_count + tree.merges.size());
    for (std::size_t i = 0; i < top.size(); ++i) {
        top[i] = i;
    }
    for (const io::TreeMerge& merge : tree.merges) {
        if (merge.regions < regions) {
            break;
        }
        top[merge.first] = top[merge.second] = merge.label;
    }
    std::vector<std::uint64_t> labels;
    for (std::uint32_t leaf : tree.leaves) {
        std::uint64_t label = leaf;
        while (top[label] != label) {
            label = top[label];
        }
        labels.push_back(label);
    }
    return labels;
}

struct JoinedClips {
    testing::TempDir dir;
    std::string input = dir.file("in"), output = dir.file("out");
    Plan plan;
    JoinReport report;

    explicit JoinedClips(const std::vector<ShotSegment>& shots,
                         io::PngMode png = io::PngMode::none) {
        plan = make_plan(0, frames - 1, 2, shots);
        JoinSettings settings = settings_for(input, output);
        settings.png_mode = png;
        boost::filesystem::create_directories(input + "/flows");
        // Forward flow of frame 1: the object moves on; backward flow of frame 2: it came from
        // the left. The background stays.
        write_flow(input + "/flows/flow_1_2.flo", {0, 1, 0, 0, 0, 0});
        write_flow(input + "/flows/flow_2_1.flo", {0, 0, -1, 0, 0, 0});
        for (const Clip& clip : plan.clips) {
            write_clip(output, clip, settings);
        }
        report = join_clips(plan, settings);
    }
};

TEST(Join, RegionCrossingAClipBoundaryKeepsOneLabel) {
    JoinedClips run({}, io::PngMode::fast);
    EXPECT_EQ(run.report.leaves, 5u);
    EXPECT_EQ(run.report.start_regions, 4u);
    EXPECT_EQ(run.report.join_merges, 2u);
    const io::TreeFile tree = io::read_tree_file(run.output + "/trees/tree.bpt");
    ASSERT_EQ(tree.merges.size(), 3u);
    // The clip's merge relabelled: background leaves 1 and 2 of clip 0 into label 5.
    EXPECT_EQ(tree.merges[0].label, 5u);
    EXPECT_EQ(tree.merges[0].first, 1u);
    EXPECT_EQ(tree.merges[0].second, 2u);
    for (std::uint64_t level : {2, 1}) {
        const auto labels =
            read_labels(run.output + "/segmentations/" + std::to_string(level) + "/frames.sgm");
        EXPECT_EQ(labels, cut_tree(tree, level + 1)) << level;
    }
    const auto top = read_labels(run.output + "/segmentations/1/frames.sgm");
    // One label for the object in all four frames, another for the background in all four.
    for (std::uint64_t t = 0; t < frames; ++t) {
        for (std::uint64_t x = 0; x < width; ++x) {
            EXPECT_EQ(top[t * width + x], x == t ? top[0] : top[1]) << t << " " << x;
        }
    }
    EXPECT_NE(top[0], top[1]);
    EXPECT_TRUE(boost::filesystem::exists(run.output + "/segmentations/1/00003.png"));
    // Where each clip lies in the tree, for cuts replayed a clip at a time.
    EXPECT_EQ(testing::read_bytes(run.output + "/trees/clips.txt"),
              "vseg tree clips 1\n"
              "clip 0 frames 0 2 leaves 0 3 merges 0 1\n"
              "clip 1 frames 2 2 leaves 3 2 merges 1 0\n"
              "join merges 1 2\n");
}

TEST(Join, RegionsOfTwoShotsNeverShareALabel) {
    JoinedClips run({{0, 1, false}, {2, 3, false}});
    const io::TreeFile tree = io::read_tree_file(run.output + "/trees/tree.bpt");
    for (std::uint64_t level : {2, 1}) {
        const auto labels =
            read_labels(run.output + "/segmentations/" + std::to_string(level) + "/frames.sgm");
        EXPECT_EQ(labels, cut_tree(tree, level + 1)) << level;
        const std::set<std::uint64_t> first(labels.begin(), labels.begin() + 2 * width);
        for (std::size_t v = 2 * width; v < labels.size(); ++v) {
            EXPECT_EQ(first.count(labels[v]), 0u) << level << " voxel " << v;
        }
    }
}

}  // namespace
}  // namespace clips
}  // namespace vorada
