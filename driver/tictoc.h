#pragma once

#include <map>
#include <string>

namespace vorada {

/// A named stopwatch of process CPU time (user + system); several identifiers may run at once.
class TicToc {
  public:
    /// Starts timing `identifier`; misuse only prints a message on stderr.
    void tic(const std::string& identifier);
    /// Stops timing `identifier` and prints the CPU time elapsed on stderr.
    void toc(const std::string& identifier);

    /// CPU time of the process in seconds, from getrusage.
    static double cpu_time();

  private:
    std::map<std::string, double> running;
};

}  // namespace vorada
