// The BoolArray class (a mask).
#pragma once

#include "boundwise/array/mask.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

PyTypeObject* bool_array_type();
PyObject* wrap_mask(BoolMask mask);
// Whether `object` is a BoolArray (or a subclass), and its mask (shared).
bool is_bool_array(PyObject* object);
BoolMask read_mask(PyObject* object);

}  // namespace boundwise::py
