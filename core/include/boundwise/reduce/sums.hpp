// Sums, means and cumulative sums. Every result encloses the exact result for
// every choice of reals in the elements, rounding errors included.
//
// The whole-array forms accumulate in midpoint-radius form (the recursive
// double sum of the midpoints and an upward bound of its error); the forms
// along an axis add outward-rounded endpoints. A sum that overflows or meets
// NaN becomes the entire line; it never returns a finite interval.
#pragma once

#include <cstdint>

#include "boundwise/array/array.hpp"
#include "boundwise/interval/endpoints.hpp"

namespace boundwise {

// The ends of the whole-array sum: (0, 0) when empty, (NaN, NaN) after NaN,
// (-inf, +inf) after an overflow or an infinite radius.
Endpoints sum_endpoints(const Array& a);
// A sum's ends divided outward by an element count n >= 1 (n rounded to double).
Endpoints divide_by_count(Endpoints sum, std::uint64_t n);

Interval sum(const Array& a);
Array sum(const Array& a, std::uint64_t axis);

// The mean of nothing is the entire line (NaN midpoint).
Interval mean(const Array& a);
Array mean(const Array& a, std::uint64_t axis);

// Running sums in element order, the input's shape kept.
Array cumsum(const Array& a);
// Running endpoint sums along each lane.
Array cumsum(const Array& a, std::uint64_t axis);

}  // namespace boundwise
