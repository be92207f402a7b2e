#include "driver/stopsignals.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/errors.h"
#include "io/atomicfile.h"
#include "io/imagewriterprocess.h"

namespace vorada {
namespace gma {

namespace {

constexpr int stop_signals[3] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t complete = 0;

// The children a stop ends, where the handler can reach them (0: a free entry).
constexpr int max_children = 64;
std::atomic<pid_t> children[max_children];

void stop_children() noexcept {
    for (auto& entry : children) {
        const pid_t pid = entry.load();
        if (pid > 0) {
            ::kill(pid, SIGTERM);
        }
    }
    for (auto& entry : children) {
        const pid_t pid = entry.exchange(0);
        if (pid > 0) {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
}

// Only async-signal-safe calls from here on.
void stopped(int signal_number) {
    const char* name = signal_number == SIGINT    ? "Stopped by SIGINT"
                       : signal_number == SIGTERM ? "Stopped by SIGTERM"
                                                  : "Stopped by SIGHUP";
    const char* outcome = complete ? " after the run had finished: its output is complete\n"
                                   : ": the run did not finish\n";
    for (const char* text : {name, outcome}) {
        ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
        (void)ignored;
    }
    io::stop_writer_processes();
    stop_children();
    io::remove_unfinished_files();
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

}  // namespace

StopSignalHandling::StopSignalHandling() {
    complete = 0;
    struct sigaction action {};
    action.sa_handler = stopped;
    sigemptyset(&action.sa_mask);
    for (int signal_number : stop_signals) {
        sigaddset(&action.sa_mask, signal_number);  // one stop at a time
    }
    for (int k = 0; k < 3; ++k) {
        ::sigaction(stop_signals[k], nullptr, &previous[k]);
        if (previous[k].sa_handler != SIG_IGN) {  // nohup and the like keep their choice
            ::sigaction(stop_signals[k], &action, nullptr);
        }
    }
}

void StopSignalHandling::run_complete() {
    complete = 1;
}

void StopSignalHandling::add_child(pid_t pid) {
    for (auto& entry : children) {
        pid_t free = 0;
        if (entry.compare_exchange_strong(free, pid)) {
            return;
        }
    }
    throw VoradaError("Too many child processes at once");
}

void StopSignalHandling::remove_child(pid_t pid) {
    for (auto& entry : children) {
        pid_t own = pid;
        if (entry.compare_exchange_strong(own, 0)) {
            return;
        }
    }
}

StopSignalHandling::~StopSignalHandling() {
    for (int k = 0; k < 3; ++k) {
        ::sigaction(stop_signals[k], &previous[k], nullptr);
    }
}

}  // namespace gma
}  // namespace vorada
