// vseg-cut: segmentations of a vseg run at any number of regions, from its tree file.

#include <Magick++.h>

#include "cut/cut.h"
#include "layout/layout.h"

int main(int argc, char** argv) {
    Magick::InitializeMagick(argc > 0 ? argv[0] : nullptr);
    return vorada::layout::run_reporting_errors(
        [&] { return vorada::cut::run_vseg_cut(argc, argv); });
}
