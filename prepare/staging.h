#pragma once
// The output folder of vseg-prepare: files are written into a private folder inside OUTPUT_DIR
// and replace OUTPUT_DIR/frames, OUTPUT_DIR/flows and OUTPUT_DIR/shots.txt only once the run is
// complete.

#include <memory>
#include <string>
#include <vector>

#include "io/outputlock.h"

namespace vorada {
namespace prepare {

/// Name of the record, inside OUTPUT_DIR, of the input that produced its frames and flows.
extern const char* const record_file_name;

/// The input named in OUTPUT_DIR's record, or "" when it has none.
std::string recorded_input(const std::string& output_directory);

class Staging {
  public:
    /// Checks OUTPUT_DIR (created if missing), locks it against other writers until the end,
    /// removes the private folders of earlier runs that died, and opens its own. Refuses, with
    /// a VoradaError, an OUTPUT_DIR another program is writing, or one holding frames or flows
    /// made from another input than `input_identity`, unless `force`.
    Staging(const std::string& output_directory, const std::string& input_identity, bool force);
    /// Removes whatever an unfinished run wrote, and OUTPUT_DIR if this run created it.
    ~Staging();
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    /// The private folder: this run's frames/ and flows/ are written under it until commit.
    const std::string& directory() const { return staging; }

    /// Replaces OUTPUT_DIR's frames, flows, list of shots and record by this run's, the record
    /// last.
    void commit(const std::string& record);

  private:
    // Removes the private folder, lets go of the lock, and removes the folders this run made
    // unless it committed.
    void _clean_up();

    std::string output;
    std::unique_ptr<io::OutputLock> lock;
    std::string staging;
    std::vector<std::string> created;  // folders this run made, deepest last
    bool committed = false;
};

}  // namespace prepare
}  // namespace vorada
