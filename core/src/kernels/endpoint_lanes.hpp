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

// Narrow elements: 0 < |m| < 2^1020 and 0 <= r <= |m|/4 (NaN not). The ends
// of (x, r) = (|m|, r) then lie in [x/2, 2x], so x - lo and hi - x are exact
// (Sterbenz) and the rounding error of fl(x -+ r) points outward exactly when
// x - lo < r (hi - x < r): no TwoSum is needed. A negative m is the mirror
// image: rounding to nearest is symmetric, so its ends are (-hi, -lo) of |m|.
inline constexpr double kNarrowLimit = 0x1p1020;

template <class V>
[[gnu::always_inline]] inline Mask<V> not_narrow(const V& m, const V& r) {
    const V x = abs(m);
    return either<V>(either<V>(!(r <= x * splat<V>(0.25)), r < splat<V>(0.0)), !below_nonzero<V>(x, kNarrowLimit));
}

template <class V>
[[gnu::always_inline]] inline void narrow_ends(const V& m, const V& r, V& lo, V& hi) {
    const V x = abs(m);
    const V l = step_down_if<V>(x - (x - r) < r, x - r);
    const V h = step_up_if<V>((x + r) - x < r, x + r);
    const auto negative = m < splat<V>(0.0);
    lo = select<V>(negative, -h, l);
    hi = select<V>(negative, -l, h);
}

// The ends of an element in the form all lanes allow; the lanes that neither
// form covers are returned.
template <class V>
[[gnu::always_inline]] inline Mask<V> any_ends(const V& m, const V& r, V& lo, V& hi) {
    if (!any<V>(not_narrow<V>(m, r))) [[likely]] {
        narrow_ends<V>(m, r, lo, hi);
        return m != m;  // no lane
    }
    ordinary_ends<V>(m, r, lo, hi);
    return not_ordinary<V>(m, r);
}

// Ends of one strict sign within a factor 2 of each other (0 < lo <= hi <= 2 lo
// or its mirror image) and at most 2^1022: c lies in [lo, hi], so hi - c and
// c - lo are exact (Sterbenz) and their TwoSum errors in from_endpoints are 0.
template <class V>
[[gnu::always_inline]] inline Mask<V> not_narrow_ends(const V& lo, const V& hi) {
    const V limit = splat<V>(kOrdinaryEnd);
    const auto positive = (lo > splat<V>(0.0)) & (hi <= lo + lo) & (hi <= limit);
    const auto negative = (hi < splat<V>(0.0)) & (lo >= hi + hi) & (lo >= -limit);
    return !(positive | negative);
}

// from_endpoints of ends lo <= hi in the form all lanes allow; returns the
// lanes beyond the ordinary range (which the caller must redo).
template <class V>
[[gnu::always_inline]] inline Mask<V> any_from_ends(const V& lo, const V& hi, V& mid, V& rad) {
    if (!any<V>(not_narrow_ends<V>(lo, hi))) [[likely]] {
        const V c = (lo + hi) * splat<V>(0.5);
        const V up = hi - c;
        const V down = c - lo;
        mid = c;
        rad = select<V>(up >= down, up, down);
        return lo != lo;  // no lane
    }
    ordinary_from_ends<V>(lo, hi, mid, rad);
    return not_ordinary_ends<V>(lo, hi);
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
