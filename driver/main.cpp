// vseg: unsupervised video segmentation by a binary partition tree of trajectories.

#include <Magick++.h>
#include <malloc.h>

#include "driver/pipeline.h"
#include "driver/stopsignals.h"

int main(int argc, char** argv) {
    // Arrays of 8 MiB and more get their own mapping and go back to the system when freed. By
    // default the C library raises that bound after each such free, and the frame-sized
    // arrays made and dropped before the merge then stay in its heap: 24 MB of the peak.
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    Magick::InitializeMagick(argc > 0 ? argv[0] : nullptr);
    // Stops stay handled until the process is gone: one that arrives after the run has put its
    // handlers back (run.json written, the process ending) still says that the run finished,
    // instead of ending the process without a word.
    static const auto* const stops = new vorada::gma::StopSignalHandling;
    (void)stops;
    return vorada::gma::vseg_main(argc, argv);
}
