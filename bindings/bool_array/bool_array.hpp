// The BoolArray class (a mask).
#pragma once

#include <optional>
#include <vector>

#include "boundwise/array/mask.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

PyTypeObject* bool_array_type();
bool is_bool_array(PyObject* object);
PyObject* wrap_mask(BoolMask mask);

// The mask of a BoolArray (sharing its buffer), read under a shared borrow;
// TypeError "'<type>' object cannot be converted to 'BoolArray'" otherwise.
BoolMask read_mask(PyObject* object);

// A Python bool or NumPy's boolean scalar (through its __bool__); nothing for anything else.
std::optional<bool> try_bool(PyObject* object);

// Slots and methods contributed by the files that implement them.
void add_mask_operator_slots(std::vector<PyType_Slot>& slots);
void add_mask_methods(std::vector<PyMethodDef>& methods);

}  // namespace boundwise::py
