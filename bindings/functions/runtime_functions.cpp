// Module functions about the runtime: the worker pool and the BLAS check.
#include "boundwise/runtime/blas.hpp"
#include "boundwise/runtime/pool.hpp"
#include "support/methods.hpp"
#include "functions/module_functions.hpp"

namespace boundwise::py {

namespace {

PyObject* num_threads_function(PyObject*, PyObject*) noexcept {
    return guarded([] { return new_u64(boundwise::num_threads()).release(); });
}

const Signature kSelfCheck{"_dgemm_self_check()", {}, 0, false};
PyObject* dgemm_self_check_function(PyObject*, PyObject* args, PyObject* kwargs) {
    parse_arguments(kSelfCheck, args, kwargs);
    return new_float(dgemm_self_check()).release();
}

}  // namespace

void add_runtime_functions(std::vector<PyMethodDef>& functions) {
    functions.push_back({"num_threads", num_threads_function, METH_NOARGS,
                         "num_threads()\n--\n\nGet the number of Rayon worker threads."});
}

void add_private_functions(std::vector<PyMethodDef>& functions) {
    functions.push_back(method_def<dgemm_self_check_function>(
        "_dgemm_self_check",
        "_dgemm_self_check()\n--\n\nLargest deviation of a small BLAS product from a plain loop (0.0 expected)."));
}

}  // namespace boundwise::py
