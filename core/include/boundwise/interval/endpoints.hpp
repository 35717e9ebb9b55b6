// Conversions between the stored midpoint-radius form and outward-rounded
// endpoint pairs, and the endpoint interval product.
#pragma once

#include "boundwise/array/array.hpp"

namespace boundwise {

struct Endpoints {
    double lo;
    double hi;
};

// Outward-rounded [m - r, m + r]; NaN gives (NaN, NaN), an infinite radius the whole line.
Endpoints to_endpoints(double m, double r);
// Midpoint in [lo, hi] and a radius covering both exact distances; the whole
// line becomes (NaN, +inf), a NaN endpoint gives radius +inf.
Interval from_endpoints(double lo, double hi);
// from_endpoints(to_endpoints(m, r)): an element as its outward-rounded ends
// describe it, the form in which single elements are handed out and moved.
Interval endpoint_round_trip(double m, double r);
// Outward-rounded product of two endpoint pairs.
Endpoints mul_endpoints(Endpoints a, Endpoints b);
// Outward-rounded quotient of two endpoint pairs; b must exclude zero.
Endpoints div_endpoints(Endpoints a, Endpoints b);

}  // namespace boundwise
