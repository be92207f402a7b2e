#pragma once
// Pieces every binding file uses: arrays that take over C++ vectors, the check for Ctrl-C while
// C++ runs without the GIL, and the checks of array arguments.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace vseg_python {

namespace py = pybind11;

/// A C-ordered NumPy array of `shape` over the storage of `values`, which the array keeps alive
/// from now on: no copy. `Stored` must have the size of `T`.
template <typename T, typename Stored>
py::array_t<T> owning_array(std::vector<Stored>&& values, const std::vector<py::ssize_t>& shape) {
    static_assert(sizeof(T) == sizeof(Stored), "an element must keep its size");
    auto* held = new std::vector<Stored>(std::move(values));
    py::capsule owner(held, [](void* vector) { delete static_cast<std::vector<Stored>*>(vector); });
    return py::array_t<T>(shape, reinterpret_cast<T*>(held->data()), owner);
}

/// Lets Python's signal handlers run while C++ works without the GIL: called often (while
/// waiting for a worker, between two flows), it takes the GIL at most every 50 ms and raises
/// what a handler raised (KeyboardInterrupt for Ctrl-C) as py::error_already_set.
class SignalCheck {
  public:
    void operator()() {
        const auto now = std::chrono::steady_clock::now();
        if (now < next_check) {
            return;
        }
        next_check = now + std::chrono::milliseconds(50);
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    }

  private:
    std::chrono::steady_clock::time_point next_check{};
};

/// Raises TypeError unless `array` holds `T` in C order; `name` is the argument's name.
template <typename T>
void require_c_array(const py::array& array, const char* name) {
    if (!py::isinstance<py::array_t<T>>(array) || !(array.flags() & py::array::c_style)) {
        throw py::type_error(std::string(name) + " must be a C-contiguous array of " +
                             std::string(py::str(py::dtype::of<T>())));
    }
}

/// Library messages are one line, as the programs print them.
inline std::string one_line(std::string message) {
    for (char& c : message) {
        c = c == '\n' ? ' ' : c;
    }
    return message;
}

/// Makes the library's errors Python exceptions with the same message: FileNotFoundError for
/// a missing file, RuntimeError for the others.
void register_library_errors();

/// Registers the functions of each binding file on its module.
void bind_prepare(py::module_& module);
void bind_tree(py::module_& module);
void bind_runs(py::module_& module);

}  // namespace vseg_python
