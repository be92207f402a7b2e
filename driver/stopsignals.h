#pragma once
// A run stopped by SIGINT, SIGTERM or SIGHUP says so on the standard error stream, ends its
// image writer processes, removes the files it was writing, then ends by the same signal (so
// its exit status says how it ended). Once the run is recorded as complete, a stop says so.

#include <sys/types.h>

#include <csignal>

namespace vorada {
namespace gma {

class StopSignalHandling {
  public:
    /// Installs the handlers; the earlier ones come back when the object goes.
    StopSignalHandling();
    ~StopSignalHandling();
    /// From now on a stop says that the run had finished (its record is written).
    static void run_complete();
    /// A child process a stop ends too (SIGTERM, then waited for); at most 64 at a time.
    static void add_child(pid_t pid);
    /// Forgets a child that has ended.
    static void remove_child(pid_t pid);
    StopSignalHandling(const StopSignalHandling&) = delete;
    StopSignalHandling& operator=(const StopSignalHandling&) = delete;

  private:
    struct sigaction previous[3];
};

}  // namespace gma
}  // namespace vorada
