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

// The product: mul_endpoints itself. Its hull of the four corners may return
// either zero of a tie between +0 and -0 depending on how the compiler orders
// the operands of fmin and fmax, so every caller goes through the one compiled
// copy, which keeps all elimination paths bit for bit alike.
inline Endpoints mul(Endpoints a, Endpoints b) { return mul_endpoints(a, b); }

// 1 / D for a pair D that does not contain zero (1/x decreases on each side of 0).
[[gnu::always_inline]] inline Endpoints reciprocal(Endpoints d) { return {div_down(1.0, d.hi), div_up(1.0, d.lo)}; }

}  // namespace boundwise::pairs
