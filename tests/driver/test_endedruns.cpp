// The vseg program run as a user runs it: a finished run leaves run.json; a run stopped by a
// signal or by a full disk leaves only complete files, no run.json and no writer process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/crc.hpp>
#include <boost/filesystem.hpp>
// The JSON parser still includes the old bind header, which otherwise prints a deprecation note.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "image/imagergb.h"
#include "io/readimage.h"
#include "io/treefile.h"
#include "tests/support/labelfile.h"
#include "tests/support/processes.h"
#include "tests/support/tempdir.h"
#include "tools/synthetic/synthetic.h"

namespace vorada {
namespace gma {
namespace {

namespace fs = boost::filesystem;
using ::testing::EndsWith;
using ::testing::MatchesRegex;
using vorada::testing::read_bytes;
using vorada::testing::TempDir;

#ifndef VSEG_BINARY
#define VSEG_BINARY ""  // a build without the program (sanitizers): the tests say so and skip
#endif

class EndedRuns : public vorada::testing::ProgramTest {
  protected:
    EndedRuns() : ProgramTest(VSEG_BINARY) {}
};

const std::string vseg = vorada::testing::program_path("vseg", VSEG_BINARY);

// The bundled sample (160 x 120, 8 frames: a run of a few seconds, long enough to stop).
const std::string& sample_input() {
    static vorada::testing::TempDir input;
    static const bool written = [] {
        auto sample = synthetic::make_synthetic(synthetic::default_sample_options());
        synthetic::write_sample(input.path(), sample);
        return true;
    }();
    (void)written;
    return input.path();
}

// Starts vseg on the bundled sample, its standard error stream going to `errors`.
pid_t start_vseg(const std::string& output, const std::string& errors) {
    return vorada::testing::start_program(
        {vseg, "0", "7", "5", "1", "0.001", "4", sample_input(), output}, errors);
}

// Every file under `output` is whole: each PNG decodes, each frames.sgm has the size its
// header gives, and nothing else lies there (no temporary file, finished or not). Returns the
// number of files checked.
std::size_t expect_only_complete_files(const std::string& output) {
    std::size_t checked = 0;
    for (fs::recursive_directory_iterator entry(output), end; entry != end; ++entry) {
        if (!fs::is_regular_file(entry->path())) {
            continue;
        }
        const std::string path = entry->path().string();
        const std::string name = entry->path().filename().string();
        ++checked;
        if (name == "frames.sgm") {
            const auto file = testing::read_label_file(path);
            EXPECT_EQ(file.bytes, 24 + 8 * file.width * file.height * file.frames) << path;
            EXPECT_EQ(file.width * file.height * file.frames, 160u * 120u * 8u) << path;
        } else if (entry->path().extension() == ".png") {
            ImageRGB<unsigned char> image;
            EXPECT_NO_THROW(io::ReadImage(path, io::FORMAT_UNKNOWN).read(image)) << path;
            EXPECT_EQ(image.width(), 160u) << path;
        } else if (name == "tree.bpt") {
            EXPECT_NO_THROW(io::read_tree_file(path));
        } else {
            EXPECT_THAT(name, ::testing::AnyOf("run.json", "input.txt")) << path;
        }
    }
    return checked;
}

// Any process left over from the last vseg this test started (this process adopts orphans).
bool writer_left_behind() {
    for (;;) {
        const pid_t pid = ::waitpid(-1, nullptr, WNOHANG);
        if (pid > 0) {
            continue;  // one that ended: gone, as it should be
        }
        return pid == 0;  // 0: a child still runs; -1 (ECHILD): none left
    }
}

TEST_F(EndedRuns, AFinishedRunIsRecordedAndAStoppedOneLeavesOnlyCompleteFiles) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    TempDir directory;
    const std::string output = directory.file("out");
    const std::string errors = directory.file("errors");

    // A finished run: status 0 and run.json.
    ASSERT_EQ(vorada::testing::wait_for(start_vseg(output, errors)), 0) << read_bytes(errors);
    boost::property_tree::ptree record;
    ASSERT_NO_THROW(boost::property_tree::read_json(output + "/run.json", record));
    EXPECT_EQ(record.get<std::string>("complete"), "true");
    EXPECT_EQ(record.get_child("arguments").size(), 8u);
    EXPECT_EQ(record.get<int>("frame_width") * record.get<int>("frame_count"), 160 * 8);
    EXPECT_GT(record.get<long>("leaf_regions"), 1000);
    EXPECT_GT(record.get<double>("stages.tree.wall_seconds"), 0.0);
    EXPECT_GT(record.get<long>("peak_memory_kib"), 0);
    EXPECT_FALSE(writer_left_behind());

    // The same run again, stopped right after it replaces its first segmentation: the earlier
    // run.json is gone, every file is the old one or a whole new one, no writer outlives vseg.
    const std::string first_labels = output + "/segmentations/900/frames.sgm";
    struct stat before {};
    ASSERT_EQ(::stat(first_labels.c_str(), &before), 0);
    const pid_t pid = start_vseg(output, errors);
    bool stopped_in_time = false;
    for (int k = 0; k < 200000 && !stopped_in_time; ++k) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        struct stat now {};
        stopped_in_time = ::stat(first_labels.c_str(), &now) == 0 && now.st_ino != before.st_ino;
        if (!stopped_in_time && ::waitpid(pid, nullptr, WNOHANG) == pid) {
            FAIL() << "vseg ended before it could be stopped: " << read_bytes(errors);
        }
    }
    ASSERT_TRUE(stopped_in_time);
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    const int status = vorada::testing::wait_for(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(writer_left_behind());
    EXPECT_THAT(read_bytes(errors), EndsWith("\nStopped by SIGTERM: the run did not finish\n"));
    EXPECT_FALSE(fs::exists(output + "/run.json"));
    EXPECT_GE(expect_only_complete_files(output), 3u * 8 + 8);
}

// Runs vseg with its output on a 3 MiB file system of its own and copies what it wrote to
// `copy`. Returns the helper's wait status: vseg's exit code, or cannot_mount.
int run_on_small_disk(const std::string& mount_point,
                      const std::string& copy,
                      const std::string& errors) {
    return vorada::testing::run_on_small_disk(mount_point, "3m", [&] {
        const int status = vorada::testing::wait_for(start_vseg(mount_point + "/out", errors));
        const int copied = std::system(("cp -a " + mount_point + "/out " + copy).c_str());
        return copied != 0 ? 99 : vorada::testing::exit_code(status);
    });
}

TEST_F(EndedRuns, AFullDiskEndsTheRunWithOneLineAndNoCutFile) {
    TempDir directory;
    fs::create_directories(directory.file("disk"));
    const std::string copy = directory.file("copy");
    const std::string errors = directory.file("errors");
    const int status = run_on_small_disk(directory.file("disk"), copy, errors);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == vorada::testing::cannot_mount) {
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    }
    EXPECT_EQ(WEXITSTATUS(status), 1);
    // Progress lines, then the reason in one line.
    EXPECT_THAT(read_bytes(errors),
                MatchesRegex("(Starting from [0-9]+ regions \n|Done [0-9]+% \n)*"
                             "Error in file '[^\n]*': [^\n]*No space left on device\n"));
    EXPECT_FALSE(fs::exists(copy + "/run.json"));
    EXPECT_GE(expect_only_complete_files(copy), 3u * 8);
}

// The files that make a run's result, by their path inside the output folder.
std::map<std::string, std::string> result_files(const std::string& output) {
    return vorada::testing::files_below(
        output, [](const std::string& name) { return name == "tree.bpt" || name == "frames.sgm"; });
}

std::vector<std::string> recorded_arguments(const std::string& output) {
    boost::property_tree::ptree record;
    boost::property_tree::read_json(output + "/run.json", record);
    std::vector<std::string> arguments;
    for (const auto& argument : record.get_child("arguments")) {
        arguments.push_back(argument.second.data());
    }
    return arguments;
}

TEST_F(EndedRuns, TwoRunsStartedAtOnceIntoOneFolderLeaveOneRunsFilesAndRecord) {
    TempDir directory;
    const std::string input = directory.file("in");
    auto sample = synthetic::make_synthetic(synthetic::random_options(64, 48, 4, 3, 5));
    synthetic::write_sample(input, sample);
    const std::vector<std::string> colours[2] = {{"5", "4"}, {"10", "2"}};
    const auto arguments = [&](int k, const std::string& output) {
        return std::vector<std::string>{"0",           "3",   colours[k][0], "1",     "0.001",
                                        colours[k][1], input, output,        "--png", "none"};
    };
    const auto command = [&](int k, const std::string& output) {
        std::vector<std::string> words = arguments(k, output);
        words.insert(words.begin(), vseg);
        return words;
    };
    std::map<std::string, std::string> alone[2];  // what each run writes by itself
    for (int k = 0; k < 2; ++k) {
        const std::string output = directory.file("alone" + std::to_string(k));
        ASSERT_EQ(
            testing::wait_for(testing::start_program(command(k, output), directory.file("e"))), 0);
        alone[k] = result_files(output);
    }
    ASSERT_NE(alone[0], alone[1]);

    int refused = 0;
    for (int round = 0; round < 6; ++round) {
        const std::string output = directory.file("out" + std::to_string(round));
        testing::StartGate gate;
        pid_t pids[2];
        std::string errors[2];
        for (int k = 0; k < 2; ++k) {
            errors[k] = directory.file("errors" + std::to_string(k));
            pids[k] = testing::start_program(command(k, output), errors[k], {&gate});
        }
        gate.open();
        int codes[2];
        for (int k = 0; k < 2; ++k) {
            const int status = testing::wait_for(pids[k]);
            ASSERT_TRUE(WIFEXITED(status)) << status;
            codes[k] = WEXITSTATUS(status);
        }
        // The second is refused at once, in one line, unless the first had already finished.
        for (int k = 0; k < 2; ++k) {
            if (codes[k] != 0) {
                ++refused;
                EXPECT_EQ(codes[k], 1);
                EXPECT_EQ(codes[1 - k], 0) << read_bytes(errors[1 - k]);
                EXPECT_THAT(read_bytes(errors[k]),
                            MatchesRegex(output + ": another program is writing into this folder"
                                                  "( \\(process [0-9]+\\))?; [^\n]*\n"));
            }
        }
        // run.json names the run whose files the folder holds.
        const std::vector<std::string> recorded = recorded_arguments(output);
        const int k = recorded == arguments(0, output) ? 0 : 1;
        EXPECT_EQ(recorded, arguments(k, output)) << "round " << round;
        EXPECT_TRUE(result_files(output) == alone[k]) << "round " << round;
        EXPECT_FALSE(fs::exists(output + "/.vseg.lock")) << "round " << round;
    }
    EXPECT_GT(refused, 0) << "no round had the two runs overlap";
}

// A PNG header of a width x height RGB image followed by data that does not decode.
std::string png_header_only(std::uint32_t width, std::uint32_t height) {
    const auto big_endian = [](std::uint32_t word) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<char>((word >> (24 - 8 * i)) & 0xFF);
        }
        return bytes;
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        boost::crc_32_type crc;
        crc.process_bytes((type + data).data(), type.size() + data.size());
        return big_endian(static_cast<std::uint32_t>(data.size())) + type + data +
               big_endian(crc.checksum());
    };
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR",
                 big_endian(width) + big_endian(height) + std::string("\x08\x02\0\0\0", 5)) +
           chunk("IDAT", "not image data") + chunk("IEND", "");
}

TEST_F(EndedRuns, ARunBeyondWhatItMayUseIsRefusedBeforeItDecodesOrCreatesAnything) {
    TempDir directory;
    const std::string errors = directory.file("errors");
    const std::string refusal =
        "Frames 0 to [0-9]+ of [0-9]+x[0-9]+ need about [0-9.]+ GiB, more than the [0-9.]+ GiB "
        "this run may use: ";
    // ulimit -v of 100 MiB: the sample needs about 0.12 GiB.
    const std::string output = directory.file("out");
    EXPECT_EQ(testing::run_program({vseg, "0", "7", "5", "1", "0.001", "4", sample_input(), output},
                                   errors, {nullptr, 100ull << 20}),
              1);
    // It names the clip length that fits: 4 frames of 160 x 120 (64 MiB + 400 bytes per voxel).
    EXPECT_THAT(read_bytes(errors),
                MatchesRegex(refusal + "the address-space limit of this process, ulimit -v; "
                                       "clip mode fits it: --clip-frames 4\n"));
    EXPECT_FALSE(fs::exists(output));
    // In clip mode, the clips that run at once must fit together.
    EXPECT_EQ(testing::run_program({vseg, "0", "7", "5", "1", "0.001", "4", sample_input(), output,
                                    "--clip-frames", "4", "--jobs", "2"},
                                   errors, {nullptr, 100ull << 20}),
              1);
    EXPECT_THAT(read_bytes(errors),
                MatchesRegex("Clips of 4 frames of 160x120, 2 at once, need about [0-9.]+ GiB, "
                             "more than the [0-9.]+ GiB this run may use: the address-space limit "
                             "of this process, ulimit -v; use fewer --jobs\n"));
    EXPECT_FALSE(fs::exists(output));

    // Frames of 12000 x 12000: the size comes from the header, the pixels (which would not
    // decode) are never read.
    const std::string input = directory.file("huge");
    fs::create_directories(input + "/frames");
    testing::write_bytes(input + "/frames/frame000.png", png_header_only(12000, 12000));
    EXPECT_EQ(testing::run_program({vseg, "0", "3", "5", "1", "0.001", "4", input, output}, errors),
              1);
    EXPECT_THAT(read_bytes(errors), MatchesRegex(refusal + "[^\n]*\n"));
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(EndedRuns, AStopAfterTheRunIsRecordedSaysThatItFinished) {
    TempDir directory;
    const std::string input = directory.file("in");
    auto sample = synthetic::make_synthetic(synthetic::random_options(32, 24, 2, 2, 3));
    synthetic::write_sample(input, sample);
    const std::string output = directory.file("out");
    const std::string errors = directory.file("errors");
    fs::create_directories(output);
    // A stop that comes after the process has ended finds nothing to stop: rounds go on (a
    // few, more when the machine is slow) until some stops arrived in time.
    int stopped = 0;
    for (int round = 0; round < 40 && stopped < 3; ++round) {
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(::inotify_add_watch(watch, output.c_str(), IN_MOVED_TO), 0);
        const pid_t pid = testing::start_program(
            {vseg, "0", "1", "5", "1", "0.001", "4", input, output, "--png", "none"}, errors);
        // Stopped the moment run.json takes its name.
        for (bool recorded = false; !recorded;) {
            alignas(inotify_event) char events[4096];
            const ssize_t size = ::read(watch, events, sizeof events);
            ASSERT_GT(size, 0);
            for (char* at = events; at < events + size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                recorded = recorded || (event->len > 0 && std::string(event->name) == "run.json");
                at += sizeof(inotify_event) + event->len;
            }
        }
        ::kill(pid, SIGINT);
        const int status = testing::wait_for(pid);
        ::close(watch);
        EXPECT_TRUE(fs::exists(output + "/run.json"));
        EXPECT_THAT(read_bytes(errors), ::testing::Not(::testing::HasSubstr("did not finish")));
        if (WIFSIGNALED(status)) {
            ++stopped;
            EXPECT_THAT(read_bytes(errors),
                        EndsWith("\nStopped by SIGINT after the run had finished: its output is "
                                 "complete\n"));
        } else {
            EXPECT_EQ(testing::exit_code(status), 0) << read_bytes(errors);
        }
    }
    EXPECT_GT(stopped, 0) << "every run ended before its stop arrived";
}

}  // namespace
}  // namespace gma
}  // namespace vorada
