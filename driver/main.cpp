// vseg: unsupervised video segmentation by a binary partition tree of trajectories.

#include <Magick++.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>

#include "driver/pipeline.h"

int main(int argc, char** argv) {
    Magick::InitializeMagick(argc > 0 ? argv[0] : nullptr);
    try {
        return vorada::gma::run_vseg(argc, argv);
    } catch (const std::exception& error) {
        // Every error ends the run with its message alone on one line.
        std::string message = error.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        std::cerr << message << std::endl;
        return 1;
    }
}
