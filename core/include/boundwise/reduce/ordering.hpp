// Sorting and the positions of non-zero elements.
#pragma once

#include <cstdint>
#include <vector>

#include "boundwise/array/array.hpp"

namespace boundwise {

// The flat indices in sorted order. The order: increasing midpoint, then
// increasing radius; NaN midpoints after every number, and among equal (or
// NaN) midpoints NaN radii after every radius; -0 equals +0. Equal elements
// keep their input order (a stable sort). This is a total order, so the
// permutation is fully determined.
std::vector<std::uint64_t> sort_order(const Array& a);
// The elements gathered in that order, in the input's shape.
Array sorted(const Array& a);

// Coordinate d (one list per dimension) of every element that is not exactly
// zero (midpoint 0 and radius 0; NaN is not zero), in element order.
std::vector<std::vector<std::uint64_t>> nonzero(const Array& a);

}  // namespace boundwise
