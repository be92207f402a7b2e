#pragma once
// vseg-prepare: frames and forward/backward optical flows of a video or an image folder, in the
// layout vseg reads.

#include <ostream>
#include <string>
#include <vector>

#include "prepare/options.h"
#include "prepare/shots.h"

namespace vorada {
namespace prepare {

/// The README's recommended numbers for real video: colour scale, motion scale, area fraction,
/// dominant colours.
extern const char* const recommended_vseg_numbers;

/// What a run wrote.
struct PrepareResult {
    unsigned long long frames = 0;
    int width = 0;
    int height = 0;
    std::vector<ShotSegment> segments;  ///< the shots and blank runs of the frames written
    std::string vseg_command;           ///< the vseg command line that segments the output
    std::string advice;  ///< why vseg_command is in clip mode; empty for the default run
};

/// Reads the input frame by frame and writes OUTPUT_DIR/frames, OUTPUT_DIR/flows and
/// OUTPUT_DIR/shots.txt (the shot cuts and blank frames found in the frames written), replacing
/// earlier ones only once all is written. Progress goes to `log` (a bar when `terminal`).
/// Raises VoradaError (or OpenCV's errors) with one line on failure; nothing is left behind.
PrepareResult run_prepare(const PrepareOptions& options, std::ostream& log, bool terminal);

/// The program: parses argv, runs, prints the vseg command on `out` and everything else on
/// `err`. Returns the exit status: 0 on success and for --help/--version, 1 on any failure.
int prepare_main(
    int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool terminal);

}  // namespace prepare
}  // namespace vorada
