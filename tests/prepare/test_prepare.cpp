#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <chrono>
#include <csignal>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "common/errors.h"
#include "io/flowreader.h"
#include "prepare/framesource.h"
#include "prepare/options.h"
#include "prepare/prepare.h"
#include "prepare/staging.h"
#include "signals/videosignal.h"
#include "tests/support/processes.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace prepare {
namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using testing::read_bytes;
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
    std::string write_video(const std::string& name, int frames = 8) {
        const std::string path = directory.file(name);
        cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                               cv::Size(320, 240));
        EXPECT_TRUE(writer.isOpened());
        for (int t = 0; t < frames; ++t) {
            writer.write(moving_square(320, 240, t, 4));
        }
        return path;
    }
    // `frames` images of the square moving `dx` pixels a frame.
    std::string write_moving_folder(const std::string& name, int frames, int dx) {
        const std::string folder = directory.file(name);
        fs::create_directories(folder);
        for (int t = 0; t < frames; ++t) {
            cv::imwrite(folder + "/" + std::to_string(t) + ".png", moving_square(320, 240, t, dx));
        }
        return folder;
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
                                     "flows/flow_2_1.flo", "shots.txt", "vseg-prepare.txt"}));
    EXPECT_EQ(read_bytes(out + "/shots.txt"), "# first last kind\n0 2 shot\n");
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
    EXPECT_EQ(read_bytes(out + "/shots.txt"), "# first last kind\n0 1 blank\n");  // flat greys
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

#ifndef VSEG_PREPARE_BINARY
#define VSEG_PREPARE_BINARY ""  // a build without the program (sanitizers): those tests skip
#endif

const std::string prepare_program = testing::program_path("vseg-prepare", VSEG_PREPARE_BINARY);

// The private folders of vseg-prepare runs inside a folder.
std::vector<std::string> private_folders(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : listing(folder)) {
        if (name.find(".vseg-prepare-") != std::string::npos) {
            found.push_back(name);
        }
    }
    return found;
}

// Every file under a folder with its bytes.
std::map<std::string, std::string> contents(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : listing(folder)) {
        if (fs::is_regular_file(folder + "/" + name)) {
            files[name] = testing::read_bytes(folder + "/" + name);
        }
    }
    return files;
}

TEST_F(Prepare, TwoInputsStartedAtOnceIntoOneFolderLeaveOneWhole) {
    if (std::string(VSEG_PREPARE_BINARY).empty()) {
        GTEST_SKIP() << "this build has no vseg-prepare program to run";
    }
    const std::string inputs[2] = {write_moving_folder("left", 6, 4),
                                   write_moving_folder("right", 6, 2)};
    std::map<std::string, std::string> alone[2];  // what each input gives by itself
    for (int k = 0; k < 2; ++k) {
        const std::string out = directory.file("alone" + std::to_string(k));
        ASSERT_EQ(run({inputs[k], out}).status, 0);
        alone[k] = contents(out);
    }
    int refused = 0;
    for (int round = 0; round < 4; ++round) {
        const std::string out = directory.file("out" + std::to_string(round));
        testing::StartGate gate;
        pid_t pids[2];
        std::string errors[2];
        for (int k = 0; k < 2; ++k) {
            errors[k] = directory.file("errors" + std::to_string(k));
            pids[k] = testing::start_program({prepare_program, inputs[k], out}, errors[k], {&gate});
        }
        gate.open();
        int codes[2];
        for (int k = 0; k < 2; ++k) {
            const int status = testing::wait_for(pids[k]);
            ASSERT_TRUE(WIFEXITED(status)) << status;
            codes[k] = WEXITSTATUS(status);
        }
        // One writes the folder; the other is refused, at once or, if it came after the first
        // had finished, for the other input it finds there.
        ASSERT_EQ(codes[0] + codes[1], 1) << read_bytes(errors[0]) << read_bytes(errors[1]);
        const int loser = codes[0] == 1 ? 0 : 1;
        EXPECT_THAT(read_bytes(errors[loser]),
                    ::testing::MatchesRegex("vseg-prepare: " + out +
                                            "(: another program is writing into this folder| "
                                            "already holds frames or flows of)[^\n]*\n"));
        refused += read_bytes(errors[loser]).find("another program") != std::string::npos;
        std::map<std::string, std::string> held = contents(out);
        EXPECT_EQ(recorded_input(out), fs::canonical(inputs[1 - loser]).string());
        held.erase("vseg-prepare.txt");
        alone[1 - loser].erase("vseg-prepare.txt");
        EXPECT_TRUE(held == alone[1 - loser]) << "round " << round;
    }
    EXPECT_GT(refused, 0) << "no round had the two runs overlap";
}

TEST_F(Prepare, PrivateFoldersOfStoppedAndKilledRunsDoNotStay) {
    // A run killed outright leaves its private folder; the next run removes it.
    const std::string folder = write_folder("few", {"1.png", "2.png"}, cv::Size(64, 48));
    const std::string out = directory.file("out");
    fs::create_directories(out + "/.vseg-prepare-k1LLed/frames");
    testing::write_bytes(out + "/.vseg-prepare-k1LLed/frames/frame000.png", "half");
    ASSERT_EQ(run({folder, out}).status, 0);
    EXPECT_THAT(private_folders(out), ElementsAre());

    // SIGHUP (a closed terminal) ends a run as SIGINT does: in one line, leaving nothing.
    if (std::string(VSEG_PREPARE_BINARY).empty()) {
        GTEST_SKIP() << "this build has no vseg-prepare program to run";
    }
    const std::string input = write_moving_folder("long", 40, 1);
    const std::string stopped = directory.file("stopped");
    const std::string errors = directory.file("errors");
    const pid_t pid = testing::start_program(
        {prepare_program, input, stopped, "--threads", "1", "--flow", "fine"}, errors);
    bool started = false;
    for (int k = 0; k < 100000 && !started; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        started = fs::exists(stopped) && !private_folders(stopped).empty() &&
                  fs::exists(stopped + "/" + private_folders(stopped)[0] + "/frames/frame000.png");
    }
    ASSERT_TRUE(started);
    ASSERT_EQ(::kill(pid, SIGHUP), 0);
    const int status = testing::wait_for(pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    // A slow machine may show progress lines before it.
    EXPECT_THAT(read_bytes(errors), MatchesRegex("(.*\n)?vseg-prepare: interrupted; [^\n]*\n"));
    EXPECT_FALSE(fs::exists(stopped));
}

TEST_F(Prepare, FramesTooSmallForTheFlowAreRefusedInOneLine) {
    const std::string video = write_video("clip.avi");
    // 200 x 12 crashed the flow estimator of the default quality.
    const std::string flat = write_folder("flat", {"1.png", "2.png"}, cv::Size(200, 12));
    const std::string out = directory.file("out");
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{video, out, "--max-side", "1"}, {flat, out}}) {
        const Outcome outcome = run(words);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_THAT(outcome.err,
                    MatchesRegex("vseg-prepare: Frames of [0-9]+x[0-9]+ are too small for the "
                                 "optical flow: --flow medium needs at least [^\n]*\n"));
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(Prepare, AVideoWhoseHeaderCountsFramesItDoesNotHoldShowsNoTotal) {
    // The header says 40 frames; the file, cut short, holds about a third of them.
    const std::string video = write_video("cut.avi", 40);
    const std::string bytes = testing::read_bytes(video);
    testing::write_bytes(video, bytes.substr(0, bytes.size() * 3 / 10));
    const std::string out = directory.file("out");
    std::ostringstream standard, errors;
    const std::vector<const char*> words{"vseg-prepare", video.c_str(), out.c_str(), "--flow",
                                         "fast"};
    ASSERT_EQ(prepare_main(static_cast<int>(words.size()), words.data(), standard, errors, true), 0)
        << errors.str();
    EXPECT_THAT(errors.str(), HasSubstr(" frames, "));
    EXPECT_THAT(errors.str(), ::testing::Not(HasSubstr("/40 frames")));
}

// Runs vseg-prepare with its output on a 1 MiB file system of its own; returns the helper's wait
// status: vseg-prepare's exit code, or cannot_mount.
int prepare_on_small_disk(const std::string& mount_point,
                          const std::string& input,
                          const std::string& errors) {
    return testing::run_on_small_disk(mount_point, "1m", [&] {
        return testing::run_program({prepare_program, input, mount_point + "/out"}, errors);
    });
}

TEST_F(Prepare, AFullDiskIsNamedAsSuch) {
    if (std::string(VSEG_PREPARE_BINARY).empty()) {
        GTEST_SKIP() << "this build has no vseg-prepare program to run";
    }
    const std::string video = write_video("clip.avi");
    fs::create_directories(directory.file("disk"));
    const std::string errors = directory.file("errors");
    const int status = prepare_on_small_disk(directory.file("disk"), video, errors);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == testing::cannot_mount) {
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    }
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_THAT(read_bytes(errors), MatchesRegex("vseg-prepare: [^\n]*No space left on device\n"));
}

}  // namespace
}  // namespace prepare
}  // namespace vorada
