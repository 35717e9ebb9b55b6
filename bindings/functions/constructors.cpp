// Module functions that build arrays: array, zeros, ones, empty, full, eye,
// identity, diag, linspace, arange and from_raw_parts.
#include <cmath>
#include <limits>

#include "boundwise/create/constructors.hpp"
#include "boundwise/error.hpp"
#include "boundwise/text/format.hpp"
#include "support/convert.hpp"
#include "support/methods.hpp"
#include "functions/module_functions.hpp"
#include "interval_array/raw_parts.hpp"

namespace boundwise::py {

namespace {

double error_argument(const Arguments& a, std::size_t i) {
    if (!a.has(i)) return 0.0;
    const double error = convert_argument("error", [&] { return to_double(a[i]); });
    if (error < 0) throw value_error("error must be non-negative");
    return error;
}

const Signature kArray{"array()", {"values", "error"}, 1, false};
PyObject* array_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kArray, args, kwargs);
    const double error = a.has(1) ? convert_argument("error", [&] { return to_double(a[1]); }) : 0.0;
    return wrap(to_array(a[0], error));
}

const Signature kZeros{"zeros()", {"shape"}, 1, true};
PyObject* zeros_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kZeros, args, kwargs);
    return wrap(Array::zeros(to_shape(a[0], a.extra())));
}

const Signature kEmpty{"empty()", {"shape"}, 1, true};
PyObject* empty_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kEmpty, args, kwargs);
    return wrap(Array::zeros(to_shape(a[0], a.extra())));
}

const Signature kOnes{"ones()", {"shape"}, 1, true};
PyObject* ones_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kOnes, args, kwargs);
    return wrap(Array::filled(to_shape(a[0], a.extra()), 1.0, 1.0));
}

const Signature kFull{"full()", {"shape", "value", "error"}, 2, false};
PyObject* full_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kFull, args, kwargs);
    const double error = error_argument(a, 2);
    Shape shape = to_shape(a[0]);
    Interval value{0.0, error};
    if (auto x = try_double(a[1])) {
        value.mid = *x;
    } else if (auto pair = try_pair(a[1])) {
        if (pair->rad < 0) throw value_error("radii must be non-negative, got " + format_number(pair->rad));
        value = *pair;
    } else {
        throw type_error("full value must be a number or a (midpoint, radius) tuple");
    }
    return wrap(full(std::move(shape), value.mid, value.rad));
}

const Signature kEye{"eye()", {"n", "m", "k"}, 1, false};
PyObject* eye_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kEye, args, kwargs);
    const std::uint64_t n = convert_argument("n", [&] { return to_u64(a[0]); });
    const std::uint64_t m =
        (a.has(1) && a[1] != Py_None) ? convert_argument("m", [&] { return to_u64(a[1]); }) : n;
    const std::int64_t k = a.has(2) ? convert_argument("k", [&] { return to_i64(a[2]); }) : 0;
    return wrap(eye(n, m, k));
}

const Signature kIdentity{"identity()", {"n"}, 1, false};
PyObject* identity_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kIdentity, args, kwargs);
    const std::uint64_t n = convert_argument("n", [&] { return to_u64(a[0]); });
    return wrap(eye(n, n, 0));
}

const Signature kDiag{"diag()", {"v"}, 1, false};
PyObject* diag_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kDiag, args, kwargs);
    if (is_interval_array(a[0])) return wrap(diag(read_array(a[0])));
    std::vector<double> values;
    try {
        values = to_double_list(a[0]);
    } catch (const Error& e) {
        if (e.kind != ErrorKind::Type) throw;
        throw type_error("diag requires a 1D or 2D array");
    } catch (const PythonError&) {
        if (!error_matches(PyExc_TypeError)) throw;
        PyErr_Clear();
        throw type_error("diag requires a 1D or 2D array");
    }
    return wrap(diag_of_values(values));
}

const Signature kLinspace{"linspace()", {"start", "stop", "num", "endpoint"}, 2, false};
PyObject* linspace_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kLinspace, args, kwargs);
    const double start = convert_argument("start", [&] { return to_double(a[0]); });
    const double stop = convert_argument("stop", [&] { return to_double(a[1]); });
    const std::uint64_t num = a.has(2) ? convert_argument("num", [&] { return to_u64(a[2]); }) : 50;
    const bool endpoint = a.has(3) ? convert_argument("endpoint", [&] { return to_bool(a[3]); }) : true;
    return wrap(linspace(start, stop, num, endpoint));
}

const Signature kArange{"arange()", {"start", "stop", "step"}, 2, false};
PyObject* arange_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kArange, args, kwargs);
    const double start = convert_argument("start", [&] { return to_double(a[0]); });
    const double stop = convert_argument("stop", [&] { return to_double(a[1]); });
    const double step = a.has(2) ? convert_argument("step", [&] { return to_double(a[2]); }) : 1.0;
    return wrap(arange(start, stop, step));
}

const Signature kFromRawParts{"from_raw_parts()", {"midpoints", "radii", "shape"}, 3, false};
PyObject* from_raw_parts_function(PyObject*, PyObject* args, PyObject* kwargs) {
    Arguments a = parse_arguments(kFromRawParts, args, kwargs);
    RawParts parts;
    parts.midpoints = convert_argument("midpoints", [&] { return to_double_list(a[0]); });
    parts.radii = convert_argument("radii", [&] { return to_double_list(a[1]); });
    parts.shape = convert_argument("shape", [&] { return to_dimension_list(a[2]); });
    return wrap(array_from_raw_parts(std::move(parts)));
}

}  // namespace

void add_constructor_functions(std::vector<PyMethodDef>& functions) {
    functions.push_back(method_def<array_function>(
        "array", "array(values, error=0.0)\n--\n\n"
                 "Build an interval array from numbers, (midpoint, radius) tuples or nested lists."));
    functions.push_back(method_def<zeros_function>("zeros", "zeros(shape, *extra)\n--\n\nAn array of exact zeros."));
    functions.push_back(method_def<ones_function>("ones", "ones(shape, *extra)\n--\n\nAn array of exact ones."));
    functions.push_back(method_def<empty_function>(
        "empty", "empty(shape, *extra)\n--\n\nAn array of the given shape (filled with exact zeros)."));
    functions.push_back(method_def<full_function>(
        "full", "full(shape, value, error=0.0)\n--\n\nAn array whose elements all enclose value +/- error."));
    functions.push_back(method_def<eye_function>(
        "eye", "eye(n, m=None, k=0)\n--\n\nAn n x m array with ones on the k-th diagonal."));
    functions.push_back(method_def<identity_function>("identity", "identity(n)\n--\n\nThe n x n identity."));
    functions.push_back(method_def<diag_function>(
        "diag", "diag(v)\n--\n\nA square array with v on its diagonal, or the diagonal of a 2-D array."));
    functions.push_back(method_def<linspace_function>(
        "linspace", "linspace(start, stop, num=50, endpoint=True)\n--\n\nEvenly spaced exact points."));
    functions.push_back(method_def<arange_function>(
        "arange", "arange(start, stop, step=1.0)\n--\n\nExact points start, start + step, ... below stop."));
}

void add_raw_parts_function(std::vector<PyMethodDef>& functions) {
    functions.push_back(method_def<from_raw_parts_function>(
        "from_raw_parts", "from_raw_parts(midpoints, radii, shape)\n--\n\n"
                          "An array holding exactly these midpoints and radii (used by unpickling)."));
}

}  // namespace boundwise::py
