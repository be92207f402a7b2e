// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/errors.h"
#include "cut/cut.h"
#include "driver/pipeline.h"
#include "io/cliptree.h"
#include "io/outputlock.h"
#include "io/readimage.h"
#include "io/treefile.h"
#include "tests/support/labelfile.h"
#include "tests/support/tempdir.h"
#include "tools/synthetic/synthetic.h"

namespace vorada {
namespace testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const bool magick_ready = [] {
    Magick::InitializeMagick(nullptr);
    return true;
}();

template <typename T>
void append(std::string& bytes, T value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof(value));
}

// Three voxels on two leaves, one merge.
std::string small_tree(const std::string& path) {
    const std::uint64_t leaves[3] = {1, 0, 1};
    io::TreeFileWriter writer(path, 3, 1, 1, leaves, 2);
    writer.add(io::TreeMerge{2, 1, 0, 1, 0.25});
    writer.finish();
    return read_bytes(path);
}

TEST(TreeFile, ThreeVoxelsTwoLeavesOneMergeByteForByte) {
    TempDir dir;
    const std::string path = dir.file("tree.bpt");
    std::string expected = "VSEGBPT1";
    for (std::uint64_t field : {3, 1, 1, 2, 1, 0}) {  // X Y T, leaves, merges, reserved
        append<std::uint64_t>(expected, field);
    }
    for (std::uint32_t leaf : {1, 0, 1, 0}) {  // three leaves and the padding to 8 bytes
        append<std::uint32_t>(expected, leaf);
    }
    for (std::uint32_t field : {2, 1, 0, 1}) {  // label, first, second, regions
        append<std::uint32_t>(expected, field);
    }
    append<double>(expected, 0.25);
    ASSERT_EQ(expected.size(), 96u);
    EXPECT_TRUE(small_tree(path) == expected);
    EXPECT_FALSE(boost::filesystem::exists(path + ".partial"));

    const io::TreeFile tree = io::read_tree_file(path);
    EXPECT_EQ(tree.width, 3u);
    EXPECT_EQ(tree.leaf_count, 2u);
    EXPECT_EQ(tree.leaves, (std::vector<std::uint32_t>{1, 0, 1}));
    ASSERT_EQ(tree.merges.size(), 1u);
    EXPECT_EQ(tree.merges[0].first, 1u);
    EXPECT_EQ(tree.merges[0].distance, 0.25);
}

TEST(TreeFile, UnfinishedMissingTruncatedOrInconsistentFilesAreRefused) {
    TempDir dir;
    const std::string path = dir.file("tree.bpt");
    {
        const std::uint64_t leaves[2] = {0, 1};
        io::TreeFileWriter writer(path, 2, 1, 1, leaves, 2);
        writer.add(io::TreeMerge{2, 0, 1, 1, 1.0});
        EXPECT_TRUE(boost::filesystem::exists(path + ".partial"));
    }  // destroyed before finish, as when a run fails
    EXPECT_FALSE(boost::filesystem::exists(path));
    EXPECT_FALSE(boost::filesystem::exists(path + ".partial"));
    EXPECT_THAT([&] { io::read_tree_file(path); },
                ThrowsMessage<VoradaFileNotFound>(StrEq("File " + path + " not found")));

    const std::string good = small_tree(path);
    auto refused = [&](const std::string& bytes, const std::string& reason) {
        write_bytes(path, bytes);
        EXPECT_THAT([&] { io::read_tree_file(path); },
                    ThrowsMessage<VoradaFileError>(HasSubstr(reason)))
            << reason;
    };
    refused(good.substr(0, good.size() - 1), "truncated: 95 bytes, the header announces 96");
    refused(good.substr(0, 20), "shorter than its header");
    refused(good + "x", "1 bytes beyond the announced end");
    std::string bad = good;
    bad[0] = 'X';
    refused(bad, "wrong magic number");
    bad = good;
    bad[56] = 7;  // a voxel naming leaf 7 of 2
    refused(bad, "voxel 0 names leaf 7");
    bad = good;
    bad[72 + 8] = 1;  // second child equal to the first
    refused(bad, "merge 0 is inconsistent");
    bad = good;
    bad[8] = 0;  // width 0
    refused(bad, "implausible video size");
    // Two voxels on leaves 0 and 1 under a header too large for them: plainly, and with a
    // product X·Y·T that wraps to 2 in 64 bits.
    auto two_voxels = [](std::uint64_t x, std::uint64_t y, std::uint64_t t) {
        std::string bytes = "VSEGBPT1";
        for (const std::uint64_t field :
             {x, y, t, std::uint64_t(2), std::uint64_t(0), std::uint64_t(0)}) {
            append(bytes, field);
        }
        append<std::uint32_t>(bytes, 0);
        append<std::uint32_t>(bytes, 1);
        return bytes;
    };
    refused(two_voxels(std::uint64_t(1) << 20, std::uint64_t(1) << 20, 2),
            "implausible video size");
    refused(two_voxels(79691814, 1, 231476021787), "implausible video size");
    write_bytes(path, two_voxels(2, 1, 1));
    EXPECT_EQ(io::read_tree_file(path).leaves, (std::vector<std::uint32_t>{0, 1}));
}

// Four leaves merged three times; distances not monotonic.
io::TreeFile four_leaves() {
    io::TreeFile tree;
    tree.width = 4;
    tree.height = 1;
    tree.frames = 1;
    tree.leaf_count = 4;
    tree.leaves = {3, 0, 1, 2};
    tree.merges = {{4, 0, 1, 3, 1.0}, {5, 4, 2, 2, 3.0}, {6, 3, 5, 1, 2.0}};
    return tree;
}

TEST(TreeCuts, LabelsAfterAnyNumberOfMergesAndTheCutsThatChooseIt) {
    const io::TreeFile tree = four_leaves();
    std::vector<unsigned long long> labels;
    io::labels_after(tree, 0, labels);
    EXPECT_EQ(labels, (std::vector<unsigned long long>{3, 0, 1, 2}));
    io::labels_after(tree, 2, labels);
    EXPECT_EQ(labels, (std::vector<unsigned long long>{3, 5, 5, 5}));
    io::labels_after(tree, 1, labels);
    EXPECT_EQ(labels, (std::vector<unsigned long long>{3, 4, 4, 2}));
    io::labels_after(tree, 3, labels);
    EXPECT_EQ(labels, (std::vector<unsigned long long>{6, 6, 6, 6}));
    EXPECT_THAT([&] { io::labels_after(tree, 4, labels); },
                ThrowsMessage<VoradaError>(StrEq("The tree holds 3 merges, not 4")));

    EXPECT_EQ(io::merges_for_regions(tree, 4), 0u);
    EXPECT_EQ(io::merges_for_regions(tree, 1), 3u);
    EXPECT_THAT([&] { io::merges_for_regions(tree, 5); },
                ThrowsMessage<VoradaError>(
                    StrEq("The tree holds 4 down to 1 regions; 5 is not among them")));
    // The cut stops at the first merge at the distance or above, even if later ones are below.
    EXPECT_EQ(io::merges_below_distance(tree, 1.0), 0u);
    EXPECT_EQ(io::merges_below_distance(tree, 2.5), 1u);
    EXPECT_EQ(io::merges_below_distance(tree, 10.0), 3u);
}

TEST(CutArguments, OneOfRegionsOrDistanceAndNothingElse) {
    auto parse = [](std::vector<const char*> words) {
        words.insert(words.begin(), "vseg-cut");
        return cut::parse_cut_arguments(static_cast<int>(words.size()), words.data());
    };
    const cut::CutOptions options = parse({"out", "--regions", "300,50,12"});
    EXPECT_EQ(options.regions, (std::vector<std::uint64_t>{300, 50, 12}));
    EXPECT_EQ(options.out, "out/cuts");
    EXPECT_EQ(parse({"--distance", "0.5", "out", "--out", "x"}).out, "x");
    EXPECT_EQ(parse({"out", "--regions", "3", "--png", "none"}).png, io::PngMode::none);
    EXPECT_EQ(parse({"out", "--regions", "3"}).format, cut::LabelFormat::sgm);
    EXPECT_EQ(parse({"out", "--format", "png16", "--regions", "3"}).format,
              cut::LabelFormat::png16);
    for (const auto& words : std::vector<std::vector<const char*>>{
             {"out"},
             {"out", "--regions", "3", "--distance", "1"},
             {"out", "--regions", "3,-1"},
             {"out", "--regions", "3,,4"},
             {"out", "--regions", "0"},
             {"out", "--distance", "nan"},
             {"out", "--regions"},
             {"out", "--levels", "3"},
             {"out", "--regions", "3", "--png", "small"},
             {"out", "--regions", "3", "--format", "png"},
             {"out", "--regions", "3", "--format", "npy", "--png", "none"},
             {"--regions", "3"}}) {
        EXPECT_THROW(parse(words), std::invalid_argument) << words.size();
    }
}

// ---------------------------------------------------------------------------------------------
// Round trip: a vseg run, then vseg-cut at all of vseg's levels in vseg's order.

int run_quietly(int (*program)(int, const char* const*), const std::vector<std::string>& words) {
    std::vector<const char*> argv;
    for (const auto& word : words) {
        argv.push_back(word.c_str());
    }
    ::testing::internal::CaptureStderr();
    int status = -1;
    try {
        status = program(static_cast<int>(argv.size()), argv.data());
    } catch (...) {
        ::testing::internal::GetCapturedStderr();
        throw;
    }
    ::testing::internal::GetCapturedStderr();
    return status;
}

// `runs`: the options of each vseg command that makes the output (one run, or clips and join).
void expect_cut_reproduces_vseg(const std::string& input,
                                const std::string& last,
                                const std::string& out,
                                const std::vector<std::vector<std::string>>& runs = {{}},
                                std::size_t level_count = 16) {
    ASSERT_TRUE(magick_ready);
    for (const std::vector<std::string>& options : runs) {
        std::srand(1);  // both programs start from the generator's unseeded state
        std::vector<std::string> words{"vseg", "0", last, "5", "1.5", "0.001", "4", input, out};
        words.insert(words.end(), options.begin(), options.end());
        ASSERT_EQ(run_quietly(gma::run_vseg, words), 0);
    }
    std::vector<std::string> levels;
    std::string regions;
    for (const auto& entry : boost::filesystem::directory_iterator(out + "/segmentations")) {
        levels.push_back(entry.path().filename().string());
    }
    ASSERT_EQ(levels.size(), level_count);
    std::sort(levels.begin(), levels.end(), [](const std::string& a, const std::string& b) {
        return std::stoull(a) > std::stoull(b);
    });
    for (const std::string& level : levels) {
        regions += (regions.empty() ? "" : ",") + std::to_string(std::stoull(level) + 1);
    }
    std::srand(1);
    ASSERT_EQ(run_quietly(cut::run_vseg_cut, {"vseg-cut", out, "--regions", regions}), 0);
    for (const std::string& level : levels) {
        const std::string ours = out + "/segmentations/" + level;
        const std::string cut = out + "/cuts/" + level;
        std::size_t files = 0;
        for (const auto& entry : boost::filesystem::directory_iterator(ours)) {
            const std::string name = entry.path().filename().string();
            ASSERT_TRUE(read_bytes(ours + "/" + name) == read_bytes(cut + "/" + name))
                << level << "/" << name;
            ++files;
        }
        EXPECT_EQ(std::distance(boost::filesystem::directory_iterator(cut),
                                boost::filesystem::directory_iterator()),
                  static_cast<std::ptrdiff_t>(files));
    }
}

TEST(CutRoundTrip, SyntheticVideoAllSixteenLevelsByteForByte) {
    TempDir dir;
    synthetic::Synthetic sample =
        synthetic::make_synthetic(synthetic::random_options(48, 36, 3, 3, 7));
    synthetic::write_sample(dir.file("in"), sample);
    expect_cut_reproduces_vseg(dir.file("in"), "2", dir.file("out"));
}

TEST(CutRoundTrip, RealClipAllSixteenLevelsByteForByte) {
    const char* source = std::getenv("VORADA_SOURCE_DIR");
    const std::string input = std::string(source ? source : ".") + "/../shared/data/alley_1_half";
    if (!boost::filesystem::exists(input + "/frames/frame002.png")) {
        GTEST_SKIP() << "no real clip at " << input << " (the shared data directory is missing)";
    }
    TempDir dir;
    expect_cut_reproduces_vseg(input, "2", dir.file("out"));
}

TEST(CutRun, AMissingTreeIsAnErrorAndBadArgumentsGiveTheUsage) {
    TempDir dir;
    EXPECT_THAT(
        [&] {
            run_quietly(cut::run_vseg_cut, {"vseg-cut", dir.path(), "--regions", "3"});
        },
        ThrowsMessage<VoradaFileNotFound>(
            StrEq("File " + dir.path() + "/trees/tree.bpt not found")));
    EXPECT_EQ(run_quietly(cut::run_vseg_cut, {"vseg-cut", dir.path()}), 2);
}

// ---------------------------------------------------------------------------------------------
// Label formats: the same partition as frames.sgm, numbered 1…N (png16) or 0…N−1 (npy).

// Expects `other` to split the voxels exactly as `labels` does, with the values first … first+N−1
// for N regions, numbered by first appearance.
void expect_same_partition(const std::vector<std::uint64_t>& labels,
                           const std::vector<std::int64_t>& other,
                           std::int64_t first) {
    ASSERT_EQ(labels.size(), other.size());
    std::map<std::uint64_t, std::int64_t> forward;
    std::map<std::int64_t, std::uint64_t> backward;
    for (std::size_t v = 0; v < labels.size(); ++v) {
        const auto ours = forward.emplace(labels[v], other[v]);
        const auto theirs = backward.emplace(other[v], labels[v]);
        if (ours.second) {
            ASSERT_EQ(other[v], first + static_cast<std::int64_t>(forward.size()) - 1) << v;
        }
        ASSERT_EQ(ours.first->second, other[v]) << v;
        ASSERT_EQ(theirs.first->second, labels[v]) << v;
    }
}

TEST(CutFormats, Png16AndNpyHoldTheSamePartitionAsTheLabelFile) {
    ASSERT_TRUE(magick_ready);
    TempDir dir;
    synthetic::Synthetic sample =
        synthetic::make_synthetic(synthetic::random_options(48, 36, 3, 3, 7));
    synthetic::write_sample(dir.file("in"), sample);
    const std::string out = dir.file("out");
    ASSERT_EQ(run_quietly(gma::run_vseg, {"vseg", "0", "2", "5", "1.5", "0.001", "4",
                                          dir.file("in"), out, "--png", "none"}),
              0);
    for (const char* format : {"sgm", "png16", "npy"}) {
        ASSERT_EQ(run_quietly(cut::run_vseg_cut, {"vseg-cut", out, "--regions", "40,3", "--format",
                                                  format, "--out", dir.file(format)}),
                  0);
    }
    for (const std::string level : {"39", "2"}) {
        const LabelFile sgm = read_label_file(dir.file("sgm/" + level + "/frames.sgm"));
        ASSERT_EQ(sgm.labels.size(), 48u * 36 * 3);

        std::vector<std::int64_t> png16;
        for (int t = 0; t < 3; ++t) {
            ImageGray<unsigned short> image;
            io::ReadImage(dir.file("png16/" + level + "/0000" + std::to_string(t) + ".png"))
                .read(image);
            ASSERT_EQ(image.width() * image.height(), 48u * 36);
            png16.insert(png16.end(), image.channels[0].data(), image.channels[0].data() + 48 * 36);
        }
        expect_same_partition(sgm.labels, png16, 1);

        const std::string npy = read_bytes(dir.file("npy/" + level + "/labels.npy"));
        const std::string header = cut::npy_header(3, 36, 48);
        ASSERT_EQ(npy.size(), header.size() + 4 * sgm.labels.size());
        ASSERT_EQ(npy.substr(0, header.size()), header);
        std::vector<std::int64_t> values(sgm.labels.size());
        for (std::size_t v = 0; v < values.size(); ++v) {
            std::int32_t value;
            std::memcpy(&value, npy.data() + header.size() + 4 * v, 4);
            values[v] = value;
        }
        expect_same_partition(sgm.labels, values, 0);
    }
    // NumPy's own reader needs the header padded to 64 bytes and ended by a newline.
    EXPECT_EQ(cut::npy_header(3, 36, 48),
              std::string("\x93NUMPY\x01\x00\x76\x00", 10) +
                  "{'descr': '<i4', 'fortran_order': False, 'shape': (3, 36, 48), }" +
                  std::string(53, ' ') + "\n");
}

TEST(CutFormats, Png16RefusesMoreThan65535RegionsBeforeWritingAnything) {
    TempDir dir;
    boost::filesystem::create_directories(dir.file("run/trees"));
    std::vector<std::uint64_t> leaves(256 * 257);
    for (std::size_t v = 0; v < leaves.size(); ++v) {
        leaves[v] = v;
    }
    io::TreeFileWriter writer(dir.file("run/trees/tree.bpt"), 256, 257, 1, leaves.data(),
                              leaves.size());
    writer.finish();
    EXPECT_THAT(
        [&] {
            run_quietly(cut::run_vseg_cut,
                        {"vseg-cut", dir.file("run"), "--regions", "65792", "--format", "png16"});
        },
        ThrowsMessage<VoradaError>(
            StrEq("--format png16 holds at most 65535 regions, the cut at 65792 "
                  "has more (use --format npy or sgm)")));
    EXPECT_FALSE(boost::filesystem::exists(dir.file("run/cuts/65791")));
}

TEST(CutRun, WritingIntoAFolderAnotherProgramWritesIsRefusedReadingItIsNot) {
    ASSERT_TRUE(magick_ready);
    TempDir dir;
    synthetic::Synthetic sample =
        synthetic::make_synthetic(synthetic::random_options(24, 18, 2, 2, 3));
    synthetic::write_sample(dir.file("in"), sample);
    const std::string out = dir.file("out");
    ASSERT_EQ(run_quietly(gma::run_vseg, {"vseg", "0", "1", "5", "1.5", "0.001", "4",
                                          dir.file("in"), out, "--png", "none"}),
              0);
    const io::OutputLock writer(out);  // as a vseg run writing the folder again holds it
    EXPECT_THAT(
        [&] {
            run_quietly(cut::run_vseg_cut, {"vseg-cut", out, "--regions", "3"});
        },
        ThrowsMessage<VoradaError>(
            ::testing::StartsWith(out + ": another program is writing into this folder")));
    EXPECT_FALSE(boost::filesystem::exists(out + "/cuts"));
    EXPECT_EQ(run_quietly(cut::run_vseg_cut,
                          {"vseg-cut", out, "--regions", "3", "--out", dir.file("elsewhere")}),
              0);
    EXPECT_TRUE(boost::filesystem::exists(dir.file("elsewhere/2/frames.sgm")));
}

TEST(CutRoundTrip, ClipModeOutputByteForByteAndCutsInsideAClipAsTheWholeTree) {
    TempDir dir;
    synthetic::Synthetic sample =
        synthetic::make_synthetic(synthetic::random_options(48, 36, 4, 3, 7));
    synthetic::write_sample(dir.file("in"), sample);
    const std::vector<std::string> clip_mode{"--clip-frames", "2",        "--clip-regions",
                                             "150",           "--levels", "100,20,5"};
    std::vector<std::vector<std::string>> runs;
    for (const char* step : {"--clip", "--clip", "--join"}) {
        runs.push_back(clip_mode);
        runs.back().push_back(step);
        if (runs.size() < 3) {
            runs.back().push_back(std::to_string(runs.size() - 1));
        }
    }
    const std::string out = dir.file("out");
    expect_cut_reproduces_vseg(dir.file("in"), "3", out, runs, 3);
    // Cuts the join never wrote: within clip 0's merges, within clip 1's, and in the join's.
    io::TreeFileReader reader(out + "/trees/tree.bpt");
    const io::ClipIndex index = io::read_clip_index(out + "/trees/clips.txt", reader);
    ASSERT_EQ(index.clips.size(), 2u);
    ASSERT_GT(index.clips[0].merges, 2u);
    ASSERT_GT(index.clips[1].merges, 2u);
    ASSERT_GT(index.join_merges, 2u);
    const io::TreeFile tree = io::read_tree_file(out + "/trees/tree.bpt");
    for (const std::uint64_t merges :
         {index.clips[0].merges / 2, index.clips[1].first_merge + index.clips[1].merges / 2,
          index.clip_merges() + index.join_merges / 2}) {
        const std::string regions = std::to_string(reader.leaf_count() - merges);
        ASSERT_EQ(run_quietly(cut::run_vseg_cut, {"vseg-cut", out, "--regions", regions, "--format",
                                                  "npy", "--out", dir.file("npy")}),
                  0);
        std::vector<unsigned long long> expected;
        io::labels_after(tree, merges, expected);
        const std::string npy = read_bytes(
            dir.file("npy/") + std::to_string(reader.leaf_count() - merges - 1) + "/labels.npy");
        const std::size_t header = cut::npy_header(4, 36, 48).size();
        ASSERT_EQ(npy.size(), header + 4 * expected.size());
        std::vector<std::int64_t> values(expected.size());
        for (std::size_t v = 0; v < values.size(); ++v) {
            std::int32_t value;
            std::memcpy(&value, npy.data() + header + 4 * v, 4);
            values[v] = value;
        }
        expect_same_partition(std::vector<std::uint64_t>(expected.begin(), expected.end()), values,
                              0);
    }
}

}  // namespace
}  // namespace testing
}  // namespace vorada
