#pragma once
// Which vseg command vseg-prepare recommends: the default run when it fits in memory and the video
// has one shot, else clip mode with a clip length that fits.

#include <string>
#include <vector>

#include "prepare/shots.h"

namespace vorada {
namespace prepare {

/// What the machine that will run vseg offers.
struct MachineRoom {
    double memory_bytes = 0;
    std::string memory_source;  ///< what sets the limit, for the note
    unsigned cores = 1;
};

/// The command to print and, when it is not the default run, a note saying why.
struct VsegAdvice {
    std::string command;
    std::string note;  ///< empty for the default run
};

/// Advice for frames 0…frames−1 of width×height cut into `segments`: `default_command` (vseg's
/// eight arguments) when the whole run fits and there is one shot, else the same command in clip
/// mode: clips no longer than the longest shot, as long as fits with as many jobs as cores while
/// a clip keeps a few frames.
VsegAdvice advise_vseg_command(const std::string& default_command,
                               unsigned long long width,
                               unsigned long long height,
                               unsigned long long frames,
                               const std::vector<ShotSegment>& segments,
                               const MachineRoom& room);

}  // namespace prepare
}  // namespace vorada
