// The BoolArray class (a mask).
#pragma once

#include "boundwise/array/mask.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

PyTypeObject* bool_array_type();
PyObject* wrap_mask(BoolMask mask);

}  // namespace boundwise::py
