#pragma once
// The programs run as a user runs them: in a child process, several of them let go at the same
// instant when they must race.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vorada {
namespace testing {

/// The program to run: `built` (the one of this build), or the one of that name in the folder
/// VORADA_PROGRAM_DIR names, to run these tests against another build.
std::string program_path(const std::string& name, const std::string& built);

/// The fixture of tests that run a program of this build as a user runs it. `built` is its
/// path in this build, empty in a build without it (the sanitizer builds): the tests then skip.
class ProgramTest : public ::testing::Test {
  protected:
    explicit ProgramTest(const std::string& built) : present(!built.empty()) {}
    /// Makes image files readable in this process, or skips the test without the program.
    void SetUp() override;

  private:
    bool present;
};

/// The bytes of every regular file below `folder` whose file name `keep` accepts, by path
/// relative to `folder`.
std::map<std::string, std::string> files_below(
    const std::string& folder, const std::function<bool(const std::string& name)>& keep);

/// Children started on it wait until open() lets them all go at once.
class StartGate {
  public:
    StartGate();
    ~StartGate();
    StartGate(const StartGate&) = delete;
    StartGate& operator=(const StartGate&) = delete;
    /// Lets every child waiting at the gate go.
    void open();
    /// For a child: waits until the gate opens.
    void pass() const;

  private:
    int ends[2] = {-1, -1};
};

struct ChildOptions {
    const StartGate* gate = nullptr;       ///< wait here before starting
    unsigned long long address_space = 0;  ///< RLIMIT_AS in bytes; 0 leaves it as it is
};

/// Starts `words` (program, arguments) with its standard error stream going to `errors`.
pid_t start_program(const std::vector<std::string>& words,
                    const std::string& errors,
                    const ChildOptions& options = {});

/// Waits for a child; returns its wait status.
int wait_for(pid_t pid);

/// Runs `words` to its end, its standard error going to `errors`; its exit_code.
int run_program(const std::vector<std::string>& words,
                const std::string& errors,
                const ChildOptions& options = {});

/// A wait status as one exit code: the exit status, or 100 + the signal that ended the child.
int exit_code(int status);

/// The exit status of run_on_small_disk when no file system can be mounted here (needs root).
constexpr int cannot_mount = 77;

/// Runs `body` in a forked helper that first mounts a tmpfs of `size` (e.g. "3m") on
/// `mount_point` in a mount namespace of its own, so that nothing outlives the test. Returns the
/// helper's wait status: its exit status is what `body` returns, or cannot_mount.
int run_on_small_disk(const std::string& mount_point,
                      const std::string& size,
                      const std::function<int()>& body);

}  // namespace testing
}  // namespace vorada
