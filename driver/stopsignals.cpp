#include "driver/stopsignals.h"

#include <unistd.h>

#include <cstring>

#include "io/atomicfile.h"
#include "io/imagewriterprocess.h"

namespace vorada {
namespace gma {

namespace {

constexpr int stop_signals[3] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t complete = 0;

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

void StopSignalHandling::run_complete() { complete = 1; }

StopSignalHandling::~StopSignalHandling() {
    for (int k = 0; k < 3; ++k) {
        ::sigaction(stop_signals[k], &previous[k], nullptr);
    }
}

}  // namespace gma
}  // namespace vorada
