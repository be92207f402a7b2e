// vseg-cut: segmentations of a vseg run at any number of regions, from its tree file.

#include <Magick++.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>

#include "cut/cut.h"

int main(int argc, char** argv) {
    Magick::InitializeMagick(argc > 0 ? argv[0] : nullptr);
    try {
        return vorada::cut::run_vseg_cut(argc, argv);
    } catch (const std::exception& error) {
        std::string message = error.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        std::cerr << message << std::endl;
        return 1;
    }
}
