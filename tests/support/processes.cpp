#include "tests/support/processes.h"

// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstdlib>

#include "tests/support/tempdir.h"

namespace vorada {
namespace testing {

std::string program_path(const std::string& name, const std::string& built) {
    const char* folder = std::getenv("VORADA_PROGRAM_DIR");
    return folder && *folder ? std::string(folder) + "/" + name : built;
}

void ProgramTest::SetUp() {
    static const bool magick_ready = [] {
        Magick::InitializeMagick(nullptr);
        return true;
    }();
    ASSERT_TRUE(magick_ready);
    if (!present) {
        GTEST_SKIP() << "this build has no such program to run";
    }
}

std::map<std::string, std::string> files_below(
    const std::string& folder, const std::function<bool(const std::string& name)>& keep) {
    namespace fs = boost::filesystem;
    std::map<std::string, std::string> files;
    for (fs::recursive_directory_iterator entry(folder), end; entry != end; ++entry) {
        if (fs::is_regular_file(entry->path()) && keep(entry->path().filename().string())) {
            files[fs::relative(entry->path(), folder).string()] =
                read_bytes(entry->path().string());
        }
    }
    return files;
}

StartGate::StartGate() {
    if (::pipe(ends) != 0) {
        ends[0] = ends[1] = -1;
    }
}

StartGate::~StartGate() {
    open();
    if (ends[0] >= 0) {
        ::close(ends[0]);
    }
}

void StartGate::open() {
    if (ends[1] >= 0) {
        ::close(ends[1]);  // every child blocked reading the gate sees its end at once
        ends[1] = -1;
    }
}

void StartGate::pass() const {
    if (ends[1] >= 0) {
        ::close(ends[1]);  // this child's copy; the gate opens when the parent closes its own
    }
    char byte;
    while (::read(ends[0], &byte, 1) > 0) {
    }
}

pid_t start_program(const std::vector<std::string>& words,
                    const std::string& errors,
                    const ChildOptions& options) {
    std::vector<char*> argv;
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    if (options.gate) {
        options.gate->pass();
    }
    const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) {
        ::_exit(126);
    }
    if (options.address_space > 0) {
        const rlimit limit{options.address_space, options.address_space};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            ::_exit(126);
        }
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

int run_program(const std::vector<std::string>& words,
                const std::string& errors,
                const ChildOptions& options) {
    return exit_code(wait_for(start_program(words, errors, options)));
}

int exit_code(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

int run_on_small_disk(const std::string& mount_point,
                      const std::string& size,
                      const std::function<int()>& body) {
    const pid_t helper = ::fork();
    if (helper == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
            ::_exit(cannot_mount);
        }
        ::_exit(body());
    }
    return wait_for(helper);
}

}  // namespace testing
}  // namespace vorada
