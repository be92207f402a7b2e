// vseg._core: the tree stages of vseg for Python. The public API and its checks live in the
// Python package; this module does the work, without the GIL.

#include <malloc.h>

#include "python/src/helpers.h"

PYBIND11_MODULE(_core, module) {
    module.doc() = "The tree stages of vseg; use the functions of the vseg package instead.";
    // Large arrays get their own mappings and go back to the system when freed, as in vseg
    // itself: the frame-sized arrays dropped before the merge do not stay in the heap.
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    vseg_python::register_library_errors();
    vseg_python::bind_tree(module);
    vseg_python::bind_runs(module);
}
