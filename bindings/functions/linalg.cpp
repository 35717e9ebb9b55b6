// Module functions of verified linear algebra: det, inv, solve and lstsq; then
// cholesky and matrix_power. Each reads its arrays, computes without the
// interpreter lock, and reports breakdowns through report_status.
#include <string>
#include <string_view>

#include "boundwise/linalg/cholesky.hpp"
#include "boundwise/linalg/lstsq.hpp"
#include "boundwise/linalg/matrix_power.hpp"
#include "boundwise/linalg/solve.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "functions/module_functions.hpp"

namespace boundwise::py {

namespace {

// compute() on values copied out of their objects, without the interpreter lock.
template <class Compute>
auto unlocked(Compute&& compute) -> decltype(compute()) {
    ReleasedLock released;
    return compute();
}

PyObject* wrap_result(Result<Array> result) {
    report_status(result.flags);
    return wrap(std::move(result.value));
}

std::string_view to_text(PyObject* object) {
    if (!PyUnicode_Check(object))
        throw type_error("'" + type_name(object) + "' object cannot be converted to 'PyString'");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (!utf8) throw PythonError{};
    return {utf8, static_cast<std::size_t>(size)};
}

SolveMethod method_argument(const Arguments& a, std::size_t i, const char* function) {
    if (!a.has(i)) return SolveMethod::Gauss;
    const std::string_view method = a.convert(i, to_text);
    if (method == "gauss") return SolveMethod::Gauss;
    if (method == "krawczyk") return SolveMethod::Krawczyk;
    throw value_error(std::string(function) + ": method must be 'gauss' or 'krawczyk', got '" + std::string(method) +
                      "'");
}

PyObject* det_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const Interval d = unlocked([&] { return det(m); });
    return new_pair(d.mid, d.rad).release();
}

PyObject* inv_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const SolveMethod method = method_argument(a, 1, "inv");
    return wrap_result(unlocked([&] { return inv(m, method); }));
}

PyObject* solve_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const Array b = a.convert(1, read_array);
    const SolveMethod method = method_argument(a, 2, "solve");
    return wrap_result(unlocked([&] { return solve(m, b, method); }));
}

PyObject* lstsq_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const Array b = a.convert(1, read_array);
    return wrap_result(unlocked([&] { return lstsq(m, b); }));
}

PyObject* cholesky_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    CholeskyFactor l = unlocked([&] { return cholesky(m); });
    report_status(l.factor.flags, l.breakdown);
    return wrap(std::move(l.factor.value));
}

PyObject* matrix_power_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const std::int64_t n = a.convert(1, to_i64);
    return wrap_result(unlocked([&] { return matrix_power(m, n); }));
}

// The Gauss method run column by column on fresh copies of the matrix: the
// reference of the shared elimination in the tests.
PyObject* solve_per_column_function(PyObject*, const Arguments& a) {
    const Array m = a.convert(0, read_array);
    const Array b = a.convert(1, read_array);
    return wrap_result(unlocked([&] { return solve_per_column(m, b); }));
}

constexpr auto kLinearSystems = function_table({
    {"det", "a", det_function,
     "Enclosure of the determinant of a square interval matrix, as the tuple (midpoint, radius)."},
    {"inv", "a, *, method='gauss'", inv_function,
     "Enclosure of the inverse of every matrix in a. method='gauss' runs interval Gaussian elimination; "
     "method='krawczyk' proves a much tighter enclosure around an approximate inverse, or raises ValueError."},
    {"solve", "a, b, *, method='gauss'", solve_function,
     "Enclosure of the solutions of a x = b for every matrix in a and every b. method='gauss' runs interval "
     "Gaussian elimination; method='krawczyk' proves a much tighter enclosure around an approximate solution, "
     "or raises ValueError."},
    {"lstsq", "a, b", lstsq_function,
     "Enclosure of the least-squares solution of a x = b through the normal equations (a^T a) x = a^T b."},
});

constexpr auto kFactorisations = function_table({
    {"cholesky", "a", cholesky_function,
     "Enclosure of the lower-triangular Cholesky factor L with L L^T = a (only the lower triangle of a is read)."},
    {"matrix_power", "a, n", matrix_power_function,
     "Enclosure of the integer power a**n of a square interval matrix (a negative n powers the inverse)."},
});

constexpr auto kPrivate = function_table({
    {"_solve_per_column", "a, b", solve_per_column_function,
     "solve(a, b) by the one-column elimination repeated for every column of b."},
});

}  // namespace

void add_private_linalg_functions(std::vector<PyMethodDef>& functions) { add_entries<kPrivate>(functions); }

void add_linear_system_functions(std::vector<PyMethodDef>& functions) { add_entries<kLinearSystems>(functions); }

void add_factorisation_functions(std::vector<PyMethodDef>& functions) { add_entries<kFactorisations>(functions); }

}  // namespace boundwise::py
