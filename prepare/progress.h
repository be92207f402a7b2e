#pragma once
// Progress of a run on standard error: a bar redrawn in place on a terminal, plain lines (at
// most one a second) otherwise.

#include <chrono>
#include <ostream>

namespace vorada {
namespace prepare {

class Progress {
  public:
    /// `expected` frames in all (0 when unknown); `terminal` draws the bar.
    Progress(std::ostream& stream, unsigned long long expected, bool terminal);
    /// Reports that `done` frames are written.
    void update(unsigned long long done);
    /// Ends the bar's line and prints the totals.
    void finish(unsigned long long done);

  private:
    using Clock = std::chrono::steady_clock;
    void _draw(unsigned long long done, bool final_line);

    std::ostream& out;
    unsigned long long expected;
    bool terminal;
    Clock::time_point start = Clock::now();
    Clock::time_point last_line = start;
};

}  // namespace prepare
}  // namespace vorada
