// vseg-view: an overview sheet, animated previews and a region summary of a vseg run.

#include <Magick++.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>

#include "view/view.h"

int main(int argc, char** argv) {
    Magick::InitializeMagick(argc > 0 ? argv[0] : nullptr);
    try {
        return vorada::view::run_vseg_view(argc, argv);
    } catch (const std::exception& error) {
        std::string message = error.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        std::cerr << message << std::endl;
        return 1;
    }
}
