// Module functions about the runtime: the worker pool and the BLAS check.
#include "boundwise/runtime/blas.hpp"
#include "boundwise/kernels/chunking.hpp"
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

// The parallel thresholds and chunk sizes, so tests sweep the sizes around them
// without copying the numbers.
PyObject* parallel_constants_function(PyObject*, PyObject*) noexcept {
    return guarded([] {
        Ref constants = check(PyDict_New());
        const auto set = [&](const char* name, std::size_t value) {
            check_status(PyDict_SetItemString(constants.get(), name, new_u64(value).get()));
        };
        set("threshold", kParallelThreshold);
        set("arithmetic_chunk", kArithmeticChunk);
        set("unary_chunk", kUnaryChunk);
        return constants.release();
    });
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
    functions.push_back({"_parallel_constants", parallel_constants_function, METH_NOARGS,
                         "_parallel_constants()\n--\n\nThe element-count threshold and chunk sizes of parallel work."});
}

}  // namespace boundwise::py
