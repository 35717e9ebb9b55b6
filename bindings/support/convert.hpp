// Conversions from Python values to numbers, shapes and interval arrays.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "boundwise/array/array.hpp"
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

// A snapshot of a sequence's items (owned references), so that Python code run
// while reading them (__float__, __index__) cannot pull items from under us.
// TypeError "'<type>' object cannot be converted to 'Sequence'" for non-sequences.
std::vector<Ref> sequence_items(PyObject* object);
std::vector<double> to_double_list(PyObject* object);
Shape to_dimension_list(PyObject* object);

// The shape convention of zeros/ones/empty/full: an int or a sequence of ints,
// followed by the `extra` ints.
Shape to_shape(PyObject* shape, const std::vector<PyObject*>& extra = {});

// A number (radius `error`) or a (midpoint, radius) tuple.
Interval to_interval(PyObject* object, double error);
std::optional<Interval> try_pair(PyObject* object);

// The nested-list conversion behind array() and IntervalArray(values, error).
Array to_array(PyObject* values, double error);

}  // namespace boundwise::py
