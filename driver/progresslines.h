#pragma once
// The lines vseg prints on standard error while the tree merges.

#include <ostream>

namespace vorada {
namespace gma {

/// Prints "Done P% " each time another `step_fraction` of the merges is done since the last
/// line (compared as doubles), P the merges done × 100 / all merges, truncated.
class ProgressLines {
  public:
    ProgressLines(std::ostream& stream, double step_fraction)
        : out(stream), fraction(step_fraction) {}

    /// The line before merging: "Starting from " + regions + " regions ".
    void start(unsigned long long regions);
    /// After each merge, with the merges done and the merges the tree will make.
    void merged(unsigned long long done, unsigned long long total);

  private:
    std::ostream& out;
    double fraction;
    unsigned long long since = 0;  ///< merges since the last line
};

}  // namespace gma
}  // namespace vorada
