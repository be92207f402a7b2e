#pragma once
// OUTPUT_DIR/run.json: what a finished run was (version, arguments, sizes, stage times, peak
// memory). It is removed when a run starts and written last, so its presence says the files
// beside it are complete.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace vorada {
namespace gma {

/// Wall and processor time of one stage of a run.
struct StageTime {
    std::string name;
    double wall_seconds = 0;
    double cpu_seconds = 0;  ///< this process, all threads, user + system
};

struct RunRecord {
    std::vector<std::string> arguments;  ///< as given: the eight, then any option
    unsigned long long width = 0;        ///< 0 when no frame was read
    unsigned long long height = 0;
    unsigned long long frames = 0;
    unsigned long long leaf_regions = 0;
    std::vector<StageTime> stages;    ///< in the order they ran
    double writer_cpu_seconds = 0;    ///< the image writer processes together, user + system
    long peak_memory_kib = 0;         ///< peak resident memory of vseg itself
    long peak_writer_memory_kib = 0;  ///< peak resident memory of the largest writer process
};

/// Times consecutive stages: each stop() closes the stage begun by the previous one (or by the
/// construction) and appends it to the record.
class StageClock {
  public:
    explicit StageClock(RunRecord& record);
    void stop(const std::string& stage);

  private:
    RunRecord& record;
    std::chrono::steady_clock::time_point wall_start;
    double cpu_start;
};

/// The record as a JSON object, ending with "complete": true.
std::string run_record_json(const RunRecord& record);

/// Fills in the peak memory and the writers' processor time from getrusage (call it once the
/// writer processes have ended), flushes the output tree to the disk, then writes run.json and
/// calls `recorded` (if given) the moment run.json has its name (stop signals wait meanwhile).
void write_run_record(const std::string& output_directory,
                      RunRecord record,
                      void (*recorded)() = nullptr);

/// Removes the run.json of an earlier run, if any; a run.json that cannot be removed throws.
void remove_run_record(const std::string& output_directory);

}  // namespace gma
}  // namespace vorada
