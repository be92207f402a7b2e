// vseg-view: an overview sheet, animated previews and a region summary of a vseg run.

#include <Magick++.h>

#include "layout/layout.h"
#include "view/view.h"

int main(int argc, char** argv) {
    Magick::InitializeMagick(argc > 0 ? argv[0] : nullptr);
    return vorada::layout::run_reporting_errors(
        [&] { return vorada::view::run_vseg_view(argc, argv); });
}
