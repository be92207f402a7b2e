#pragma once
// How much memory this process may use: not the machine's size, but the smallest of the limits
// that end a process which goes past them (a cgroup's, as under Slurm or in a container, and
// ulimit -v) and the memory available now; and how much memory a run needs.

#include <string>

namespace vorada {
namespace layout {

struct MemoryLimit {
    double bytes = 0;
    std::string source;  ///< what sets it, for messages: "the memory available now", ...
};

/// The smallest of the cgroup's memory limit (memory.max of the process's cgroup and of every
/// cgroup above it, or memory.limit_in_bytes under cgroup v1), RLIMIT_AS, and MemAvailable (the
/// machine's physical memory where that cannot be read). `proc` and `cgroup_root` are where
/// /proc and /sys/fs/cgroup are mounted.
MemoryLimit memory_limit(const std::string& proc = "/proc",
                         const std::string& cgroup_root = "/sys/fs/cgroup");

/// "about 1.23 GiB": a byte count for messages.
std::string gibibytes(double bytes);

/// What a run expects to need and may use, kept for the message of a run whose allocation
/// fails all the same; empty before the run's memory is checked.
void note_memory_check(double needed, const MemoryLimit& limit);
std::string memory_check_note();

/// Peak memory a run over `voxels` voxels needs, all stages together: measured peaks of real
/// sequences with a margin (a fixed part for the libraries and the writer processes, and a part
/// per voxel).
double estimated_run_bytes(double voxels);

/// The longest clip (in frames) whose run fits `limit_bytes` when `jobs` clips of
/// width×height frames run at once, by estimated_run_bytes; 0 when not even one frame fits (and
/// when width, height or jobs is 0).
unsigned long long clip_frames_that_fit(unsigned long long width,
                                        unsigned long long height,
                                        unsigned long long jobs,
                                        double limit_bytes);

}  // namespace layout

// The pipeline's names for the same functions.
namespace gma {
using layout::clip_frames_that_fit;
using layout::estimated_run_bytes;
using layout::gibibytes;
using layout::memory_check_note;
using layout::memory_limit;
using layout::MemoryLimit;
using layout::note_memory_check;
}  // namespace gma

}  // namespace vorada
