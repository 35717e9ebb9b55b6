// exp and ln of one double per lane, with a proven error bound, and the
// element rules built on them. Written for every lane type and instantiated
// by the element family (element-inl.hpp): the one-lane instance is the
// scalar reference and the path of every element outside the fast lanes.
// Only additions, subtractions, products, one quotient (ln) and bit
// operations are used, so every target computes the same doubles.
//
// exp(x), for -707 <= x <= 709 (Cody and Waite's reduction and a polynomial;
// Muller, "Elementary Functions", 3rd ed., 11.1-11.3):
//   k = x log2(e) rounded to an integer: fl(fl(x L) + 1.5 2^52) - 1.5 2^52;
//   r + r_l = fl(x - k C1) - k C2, as a rounded sum and its error (Fast2Sum),
//       where C1 and C2 hold 42 bits of ln 2 each, so that k C1 and k C2 are
//       exact for |k| < 2^11, and x - k C1 is exact (a multiple of
//       min(ulp(x), 2^-42) below 1/2; k != 0 needs |x| > 1/4);
//   p = h + (l + (r^2 Q(r) + (r_l r + r_l))), with h + l = 1 + r exactly and
//       Q of degree 9 by Estrin's scheme, so e^(r + r_l) ~ P(r) (1 + r_l);
//       y = p 2^k.
// |x log2(e) - k| <= 1/2 + 2^-42 gives |r| <= 0.34657359028031, where
// |P(r) - e^r| <= 2^-55.7 e^r, and r + r_l is x - k ln 2 to 2^-72. With the
// rounding errors of the evaluation, |y - e^x| <= 2^-52.70 e^x.
//
// ln(x), for normal x (fdlibm's __ieee754_log; Muller 11.3): x = 2^e (1 + f)
// with 1 + f in [sqrt(2)/2, sqrt(2)], read from the bits and exact;
//   s = f / (2 + f), z = s^2, ln(1 + f) = 2 atanh(s) = f - hfsq + s (hfsq + R)
//   with hfsq = f^2 / 2 and R = z W(z), W approximated by w of degree 6
//   (Estrin's scheme);
//   ln(x) = e H - ((hfsq - (s (hfsq + R) + e L)) - f), H + L = ln 2, e H exact.
// |W - w| <= 2^-51.4 on [0, 0.02944] enters as |s|^3 |W - w| <= 2^-57.5 |ln x|
// (|ln x| >= 2 |s|);
// with every rounding, |y - ln x| is at most 0.74 times two spacings of the
// doubles at magnitude |ln x| - |y - ln x|. ln x = 0 only at x = 1, where
// y = 0 exactly, and |ln x| >= 2^-54 elsewhere.
//
// Both bounds are computed by tools/exp_log_bounds.py (a Taylor-model bound of
// the approximation error on subintervals and a running error analysis in
// interval arithmetic; the test suite reruns it on these constants). Two steps
// from y towards v pass doubles whose spacing is that at magnitude >= min(|y|,
// |v|), so they cover any error below two such spacings. For exp: with
// |y - v| <= d v, d < 2^-52 / (1 + 2^-52), and y normal, the spacing on either
// side of y is at least y 2^-53, and two steps cover y 2^-52 >= d v. Hence
// each end is the computed value widened by two steps. Results that are subnormal
// or near overflow take a scaled path with one more rounding (at most eta/2,
// eta = 2^-1074) and are widened by three steps.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "boundwise/elementwise/hull.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/status.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {
namespace element {

inline constexpr double kLog2e = 0x1.71547652b82fep+0;
inline constexpr double kShifter = 0x1.8p52;
inline constexpr double kLn2Part1 = 0x1.62e42fefa3800p-1;
inline constexpr double kLn2Part2 = 0x1.ef35793c76000p-45;
// Q(r) ~ (e^r - 1 - r) / r^2, lowest degree first.
inline constexpr double kExpPolynomial[] = {
    0x1.0000000000001p-1, 0x1.5555555555556p-3, 0x1.5555555553d68p-5, 0x1.11111111109b5p-7, 0x1.6c16c17889ef1p-10,
    0x1.a01a01a7c2efep-13, 0x1.a019b9149a41cp-16, 0x1.71de0db2f6b19p-19, 0x1.28917c89a43bep-22, 0x1.af389ecfc4bb8p-26};
// The arguments whose exp is computed directly: 2^k and p 2^k are normal.
inline constexpr double kExpDirectMin = -707.0;
inline constexpr double kExpDirectMax = 709.0;
// Above: e^x > DBL_MAX (ln DBL_MAX = 709.78271289338400); below: e^x < eta / 2.
inline constexpr double kExpOverflow = 709.79;
inline constexpr double kExpUnderflow = -745.2;

inline constexpr double kLn2High = 0x1.62e42fefa3800p-1;
inline constexpr double kLn2Low = 0x1.ef35793c76730p-45;
inline constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;
// w(z) ~ W(z) = (2 atanh(s) / s - 2) / z for z = s^2, lowest degree first.
inline constexpr double kLogPolynomial[] = {
    0x1.5555555555558p-1, 0x1.99999999952e2p-2, 0x1.2492492df148dp-2, 0x1.c71c62e5800a1p-3,
    0x1.7462b4ab2ef6bp-3, 0x1.39fe606542ddep-3, 0x1.2b584aae78a57p-3};
inline constexpr double kMinNormal = 0x1p-1022;

using lanes::Bits;
using lanes::select;
using lanes::splat;

// p and k with e^x = p 2^k (to the bound above) for |x| <= 745.2.
template <class V>
[[gnu::always_inline]] inline V exp_reduced(const V& x, Bits<V>& k) {
    const V t = x * splat<V>(kLog2e) + splat<V>(kShifter);
    const V kd = t - splat<V>(kShifter);
    const V reduced = x - kd * splat<V>(kLn2Part1);
    const V tail = kd * splat<V>(kLn2Part2);
    const V r = reduced - tail;
    const V r_low = (reduced - r) - tail;  // reduced - tail - r (Fast2Sum)
    // Q(r) by Estrin's scheme: a short dependency chain for the lanes in flight.
    const auto c = [](int j) { return splat<V>(kExpPolynomial[j]); };
    const V r2 = r * r;
    const V r4 = r2 * r2;
    const V low_half = (c(0) + c(1) * r) + (c(2) + c(3) * r) * r2;
    const V high_half = (c(4) + c(5) * r) + (c(6) + c(7) * r) * r2;
    const V q = (low_half + high_half * r4) + (c(8) + c(9) * r) * (r4 * r4);
    k = lanes::to_bits<V>(t) - lanes::to_bits<V>(splat<V>(kShifter));
    const V high = splat<V>(1.0) + r;
    const V low = (splat<V>(1.0) - high) + r;  // 1 + r - high, exact (Fast2Sum, |r| < 1)
    return high + (low + (r2 * q + (r_low * r + r_low)));
}

// e^x for kExpDirectMin <= x <= kExpDirectMax, a positive normal double.
template <class V>
[[gnu::always_inline]] inline V exp_direct(const V& x) {
    Bits<V> k;
    const V p = exp_reduced<V>(x, k);
    return p * lanes::from_bits<V>((k + 1023) << 52);
}

// ln x for normal x, less `adjust` ln 2 (the scaling of a subnormal argument).
template <class V>
[[gnu::always_inline]] inline V log_normal(const V& x, const V& adjust) {
    constexpr std::uint64_t kFraction = 0x000FFFFFFFFFFFFFULL;
    constexpr std::uint64_t kOne = 0x3FF0000000000000ULL;
    const Bits<V> b = lanes::to_bits<V>(x);
    const V biased = lanes::from_bits<V>(lanes::to_bits<V>(splat<V>(kShifter)) + (b >> 52)) - splat<V>(kShifter);
    V mantissa = lanes::from_bits<V>((b & kFraction) | kOne);
    const auto halve = mantissa > splat<V>(kSqrt2);
    mantissa = select<V>(halve, mantissa * splat<V>(0.5), mantissa);
    const V e = ((biased - splat<V>(1023.0)) + select<V>(halve, splat<V>(1.0), splat<V>(0.0))) - adjust;
    const V f = mantissa - splat<V>(1.0);
    const V s = f / (splat<V>(2.0) + f);
    const V z = s * s;
    const auto c = [](int j) { return splat<V>(kLogPolynomial[j]); };
    const V z2 = z * z;
    const V w = ((c(0) + c(1) * z) + (c(2) + c(3) * z) * z2) + ((c(4) + c(5) * z) + c(6) * z2) * (z2 * z2);
    const V hfsq = (splat<V>(0.5) * f) * f;
    const V inner = (hfsq - (s * (hfsq + z * w) + e * splat<V>(kLn2Low))) - f;
    return e * splat<V>(kLn2High) - inner;
}

// Two doubles up and down from a finite y whose neighbours on the way are not
// infinite: steps of the bit pattern away from or towards zero, and from 0
// to +-2 eta.
template <class V>
[[gnu::always_inline]] inline V two_up(const V& y) {
    const Bits<V> b = lanes::to_bits<V>(y);
    const V zero = splat<V>(0.0);
    return select<V>(y > zero, lanes::from_bits<V>(b + 2),
                     select<V>(y < zero, lanes::from_bits<V>(b - 2), splat<V>(2 * kMinSubnormal)));
}

template <class V>
[[gnu::always_inline]] inline V two_down(const V& y) {
    return -two_up<V>(-y);
}

// `steps` doubles up from x (succ4's key arithmetic; +inf and NaN kept).
inline double steps_up(double x, std::int64_t steps) {
    constexpr std::int64_t kInfinityKey = 0x7FF0000000000000;
    const auto bits = std::bit_cast<std::int64_t>(x);
    const std::int64_t magnitude = bits & 0x7FFFFFFFFFFFFFFF;
    if (magnitude > kInfinityKey) return x;
    std::int64_t key = bits < 0 ? -magnitude : magnitude;
    key = key + steps < kInfinityKey ? key + steps : kInfinityKey;
    return std::bit_cast<double>(key < 0 ? (-key | std::numeric_limits<std::int64_t>::min()) : key);
}

// A lower and an upper bound of f(x) and the computed value.
struct PointBounds {
    double lo;
    double hi;
    double value;
};

// e^x for x with e^x subnormal or above 2^1023: p 2^k as (p 2^(k - k/2)) 2^(k/2),
// the first product exact, the second rounded once.
inline double exp_scaled(double x) {
    std::uint64_t k;
    const double p = exp_reduced<double>(x, k);
    const auto half = static_cast<std::int64_t>(k) / 2;
    const auto rest = static_cast<std::int64_t>(k) - half;
    const double first = std::bit_cast<double>(static_cast<std::uint64_t>(rest + 1023) << 52);
    const double second = std::bit_cast<double>(static_cast<std::uint64_t>(half + 1023) << 52);
    return (p * first) * second;
}

inline PointBounds exp_bounds(double x) {
    if (x != x) return {x, x, x};
    if (x >= kExpDirectMin && x <= kExpDirectMax) {
        const double y = exp_direct<double>(x);
        return {two_down<double>(y), two_up<double>(y), y};
    }
    if (x > kExpOverflow) return {kDoubleMax, kInfinity, kInfinity};
    if (x < kExpUnderflow) return {0.0, kMinSubnormal, 0.0};
    const double y = exp_scaled(x);
    return {max_num(-steps_up(-y, 3), 0.0), steps_up(y, 3), y};
}

// ln x for x >= 0 or NaN: -inf at 0, +inf at +inf.
inline PointBounds log_bounds(double x) {
    if (!(x > 0) || x == kInfinity) {
        const double v = x == 0 ? -kInfinity : x;
        return {v, v, v};
    }
    const bool subnormal = x < kMinNormal;
    const double y = log_normal<double>(subnormal ? x * 0x1p54 : x, subnormal ? 54.0 : 0.0);
    return {two_down<double>(y), two_up<double>(y), y};
}

// The element rules: exp of [lo, hi] is [e^lo, e^hi]; ln of an element with
// hi <= 0 has no value (flagged unless NaN), and a lower end at or below 0
// holds reals as close to 0 as one likes, so the lower end is -inf.
inline Interval exp_rule(double m, double r, Status&) noexcept {
    const Endpoints x = element_endpoints(m, r);
    if (std::isnan(x.lo)) return {kNaN, kNaN};
    return hull_with_midpoint(exp_bounds(x.lo).lo, exp_bounds(x.hi).hi, exp_bounds(m).value);
}

inline Interval ln_rule(double m, double r, Status& flags) noexcept {
    const Endpoints x = element_endpoints(m, r);
    if (!(x.hi > 0)) {
        if (!std::isnan(x.hi)) flags |= Status::DomainError;
        return {kNaN, kNaN};
    }
    const double lo = x.lo > 0 ? log_bounds(x.lo).lo : -kInfinity;
    return hull_with_midpoint(lo, log_bounds(x.hi).hi, log_bounds(m).value);
}

}  // namespace element
}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
