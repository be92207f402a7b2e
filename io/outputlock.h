#pragma once
// One writer per output folder. A program takes the folder's lock before it removes or writes
// anything there: an exclusive flock on a small file inside the folder. The kernel releases it
// when the process ends, however it ends, so a killed run never blocks the next one; a second
// writer is refused at once. Reading a folder needs no lock.

#include <sys/types.h>

#include <optional>
#include <string>

#include "io/atomicfile.h"

namespace vorada {
namespace io {

/// Name of the lock file inside a locked folder.
extern const char* const output_lock_name;

class OutputLock {
  public:
    /// Takes the lock of `directory`, which must exist. Throws VoradaError, in one line naming
    /// the folder, when another process holds it or when the lock file cannot be made.
    explicit OutputLock(const std::string& directory);
    /// Removes the lock file, then releases the lock.
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

  private:
    std::string path;
    int fd = -1;
    pid_t owner = 0;
    std::optional<UnfinishedFile> listed;  // a stop signal removes the lock file too
};

/// Whether `path` is `folder` or lies inside it (paths resolved, as far as they exist).
bool lies_within(const std::string& path, const std::string& folder);

}  // namespace io
}  // namespace vorada
