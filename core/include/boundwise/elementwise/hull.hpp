// Reading an element as endpoints and building one from endpoints and a
// preferred midpoint: the two ends of every element-wise function.
#pragma once

#include <cmath>
#include <limits>

#include "boundwise/array/array.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"

namespace boundwise {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// IEEE 754 minNum and maxNum: a NaN operand is ignored unless both are NaN.
// Written out because std::fmin and std::fmax are library calls on the
// baseline target.
inline double min_num(double a, double b) { return (b < a || a != a) ? b : a; }
inline double max_num(double a, double b) { return (b > a || a != a) ? b : a; }

// The endpoints an element function works on. An infinite radius is the
// whole line whatever the midpoint (the stored entire line has a NaN midpoint
// and must not be read as "no value"); any other NaN gives (NaN, NaN).
inline Endpoints element_endpoints(double m, double r) {
    if (r == kInfinity) return {-kInfinity, kInfinity};
    return to_endpoints(m, r);
}

// The element (mid, rad) covering [lo, hi] whose midpoint is c clamped into
// [lo, hi] (the centre of the range when c is not finite), so that results stay
// close to the plain floating-point value. A NaN end gives (NaN, NaN); an
// infinite radius around a midpoint that is not finite is stored as the entire
// line (NaN, +inf).
inline Interval hull_with_midpoint(double lo, double hi, double c) {
    if (std::isnan(lo) || std::isnan(hi)) return {kNaN, kNaN};
    if (lo == hi) return {lo, 0.0};  // also a point at infinity, as from_endpoints stores it
    if (!is_finite(c)) c = (hi + lo) * 0.5;
    const double mid = min_num(hi, max_num(lo, c));
    const double d1 = add_up_clamped(mid, -lo);
    const double d2 = add_up_clamped(hi, -mid);
    const double rad = max_num(d1, d2);
    if (!is_finite(mid) && rad == kInfinity) return {kNaN, kInfinity};
    return {mid, rad};
}

}  // namespace boundwise
