// Interval maximum and minimum, and the positions of the largest and smallest
// elements.
//
// The maximum encloses [max of the lower ends, max of the upper ends] over the
// elements, so it holds the largest value of every choice of reals in them.
// An element with a NaN midpoint or radius is skipped, except that an
// infinite radius always stands for the entire line (the stored entire line
// is (NaN, +inf)).
#pragma once

#include <cstdint>
#include <vector>

#include "boundwise/array/array.hpp"

namespace boundwise {

// ValueError "max of an empty array has no value" for an empty array, and
// along an axis of length 0 that still has lanes ("min ..." for the minimum).
Interval interval_max(const Array& a);
Array interval_max(const Array& a, std::uint64_t axis);
Interval interval_min(const Array& a);
Array interval_min(const Array& a, std::uint64_t axis);

// The flat index of the element with the largest midpoint, ties going to the
// larger radius, then to the earlier index; a NaN on either side of a
// comparison never replaces the current best. ValueError "attempt to get
// argmax of an empty array" for an empty array, checked before the axis.
std::uint64_t argmax(const Array& a);
std::uint64_t argmin(const Array& a);
// One index along the axis per lane, lanes in element order.
std::vector<std::uint64_t> argmax(const Array& a, std::uint64_t axis);
std::vector<std::uint64_t> argmin(const Array& a, std::uint64_t axis);

}  // namespace boundwise
