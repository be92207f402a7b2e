// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <boost/filesystem.hpp>
#include <string>
#include <vector>

#include "common/errors.h"
#include "cut/cut.h"
#include "io/cliptree.h"
#include "io/outputlock.h"
#include "io/treefile.h"
#include "layout/layout.h"
#include "signals/videosignal.h"
#include "tests/support/tempdir.h"
#include "view/font.h"
#include "view/view.h"

namespace vorada {
namespace testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const bool magick_ready = [] {
    Magick::InitializeMagick(nullptr);
    return true;
}();

constexpr int width = 8, height = 6, frames = 2;
const std::array<std::uint8_t, 3> left_color{40, 60, 80}, right_color{90, 40, 30};

// A run of 8 × 6 × 2 voxels: leaf 0 the left half, leaf 1 the right half, merged once. Its
// frames are the two colours of the halves. With `late_leaf`, the right half of frame 1 is a
// leaf 2 of its own, joined to leaf 1 first.
struct TinyRun {
    TempDir dir;
    std::string out = dir.file("out");
    std::string in = dir.file("in");

    explicit TinyRun(bool late_leaf = false) {
        boost::filesystem::create_directories(out + "/trees");
        std::vector<std::uint64_t> leaves;
        gma::Video video(width, height, frames);
        video.width = width;
        video.height = height;
        video.frames = frames;
        for (int t = 0; t < frames; ++t) {
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    leaves.push_back(x < 4 ? 0 : late_leaf && t == 1 ? 2 : 1);
                    const auto& color = x < 4 ? left_color : right_color;
                    std::copy(color.begin(), color.end(), video.at(x, y, t));
                }
            }
        }
        io::TreeFileWriter writer(out + "/trees/tree.bpt", width, height, frames, leaves.data(),
                                  late_leaf ? 3 : 2);
        if (late_leaf) {
            writer.add(io::TreeMerge{3, 1, 2, 2, 0.25});
        }
        writer.add(io::TreeMerge{late_leaf ? 4u : 2u, 0, late_leaf ? 3u : 1u, 1, 0.5});
        writer.finish();
        boost::filesystem::create_directories(in + "/frames");
        for (int t = 0; t < frames; ++t) {
            video.write_frame(layout::frame_path(in, static_cast<unsigned long long>(t)),
                              static_cast<unsigned long long>(t));
        }
    }
};

// Every frame of the run's input, held.
view::Frames all_frames(const TinyRun& run) {
    view::Frames input;
    input.width = width;
    input.height = height;
    input.count = frames;
    input.rgb.resize(3 * width * height * frames);
    for (int t = 0; t < frames; ++t) {
        input.held.push_back(t);
        view::load_frame(run.in, static_cast<std::uint64_t>(t), width, height,
                         input.rgb.data() + 3 * width * height * t);
    }
    return input;
}

// The views of `levels` as vseg-view builds them: the run's tree replayed clip by clip, every
// frame held.
std::vector<view::LevelView> level_views(const TinyRun& run,
                                         const view::Frames& input,
                                         const std::vector<std::uint64_t>& levels) {
    io::TreeFileReader reader(layout::tree_file_path(run.out));
    const std::string index_path = layout::clip_index_path(run.out);
    io::ClipReplay replay(reader, io::read_clip_index(index_path, reader), index_path);
    std::vector<view::LevelView> views;
    for (const std::uint64_t level : levels) {
        replay.cut(replay.leaf_count() - 1 - level);
        view::LevelViewBuilder builder(level, width * height);
        for (int t = 0; t < frames; ++t) {
            builder.add_frame(input.frame(t), replay.frame_regions(t).data(), true);
        }
        views.push_back(builder.finish());
    }
    return views;
}

std::array<std::uint8_t, 3> at(const view::Sheet& sheet, int x, int y) {
    const std::uint8_t* p = &sheet.rgb[3 * (static_cast<std::size_t>(y) * sheet.width + x)];
    return {p[0], p[1], p[2]};
}

// Within the sheet only.
bool has_ink(const view::Sheet& sheet, int left, int top, int right, int bottom) {
    for (int y = top; y < std::min(bottom, sheet.height); ++y) {
        for (int x = left; x < right; ++x) {
            if (at(sheet, x, y) != std::array<std::uint8_t, 3>{255, 255, 255}) {
                return true;
            }
        }
    }
    return false;
}

TEST(ViewSheet, RowsOfLevelsColumnsOfFramesLabelsAndBoundariesWhereRegionsChange) {
    ASSERT_TRUE(magick_ready);
    TinyRun run;
    const io::TreeFile tree = io::read_tree_file(run.out + "/trees/tree.bpt");
    const view::Frames input = all_frames(run);
    const auto views = level_views(run, input, {1, 0});
    const view::Sheet sheet = view::render_overview(tree.leaf_count, input, views, {0, 1});

    ASSERT_EQ(sheet.cell_width, width);  // small enough to stay unscaled
    ASSERT_EQ(sheet.cell_height, height);
    ASSERT_EQ(sheet.row_top.size(), 2u);
    ASSERT_EQ(sheet.column_left.size(), 2u);
    EXPECT_EQ(sheet.height, sheet.row_top[1] + height + 12);
    EXPECT_GE(sheet.width, sheet.column_left[1] + sheet.mean_offset + width + 12);
    // The title fits: the sheet widens for it.
    EXPECT_EQ(sheet.width,
              24 + view::text_width(
                       "8x6x2 voxels, 2 trajectories. left: boundaries, right: mean colours", 2));

    // Labels: the title and frame numbers above the cells, level and count left of each row.
    EXPECT_TRUE(has_ink(sheet, 0, 0, sheet.width, sheet.header_height));
    for (int c = 0; c < 2; ++c) {
        EXPECT_TRUE(has_ink(sheet, sheet.column_left[c], sheet.header_height - 20,
                            sheet.column_left[c] + 40, sheet.header_height));
    }
    for (int r = 0; r < 2; ++r) {
        EXPECT_TRUE(has_ink(sheet, 0, sheet.row_top[r], sheet.label_width, sheet.row_top[r] + 14));
        if (sheet.row_top[r] + 32 <= sheet.height) {  // the last row's count lies below this sheet
            EXPECT_TRUE(
                has_ink(sheet, 0, sheet.row_top[r] + 18, sheet.label_width, sheet.row_top[r] + 32));
        }
    }

    // Level 1 (two regions): a boundary column just left of the change, the frame elsewhere;
    // level 0 (one region): no boundary. Mean colours are the halves' colours.
    const std::array<std::uint8_t, 3> line{view::boundary_color[0], view::boundary_color[1],
                                           view::boundary_color[2]};
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const auto shown = at(sheet, sheet.column_left[c] + x, sheet.row_top[r] + y);
                    const auto& frame = x < 4 ? left_color : right_color;
                    ASSERT_EQ(shown, (r == 0 && x == 3) ? line : frame)
                        << r << c << " " << x << "," << y;
                    const auto mean = at(sheet, sheet.column_left[c] + sheet.mean_offset + x,
                                         sheet.row_top[r] + y);
                    const std::array<std::uint8_t, 3> joined{65, 50, 55};
                    ASSERT_EQ(mean, r == 0 ? frame : joined);
                }
            }
        }
    }
}

TEST(ViewRun, WritesTheSheetPreviewsAndRegionSummaryFromTheRecordedOrGivenInput) {
    ASSERT_TRUE(magick_ready);
    TinyRun run;
    std::vector<const char*> argv{"vseg-view", run.out.c_str(), "--levels",
                                  "900,1,0",   "--frames",      "6",
                                  "--input",   run.in.c_str()};
    {
        // Not while another program writes the run's folder.
        const io::OutputLock writer(run.out);
        EXPECT_THAT(
            [&] { view::run_vseg_view(static_cast<int>(argv.size()), argv.data()); },
            ThrowsMessage<VoradaError>(HasSubstr(run.out + ": another program is writing")));
        EXPECT_FALSE(boost::filesystem::exists(run.out + "/overview.png"));
    }
    ::testing::internal::CaptureStderr();
    const int status = view::run_vseg_view(static_cast<int>(argv.size()), argv.data());
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0);
    Magick::Image sheet;
    sheet.ping(run.out + "/overview.png");
    // 900 is beyond this tree: it becomes its top level 1, so two rows; both frames.
    const io::TreeFile tree = io::read_tree_file(run.out + "/trees/tree.bpt");
    const view::Frames input = all_frames(run);
    const view::Sheet expected =
        view::render_overview(tree.leaf_count, input, level_views(run, input, {1, 0}), {0, 1});
    EXPECT_EQ(sheet.columns(), static_cast<std::size_t>(expected.width));
    EXPECT_EQ(sheet.rows(), static_cast<std::size_t>(expected.height));
    for (const char* gif : {"/preview/1.gif", "/preview/0.gif"}) {
        std::vector<Magick::Image> images;
        Magick::readImages(&images, run.out + gif);
        EXPECT_EQ(images.size(), 2u) << gif;
    }
    // A longer video than --preview-frames animates that many of its frames.
    std::vector<const char*> fewer = argv;
    fewer.insert(fewer.end(), {"--preview-frames", "1"});
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(view::run_vseg_view(static_cast<int>(fewer.size()), fewer.data()), 0);
    ::testing::internal::GetCapturedStderr();
    std::vector<Magick::Image> one;
    Magick::readImages(&one, run.out + "/preview/1.gif");
    EXPECT_EQ(one.size(), 1u);
    EXPECT_EQ(read_bytes(run.out + "/regions.csv"),
              "level,regions,label,voxels,first_frame,last_frame,mean_r,mean_g,mean_b\n"
              "1,2,0,48,0,1,40,60,80\n"
              "1,2,1,48,0,1,90,40,30\n"
              "0,1,2,96,0,1,65,50,55\n");

    // Without --input the run's record names the frames; without a record that is an error.
    EXPECT_THAT([&] { layout::read_input_record(run.out); },
                ThrowsMessage<VoradaFileError>(HasSubstr("give the input directory with --input")));
    write_bytes(layout::input_record_path(run.out), "input " + run.in + "\nfirst 0\nlast 1\n");
    EXPECT_EQ(layout::read_input_record(run.out).input, run.in);
}

TEST(ViewRun, BothToolsAnswerHelpAndVersionOnStandardOutput) {
    for (auto program : {view::run_vseg_view, cut::run_vseg_cut}) {
        for (const char* option : {"--help", "-h", "--version"}) {
            std::vector<const char*> argv{"tool", "out", option};
            ::testing::internal::CaptureStdout();
            EXPECT_EQ(program(static_cast<int>(argv.size()), argv.data()), 0) << option;
            const std::string text = ::testing::internal::GetCapturedStdout();
            const std::string expected =
                option[2] == 'v' ? " " + layout::version_text() + "\n" : "Usage: tool OUTPUT_DIR";
            EXPECT_THAT(text, HasSubstr(expected)) << option;
        }
    }
}

// Each region's frame span is its own: one that begins after frame 0, one that ends before
// the last frame. Only frame 0 is drawn: the sheet is the one drawn from the whole video in
// memory, the summary still counts the frame not drawn.
TEST(ViewRun, RegionSummaryGivesEachRegionTheFramesItSpans) {
    ASSERT_TRUE(magick_ready);
    TinyRun run(true);
    std::vector<const char*> argv{"vseg-view", run.out.c_str(), "--levels",    "2", "--frames",
                                  "1",         "--input",       run.in.c_str()};
    ::testing::internal::CaptureStderr();
    const int status = view::run_vseg_view(static_cast<int>(argv.size()), argv.data());
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0);
    EXPECT_EQ(read_bytes(run.out + "/regions.csv"),
              "level,regions,label,voxels,first_frame,last_frame,mean_r,mean_g,mean_b\n"
              "2,3,0,48,0,1,40,60,80\n"
              "2,3,1,24,0,0,90,40,30\n"
              "2,3,2,24,1,1,90,40,30\n");
    const io::TreeFile tree = io::read_tree_file(run.out + "/trees/tree.bpt");
    const view::Frames input = all_frames(run);
    const view::Sheet expected =
        view::render_overview(tree.leaf_count, input, level_views(run, input, {2}), {0});
    Magick::Image sheet(run.out + "/overview.png");
    std::vector<std::uint8_t> pixels(expected.rgb.size());
    ASSERT_EQ(sheet.columns(), static_cast<std::size_t>(expected.width));
    ASSERT_EQ(sheet.rows(), static_cast<std::size_t>(expected.height));
    sheet.write(0, 0, sheet.columns(), sheet.rows(), "RGB", Magick::CharPixel, pixels.data());
    EXPECT_TRUE(pixels == expected.rgb);
    std::vector<Magick::Image> previews;
    Magick::readImages(&previews, run.out + "/preview/2.gif");
    EXPECT_EQ(previews.size(), 2u);
}

// A run made in two clips of one frame, each half of each frame a leaf of its own (2t, 2t + 1),
// joined across the clips: the view follows the join's regions through both clips, and refuses
// an index that does not match the tree.
TEST(ViewRun, ClipModeTreeWithItsIndexAsOneRegionAcrossTheClips) {
    ASSERT_TRUE(magick_ready);
    TinyRun run;
    std::vector<std::uint64_t> leaves;
    for (std::uint64_t t = 0; t < frames; ++t) {
        for (int p = 0; p < width * height; ++p) {
            leaves.push_back(2 * t + (p % width < 4 ? 0 : 1));
        }
    }
    io::TreeFileWriter writer(run.out + "/trees/tree.bpt", width, height, frames, leaves.data(), 4);
    for (const io::TreeMerge merge :
         {io::TreeMerge{4, 0, 2, 3, 0.25}, io::TreeMerge{5, 1, 3, 2, 0.3},
          io::TreeMerge{6, 4, 5, 1, 0.5}}) {
        writer.add(merge);
    }
    writer.finish();
    const std::string index = layout::clip_index_path(run.out);
    write_bytes(index,
                "vseg tree clips 1\nclip 0 frames 0 1 leaves 0 2 merges 0 0\n"
                "clip 1 frames 1 1 leaves 2 2 merges 0 0\njoin merges 0 3\n");
    std::vector<const char*> argv{"vseg-view", run.out.c_str(), "--levels",
                                  "1,3",       "--input",       run.in.c_str()};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(view::run_vseg_view(static_cast<int>(argv.size()), argv.data()), 0);
    EXPECT_EQ(read_bytes(run.out + "/regions.csv"),
              "level,regions,label,voxels,first_frame,last_frame,mean_r,mean_g,mean_b\n"
              "1,2,4,48,0,1,40,60,80\n"
              "1,2,5,48,0,1,90,40,30\n"
              "3,4,0,24,0,0,40,60,80\n"
              "3,4,1,24,0,0,90,40,30\n"
              "3,4,2,24,1,1,40,60,80\n"
              "3,4,3,24,1,1,90,40,30\n");
    write_bytes(index,
                "vseg tree clips 1\nclip 0 frames 0 1 leaves 0 3 merges 0 0\n"
                "clip 1 frames 1 1 leaves 3 1 merges 0 0\njoin merges 0 3\n");
    EXPECT_THAT(
        [&] { view::run_vseg_view(static_cast<int>(argv.size()), argv.data()); },
        ThrowsMessage<VoradaFileError>(StrEq(
            "Error in file '" + index + "': voxel 48 (frame 1) has leaf 2, not one of clip 1's")));
    ::testing::internal::GetCapturedStderr();
}

TEST(ViewChoices, EvenlySpacedFramesAndLevelsWithinTheTree) {
    EXPECT_THAT(view::spaced_frames(10, 6), ElementsAre(0, 2, 4, 5, 7, 9));
    EXPECT_THAT(view::spaced_frames(3, 6), ElementsAre(0, 1, 2));
    EXPECT_THAT(view::spaced_frames(10, 1), ElementsAre(0));
    // 50 leaves and 48 merges: 50 regions down to 2, levels 49 … 1.
    EXPECT_THAT(view::usable_levels(50, 48, {900, 100, 20, 5, 0}), ElementsAre(49, 20, 5, 1));
}

}  // namespace
}  // namespace testing
}  // namespace vorada
