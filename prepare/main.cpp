// vseg-prepare: turns a video file or a folder of images into the frames and flows vseg reads.

#include <unistd.h>

#include <iostream>

#include "prepare/prepare.h"

int main(int argc, char** argv) {
    return vorada::prepare::prepare_main(argc, argv, std::cout, std::cerr,
                                         isatty(STDERR_FILENO) != 0);
}
