// Whole runs of the two programs, for vseg.batch: the same files, byte for byte, as the command
// lines write.

#include <Magick++.h>

#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "driver/pipeline.h"
#include "prepare/prepare.h"
#include "python/src/helpers.h"

namespace vseg_python {
namespace {

py::tuple run_prepare(const std::string& input, const std::string& output,
                               unsigned long long first, unsigned long long count,
                               unsigned long long step, long long max_side, double scale,
                               const std::string& flow, unsigned threads, bool force) {
    vorada::prepare::PrepareCommand command =
        vorada::prepare::parse_prepare_arguments({input, output, "--flow", flow});
    vorada::prepare::PrepareOptions& options = command.options;
    options.first = first;
    options.count = count;
    options.step = step;
    options.max_side = max_side;
    options.scale = scale;
    options.threads = threads;
    options.force = force;
    vorada::prepare::PrepareResult result;
    {
        py::gil_scoped_release no_gil;
        result = vorada::prepare::run_prepare(options, std::cerr, false);
    }
    return py::make_tuple(result.frames, result.width, result.height);
}

int run_vseg(const std::vector<std::string>& arguments) {
    static std::once_flag magick;
    std::call_once(magick, [] { Magick::InitializeMagick(nullptr); });
    std::vector<const char*> argv{"vseg"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    py::gil_scoped_release no_gil;
    return vorada::gma::run_vseg(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

void bind_runs(py::module_& module) {
    using namespace pybind11::literals;
    module.def("run_prepare", &run_prepare, "input"_a, "output"_a, "first"_a, "count"_a, "step"_a,
               "max_side"_a, "scale"_a, "flow"_a, "threads"_a, "force"_a,
               "vseg-prepare INPUT OUTPUT with these options; returns (frames, width, height).");
    module.def("run_vseg", &run_vseg, "arguments"_a,
               "vseg with these arguments (after the program name); returns the exit status.");
}

}  // namespace vseg_python
