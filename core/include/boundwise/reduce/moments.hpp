// Population variance (divisor n), standard deviation and the Euclidean norm,
// as enclosures over every choice of reals in the elements.
#pragma once

#include <cstdint>

#include "boundwise/array/array.hpp"

namespace boundwise {

// The variance of nothing is the entire line (NaN midpoint).
Interval variance(const Array& a);
// Each lane's deviations are taken from that lane's outward-rounded endpoint
// mean (the lane mean that mean(a, axis) encloses).
Array variance(const Array& a, std::uint64_t axis);

Interval standard_deviation(const Array& a);
Array standard_deviation(const Array& a, std::uint64_t axis);

// Square root of the sum of squares of all elements; 0 for an empty array.
Interval norm(const Array& a);

}  // namespace boundwise
