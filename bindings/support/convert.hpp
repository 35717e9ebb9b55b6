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
Shape to_dimension_list(PyObject* object);

// The shape convention of zeros/ones/empty/full: an int or a sequence of ints,
// followed by the `extra` ints.
Shape to_shape(PyObject* shape, std::span<PyObject* const> extra = {});

// ValueError "radii must be non-negative, got <r>" for a negative radius (NaN passes).
void check_radius(double r);

// The `error` argument of array, full and IntervalArray(): a float, 0.0 when
// absent; ValueError "error must be non-negative" below zero.
double error_argument(const Arguments& a, std::size_t i);

// A number (radius `error`) or a (midpoint, radius) tuple with a valid
// radius; nothing for other objects.
std::optional<Interval> try_interval(PyObject* object, double error);

// The nested-list conversion behind array() and IntervalArray(values, error);
// `error` is a radius error_argument accepted.
Array to_array(PyObject* values, double error);

}  // namespace boundwise::py
