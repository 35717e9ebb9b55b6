// Whole-array predicates and error measures. An element is exactly zero when
// its midpoint and radius are both 0 (NaN is not zero).
#pragma once

#include <cstdint>

#include "boundwise/array/array.hpp"
#include "boundwise/array/mask.hpp"

namespace boundwise {

// No element is exactly zero (true for an empty array); per lane along an axis.
bool all_nonzero(const Array& a);
BoolMask all_nonzero(const Array& a, std::uint64_t axis);
// Some element is not exactly zero (false for an empty array); per lane.
bool any_nonzero(const Array& a);
BoolMask any_nonzero(const Array& a, std::uint64_t axis);

// The largest r / |m| over elements with r != 0. Anything the ratio cannot
// bound is +inf: a zero or NaN midpoint, a NaN radius, a NaN ratio (inf / inf).
// 0 for an empty or exact array.
double max_relative_error(const Array& a);
// The largest radius; +inf when some midpoint or radius is NaN; 0 when empty.
double max_radius(const Array& a);
// Every radius is 0 and every midpoint a number (true for an empty array).
bool is_exact(const Array& a);

inline bool is_empty(const Array& a) { return a.size() == 0; }

}  // namespace boundwise
