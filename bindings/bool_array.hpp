// The BoolArray class (a mask).
#pragma once

#include "boundwise/mask.hpp"
#include "handle.hpp"

namespace boundwise::py {

PyTypeObject* bool_array_type();
PyObject* wrap_mask(BoolMask mask);

}  // namespace boundwise::py
