// vseg._core: the C++ libraries of vseg for Python. The public API and its checks live in the
// Python package; this module does the work, without the GIL.

#include <malloc.h>

#include <algorithm>
#include <opencv2/core.hpp>
#include <string>

#include "common/errors.h"
#include "python/src/helpers.h"

namespace {

// Library messages are one line, as the programs print them.
std::string one_line(std::string message) {
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message;
}

}  // namespace

PYBIND11_MODULE(_core, module) {
    namespace py = pybind11;
    module.doc() = "The C++ side of vseg; use the functions of the vseg package instead.";
    // Large arrays get their own mappings and go back to the system when freed, as in vseg
    // itself: the frame-sized arrays dropped before the merge do not stay in the heap.
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    py::register_exception_translator([](std::exception_ptr error) {
        try {
            if (error) {
                std::rethrow_exception(error);
            }
        } catch (const vorada::VoradaFileNotFound& file_error) {
            PyErr_SetString(PyExc_FileNotFoundError, one_line(file_error.what()).c_str());
        } catch (const vorada::BacktracedVoradaException& library_error) {
            PyErr_SetString(PyExc_RuntimeError, one_line(library_error.what()).c_str());
        } catch (const cv::Exception& opencv_error) {
            PyErr_SetString(PyExc_RuntimeError, one_line(opencv_error.what()).c_str());
        }
    });
    vseg_python::bind_video(module);
    vseg_python::bind_tree(module);
    vseg_python::bind_runs(module);
}
