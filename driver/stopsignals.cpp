#include "driver/stopsignals.h"

#include <unistd.h>

#include <cstring>

#include "io/atomicfile.h"
#include "io/imagewriterprocess.h"

namespace vorada {
namespace gma {

namespace {

constexpr int stop_signals[3] = {SIGINT, SIGTERM, SIGHUP};

// Only async-signal-safe calls from here on.
void stopped(int signal_number) {
    const char* text = signal_number == SIGINT    ? "Stopped by SIGINT: the run did not finish\n"
                       : signal_number == SIGTERM ? "Stopped by SIGTERM: the run did not finish\n"
                                                  : "Stopped by SIGHUP: the run did not finish\n";
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
    io::stop_writer_processes();
    io::remove_unfinished_files();
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

}  // namespace

StopSignalHandling::StopSignalHandling() {
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

StopSignalHandling::~StopSignalHandling() {
    for (int k = 0; k < 3; ++k) {
        ::sigaction(stop_signals[k], &previous[k], nullptr);
    }
}

}  // namespace gma
}  // namespace vorada
