// vseg: unsupervised video segmentation by a binary partition tree of trajectories.

#include <Magick++.h>
#include <malloc.h>

#include <algorithm>
#include <exception>
#include <new>
#include <iostream>
#include <string>

#include "driver/memorylimit.h"
#include "driver/pipeline.h"

int main(int argc, char** argv) {
    // Arrays of 8 MiB and more get their own mapping and go back to the system when freed. By
    // default the C library raises that bound after each such free, and the frame-sized
    // arrays made and dropped before the merge then stay in its heap: 24 MB of the peak.
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    Magick::InitializeMagick(argc > 0 ? argv[0] : nullptr);
    try {
        return vorada::gma::run_vseg(argc, argv);
    } catch (const std::bad_alloc&) {
        // The run's memory is released by now: the message can be made.
        const std::string note = vorada::gma::memory_check_note();
        std::cerr << "Memory ran out" << (note.empty() ? "" : ": " + note) << std::endl;
        return 1;
    } catch (const std::exception& error) {
        // Every error ends the run with its message alone on one line.
        std::string message = error.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        std::cerr << message << std::endl;
        return 1;
    }
}
