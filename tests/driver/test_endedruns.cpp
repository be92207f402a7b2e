// The vseg program run as a user runs it: a finished run leaves run.json; a run stopped by a
// signal or by a full disk leaves only complete files, no run.json and no writer process.
// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
// The JSON parser still includes the old bind header, which otherwise prints a deprecation note.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include "image/imagergb.h"
#include "io/readimage.h"
#include "io/treefile.h"
#include "tests/support/labelfile.h"
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

const bool magick_ready = [] {
    Magick::InitializeMagick(nullptr);
    return true;
}();

class EndedRuns : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(magick_ready);
        if (std::string(VSEG_BINARY).empty()) {
            GTEST_SKIP() << "this build has no vseg program to run";
        }
    }
};

// Skipped-test status of the helper that makes a small disk.
constexpr int cannot_mount = 77;

// Starts vseg on the bundled sample (160 x 120, 8 frames: a run of a few seconds, long enough to
// stop), its standard error stream going to `errors`.
pid_t start_vseg(const std::string& output, const std::string& errors) {
    static vorada::testing::TempDir input;
    static const bool written = [] {
        auto sample = synthetic::make_synthetic(synthetic::default_sample_options());
        synthetic::write_sample(input.path(), sample);
        return true;
    }();
    const std::string command = std::string("exec ") + VSEG_BINARY + " 0 7 5 1 0.001 4 " +
                                input.path() + " " + output + " 2>" + errors;
    const pid_t pid = written ? ::fork() : -1;
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

int wait_for(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
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
    ASSERT_EQ(wait_for(start_vseg(output, errors)), 0) << read_bytes(errors);
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
    const int status = wait_for(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(writer_left_behind());
    EXPECT_THAT(read_bytes(errors), EndsWith("\nStopped by SIGTERM: the run did not finish\n"));
    EXPECT_FALSE(fs::exists(output + "/run.json"));
    EXPECT_GE(expect_only_complete_files(output), 3u * 8 + 8);
}

// Runs vseg with its output on a 3 MiB file system of its own (in the mount namespace of a
// forked helper, so that nothing outlives the test) and copies what it wrote to `copy`. Returns
// the helper's wait status: vseg's exit status, or cannot_mount.
int run_on_small_disk(const std::string& mount_point, const std::string& copy,
                      const std::string& errors) {
    const pid_t helper = ::fork();
    if (helper == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=3m") != 0) {
            ::_exit(cannot_mount);
        }
        const int status = wait_for(start_vseg(mount_point + "/out", errors));
        const int copied = std::system(("cp -a " + mount_point + "/out " + copy).c_str());
        ::_exit(copied != 0 ? 99 : WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status));
    }
    return wait_for(helper);
}

TEST_F(EndedRuns, AFullDiskEndsTheRunWithOneLineAndNoCutFile) {
    TempDir directory;
    fs::create_directories(directory.file("disk"));
    const std::string copy = directory.file("copy");
    const std::string errors = directory.file("errors");
    const int status = run_on_small_disk(directory.file("disk"), copy, errors);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == cannot_mount) {
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

}  // namespace
}  // namespace gma
}  // namespace vorada
