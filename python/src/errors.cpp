// The library's errors as Python exceptions, in every module.

#include "common/errors.h"

#include "python/src/helpers.h"

namespace vseg_python {

void register_library_errors() {
    py::register_exception_translator([](std::exception_ptr error) {
        try {
            if (error) {
                std::rethrow_exception(error);
            }
        } catch (const vorada::VoradaFileNotFound& file_error) {
            PyErr_SetString(PyExc_FileNotFoundError, one_line(file_error.what()).c_str());
        } catch (const vorada::BacktracedVoradaException& library_error) {
            PyErr_SetString(PyExc_RuntimeError, one_line(library_error.what()).c_str());
        }
    });
}

}  // namespace vseg_python
