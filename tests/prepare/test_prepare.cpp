#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <set>
#include <sstream>

#include "common/errors.h"
#include "driver/flowreader.h"
#include "prepare/framesource.h"
#include "prepare/options.h"
#include "prepare/prepare.h"
#include "signals/videosignal.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace prepare {
namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(std::vector<std::string> words) {
    std::vector<const char*> argv{"vseg-prepare"};
    for (const auto& word : words) {
        argv.push_back(word.c_str());
    }
    std::ostringstream out, err;
    const int status = prepare_main(static_cast<int>(argv.size()), argv.data(), out, err, false);
    return {status, out.str(), err.str()};
}

// Every file under a folder, relative to it, hidden ones included.
std::set<std::string> listing(const std::string& folder) {
    std::set<std::string> names;
    for (fs::recursive_directory_iterator entry(folder), end; entry != end; ++entry) {
        names.insert(fs::relative(entry->path(), folder).string());
    }
    return names;
}

// A textured square moving `dx` pixels right per frame over a still textured background.
cv::Mat moving_square(int width, int height, int t, int dx) {
    cv::Mat background(height, width, CV_8UC3), square(height / 3, height / 3, CV_8UC3);
    cv::RNG rng(7);
    rng.fill(background, cv::RNG::UNIFORM, 0, 255);
    rng.fill(square, cv::RNG::UNIFORM, 0, 255);
    cv::GaussianBlur(background, background, cv::Size(5, 5), 1.5);
    cv::GaussianBlur(square, square, cv::Size(5, 5), 1.5);
    square.copyTo(background(cv::Rect(width / 4 + dx * t, height / 3, square.cols, square.rows)));
    return background;
}

class Prepare : public ::testing::Test {
  protected:
    // An 8-frame 320x240 Motion-JPEG video, the square (80x80 at x 80 + 4t, y 80) moving 4
    // pixels a frame.
    std::string write_video(const std::string& name) {
        const std::string path = directory.file(name);
        cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                               cv::Size(320, 240));
        EXPECT_TRUE(writer.isOpened());
        for (int t = 0; t < 8; ++t) {
            writer.write(moving_square(320, 240, t, 4));
        }
        return path;
    }
    // A folder of flat images named as given, grey levels 10, 20, 30, ...
    std::string write_folder(const std::string& name,
                             std::vector<std::string> files,
                             cv::Size size = cv::Size(40, 32)) {
        const std::string folder = directory.file(name);
        fs::create_directories(folder);
        for (std::size_t i = 0; i < files.size(); ++i) {
            cv::imwrite(folder + "/" + files[i],
                        cv::Mat(size, CV_8UC3, cv::Scalar::all(10.0 * static_cast<double>(i + 1))));
        }
        return folder;
    }
    testing::TempDir directory;
};

TEST(NaturalLess, OrdersDigitRunsAsNumbers) {
    std::vector<std::string> names{"img10.png", "img2.png",  "b.png",  "img1.png",
                                   "img01.png", "img2b.png", "a10.png"};
    std::sort(names.begin(), names.end(), natural_less);
    EXPECT_THAT(names, ElementsAre("a10.png", "b.png", "img01.png", "img1.png", "img2.png",
                                   "img2b.png", "img10.png"));
}

TEST(ParsePrepareArguments, ReadsOptionsAndNamesFaultyOnes) {
    const PrepareCommand command = parse_prepare_arguments(
        {"in.mp4", "--first", "3", "--count=5", "out", "--step", "2", "--max-side", "320", "--flow",
         "fine", "--threads", "2", "--force"});
    EXPECT_EQ(command.action, PrepareCommand::run);
    EXPECT_EQ(command.options.input, "in.mp4");
    EXPECT_EQ(command.options.output_directory, "out");
    EXPECT_EQ(command.options.first, 3u);
    EXPECT_EQ(command.options.count, 5u);
    EXPECT_EQ(command.options.step, 2u);
    EXPECT_EQ(command.options.max_side, 320);
    EXPECT_EQ(command.options.flow, FlowQuality::fine);
    EXPECT_EQ(command.options.threads, 2u);
    EXPECT_TRUE(command.options.force);
    EXPECT_EQ(parse_prepare_arguments({"a", "b", "-h"}).action, PrepareCommand::help);
    EXPECT_EQ(parse_prepare_arguments({"--version"}).action, PrepareCommand::version);

    const auto message_of = [](std::vector<std::string> words) {
        try {
            parse_prepare_arguments(words);
        } catch (const VoradaError& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    EXPECT_EQ(message_of({"a", "b", "--count", "abc"}), "--count: \"abc\" is not a number");
    EXPECT_EQ(message_of({"a", "b", "--step", "0"}), "--step: 0 must be at least 1");
    EXPECT_EQ(message_of({"a", "b", "--first", "-2"}), "--first: \"-2\" is not a number");
    EXPECT_THAT(message_of({"a", "b", "--scale", "1.5"}), StartsWith("--scale: 1.5 must be"));
    EXPECT_THAT(message_of({"a", "b", "--scale", "0.5", "--max-side", "9"}),
                HasSubstr("cannot be combined"));
    EXPECT_EQ(message_of({"a", "b", "--flow", "best"}),
              "--flow: \"best\" is not one of fast, medium, fine");
    EXPECT_THAT(message_of({"a", "b", "--frist", "1"}), StartsWith("unknown option --frist"));
    EXPECT_THAT(message_of({"a"}), StartsWith("expected INPUT and OUTPUT_DIR, got 1"));
    EXPECT_THAT(message_of({"a", "b", "--count"}), StartsWith("--count needs a value"));
}

TEST_F(Prepare, VideoGivesTheLayoutVsegReadsWithFlowsBothWays) {
    const std::string video = write_video("clip.avi");
    const std::string out = directory.file("out");
    // Input frames 1, 3, 5 at half size: the square moves 4 pixels per written frame.
    const Outcome outcome =
        run({video, out, "--first", "1", "--count", "3", "--step", "2", "--scale", "0.5"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_THAT(outcome.out, EndsWith(" 0 2 5 1.5 0.001 4 " + out + " " + out + "/segmentation\n"));
    EXPECT_EQ(listing(out),
              (std::set<std::string>{"frames", "frames/frame000.png", "frames/frame001.png",
                                     "frames/frame002.png", "flows", "flows/flow_0_1.flo",
                                     "flows/flow_1_0.flo", "flows/flow_1_2.flo",
                                     "flows/flow_2_1.flo", "vseg-prepare.txt"}));
    const cv::Mat frame = cv::imread(out + "/frames/frame000.png", cv::IMREAD_UNCHANGED);
    EXPECT_EQ(frame.type(), CV_8UC3);
    EXPECT_EQ(frame.size(), cv::Size(160, 120));

    // The flows read back through vseg's reader; the square moves +4 pixels, and back -4.
    gma::Flow flow(160, 120, 4);
    gma::read_optical_flow(flow, out + "/flows/flow_0_1.flo", 0);
    gma::read_optical_flow(flow, out + "/flows/flow_1_0.flo", 1);
    gma::read_optical_flow(flow, out + "/flows/flow_1_2.flo", 2);
    gma::read_optical_flow(flow, out + "/flows/flow_2_1.flo", 3);
    // Mean flow over the middle of the square (x 42 + 4k ... 81 + 4k, y 40 ... 79 in frame k).
    const auto mean_flow = [&](long long t, long long k, int channel) {
        double sum = 0;
        for (long long y = 50; y < 70; ++y) {
            for (long long x = 52 + 4 * k; x < 72 + 4 * k; ++x) {
                sum += flow.at(x, y, t)[channel];
            }
        }
        return sum / 400;
    };
    EXPECT_NEAR(mean_flow(0, 0, 0), 4.0, 0.5);
    EXPECT_NEAR(mean_flow(1, 1, 0), -4.0, 0.5);
    EXPECT_NEAR(mean_flow(2, 1, 0), 4.0, 0.5);
    EXPECT_NEAR(mean_flow(3, 2, 0), -4.0, 0.5);
    EXPECT_NEAR(mean_flow(0, 0, 1), 0.0, 0.5);

    // Any thread count writes the same bytes.
    const std::string one = directory.file("one"), two = directory.file("two");
    ASSERT_EQ(run({video, one, "--threads", "1", "--flow", "fast"}).status, 0);
    ASSERT_EQ(run({video, two, "--threads", "2", "--flow", "fast"}).status, 0);
    for (const std::string& name : listing(one)) {
        if (fs::is_regular_file(one + "/" + name) && name != "vseg-prepare.txt") {
            EXPECT_EQ(testing::read_bytes(one + "/" + name), testing::read_bytes(two + "/" + name))
                << name;
        }
    }
}

TEST_F(Prepare, ImageFolderIsTakenInNaturalOrder) {
    const std::string folder = write_folder("photos", {"img10.png", "img2.jpg", "img1.png"});
    testing::write_bytes(folder + "/notes.txt", "not an image");
    const std::string out = directory.file("out");
    ASSERT_EQ(run({folder, out}).status, 0);
    // write_folder gave img10 grey 10, img2 grey 20, img1 grey 30.
    const int expected[] = {30, 20, 10};
    for (int k = 0; k < 3; ++k) {
        const cv::Mat frame = cv::imread(out + "/frames/frame00" + std::to_string(k) + ".png");
        EXPECT_NEAR(frame.at<cv::Vec3b>(5, 5)[1], expected[k], 1) << k;
    }
    EXPECT_TRUE(fs::exists(out + "/flows/flow_2_1.flo"));
    EXPECT_FALSE(fs::exists(out + "/frames/frame003.png"));
}

TEST_F(Prepare, BadInputGetsOneLineAndLeavesNothing) {
    const std::string video = write_video("clip.avi");
    testing::write_bytes(directory.file("text.avi"), "this is not a video");
    write_folder("empty", {});
    const std::string mixed = write_folder("mixed", {"a1.png", "a2.png"});
    cv::imwrite(mixed + "/a3.png", cv::Mat(20, 20, CV_8UC3, cv::Scalar::all(0)));
    const std::string out = directory.file("out");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{directory.file("missing.mp4"), out}, "missing.mp4: no such file or folder"},
        {{directory.file("text.avi"), out}, "text.avi: cannot open this file as a video"},
        {{directory.file("empty"), out}, "empty: the folder holds no images"},
        {{video, out, "--first", "8"}, "clip.avi holds frames 0 to 7; --first 8 is past the end"},
        {{video, out, "--first", "2", "--count", "4", "--step", "2"},
         "clip.avi holds frames 0 to 7; --first 2 --count 4 --step 2 needs frame 8"},
        {{mixed, out},
         "a3.png is 20x20, the first frame 40x32: all frames must have the same size"},
        {{video, directory.file("with blank")}, "must be non-empty and hold no blanks"},
    };
    for (const auto& bad : cases) {
        const Outcome outcome = run(bad.first);
        EXPECT_EQ(outcome.status, 1) << bad.second;
        EXPECT_THAT(outcome.err, HasSubstr(bad.second));
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_FALSE(fs::exists(out)) << bad.second;
    }
}

TEST_F(Prepare, AnotherInputIsRefusedUnlessForcedThenReplacedWhole) {
    const std::string three = write_folder("three", {"a.png", "b.png", "c.png"});
    const std::string two = write_folder("two", {"a.png", "b.png"});
    const std::string out = directory.file("out");
    ASSERT_EQ(run({three, out}).status, 0);
    const std::set<std::string> before = listing(out);
    const Outcome refused = run({two, out});
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("already holds frames or flows of"));
    EXPECT_EQ(listing(out), before);
    // A failing run of the same input leaves the earlier result as it was.
    cv::imwrite(three + "/d.png", cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(0)));
    EXPECT_EQ(run({three, out}).status, 1);
    EXPECT_EQ(listing(out), before);

    const Outcome forced = run({two, out, "--force"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_FALSE(fs::exists(out + "/frames/frame002.png"));
    EXPECT_FALSE(fs::exists(out + "/flows/flow_2_1.flo"));
    EXPECT_TRUE(fs::exists(out + "/frames/frame001.png"));
    // The same input again needs no --force.
    EXPECT_EQ(run({two, out}).status, 0);

    // Frames that no run of vseg-prepare made count as another input's.
    const std::string made = directory.file("made");
    fs::create_directories(made + "/frames");
    EXPECT_EQ(run({two, made}).status, 1);
    EXPECT_EQ(listing(made), std::set<std::string>{"frames"});
}

TEST(PrepareMain, HelpAndVersionExitWithZero) {
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--max-side PIXELS"));
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_THAT(version.out, StartsWith("vseg-prepare "));
    EXPECT_EQ(run({}).status, 1);
}

}  // namespace
}  // namespace prepare
}  // namespace vorada
