// Conversions from Python values to numbers, shapes and interval arrays.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "boundwise/array/array.hpp"
#include "support/args.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

// PyFloat_AsDouble; PythonError on failure.
double to_double(PyObject* object);
// PyFloat_AsDouble, or nothing when it fails with a TypeError (cleared); any
// other error (OverflowError, KeyboardInterrupt, MemoryError) propagates.
std::optional<double> try_double(PyObject* object);

// A Python number as an interval: an int no double equals (2**53 + 1) becomes
// its nearest double with the exact distance to it, rounded up, as radius;
// every other number is the point PyFloat_AsDouble gives. Nothing when the
// object is no number (TypeError cleared); other errors propagate, among them
// the OverflowError of an int beyond the double range.
std::optional<Interval> try_number(PyObject* object);
// The same as an array of shape () that broadcasts against any operand.
Array number_array(const Interval& x);
// __index__ then the unsigned / signed 64-bit conversion, with the interpreter's errors.
std::uint64_t to_u64(PyObject* object);
std::int64_t to_i64(PyObject* object);
bool to_bool(PyObject* object);
// An optional axis: nothing when absent or None, else to_u64 (its TypeError
// reported as an argument error of the parameter).
std::optional<std::uint64_t> optional_axis(const Arguments& a, std::size_t i);

// The truth value of an array exists for one element only: ValueError
// "The truth value of an array with more than one element is ambiguous. ..." otherwise.
void check_single_truth_value(std::uint64_t size);

// A snapshot of a sequence's items (owned references), so that Python code run
// while reading them (__float__, __index__) cannot pull items from under us.
// TypeError "'<type>' object cannot be converted to 'Sequence'" for non-sequences.
std::vector<Ref> sequence_items(PyObject* object);
std::vector<double> to_double_list(PyObject* object);
// A sequence of numbers through try_number (TypeError "must be real number,
// not <type>" for an item that is none).
struct NumberList {
    std::vector<double> midpoints;
    std::vector<double> radii;
};
NumberList to_number_list(PyObject* object);
Shape to_dimension_list(PyObject* object);

// The shape convention of zeros/ones/empty/full: an int or a sequence of ints,
// followed by the `extra` ints.
Shape to_shape(PyObject* shape, std::span<PyObject* const> extra = {});

// ValueError "radii must be non-negative, got <r>" for a negative radius (NaN passes).
void check_radius(double r);

// The `error` argument of array, full and IntervalArray(): a float, 0.0 when
// absent; ValueError "error must be non-negative" below zero.
double error_argument(const Arguments& a, std::size_t i);

// A number (its try_number radius plus `error`, rounded up) or a (midpoint,
// radius) tuple with a valid radius, widened when an int part is not a
// double; nothing for other objects.
std::optional<Interval> try_interval(PyObject* object, double error);

// The nested-list conversion behind array() and IntervalArray(values, error);
// `error` is a radius error_argument accepted.
Array to_array(PyObject* values, double error);

}  // namespace boundwise::py
