// Interval comparisons into masks, and the classification of elements.
//
// An element (m, r) is compared through its outward-rounded ends (lo, hi) =
// to_endpoints(m, r). The orderings and != hold only when they hold for every
// pair of points of the two intervals ("certainly"); == holds when the two
// intervals share a point ("possibly"). Every test is an ordered IEEE
// comparison, so a NaN end makes every operator false, != included.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/array/mask.hpp"

namespace boundwise {

enum class CompareOp { Less, LessEqual, Equal, NotEqual, Greater, GreaterEqual };

// a op b element by element after broadcasting (ValueError for shapes that do not broadcast).
BoolMask compare(const Array& a, const Array& b, CompareOp op);

// a op x for the point x.
BoolMask compare(const Array& a, double x, CompareOp op);

// a op X for a real X that is not a double but lies strictly between the
// consecutive doubles `below` < X < `above` (an integer that does not round
// exactly; below = DBL_MAX, above = +inf for one beyond the double range).
BoolMask compare_between(const Array& a, double below, double above, CompareOp op);

// m or r is NaN.
BoolMask nan_mask(const Array& a);
// m - r or m + r, rounded to nearest, is infinite.
BoolMask inf_mask(const Array& a);
// Neither of the two above.
BoolMask finite_mask(const Array& a);

}  // namespace boundwise
