#include "support/convert.hpp"

#include <cmath>
#include <string>

#include "boundwise/error.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/text/format.hpp"
#include "support/buffer.hpp"
#include "support/errors.hpp"
#include "interval_array/interval_array.hpp"

namespace boundwise::py {

double to_double(PyObject* object) {
    const double x = PyFloat_AsDouble(object);
    if (x == -1.0 && PyErr_Occurred()) throw PythonError{};
    return x;
}

std::optional<double> try_double(PyObject* object) {
    const double x = PyFloat_AsDouble(object);
    if (x == -1.0 && PyErr_Occurred()) {
        if (!error_matches(PyExc_TypeError)) throw PythonError{};
        PyErr_Clear();
        return std::nullopt;
    }
    return x;
}

namespace {

bool is_less(PyObject* a, PyObject* b) { return check_status(PyObject_RichCompareBool(a, b, Py_LT)) != 0; }

// The int X as m = its nearest double and an upward bound on |X - m|. The
// difference is an int that PyLong_AsDouble rounds to nearest; stepping up
// once when that rounding went down gives the bound.
Interval enclose_integer(PyObject* integer) {
    const double m = PyLong_AsDouble(integer);
    if (m == -1.0 && PyErr_Occurred()) throw PythonError{};
    Ref nearest = check(PyLong_FromDouble(m));
    Ref difference = check(PyNumber_Subtract(integer, nearest.get()));
    Ref distance = check(PyNumber_Absolute(difference.get()));
    double d = PyLong_AsDouble(distance.get());
    if (d == -1.0 && PyErr_Occurred()) throw PythonError{};
    if (d != 0.0) {
        Ref rounded = check(PyLong_FromDouble(d));
        if (is_less(rounded.get(), distance.get())) d = succ(d);
    }
    return {m, d};
}

}  // namespace

std::optional<Interval> try_number(PyObject* object) {
    const auto point = [&]() -> std::optional<Interval> {
        const std::optional<double> x = try_double(object);
        if (!x) return std::nullopt;
        return Interval{*x, 0.0};
    };
    // Ints and objects with __index__ (NumPy integers) go the exact way; floats
    // and objects with only __float__ are the doubles they say they are.
    if (PyLong_Check(object)) return enclose_integer(object);
    if (PyFloat_Check(object) || !PyIndex_Check(object)) return point();
    // A type may offer __index__ and still refuse it (a 0-d float ndarray).
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) {
        if (!error_matches(PyExc_TypeError)) throw PythonError{};
        PyErr_Clear();
        return point();
    }
    return enclose_integer(index.get());
}

Array number_array(const Interval& x) { return Array::from_parts({&x.mid, 1}, {&x.rad, 1}, Shape{}); }

std::uint64_t to_u64(PyObject* object) {
    Ref index = check(PyNumber_Index(object));
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
    return value;
}

std::int64_t to_i64(PyObject* object) {
    const long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred()) throw PythonError{};
    return value;
}

std::optional<std::uint64_t> optional_axis(const Arguments& a, std::size_t i) {
    if (!a.has(i) || a[i] == Py_None) return std::nullopt;
    return a.convert(i, to_u64);
}

bool to_bool(PyObject* object) { return check_status(PyObject_IsTrue(object)) != 0; }

void check_single_truth_value(std::uint64_t size) {
    if (size != 1)
        throw value_error(
            "The truth value of an array with more than one element is ambiguous. Use a.any() or a.all()");
}

std::vector<Ref> sequence_items(PyObject* object) {
    if (PyUnicode_Check(object) || !PySequence_Check(object))
        throw type_error("'" + type_name(object) + "' object cannot be converted to 'Sequence'");
    Ref snapshot = check(PySequence_Tuple(object));
    const Py_ssize_t n = check_size(PyTuple_Size(snapshot.get()));
    std::vector<Ref> items;
    items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GetItem(snapshot.get(), i);
        if (!item) throw PythonError{};
        items.push_back(Ref::borrow(item));
    }
    return items;
}

std::vector<double> to_double_list(PyObject* object) {
    std::vector<double> values;
    for (const Ref& item : sequence_items(object)) values.push_back(to_double(item.get()));
    return values;
}

NumberList to_number_list(PyObject* object) {
    NumberList list;
    for (const Ref& item : sequence_items(object)) {
        const std::optional<Interval> x = try_number(item.get());
        if (!x) throw type_error("must be real number, not " + type_name(item.get()));
        list.midpoints.push_back(x->mid);
        list.radii.push_back(x->rad);
    }
    return list;
}

Shape to_dimension_list(PyObject* object) {
    Shape dims;
    for (const Ref& item : sequence_items(object)) dims.push_back(to_u64(item.get()));
    check_ndim(dims.size());
    return dims;
}

Shape to_shape(PyObject* shape, std::span<PyObject* const> extra) {
    // sequence_items refuses a str or a non-sequence; no need to throw and catch for it.
    const bool sequence = !PyUnicode_Check(shape) && PySequence_Check(shape);
    std::optional<Shape> dims;
    if (sequence) dims = attempt(Recoverable::ConversionErrors, [&] { return to_dimension_list(shape); });
    if (!dims) dims = attempt(Recoverable::ConversionErrors, [&] { return Shape{to_u64(shape)}; });
    if (!dims) throw type_error("shape must be an int or a sequence of ints");
    for (PyObject* item : extra) dims->push_back(to_u64(item));
    check_ndim(dims->size());
    return std::move(*dims);
}

void check_radius(double r) {
    if (r < 0) throw value_error("radii must be non-negative, got " + format_number(r));
}

double error_argument(const Arguments& a, std::size_t i) {
    const double error = a.convert_or(i, 0.0, to_double);
    if (error < 0) throw value_error("error must be non-negative");
    return error;
}

namespace {

// An int midpoint that no double equals adds its distance to the radius, and
// an int radius that no double equals is rounded up.
std::optional<Interval> try_pair(PyObject* object) {
    if (!PyTuple_Check(object) || PyTuple_Size(object) != 2) return std::nullopt;
    Ref pair = Ref::borrow(object);
    const auto m = try_number(PyTuple_GetItem(object, 0));
    if (!m) return std::nullopt;
    const auto r = try_number(PyTuple_GetItem(object, 1));
    if (!r) return std::nullopt;
    const double radius = r->rad == 0.0 ? r->mid : add_up(r->mid, r->rad);
    return Interval{m->mid, m->rad == 0.0 ? radius : add_up(radius, m->rad)};
}

Interval scalar_interval(PyObject* object, double error) {
    if (auto x = try_interval(object, error)) return *x;
    throw type_error("cannot convert " + type_name(object) + " to an interval value");
}

struct Collected {
    std::vector<double> midpoints;
    std::vector<double> radii;
};

bool is_list_or_tuple(PyObject* object) { return PyList_Check(object) || PyTuple_Check(object); }

// Appends the elements of `values` to `out` and returns their shape. `depth`
// counts the enclosing list levels, so self-referential lists end in an error.
Shape collect(PyObject* values, double error, std::size_t depth, Collected& out) {
    if (!is_list_or_tuple(values)) {
        const Interval x = scalar_interval(values, error);
        out.midpoints.push_back(x.mid);
        out.radii.push_back(x.rad);
        return {1};
    }
    check_ndim(depth + 1);
    const std::vector<Ref> items = sequence_items(values);
    const std::uint64_t n = items.size();
    if (n == 0) return {0};
    PyObject* first = items[0].get();
    if (PyList_Check(first)) {
        Shape inner;
        for (std::size_t i = 0; i < items.size(); ++i) {
            PyObject* item = items[i].get();
            if (!PyList_Check(item))
                throw type_error("setting an array element with a sequence: inhomogeneous shape");
            Shape sub = collect(item, error, depth + 1, out);
            if (i == 0) inner = std::move(sub);
            else if (sub != inner) throw type_error("setting an array element with a sequence: inhomogeneous shape");
        }
        Shape shape{n};
        shape.insert(shape.end(), inner.begin(), inner.end());
        check_ndim(shape.size());
        return shape;
    }
    if (PyTuple_Check(first)) {
        for (const Ref& item : items) {
            if (!PyTuple_Check(item.get())) throw type_error("cannot mix (midpoint, radius) tuples with plain numbers");
            auto pair = try_pair(item.get());
            if (!pair) throw type_error("tuple elements must be numbers");
            check_radius(pair->rad);
            out.midpoints.push_back(pair->mid);
            out.radii.push_back(pair->rad);
        }
        return {n};
    }
    for (const Ref& item : items) {
        const Interval x = scalar_interval(item.get(), error);
        out.midpoints.push_back(x.mid);
        out.radii.push_back(x.rad);
    }
    return {n};
}

}  // namespace

std::optional<Interval> try_interval(PyObject* object, double error) {
    if (auto x = try_number(object)) return Interval{x->mid, x->rad == 0.0 ? error : add_up(error, x->rad)};
    auto pair = try_pair(object);
    if (pair) check_radius(pair->rad);
    return pair;
}

namespace {

// The buffer of `values` when it holds an n-dimensional block of numbers (n >= 1).
// bytes and bytearray stay text, and a 0-d buffer (a NumPy scalar) is one number.
std::optional<Array> try_buffer_array(PyObject* values, double error) {
    if (PyBytes_Check(values) || PyByteArray_Check(values)) return std::nullopt;
    const std::optional<HeldBuffer> buffer = HeldBuffer::acquire(values);
    if (!buffer || buffer->ndim() == 0) return std::nullopt;
    return points_from_numbers(buffer->numbers(), error);
}

}  // namespace

Array to_array(PyObject* values, double error) {
    if (is_interval_array(values)) return read_array(values);
    if (!is_list_or_tuple(values))
        if (auto a = try_buffer_array(values, error)) return std::move(*a);
    Collected out;
    Shape shape = collect(values, error, 0, out);
    return Array::from_parts(out.midpoints, out.radii, std::move(shape));
}

}  // namespace boundwise::py
