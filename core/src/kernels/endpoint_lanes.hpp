// Conversions between (midpoint, radius) lanes and outward-rounded endpoint
// lanes in the ordinary range, for the kernels that work on the ends of an
// element (the layout round trip, the piecewise functions, integer powers).
// Each form performs the IEEE operations of to_endpoints and from_endpoints
// (interval/endpoints.cpp) in the same order, with their branches made compare
// masks, so it gives the same doubles wherever its lanes qualify.
#pragma once

#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {
namespace lanes {

// Ordinary elements: |m|, |r| < 2^1021, so no end, sum or distance reaches
// 2^1023 and the reference's overflow, NaN and infinity branches are never taken.
inline constexpr double kOrdinaryLimit = 0x1p1021;
// Ends whose sum and distances cannot overflow: |lo|, |hi| <= 2^1022.
inline constexpr double kOrdinaryEnd = 0x1p1022;

template <class V>
[[gnu::always_inline]] inline Mask<V> not_ordinary(const V& m, const V& r) {
    const V limit = splat<V>(kOrdinaryLimit);
    return either<V>(!(abs(m) < limit), !(abs(r) < limit));
}

template <class V>
[[gnu::always_inline]] inline Mask<V> not_ordinary_ends(const V& lo, const V& hi) {
    const V limit = splat<V>(kOrdinaryEnd);
    return either<V>(!(abs(lo) <= limit), !(abs(hi) <= limit));
}

// to_endpoints of an ordinary element: m -+ r stepped outward by the sign of
// its TwoSum error.
template <class V>
[[gnu::always_inline]] inline void ordinary_ends(const V& m, const V& r, V& lo, V& hi) {
    lo = m - r;
    hi = m + r;
    lo = pred_if<V>(sum_error<V>(m, -r, lo) < splat<V>(0.0), lo);
    hi = succ_if<V>(sum_error<V>(m, r, hi) > splat<V>(0.0), hi);
}

// The upward distance from `from` to `to` (to >= from), as from_endpoints
// computes it: the rounded difference plus its TwoSum error, rounded up.
template <class V>
[[gnu::always_inline]] inline V distance_up(const V& to, const V& from) {
    const V d = to - from;
    return add_up_finite<V>(d, sum_error<V>(to, -from, d));
}

// from_endpoints of ends with lo <= hi and |lo|, |hi| <= 2^1022. Its point
// case (lo = hi, radius +0) needs no branch: c = (2 lo) / 2 = lo exactly, and
// both distances are then +0 with a TwoSum error of +0.
template <class V>
[[gnu::always_inline]] inline void ordinary_from_ends(const V& lo, const V& hi, V& mid, V& rad) {
    const V c = (lo + hi) * splat<V>(0.5);
    const V up = distance_up<V>(hi, c);
    const V down = distance_up<V>(c, lo);
    mid = c;
    rad = select<V>(up >= down, up, down);
}

// maxNum and minNum of elementwise/hull.hpp for lanes without NaN: b where it
// is larger (smaller), else a, so that of two zeros the first one is kept.
template <class V>
[[gnu::always_inline]] inline V max_num(const V& a, const V& b) {
    return select<V>(b > a, b, a);
}
template <class V>
[[gnu::always_inline]] inline V min_num(const V& a, const V& b) {
    return select<V>(b < a, b, a);
}

}  // namespace lanes
}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
