// Products of all elements and along an axis, multiplied as outward-rounded
// endpoint pairs; the empty product is the exact 1.
#pragma once

#include <cstdint>

#include "boundwise/array/array.hpp"

namespace boundwise {

Interval product(const Array& a);
Array product(const Array& a, std::uint64_t axis);

}  // namespace boundwise
