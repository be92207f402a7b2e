// A whole run of vseg, for vseg.batch: the same files, byte for byte, as the command line
// writes.

#include <Magick++.h>

#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "driver/pipeline.h"
#include "python/src/helpers.h"

namespace vseg_python {
namespace {

int run_vseg(const std::vector<std::string>& arguments) {
    static std::once_flag magick;
    std::call_once(magick, [] { Magick::InitializeMagick(nullptr); });
    std::vector<const char*> argv{"vseg"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    py::gil_scoped_release no_gil;
    return vorada::gma::vseg_main(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

void bind_runs(py::module_& module) {
    using namespace pybind11::literals;
    module.def(
        "run_vseg", &run_vseg, "arguments"_a,
        "vseg with these arguments (after the program name): its messages on standard error, its "
        "exit status returned.");
}

}  // namespace vseg_python
