// Module functions that build arrays: array, zeros, ones, empty, full, eye,
// identity, diag, linspace, arange and from_raw_parts.
#include <algorithm>
#include <optional>

#include "boundwise/create/constructors.hpp"
#include "boundwise/error.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "functions/module_functions.hpp"
#include "interval_array/raw_parts.hpp"

namespace boundwise::py {

namespace {

PyObject* array_function(PyObject*, const Arguments& a) {
    const double error = error_argument(a, 1);
    return wrap(to_array(a[0], error));
}

// zeros and empty: the contents of an "empty" array are exact zeros too.
PyObject* zeros_function(PyObject*, const Arguments& a) { return wrap(Array::zeros(to_shape(a[0], a.extra()))); }

PyObject* ones_function(PyObject*, const Arguments& a) {
    return wrap(Array::filled(to_shape(a[0], a.extra()), 1.0, 1.0));
}

PyObject* full_function(PyObject*, const Arguments& a) {
    const double error = error_argument(a, 2);
    Shape shape = to_shape(a[0]);
    const std::optional<Interval> value = try_interval(a[1], error);
    if (!value) throw type_error("full value must be a number or a (midpoint, radius) tuple");
    return wrap(full(std::move(shape), value->mid, value->rad));
}

PyObject* eye_function(PyObject*, const Arguments& a) {
    const std::uint64_t n = a.convert(0, to_u64);
    const std::uint64_t m = a[1] != Py_None ? a.convert_or(1, n, to_u64) : n;
    const std::int64_t k = a.convert_or(2, std::int64_t{0}, to_i64);
    return wrap(eye(n, m, k));
}

PyObject* identity_function(PyObject*, const Arguments& a) {
    const std::uint64_t n = a.convert(0, to_u64);
    return wrap(eye(n, n, 0));
}

PyObject* diag_function(PyObject*, const Arguments& a) {
    if (is_interval_array(a[0])) return wrap(diag(read_array(a[0])));
    const auto values = attempt(Recoverable::TypeErrors, [&] { return to_number_list(a[0]); });
    if (!values) throw type_error("diag requires a 1D or 2D array");
    // Exact numbers go on the diagonal as they are; an int that no double
    // equals makes the list an interval vector.
    if (std::all_of(values->radii.begin(), values->radii.end(), [](double r) { return r == 0.0; }))
        return wrap(diag_of_values(values->midpoints));
    const std::uint64_t n = values->midpoints.size();
    return wrap(diag(Array::from_parts(values->midpoints, values->radii, {n})));
}

PyObject* linspace_function(PyObject*, const Arguments& a) {
    const double start = a.convert(0, to_double);
    const double stop = a.convert(1, to_double);
    const std::uint64_t num = a.convert_or(2, std::uint64_t{50}, to_u64);
    const bool endpoint = a.convert_or(3, true, to_bool);
    return wrap(linspace(start, stop, num, endpoint));
}

PyObject* arange_function(PyObject*, const Arguments& a) {
    const double start = a.convert(0, to_double);
    const double stop = a.convert(1, to_double);
    const double step = a.convert_or(2, 1.0, to_double);
    return wrap(arange(start, stop, step));
}

PyObject* from_raw_parts_function(PyObject*, const Arguments& a) {
    const NumbersArgument midpoints = a.convert(0, NumbersArgument::read);
    const NumbersArgument radii = a.convert(1, NumbersArgument::read);
    Shape shape = a.convert(2, to_dimension_list);
    return wrap(array_from_numbers(midpoints, radii, std::move(shape)));
}

constexpr auto kConstructors = function_table({
    {"array", "values, error=0.0", array_function,
     "Build an interval array from numbers, (midpoint, radius) tuples, nested lists or a buffer of numbers\n"
     "(a NumPy array, array.array, memoryview), whose shape it takes."},
    {"zeros", "shape, *extra", zeros_function, "An array of exact zeros."},
    {"ones", "shape, *extra", ones_function, "An array of exact ones."},
    {"empty", "shape, *extra", zeros_function, "An array of the given shape (filled with exact zeros)."},
    {"full", "shape, value, error=0.0", full_function, "An array whose elements all enclose value +/- error."},
    {"eye", "n, m=None, k=0", eye_function, "An n x m array with ones on the k-th diagonal."},
    {"identity", "n", identity_function, "The n x n identity."},
    {"diag", "v", diag_function, "A square array with v on its diagonal, or the diagonal of a 2-D array."},
    {"linspace", "start, stop, num=50, endpoint=True", linspace_function, "Evenly spaced exact points."},
    {"arange", "start, stop, step=1.0", arange_function, "Exact points start, start + step, ... below stop."},
});

constexpr auto kRawParts = function_table({
    {"from_raw_parts", "midpoints, radii, shape", from_raw_parts_function,
     "An array holding exactly these midpoints and radii (used by unpickling).\n\n"
     "midpoints and radii are sequences of floats or buffers of numbers (NumPy arrays, array.array,\n"
     "memoryview), read in row-major order."},
});

}  // namespace

void add_constructor_functions(std::vector<PyMethodDef>& functions) { add_entries<kConstructors>(functions); }

void add_raw_parts_function(std::vector<PyMethodDef>& functions) { add_entries<kRawParts>(functions); }

}  // namespace boundwise::py
