#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <stdexcept>
#include <vector>

#include "common/errors.h"
#include "driver/arguments.h"
#include "driver/pipeline.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace gma {
namespace {

Arguments parse(std::vector<std::string> words) {
    std::vector<const char*> argv{"vseg"};
    for (const auto& word : words) {
        argv.push_back(word.c_str());
    }
    return parse_arguments(argv.data());
}

// The message validate_run_arguments gives for the words, empty when it accepts them.
std::string validation_message(std::vector<std::string> words) {
    try {
        validate_run_arguments(parse(words));
    } catch (const VoradaError& error) {
        return error.what();
    }
    return "";
}

TEST(ParseArguments, ReadsEachWordWithStreamExtraction) {
    const Arguments a = parse({"5", "7", "20", " 2.5", "0.001", "4.9", "in dir", "out"});
    EXPECT_EQ(a.first_frame, 5u);
    EXPECT_EQ(a.last_frame, 7u);
    EXPECT_EQ(a.color_scale, 20.0);
    EXPECT_EQ(a.motion_scale, 2.5);
    EXPECT_EQ(a.area_fraction, 0.001);
    EXPECT_EQ(a.num_colors(), 4u);
    EXPECT_EQ(a.input_directory, "in");  // the first blank-delimited word
    EXPECT_EQ(a.output_directory, "out");
    EXPECT_EQ(a.frame_count(), 3u);
}

TEST(ParseArguments, UnparsableValuesKeepTheirDefaults) {
    const Arguments a = parse({"x", "last", "?", "-", "", "none", "", ""});
    EXPECT_EQ(a.first_frame, 0u);
    EXPECT_EQ(a.last_frame, std::numeric_limits<unsigned long long>::max());
    EXPECT_EQ(a.color_scale, 0.0);
    EXPECT_EQ(a.motion_scale, 0.0);
    EXPECT_EQ(a.area_fraction, 0.0);
    EXPECT_EQ(a.num_colors(), 0u);
    EXPECT_TRUE(a.input_directory.empty());
    // Parsing stops at the first character that does not fit.
    EXPECT_EQ(parse({"12abc", "3", "1", "1", "1", "8", "i", "o"}).first_frame, 12u);
}

TEST(ValidateRunArguments, RejectsValuesThatWouldBreakTheDistances) {
    EXPECT_EQ(validation_message({"0", "9", "20", "2", "0.001", "4", "i", "o"}), "");
    EXPECT_THAT(validation_message({"0", "x", "20", "2", "0.001", "4", "i", "o"}),
                ::testing::HasSubstr("Invalid frame range 0 to 18446744073709551615"));
    EXPECT_THAT(validation_message({"0", "9", "0", "2", "0.001", "4", "i", "o"}),
                ::testing::HasSubstr("colour scale (argument 3)"));
    EXPECT_THAT(validation_message({"0", "9", "20", "nan", "0.001", "4", "i", "o"}),
                ::testing::HasSubstr("motion scale (argument 4)"));
    EXPECT_THAT(validation_message({"0", "9", "1e-200", "2", "0.001", "4", "i", "o"}),
                ::testing::HasSubstr("colour scale (argument 3)"));
    EXPECT_THAT(validation_message({"0", "9", "20", "2", "-0.001", "4", "i", "o"}),
                ::testing::HasSubstr("area fraction (argument 5)"));
    EXPECT_THAT(validation_message({"0", "9", "20", "2", "0", "4", "i", "o"}),
                ::testing::HasSubstr("area fraction (argument 5)"));
    // A negative scale weighs like its absolute value.
    EXPECT_EQ(validation_message({"0", "9", "-20", "-2", "0.001", "4", "i", "o"}), "");
    EXPECT_THAT(validation_message({"0", "9", "20", "2", "0.001", "0.5", "i", "o"}),
                ::testing::HasSubstr("dominant colours (argument 6)"));
    EXPECT_THAT(validation_message({"0", "9", "20", "2", "0.001", "256", "i", "o"}),
                ::testing::HasSubstr("dominant colours (argument 6)"));
    EXPECT_EQ(validation_message({"0", "9", "20", "2", "0.001", "255.9", "i", "o"}), "");
}

TEST(ValidateRunArguments, NamesAWordThatIsNotANumber) {
    EXPECT_EQ(validation_message({"0", "9", "5", "abc", "0.001", "4", "i", "o"}),
              "Invalid motion scale (argument 4): \"abc\" is not a number");
    EXPECT_EQ(validation_message({"0", "9", "5", "1.5", "0x1", "4", "i", "o"}),
              "Invalid area fraction (argument 5): \"0x1\" is not a number");
    EXPECT_EQ(
        validation_message({"0", "nine", "5", "1.5", "0.001", "4", "i", "o"}),
        "Invalid frame range 0 to 18446744073709551615: \"nine\" (argument 2) is not a number");
    EXPECT_EQ(validation_message({"0", "9", "5", "1.5", "0.001", "four", "i", "o"}),
              "Invalid number of dominant colours (argument 6): \"four\" is not a number");
    // The parsed value still decides: "9x" reads as 9 and the run is valid.
    EXPECT_EQ(validation_message({"0", "9x", "5", "1.5", "0.001", "4", "i", "o"}), "");
}

int run(std::vector<std::string> words) {
    std::vector<const char*> argv{"vseg"};
    for (const auto& word : words) {
        argv.push_back(word.c_str());
    }
    return run_vseg(static_cast<int>(argv.size()), argv.data());
}

TEST(RunVseg, FirstAfterLastCreatesOnlyTheOutputTree) {
    testing::TempDir dir;
    const std::string out = dir.file("out");
    EXPECT_EQ(run({"5", "3", "20", "2", "0.001", "4", dir.file("no-input"), out}), 0);
    for (const char* sub : {"segmentations", "occlusions", "trajectories", "trees",
                            "flow_variation", "structure_tensor"}) {
        EXPECT_TRUE(boost::filesystem::is_directory(out + "/" + sub)) << sub;
        EXPECT_TRUE(boost::filesystem::is_empty(out + "/" + sub)) << sub;
    }
    // A second run reuses the existing directories.
    EXPECT_EQ(run({"5", "3", "20", "2", "0.001", "4", dir.file("no-input"), out}), 0);
}

TEST(RunVseg, FewerThanEightArgumentsPrintsUsage) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(run({"0", "1"}), 2);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                ::testing::HasSubstr("FIRST_FRAME LAST_FRAME COLOR_SCALE"));
}

TEST(RunVseg, HelpAndVersionPrintAndExitWithZero) {
    for (const char* option : {"--help", "-h"}) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(run({option}), 0);
        const std::string help = ::testing::internal::GetCapturedStdout();
        EXPECT_THAT(help, ::testing::HasSubstr("FIRST_FRAME LAST_FRAME COLOR_SCALE"));
        EXPECT_THAT(help, ::testing::HasSubstr("--version"));
    }
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "vseg " + layout::version_text() + "\n");
}

TEST(RunVseg, MissingParentDirectoryIsNamedInOneLine) {
    testing::TempDir dir;
    EXPECT_THAT(
        [&] {
            run({"5", "3", "20", "2", "0.001", "4", "in", dir.file("a/b")});
        },
        ::testing::ThrowsMessage<VoradaError>(::testing::StrEq("Cannot create the output folder " +
                                                               dir.file("a/b") + ": " +
                                                               dir.file("a") + " does not exist")));
}

TEST(RunVseg, RefusedRunsCreateNoFolder) {
    testing::TempDir dir;
    const std::string out = dir.file("out");
    using ::testing::HasSubstr;
    using ::testing::ThrowsMessage;
    // A minus sign is no frame number (stream extraction would wrap it around).
    EXPECT_THAT(
        [&] {
            run({"-1", "2", "20", "2", "0.001", "4", "in", out});
        },
        ThrowsMessage<VoradaError>(::testing::StrEq(
            "Invalid first frame (argument 1) \"-1\": frame numbers cannot be negative")));
    EXPECT_THAT(
        [&] {
            run({"-3", "-1", "20", "2", "0.001", "4", "in", out});
        },
        ThrowsMessage<VoradaError>(HasSubstr("frame numbers cannot be negative")));
    EXPECT_THAT(
        [&] {
            run({"0", " -1", "20", "2", "0.001", "4", "in", out});
        },
        ThrowsMessage<VoradaError>(HasSubstr("(argument 2)")));
    EXPECT_THAT(
        [&] {
            run({"0", "1", "0", "2", "0.001", "4", "in", out});
        },
        ThrowsMessage<VoradaError>(HasSubstr("colour scale")));
    EXPECT_THAT(
        [&] {
            run({"0", "1", "20", "2", "0.001", "4", dir.file("no-input"), out});
        },
        ThrowsMessage<VoradaError>(HasSubstr("not found")));
    EXPECT_FALSE(boost::filesystem::exists(out));
}

TEST(ParseOptions, PngModeFollowsTheEightArguments) {
    auto options = [](std::vector<std::string> words, Arguments& a) {
        std::vector<const char*> argv{"vseg", "0", "1", "5", "1", "0.001", "4", "in", "out"};
        for (const auto& word : words) {
            argv.push_back(word.c_str());
        }
        return parse_options(static_cast<int>(argv.size()), argv.data(), a);
    };
    Arguments a;
    EXPECT_TRUE(options({}, a));
    EXPECT_EQ(a.png_mode, io::PngMode::exact);
    EXPECT_TRUE(options({"--png", "none"}, a));
    EXPECT_EQ(a.png_mode, io::PngMode::none);
    EXPECT_TRUE(options({"--png=fast"}, a));
    EXPECT_EQ(a.png_mode, io::PngMode::fast);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--png"}, {"--png", "best"}, {"--png=FAST"}, {"--fast"}, {"extra"}}) {
        EXPECT_FALSE(options(bad, a)) << bad[0];
    }
}

TEST(ParseOptions, LevelsAndClipModeTakeCheckedValues) {
    auto options = [](std::vector<std::string> words) {
        std::vector<const char*> argv{"vseg", "0", "1", "5", "1", "0.001", "4", "in", "out"};
        for (const auto& word : words) {
            argv.push_back(word.c_str());
        }
        Arguments a;
        if (!parse_options(static_cast<int>(argv.size()), argv.data(), a)) {
            throw std::runtime_error("usage");
        }
        return a;
    };
    EXPECT_EQ(options({}).levels, Arguments::default_levels());
    EXPECT_EQ(options({}).clip_frames, 0u);
    EXPECT_EQ(options({"--levels", "20,100,20,3"}).levels,
              (std::vector<unsigned long long>{100, 20, 3}));
    const Arguments clip = options({"--clip-frames=15", "--jobs", "2", "--clip-regions", "950",
                                    "--clip", "3", "--png", "none"});
    EXPECT_EQ(clip.clip_frames, 15u);
    EXPECT_EQ(clip.jobs, 2u);
    EXPECT_EQ(clip.clip_regions, 950u);
    EXPECT_TRUE(clip.single_clip && clip.clip == 3 && !clip.join_only);
    EXPECT_TRUE(options({"--clip-frames", "5", "--join", "--levels", "50"}).join_only);
    // With levels of at most 50, a clip may keep as few as 51 regions.
    EXPECT_EQ(
        options({"--clip-frames", "5", "--levels", "50", "--clip-regions", "51"}).clip_regions,
        51u);
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{"--levels", "100,,20"}, "Invalid --levels \"100,,20\""},
        {{"--levels", "0"}, "Invalid --levels"},
        {{"--levels", "-5"}, "Invalid --levels"},
        {{"--clip-frames", "0"}, "Invalid --clip-frames \"0\""},
        {{"--clip-frames", "2x"}, "Invalid --clip-frames"},
        {{"--clip-frames", "5", "--jobs", "0"}, "Invalid --jobs"},
        {{"--clip-frames", "5", "--jobs", "65"}, "at most 64 clips run at once"},
        {{"--clip", "1"}, "--clip needs --clip-frames N"},
        {{"--join"}, "--join needs --clip-frames N"},
        {{"--jobs", "2"}, "--jobs needs --clip-frames N"},
        {{"--clip-frames", "5", "--clip", "1", "--join"}, "exclude each other"},
        {{"--clip-frames", "5", "--clip-regions", "900"},
         "more than the largest level written, 900"},
    };
    for (const auto& bad : refused) {
        EXPECT_THAT([&] { options(bad.first); },
                    ::testing::ThrowsMessage<VoradaError>(::testing::HasSubstr(bad.second)))
            << bad.first[0];
    }
    EXPECT_THROW(options({"--clip-frames"}), std::runtime_error);  // no value: the usage text
}

}  // namespace
}  // namespace gma
}  // namespace vorada
