// Arithmetic on outward-rounded endpoint pairs, the working form of the
// elimination and factorisation routines. Every operation rounds outward, so
// a pair computed from pairs contains every value the exact operation takes
// on reals inside its operands.
//
// Lower ends are never +inf and upper ends never -inf (overflow is clamped to
// the largest finite double), so no sum below meets inf - inf; NaN ends stand
// for an unknown value and count as containing zero.
#pragma once

#include <cmath>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"

namespace boundwise::pairs {

inline constexpr Endpoints kEntire{-kInfinity, kInfinity};

[[gnu::always_inline]] inline bool is_zero(Endpoints p) { return p.lo == 0 && p.hi == 0; }

// lo <= 0 <= hi, written so that a NaN end counts as containing zero.
[[gnu::always_inline]] inline bool contains_zero(Endpoints p) { return !(p.lo > 0 || p.hi < 0); }

[[gnu::always_inline]] inline bool is_bounded(Endpoints p) { return is_finite(p.lo) && is_finite(p.hi); }

// The magnitude of the midpoint, by which pivots are chosen.
[[gnu::always_inline]] inline double pivot_key(Endpoints p) { return std::fabs((p.lo + p.hi) * 0.5); }

// P - Q = [P.lo - Q.hi, P.hi - Q.lo], each end rounded outward.
[[gnu::always_inline]] inline Endpoints sub(Endpoints p, Endpoints q) {
    return {add_down_clamped(p.lo, -q.hi), add_up_clamped(p.hi, -q.lo)};
}

[[gnu::always_inline]] inline Endpoints add(Endpoints p, Endpoints q) {
    return {add_down_clamped(p.lo, q.lo), add_up_clamped(p.hi, q.hi)};
}

// The product: the hull of the four outward-rounded corner products, with a
// NaN corner (0 times an infinite end) ignored unless all four are NaN. The
// same operations as mul_endpoints, inlined into the elimination loops.
[[gnu::always_inline]] inline Endpoints mul(Endpoints a, Endpoints b) {
    const double l0 = mul_down(a.lo, b.lo), l1 = mul_down(a.lo, b.hi);
    const double l2 = mul_down(a.hi, b.lo), l3 = mul_down(a.hi, b.hi);
    const double h0 = mul_up(a.lo, b.lo), h1 = mul_up(a.lo, b.hi);
    const double h2 = mul_up(a.hi, b.lo), h3 = mul_up(a.hi, b.hi);
    return {std::fmin(std::fmin(std::fmin(l0, l1), l2), l3), std::fmax(std::fmax(std::fmax(h0, h1), h2), h3)};
}

// 1 / D for a pair D that does not contain zero (1/x decreases on each side of 0).
[[gnu::always_inline]] inline Endpoints reciprocal(Endpoints d) { return {div_down(1.0, d.hi), div_up(1.0, d.lo)}; }

}  // namespace boundwise::pairs
