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
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "distance/colorspaceconverter.h"
#include "driver/arguments.h"
#include "driver/pipeline.h"
#include "image/imagergb.h"
#include "io/readimage.h"
#include "tests/support/labelfile.h"
#include "tests/support/tempdir.h"
#include "tools/synthetic/synthetic.h"

namespace vorada {
namespace gma {
namespace {

using synthetic::Options;
using synthetic::Shape;
using synthetic::ShapeKind;
using synthetic::Synthetic;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const bool magick_ready = [] {
    Magick::InitializeMagick(nullptr);
    return true;
}();

const char* const subdirectories[] = {"segmentations", "occlusions",     "trajectories",
                                      "trees",         "flow_variation", "structure_tensor"};

// A textured disc drifting right and a box drifting up over a textured background.
Options two_shapes(long long width, long long height, long long frames) {
    Options options;
    options.width = width;
    options.height = height;
    options.frames = frames;
    Shape disc;
    disc.x = 0.3 * static_cast<double>(width);
    disc.y = 0.45 * static_cast<double>(height);
    disc.half_width = 0.2 * static_cast<double>(std::min(width, height));
    disc.dx = 1.25;
    disc.dy = 0.25;
    disc.color = Eigen::Vector3d(210, 70, 50);
    Shape box;
    box.kind = ShapeKind::rectangle;
    box.x = 0.72 * static_cast<double>(width);
    box.y = 0.55 * static_cast<double>(height);
    box.half_width = 0.16 * static_cast<double>(width);
    box.half_height = 0.2 * static_cast<double>(height);
    box.dx = -0.5;
    box.dy = -1.0;
    box.color = Eigen::Vector3d(40, 90, 200);
    options.shapes = {disc, box};
    return options;
}

// Frames numbered first, first+1, … and the flows between them under the readers' names.
void write_numbered(const std::string& directory, Synthetic& sample, unsigned long long first) {
    boost::filesystem::create_directories(directory + "/frames");
    boost::filesystem::create_directories(directory + "/flows");
    const unsigned long long frames = static_cast<unsigned long long>(sample.video.size(2));
    for (unsigned long long t = 0; t < frames; ++t) {
        sample.video.write_frame(frame_path(directory, first + t), t);
        if (t + 1 < frames) {
            synthetic::write_flo(forward_flow_path(directory, first + t), sample.forward_flow, t);
        }
        if (t > 0) {
            synthetic::write_flo(backward_flow_path(directory, first + t), sample.backward_flow, t);
        }
    }
}

struct RunResult {
    int status;
    std::string errors;  ///< what the run printed on the standard error stream
};

RunResult run(const std::vector<std::string>& words) {
    std::vector<const char*> argv{"vseg"};
    for (const auto& word : words) {
        argv.push_back(word.c_str());
    }
    ::testing::internal::CaptureStderr();
    try {
        const int status = run_vseg(static_cast<int>(argv.size()), argv.data());
        return {status, ::testing::internal::GetCapturedStderr()};
    } catch (...) {
        ::testing::internal::GetCapturedStderr();
        throw;
    }
}

std::vector<std::string> arguments(const std::string& first,
                                   const std::string& last,
                                   const std::string& input,
                                   const std::string& output) {
    return {first, last, "20", "2", "0.001", "4", input, output};
}

std::set<std::string> entries(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : boost::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::set<std::string> frame_names(unsigned long long frames) {
    std::set<std::string> names;
    for (unsigned long long t = 0; t < frames; ++t) {
        names.insert(frame_image_path("", t).substr(1));
    }
    return names;
}

// The segmentation directories a run must write when it starts from `regions` leaves: each
// merge lowers the level by one and uses at most one entry of the driver's list.
std::set<std::string> expected_segmentations(unsigned long long regions) {
    const std::vector<unsigned long long> levels = make_tree_parameters().output_levels;
    std::set<std::string> names;
    std::size_t next = 0;
    for (unsigned long long level = regions - 1; level > 1;) {
        --level;
        if (next < levels.size() && levels[next] >= level) {
            names.insert(std::to_string(level));
            ++next;
        }
    }
    return names;
}

unsigned long long starting_regions(const std::string& errors) {
    const std::string prefix = "Starting from ";
    if (errors.compare(0, prefix.size(), prefix) != 0) {
        return 0;
    }
    return std::stoull(errors.substr(prefix.size()));
}

// Checks one segmentation directory: a frame image per frame, a label file of the video's size
// holding level + 1 regions, and images whose colours match the labels one to one.
void check_segmentation(const std::string& directory,
                        unsigned long long level,
                        long long width,
                        long long height,
                        long long frames) {
    SCOPED_TRACE(directory);
    std::set<std::string> files = frame_names(static_cast<unsigned long long>(frames));
    files.insert("frames.sgm");
    EXPECT_EQ(entries(directory), files);
    const testing::LabelFile file = testing::read_label_file(directory + "/frames.sgm");
    EXPECT_EQ(file.bytes, 24u + 8u * static_cast<std::size_t>(width * height * frames));
    EXPECT_EQ(file.width, static_cast<std::uint64_t>(width));
    EXPECT_EQ(file.height, static_cast<std::uint64_t>(height));
    EXPECT_EQ(file.frames, static_cast<std::uint64_t>(frames));
    const std::set<std::uint64_t> distinct(file.labels.begin(), file.labels.end());
    EXPECT_EQ(distinct.size(), level + 1);
    if (level > 10 || file.labels.size() != static_cast<std::size_t>(width * height * frames)) {
        return;
    }
    std::map<std::uint64_t, std::array<int, 3>> colour_of;
    std::map<std::array<int, 3>, std::uint64_t> label_of;
    std::size_t v = 0;
    for (long long t = 0; t < frames; ++t) {
        ImageRGB<unsigned char> image;
        io::ReadImage(frame_image_path(directory, static_cast<unsigned long long>(t))).read(image);
        ASSERT_EQ(image.width(), static_cast<unsigned long long>(width));
        ASSERT_EQ(image.height(), static_cast<unsigned long long>(height));
        for (long long y = 0; y < height; ++y) {
            for (long long x = 0; x < width; ++x, ++v) {
                const std::array<int, 3> colour{image.channels[0][x][y], image.channels[1][x][y],
                                                image.channels[2][x][y]};
                const std::uint64_t label = file.labels[v];
                ASSERT_EQ(colour_of.emplace(label, colour).first->second, colour) << "voxel " << v;
                ASSERT_EQ(label_of.emplace(colour, label).first->second, label) << "voxel " << v;
            }
        }
    }
}

TEST(RunVseg, WritesTheWholeOutputTreeAndCanRunAgainInIt) {
    ASSERT_TRUE(magick_ready);
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(40, 30, 3));
    synthetic::write_sample(dir.file("in"), sample);
    const std::string out = dir.file("out");

    const RunResult first = run(arguments("0", "2", dir.file("in"), out));
    EXPECT_EQ(first.status, 0);
    const unsigned long long regions = starting_regions(first.errors);
    // Every pixel of the last frame starts its own trajectory, so there are more than 1200.
    ASSERT_GT(regions, 1200u) << first.errors;
    EXPECT_EQ(first.errors.find("Starting from " + std::to_string(regions) + " regions \n"), 0u);
    // A progress line once at least a tenth of the merges has passed since the last one (so a
    // run whose tenth is not a whole number stops short of 100 %).
    const unsigned long long merges = regions - 2;
    const double step = static_cast<double>(merges) * 0.1;
    std::string progress;
    for (unsigned long long done = 1, since = 1; done <= merges; ++done, ++since) {
        if (static_cast<double>(since) >= step) {
            progress += "Done " + std::to_string(done * 100 / merges) + "% \n";
            since = 0;
        }
    }
    EXPECT_THAT(first.errors, HasSubstr(" regions \n" + progress + "The total CPU time"));
    EXPECT_THAT(first.errors, HasSubstr("The total CPU time ellapsed for (\"BPT algorithm\") is "));
    EXPECT_THAT(first.errors, EndsWith(" seconds \n"));

    std::set<std::string> top_level(std::begin(subdirectories), std::end(subdirectories));
    top_level.insert("run.json");
    EXPECT_EQ(entries(out), top_level);
    for (const char* cue : {"occlusions", "flow_variation", "structure_tensor", "trajectories"}) {
        EXPECT_EQ(entries(out + "/" + cue), frame_names(3)) << cue;
    }
    EXPECT_EQ(entries(out + "/trees"), (std::set<std::string>{"input.txt", "tree.bpt"}));
    const std::set<std::string> levels = {"900", "800", "700", "600", "500", "400", "300", "200",
                                          "100", "40",  "30",  "20",  "10",  "5",   "3",   "2"};
    EXPECT_EQ(entries(out + "/segmentations"), levels);
    std::map<std::string, std::string> label_files;
    for (const std::string& level : levels) {
        check_segmentation(out + "/segmentations/" + level, std::stoull(level), 40, 30, 3);
        label_files[level] = testing::read_bytes(out + "/segmentations/" + level + "/frames.sgm");
    }

    // A second run reuses the directories and overwrites the files with the same regions.
    const RunResult second = run(arguments("0", "2", dir.file("in"), out));
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(entries(out + "/segmentations"), levels);
    for (const std::string& level : levels) {
        EXPECT_TRUE(testing::read_bytes(out + "/segmentations/" + level + "/frames.sgm") ==
                    label_files[level])
            << level;
    }
}

TEST(RunVseg, FirstAfterLastCreatesTheDirectoriesAndReadsNothing) {
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(12, 8, 2));
    synthetic::write_sample(dir.file("in"), sample);
    const RunResult result = run(arguments("1", "0", dir.file("in"), dir.file("out")));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.errors, "");
    for (const char* sub : subdirectories) {
        EXPECT_TRUE(boost::filesystem::is_directory(dir.file("out/") + sub)) << sub;
        EXPECT_TRUE(entries(dir.file("out/") + sub).empty()) << sub;
    }
}

TEST(RunVseg, OneFrameReadsNoFlowAndNamesTheLevelsItReaches) {
    ASSERT_TRUE(magick_ready);
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(12, 8, 1));
    boost::filesystem::create_directories(dir.file("in/frames"));
    sample.video.write_frame(frame_path(dir.file("in"), 3), 0);  // no flows directory at all

    Video video(1ull);
    load_frames(video, dir.file("in"), 3, 1);
    Flow forward, backward;
    load_flows(forward, backward, video, dir.file("in"), 3);
    EXPECT_EQ(forward.size, Coordinate(12, 8, 1));
    EXPECT_EQ(backward.size, Coordinate(12, 8, 1));
    EXPECT_TRUE(std::all_of(forward.values.begin(), forward.values.end(),
                            [](double v) { return v == 0.0; }));
    EXPECT_TRUE(std::all_of(backward.values.begin(), backward.values.end(),
                            [](double v) { return v == 0.0; }));

    const std::string out = dir.file("out");
    const RunResult result = run(arguments("3", "3", dir.file("in"), out));
    EXPECT_EQ(result.status, 0);
    // One frame: every pixel is its own trajectory, 96 leaves, level 95. The entries 900 … 100
    // are used by the first nine merges (levels 94 … 86).
    EXPECT_EQ(starting_regions(result.errors), 96u);
    const std::set<std::string> levels = {"94", "93", "92", "91", "90", "89", "88", "87",
                                          "86", "40", "30", "20", "10", "5",  "3",  "2"};
    EXPECT_EQ(expected_segmentations(96), levels);
    EXPECT_EQ(entries(out + "/segmentations"), levels);
    for (const std::string& level : levels) {
        check_segmentation(out + "/segmentations/" + level, std::stoull(level), 12, 8, 1);
    }
    for (const char* cue : {"occlusions", "flow_variation", "structure_tensor", "trajectories"}) {
        EXPECT_EQ(entries(out + "/" + cue), frame_names(1)) << cue;
    }
}

TEST(RunVseg, FramesFiveToSevenFillIndicesZeroToTwo) {
    ASSERT_TRUE(magick_ready);
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(16, 12, 3));
    const std::string in = dir.file("in");
    write_numbered(in, sample, 5);
    // Neighbours of the range that must not be read: a frame of another size, bad flows.
    Synthetic other = synthetic::make_synthetic(two_shapes(9, 7, 1));
    other.video.write_frame(frame_path(in, 4), 0);
    other.video.write_frame(frame_path(in, 8), 0);
    for (const std::string& path : {forward_flow_path(in, 4), backward_flow_path(in, 5),
                                    forward_flow_path(in, 7), backward_flow_path(in, 8)}) {
        testing::write_bytes(path, "not a flow");
    }

    Video video(3ull);
    load_frames(video, in, 5, 3);
    ASSERT_EQ(video.size, Coordinate(16, 12, 3));
    EXPECT_TRUE(video.values == sample.video.values);
    Flow forward, backward;
    load_flows(forward, backward, video, in, 5);
    for (long long t = 0; t < 3; ++t) {
        for (long long y = 0; y < 12; ++y) {
            for (long long x = 0; x < 16; ++x) {
                for (int c = 0; c < 2; ++c) {
                    // The files hold single-precision values; the first backward and the last
                    // forward frame stay zero.
                    const double f =
                        t < 2 ? static_cast<float>(sample.forward_flow.at(x, y, t)[c]) : 0.0;
                    const double b =
                        t > 0 ? static_cast<float>(sample.backward_flow.at(x, y, t)[c]) : 0.0;
                    ASSERT_EQ(forward.at(x, y, t)[c], f) << x << "," << y << "," << t;
                    ASSERT_EQ(backward.at(x, y, t)[c], b) << x << "," << y << "," << t;
                }
            }
        }
    }

    const std::string out = dir.file("out");
    EXPECT_EQ(run(arguments("5", "7", in, out)).status, 0);
    EXPECT_EQ(entries(out + "/occlusions"), frame_names(3));
    EXPECT_EQ(testing::read_label_file(out + "/segmentations/2/frames.sgm").frames, 3u);
}

TEST(RunVseg, FrameOneThousandUsesFourDigits) {
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(10, 8, 2));
    write_numbered(dir.file("in"), sample, 999);
    EXPECT_TRUE(boost::filesystem::exists(dir.file("in/frames/frame1000.png")));
    EXPECT_TRUE(boost::filesystem::exists(dir.file("in/flows/flow_1000_999.flo")));
    EXPECT_EQ(run(arguments("999", "1000", dir.file("in"), dir.file("out"))).status, 0);
    EXPECT_EQ(entries(dir.file("out/structure_tensor")), frame_names(2));
}

TEST(RunVseg, AMissingFlowFileEndsTheRunWithTheReadersMessage) {
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(10, 8, 3));
    synthetic::write_sample(dir.file("in"), sample);
    boost::filesystem::remove(backward_flow_path(dir.file("in"), 2));
    EXPECT_THAT(
        [&] { run(arguments("0", "2", dir.file("in"), dir.file("out"))); },
        ThrowsMessage<VoradaError>(StrEq(
            "read_flow_file: " + backward_flow_path(dir.file("in"), 2) + ": could not open")));
    EXPECT_TRUE(entries(dir.file("out/occlusions")).empty());
}

TEST(RunVseg, AFailedRunLeavesNoTreeFileNotEvenAnEarlierOne) {
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(10, 8, 3));
    synthetic::write_sample(dir.file("in"), sample);
    EXPECT_EQ(run(arguments("0", "2", dir.file("in"), dir.file("out"))).status, 0);
    EXPECT_EQ(entries(dir.file("out/trees")), (std::set<std::string>{"input.txt", "tree.bpt"}));
    boost::filesystem::remove(backward_flow_path(dir.file("in"), 2));
    EXPECT_THROW(run(arguments("0", "2", dir.file("in"), dir.file("out"))), VoradaError);
    EXPECT_TRUE(entries(dir.file("out/trees")).empty());
}

TEST(RunVseg, AFrameOfAnotherSizeIsRejectedNamingTheFile) {
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(10, 8, 2));
    synthetic::write_sample(dir.file("in"), sample);
    Synthetic wider = synthetic::make_synthetic(two_shapes(11, 8, 1));
    const std::string second = frame_path(dir.file("in"), 1);
    wider.video.write_frame(second, 0);
    EXPECT_THAT([&] { run(arguments("0", "1", dir.file("in"), dir.file("out"))); },
                ThrowsMessage<VoradaFileError>(StartsWith("Error in file '" + second + "': ")));
}

TEST(RunVseg, ASinglePixelVideoMergesNothing) {
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(1, 1, 1));
    synthetic::write_sample(dir.file("in"), sample);
    const RunResult result = run(arguments("0", "0", dir.file("in"), dir.file("out")));
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.errors, StartsWith("Starting from 1 regions \nThe total CPU time"));
    EXPECT_TRUE(entries(dir.file("out/segmentations")).empty());
    EXPECT_EQ(entries(dir.file("out/trajectories")), frame_names(1));
}

// The scales enter the weights squared (1/sigma^2), so -2 gives the run of 2.
TEST(RunVseg, NegativeScalesGiveTheSameRunAsPositiveOnes) {
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(12, 10, 2));
    synthetic::write_sample(dir.file("in"), sample);
    ASSERT_EQ(run(arguments("0", "1", dir.file("in"), dir.file("positive"))).status, 0);
    const std::vector<std::string> negative = {"0",     "1", "-20",          "-2",
                                               "0.001", "4", dir.file("in"), dir.file("negative")};
    int status = -1;
    EXPECT_NO_THROW(status = run(negative).status);
    ASSERT_EQ(status, 0);
    for (const char* level : {"40", "5", "2"}) {
        const std::string file = std::string("/segmentations/") + level + "/frames.sgm";
        ASSERT_TRUE(boost::filesystem::is_regular_file(dir.file("positive") + file)) << level;
        EXPECT_TRUE(testing::read_bytes(dir.file("negative") + file) ==
                    testing::read_bytes(dir.file("positive") + file))
            << level;
    }
}

TEST(RunVsegParameters, TreeAndDistanceRecordsHoldTheDriversValues) {
    const TreeParameters tree = make_tree_parameters();
    EXPECT_TRUE(tree.update_labels);
    EXPECT_EQ(tree.min_regions, 1u);
    EXPECT_EQ(tree.output_levels,
              (std::vector<unsigned long long>{900, 800, 700, 600, 500, 400, 300, 200, 100, 40, 30,
                                               20, 10, 5, 3, 2}));

    std::vector<const char*> argv{"vseg", "0", "2", "20", "2", "0.001", "4.9", "in", "out"};
    const Arguments parsed = parse_arguments(argv.data());
    Video video(12, 10, 3);
    Flow flow(12, 10, 3);
    flow.at(3, 4, 1)[1] = -2.5;
    CueMap reliability(12, 10, 3);
    reliability.at(5, 6, 2)[0] = 0.75;
    const DistanceParameters distance = make_distance_parameters(parsed, video, flow, reliability);
    EXPECT_EQ(distance.num_colors, 4u);
    EXPECT_EQ(distance.color_weight, 1.0 / 400.0);
    EXPECT_EQ(distance.motion_weight, 1.0 / 4.0);
    EXPECT_EQ(distance.area_weight, 1.0 / (360.0 * 0.001));
    EXPECT_TRUE(std::equal(flow.values.begin(), flow.values.end(), distance.flow.values.begin(),
                           distance.flow.values.end()));
    EXPECT_TRUE(distance.reliability_map.values == reliability.values);
}

TEST(RunVsegParameters, FlowKeptInSinglePrecisionOnlyWhenExact) {
    Flow flow(2, 1, 1);
    flow.values = {-2.5, 1e-3f, 7.0, 0.0};
    const SingleFlow single = single_precision(flow);
    EXPECT_EQ(single.values, (std::vector<float>{-2.5f, 1e-3f, 7.0f, 0.0f}));
    flow.values[1] = 0.1;  // no float is exactly 0.1
    EXPECT_THROW(single_precision(flow), VoradaError);
}

TEST(RunVsegParameters, TreeInitSetsTheLevelBookkeeping) {
    Tree tree(make_tree_parameters());
    LabelVolume labels(3, 2, 1);
    labels.values = {9, 9, 4, 7, 7, 4};
    tree.init(labels);
    EXPECT_EQ(tree.partition.max_index, 2u);
    EXPECT_EQ(tree.level, 2u);
    EXPECT_EQ(tree.last_index, 2u);
    EXPECT_EQ(tree.descriptor_manager.capacity, 5u);
    EXPECT_TRUE(tree.partition.update_labels);
}

TEST(ProgressLines, ALineAfterEveryTenthOfTheMerges) {
    std::ostringstream out;
    ProgressLines lines(out, 0.1);
    lines.start(1001);
    for (unsigned long long done = 1; done <= 1000; ++done) {
        lines.merged(done, 1000);
    }
    std::string expected = "Starting from 1001 regions \n";
    for (int percent = 10; percent <= 100; percent += 10) {
        expected += "Done " + std::to_string(percent) + "% \n";
    }
    EXPECT_EQ(out.str(), expected);
}

TEST(ProgressLines, TheStepIsComparedAsADoubleAndPercentTruncates) {
    // 15 merges, step 1.5: a line after every second merge, 2·100/15 = 13 %, and so on.
    std::ostringstream out;
    ProgressLines lines(out, 0.1);
    for (unsigned long long done = 1; done <= 15; ++done) {
        lines.merged(done, 15);
    }
    EXPECT_EQ(out.str(),
              "Done 13% \nDone 26% \nDone 40% \nDone 53% \nDone 66% \nDone 80% \nDone 93% \n");
}

TEST(PaintTrajectories, OnlyRegionsSpanningThreeFramesArePaintedRed) {
    // Column 0: one trajectory over frames 0–2. Column 1: one over frames 0–1, then a new one.
    Tree tree(make_tree_parameters());
    LabelVolume labels(2, 1, 3);
    labels.values = {1, 2, 1, 2, 1, 3};
    tree.init(labels);
    Video video(2, 1, 3);
    video.initialized = true;
    for (long long t = 0; t < 3; ++t) {
        for (long long x = 0; x < 2; ++x) {
            double* value = video.at(x, 0, t);
            value[0] = 40;
            value[1] = 90;
            value[2] = 160;
        }
    }
    ColorSpaceConverter<Video>().convert(video, CIELab);
    const Video before = video;
    const Video painted = paint_trajectories(tree.partition, video);
    EXPECT_EQ(painted.color_space, RGB);
    for (long long t = 0; t < 3; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(painted.at(0, 0, t)[0], 255);
        EXPECT_EQ(painted.at(0, 0, t)[1], 0);
        EXPECT_EQ(painted.at(0, 0, t)[2], 0);
        // The rest shows the video converted back to RGB (conversion rounding aside).
        EXPECT_NEAR(painted.at(1, 0, t)[0], 40, 1);
        EXPECT_NEAR(painted.at(1, 0, t)[1], 90, 1);
        EXPECT_NEAR(painted.at(1, 0, t)[2], 160, 1);
    }
    EXPECT_EQ(video.values, before.values);  // painted on a copy
    EXPECT_EQ(video.color_space, CIELab);

    tree.partition.current_labels.values[1] = 7;
    EXPECT_THAT([&] { paint_trajectories(tree.partition, video); },
                ThrowsMessage<VoradaError>(StrEq("Partition: region index not found.")));
}

// ---------------------------------------------------------------------------------------------
// Quality: the coarse segmentations follow objects that move differently.

struct Coverage {
    double share;          ///< fraction of the layer's voxels in its most common region
    std::uint64_t region;  ///< that region
};

Coverage majority(const LabelVolume& layers,
                  const std::vector<std::uint64_t>& labels,
                  unsigned long long layer) {
    std::map<std::uint64_t, std::size_t> counts;
    std::size_t total = 0;
    for (std::size_t v = 0; v < labels.size(); ++v) {
        if (layers.values[v] == layer) {
            ++counts[labels[v]];
            ++total;
        }
    }
    Coverage best{0.0, 0};
    for (const auto& entry : counts) {
        const double share = static_cast<double>(entry.second) / static_cast<double>(total);
        if (share > best.share) {
            best = {share, entry.first};
        }
    }
    return best;
}

// Each of the three layers (background, disc, box) lies to at least `floor` in one region of
// the label file, and the three regions differ.
void expect_layers_apart(const LabelVolume& layers, const std::string& label_file, double floor) {
    const testing::LabelFile file = testing::read_label_file(label_file);
    ASSERT_EQ(file.labels.size(), layers.values.size());
    std::set<std::uint64_t> regions;
    for (unsigned long long layer = 0; layer < 3; ++layer) {
        const Coverage coverage = majority(layers, file.labels, layer);
        EXPECT_GE(coverage.share, floor) << "layer " << layer;
        regions.insert(coverage.region);
    }
    EXPECT_EQ(regions.size(), 3u);
}

TEST(RunVsegQuality, CoarseSegmentationsFollowTheMovingObjects) {
    ASSERT_TRUE(magick_ready);
    testing::TempDir dir;
    Synthetic sample = synthetic::make_synthetic(two_shapes(48, 40, 6));
    synthetic::write_sample(dir.file("in"), sample);
    const std::string out = dir.file("out");
    ASSERT_EQ(run(arguments("0", "5", dir.file("in"), out)).status, 0);

    // Three regions (directory 2): one per layer. With these arguments each layer lies to
    // about 98 % or more in one region (observed: background 99.8 %, disc 98.2 %, box 99.9 %),
    // and the three regions differ. The 90 % floor leaves room for small changes of the model
    // while still failing when an object is split or swallowed by the background.
    expect_layers_apart(sample.layers, out + "/segmentations/2/frames.sgm", 0.9);

    // Four regions (directory 3): the extra region is a small piece; the objects still stand
    // apart from the background (observed: 99.1 %, 98.2 %, 99.9 %).
    expect_layers_apart(sample.layers, out + "/segmentations/3/frames.sgm", 0.85);
}

}  // namespace
}  // namespace gma
}  // namespace vorada
