#pragma once
// Starting a child process safely against stop signals (SIGINT, SIGTERM, SIGHUP): between the
// fork and the moment the child has handlers of its own, a stop (a Ctrl-C reaches the whole
// process group) would run the parent's handler in the child, which then reports the stop and
// cleans up as if it were the parent.

#include <pthread.h>
#include <signal.h>

namespace vorada {

/// Blocks the stop signals in this thread for its lifetime, so that a child forked meanwhile
/// starts with them blocked and the parent can register the child before a stop is handled.
class BlockedStopSignals {
  public:
    BlockedStopSignals() {
        sigset_t stops;
        sigemptyset(&stops);
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&stops, signal_number);
        }
        ::pthread_sigmask(SIG_BLOCK, &stops, &previous);
    }
    ~BlockedStopSignals() { ::pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    BlockedStopSignals(const BlockedStopSignals&) = delete;
    BlockedStopSignals& operator=(const BlockedStopSignals&) = delete;

    /// In the child, once its own handlers are set: the mask from before the block (pending
    /// stops are delivered to the child's handlers then).
    void restore() const { ::pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

  private:
    sigset_t previous;
};

/// In a child about to run another program: the stop signals it handles go back to their
/// default action (those ignored stay ignored, as nohup wants).
inline void default_stop_handlers() {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        ::sigaction(signal_number, nullptr, &current);
        if (current.sa_handler != SIG_IGN) {
            ::signal(signal_number, SIG_DFL);
        }
    }
}

}  // namespace vorada
