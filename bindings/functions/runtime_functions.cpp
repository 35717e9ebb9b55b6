// Module functions about the runtime: the worker pool and the BLAS check.
#include "boundwise/runtime/blas.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/linalg/products.hpp"
#include "boundwise/runtime/pool.hpp"
#include "support/methods.hpp"
#include "functions/module_functions.hpp"

namespace boundwise::py {

namespace {

PyObject* num_threads_function() { return new_u64(boundwise::num_threads()).release(); }

PyObject* dgemm_self_check_function(PyObject*, const Arguments&) { return new_float(dgemm_self_check()).release(); }

// The BLAS library behind the matrix products, for the configuration that
// `python -m boundwise` prints.
PyObject* blas_info_function() {
    const BlasInfo info = blas_info();
    Ref result = check(PyDict_New());
    Ref library = check(PyUnicode_FromStringAndSize(info.library.data(), static_cast<Py_ssize_t>(info.library.size())));
    check_status(PyDict_SetItemString(result.get(), "library", library.get()));
    check_status(PyDict_SetItemString(result.get(), "threads_per_call",
                                      new_u64(static_cast<std::uint64_t>(info.threads_per_call < 0 ? 0 : info.threads_per_call)).get()));
    return result.release();
}

// The parallel thresholds and chunk sizes, so tests sweep the sizes around them
// without copying the numbers.
PyObject* parallel_constants_function() {
    Ref constants = check(PyDict_New());
    const auto set = [&](const char* name, std::size_t value) {
        check_status(PyDict_SetItemString(constants.get(), name, new_u64(value).get()));
    };
    set("threshold", kParallelThreshold);
    set("arithmetic_chunk", kArithmeticChunk);
    set("unary_chunk", kUnaryChunk);
    set("compare_chunk", kCompareChunk);
    set("gather_chunk", kGatherChunk);
    set("matmul_parallel_rows", kMatmulParallelRows);
    set("matmul_block_rows", kMatmulBlockRows);
    return constants.release();
}

// The path of a failed internal check, which no user input reaches: tests see
// the exception class and the catch chain through it.
PyObject* raise_internal_failure_function(PyObject*, const Arguments& a) {
    throw InternalFailure(a.convert(0, to_string));
}

constexpr auto kRuntime = function_table({
    {"num_threads", num_threads_function, "Get the number of Rayon worker threads."},
});

constexpr auto kPrivate = function_table({
    {"_dgemm_self_check", "", dgemm_self_check_function,
     "Largest deviation of a small BLAS product from a plain loop (0.0 expected)."},
    {"_parallel_constants", parallel_constants_function,
     "The thresholds and chunk sizes of parallel work."},
    {"_raise_internal_failure", "message", raise_internal_failure_function,
     "Raises the internal-failure exception with the given text, as a failed internal check does."},
    {"_blas_info", blas_info_function,
     "The BLAS library behind the matrix products and the threads it uses inside one call."},
});

}  // namespace

void add_runtime_functions(std::vector<PyMethodDef>& functions) { add_entries<kRuntime>(functions); }

void add_private_functions(std::vector<PyMethodDef>& functions) { add_entries<kPrivate>(functions); }

}  // namespace boundwise::py
