#include "boundwise/interval/endpoints.hpp"

#include <cmath>

#include "boundwise/interval/rounding.hpp"

namespace boundwise {

Endpoints to_endpoints(double m, double r) {
    if (std::isnan(m) || std::isnan(r)) return {NAN, NAN};
    if (r >= kInfinity) return {-kInfinity, kInfinity};
    // m - r and m + r rounded outward by their TwoSum errors; an overflow keeps
    // the side it cannot reach finite (m = +inf, r = 0 gives [DBL_MAX, +inf]).
    double lo = m - r;
    if (is_finite(lo)) {
        if (sum_error(m, -r, lo) < 0) lo = pred(lo);
    } else if (lo == kInfinity) {
        lo = kDoubleMax;
    }
    double hi = m + r;
    if (is_finite(hi)) {
        if (sum_error(m, r, hi) > 0) hi = succ(hi);
    } else if (hi == -kInfinity) {
        hi = -kDoubleMax;
    }
    return {lo, hi};
}

namespace {

// Smallest double >= hi - m (or m - lo): the rounded difference plus its
// exact TwoSum error, rounded upward. Both differences are finite because the
// midpoint lies between the ends.
double distance_up(double hi, double lo) {
    const double d = hi - lo;
    return add_up(d, sum_error(hi, -lo, d));
}

}  // namespace

Interval from_endpoints(double lo, double hi) {
    const double sum = lo + hi;
    double m = sum * 0.5;
    // lo + hi overflows only for ends beyond DBL_MAX / 2 of equal sign; halving
    // first is exact there, and rounding the sum of the halves stays in [lo, hi].
    if (!is_finite(sum) && is_finite(lo) && is_finite(hi)) m = lo * 0.5 + hi * 0.5;
    if (lo == hi) return {m, 0.0};
    if (!is_finite(lo) || !is_finite(hi) || !is_finite(m)) return {m, kInfinity};
    // The radius covers both exact distances: m is the rounded centre, so
    // either side may be the longer one.
    const double up = distance_up(hi, m);
    const double down = distance_up(m, lo);
    return {m, up >= down ? up : down};
}

Interval endpoint_round_trip(double m, double r) {
    const Endpoints e = to_endpoints(m, r);
    return from_endpoints(e.lo, e.hi);
}

namespace {

// The hull of the four corners a.x op b.y, each rounded down for the lower
// and up for the upper end. minNum / maxNum: a NaN corner (0 * inf, inf / inf)
// is ignored unless all four are NaN.
template <class Down, class Up>
Endpoints corner_hull(Endpoints a, Endpoints b, Down down, Up up) {
    const double xs[4] = {a.lo, a.lo, a.hi, a.hi};
    const double ys[4] = {b.lo, b.hi, b.lo, b.hi};
    double lo = down(xs[0], ys[0]);
    double hi = up(xs[0], ys[0]);
    for (int i = 1; i < 4; ++i) {
        lo = std::fmin(lo, down(xs[i], ys[i]));
        hi = std::fmax(hi, up(xs[i], ys[i]));
    }
    return {lo, hi};
}

}  // namespace

// With each operand of one strict sign, the corners are ordered (for
// 0 < a.lo, 0 < b.lo: a.lo b.lo is the smallest and a.hi b.hi the largest, and
// so on by signs) and directed rounding is monotone, so the hull is the two
// outer corners: the same doubles as the four, in a quarter of the work.
Endpoints mul_endpoints(Endpoints a, Endpoints b) {
    if (a.lo > 0 && b.lo > 0) return {mul_down(a.lo, b.lo), mul_up(a.hi, b.hi)};
    if (a.hi < 0 && b.hi < 0) return {mul_down(a.hi, b.hi), mul_up(a.lo, b.lo)};
    if (a.lo > 0 && b.hi < 0) return {mul_down(a.hi, b.lo), mul_up(a.lo, b.hi)};
    if (a.hi < 0 && b.lo > 0) return {mul_down(a.lo, b.hi), mul_up(a.hi, b.lo)};
    return corner_hull(a, b, [](double x, double y) { return mul_down(x, y); },
                       [](double x, double y) { return mul_up(x, y); });
}

// x / y is monotone in x and in y while y keeps one sign, so the extremes lie
// at the corners; dividing directly (rather than multiplying by an enclosure of
// 1/b) cannot overflow for a tiny divisor of a tiny dividend.
Endpoints div_endpoints(Endpoints a, Endpoints b) {
    return corner_hull(a, b, [](double x, double y) { return div_down(x, y); },
                       [](double x, double y) { return div_up(x, y); });
}

}  // namespace boundwise
