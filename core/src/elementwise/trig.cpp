// sin, cos and tan. Between consecutive multiples of pi/2 each is monotone, so
// the image of [lo, hi] is spanned by the values at the ends and the extreme
// values +-1 at the multiples of pi/2 strictly inside, or it is the whole line
// for tan when a pole lies inside.
//
// Every value comes from the reduction x = k pi/2 + t (trig_reduction.cpp):
// the library evaluates sin, cos or tan at t in [-pi/4, pi/4] (trusted to four
// doubles there, see exp_log.cpp) and the reduction error delta is added, since
// sin and cos are 1-Lipschitz and tan' <= 2 + 2^-50 on that range. The same
// reductions decide which multiples of pi/2 lie inside an interval; forming
// them as doubles fl(k pi) + pi/2 instead would be wrong by up to k 2^-52.
//
// The element kernels compute most elements directly (kernels/trig_lanes.hpp:
// ends up to 2^23 in magnitude, not within 2^-26 of a non-zero multiple of
// pi/2); these rules take the others, and enclose the same sets.
#include <cmath>
#include <cstdint>

#include "boundwise/elementwise/hull.hpp"
#include "boundwise/elementwise/rules.hpp"
#include "trig_reduction.hpp"

namespace boundwise::elementwise {

namespace {

constexpr double kPi = 0x1.921fb54442d18p+1;
constexpr double kTwoPi = 0x1.921fb54442d18p+2;

// An enclosure [lo, hi] of f(x) and the library's value v.
struct Value {
    double lo;
    double hi;
    double v;
};

// v widened by four doubles and by `error` on each side.
Value around(double v, double error) {
    return {add_down_clamped(pred4(v), -error), add_up_clamped(succ4(v), error), v};
}

// sin(x) for shift 0, cos(x) = sin(x + pi/2) for shift 1.
Value sine_value(const Reduction& x, int shift) {
    const auto quadrant = static_cast<int>((x.k + shift) & 3);
    double v = (quadrant & 1) ? std::cos(x.t) : std::sin(x.t);
    if (quadrant & 2) v = -v;
    const Value r = around(v, x.delta);
    return {max_num(r.lo, -1.0), min_num(r.hi, 1.0), v};
}

// tan(x) = tan(t) for even k and -1/tan(t) for odd k; whole (lo > hi marks
// it) when the enclosure of tan(t) holds 0 for odd k, a pole within the error.
Value tangent_value(const Reduction& x) {
    const Value w = around(std::tan(x.t), mul_up(x.delta, 2.001));
    if ((x.k & 1) == 0) return w;
    if (w.lo <= 0 && w.hi >= 0) return {kInfinity, -kInfinity, kNaN};
    return {div_down(-1.0, w.lo), div_up(-1.0, w.hi), -1.0 / w.v};
}

// floor(x / (pi/2)) - (the reduction's k) + k bounded from below and above;
// the bounds differ only when x lies within the reduction error of a multiple
// of pi/2. No non-zero double comes that close (the nearest of all lies about
// 2^-61 from one: Muller, Elementary Functions, ch. 11); x = 0 is such a
// multiple.
struct Quarter {
    std::int64_t low;
    std::int64_t high;
};

Quarter quarter(const Reduction& x, std::int64_t k) {
    if (x.t > x.delta) return {k, k};
    if (x.t < -x.delta) return {k - 1, k - 1};
    return {k - 1, k};
}

// Residues modulo 4 of the multiples b pi/2 in (lo, hi], bit r for residue r
// (every residue when there may be four or more), for lo < hi less than 2 pi
// apart. The reductions know k only modulo 4; the difference of the two k is
// the integer (hi - lo - (t_hi - t_lo)) / (pi/2), which rounding cannot move
// by a quarter (and which must agree modulo 4).
unsigned multiples_inside(double lo, double hi, const Reduction& at_lo, const Reduction& at_hi) {
    constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
    const double turns = ((hi - lo) - (at_hi.t - at_lo.t)) * kTwoOverPi;
    const double steps = std::nearbyint(turns);
    const std::int64_t k_lo = at_lo.k & 3;
    const std::int64_t k_hi = k_lo + static_cast<std::int64_t>(steps);
    if (!(std::fabs(turns - steps) < 0.25) || ((k_hi - at_hi.k) & 3) != 0) return 0xFu;
    const std::int64_t first = quarter(at_lo, k_lo).low + 1;
    const std::int64_t last = quarter(at_hi, k_hi).high;
    if (last - first >= 3) return 0xFu;
    unsigned found = 0;
    for (std::int64_t b = first; b <= last; ++b) found |= 1u << (b & 3);
    return found;
}

// sin (shift 0: 1 at residue 1, -1 at residue 3) and cos (shift 1: 1 at
// residue 0, -1 at residue 2).
Interval sine_like(double m, double r, int shift) {
    const Endpoints x = element_endpoints(m, r);
    if (std::isnan(x.lo)) return {kNaN, kNaN};
    if (!(x.hi - x.lo < kTwoPi)) return {0.0, 1.0};
    const Reduction at_lo = reduce_half_pi(x.lo);
    const Value lo = sine_value(at_lo, shift);
    if (x.lo == x.hi) return hull_with_midpoint(lo.lo, lo.hi, lo.v);
    const Reduction at_hi = reduce_half_pi(x.hi);
    const Value hi = sine_value(at_hi, shift);
    double low = min_num(lo.lo, hi.lo);
    double high = max_num(lo.hi, hi.hi);
    const unsigned inside = multiples_inside(x.lo, x.hi, at_lo, at_hi);
    if (inside & (1u << (1 - shift))) high = 1.0;
    if (inside & (1u << (3 - shift))) low = -1.0;
    return hull_with_midpoint(low, high, sine_value(reduce_half_pi(m), shift).v);
}

}  // namespace

Interval sin_rule(double m, double r, Status&) noexcept { return sine_like(m, r, 0); }
Interval cos_rule(double m, double r, Status&) noexcept { return sine_like(m, r, 1); }

// tan is increasing between its poles at the odd multiples of pi/2; an
// interval of width pi or more always holds one. The whole line is stored as
// midpoint 0, radius +inf.
Interval tan_rule(double m, double r, Status&) noexcept {
    constexpr Interval kWholeLine{0.0, kInfinity};
    const Endpoints x = element_endpoints(m, r);
    if (std::isnan(x.lo)) return {kNaN, kNaN};
    if (!(x.hi - x.lo < kPi)) return kWholeLine;
    const Reduction at_lo = reduce_half_pi(x.lo);
    const Value lo = tangent_value(at_lo);
    if (lo.lo > lo.hi) return kWholeLine;
    if (x.lo == x.hi) return hull_with_midpoint(lo.lo, lo.hi, lo.v);
    const Reduction at_hi = reduce_half_pi(x.hi);
    const Value hi = tangent_value(at_hi);
    if (hi.lo > hi.hi || (multiples_inside(x.lo, x.hi, at_lo, at_hi) & 0b1010u)) return kWholeLine;
    return hull_with_midpoint(lo.lo, hi.hi, std::tan(m));
}

}  // namespace boundwise::elementwise
