// The midpoints or radii of an array exported through the buffer protocol:
// float64 in the array's shape, read-only, without a Python float per element.
#pragma once

#include "boundwise/array/array.hpp"
#include "support/handle.hpp"

namespace boundwise::py {

enum class Part { Midpoints, Radii };

// A read-only memoryview of one part of `value`. The view keeps a copy of the
// array value, and with it the storage, alive; since every writer of an array
// first gives it storage of its own when the storage is shared, the view never
// sees a later write.
Ref parts_memoryview(const Array& value, Part part);

}  // namespace boundwise::py
