// Text forms of numbers and arrays.
#pragma once

#include <string>

#include "boundwise/array/array.hpp"

namespace boundwise {

// Shortest round-trip decimal without exponent: 1, 0.1, -0, inf, -inf, NaN.
std::string format_number(double x);
// Six digits after the point and a bare exponent: 2.220446e-16, 1.000000e0, inf.
std::string format_scientific(double x);
// Largest radius / |midpoint| over elements with a non-zero radius (inf when such
// an element has midpoint 0 or NaN).
double max_relative_radius(const Array& a);
// "IntervalArray([...])" for small arrays of at most two dimensions, the
// summary "IntervalArray(shape=[..], max_err=..)" otherwise.
std::string to_text(const Array& a);

}  // namespace boundwise
