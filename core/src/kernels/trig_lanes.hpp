// sin, cos and tan of one double per lane for |x| <= 2^23, with a proven error
// bound. Written for every lane type and instantiated by the element family
// (element-inl.hpp); the one-lane instance is the scalar reference. Only
// additions, subtractions, products, one quotient (tan) and bit operations are
// used, so every target computes the same doubles.
//
// Reduction (Cody and Waite; Muller, "Elementary Functions", 3rd ed., 11.2):
//   k = x 2/pi rounded to an integer: fl(fl(x L) + 1.5 2^52) - 1.5 2^52;
//   pi/2 = P1 + P2 + P3 + d, P1 and P2 of 30 bits, |d| < 2^-117, so k P1 and
//   k P2 are exact for |k| < 2^23, and x - k P1 is exact (a multiple of 2^-53
//   below 1 in magnitude for k != 0);
//   t2 = fl(x - k P1) - k P2 with its exact TwoSum error e2;
//   y + y_l = t2 + fl(e2 - fl(k P3)) exactly (TwoSum).
// So |x - k pi/2 - (y + y_l)| <= 2^-90 with |y| <= 0.7854.
// Lanes within 2^-26 of a non-zero multiple of pi/2 (about one double in 2^25
// of the range) are deferred to the rules, which reduce precisely, so the
// reduction error is below 2^-64 of every value computed here.
//
// Evaluation on [-0.7854, 0.7854] with z = y^2 (Estrin's scheme):
//   sin(y + y_l) ~ y + ((y z) S(z) + (y_l - (z/2) y_l)),  S of degree 6;
//   cos(y + y_l) ~ w + (((1 - w) - z/2) + (z^2 C(z) - y y_l)),  w = fl(1 - z/2),
//       C of degree 5 ((1 - w) - z/2 is the exact error of w);
//   tan = sin / cos for even k and -cos / sin for odd k (one quotient).
// With approximation, rounding and reduction errors, the relative error is
// below 2^-52.44 for sin and cos and 2^-51.09 for tan (tools/trig_bounds.py:
// Taylor models of the approximation errors, a running error analysis of the
// evaluation in interval arithmetic; the test suite reruns it). As for exp
// (exp_log_lanes.hpp), n steps from the computed value towards the exact one
// cover a relative error below n 2^-53 / (1 + n 2^-53): two steps for sin and
// cos, four for tan. Arguments below 2^-500 in magnitude (other than 0) are
// deferred too, so that underflow in the products (bounded in the analysis)
// stays far below the rounding errors.
#pragma once

#include <cstdint>

#include "exp_log_lanes.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {
namespace element {

inline constexpr double kTrigFastLimit = 0x1p23;
inline constexpr double kTrigTiny = 0x1p-500;
inline constexpr double kTrigNearMultiple = 0x1p-26;
inline constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
inline constexpr double kHalfPiPart1 = 0x1.921fb548p+0;
inline constexpr double kHalfPiPart2 = -0x1.de973dc8p-31;
inline constexpr double kHalfPiPart3 = -0x1.9d9cceba3f91fp-62;
// S(z) ~ (sin(y) / y - 1) / z and C(z) ~ (cos(y) - 1 + z/2) / z^2, lowest degree first.
inline constexpr double kSinPolynomial[] = {
    -0x1.5555555555555p-3, 0x1.1111111111110p-7, -0x1.a01a01a019938p-13, 0x1.71de3a5460946p-19,
    -0x1.ae645412c3273p-26, 0x1.61217f09bcb04p-33, -0x1.ab17d2facc8bdp-41};
inline constexpr double kCosPolynomial[] = {
    0x1.5555555555555p-5, -0x1.6c16c16c16967p-10, 0x1.a01a019f4eaf1p-16,
    -0x1.27e4fa17d8c71p-22, 0x1.1eeb68e7eb073p-29, -0x1.907da2754caa9p-37};
inline constexpr int kSinCosSteps = 2;
inline constexpr int kTanSteps = 4;

using lanes::Bits;
using lanes::Mask;
using lanes::select;
using lanes::splat;

// x = k pi/2 + y + y_l (to the bound above); `quadrant` holds k modulo 2^64.
template <class V>
struct QuarterTurns {
    V k;
    Bits<V> quadrant;
    V y;
    V y_low;
};

template <class V>
[[gnu::always_inline]] inline V two_sum_error(const V& a, const V& b, const V& s) {
    const V b_virtual = s - a;
    return (a - (s - b_virtual)) + (b - b_virtual);
}

template <class V>
[[gnu::always_inline]] inline QuarterTurns<V> reduce_quarter_turns(const V& x) {
    const V shifted = x * splat<V>(kTwoOverPi) + splat<V>(kShifter);
    const V k = shifted - splat<V>(kShifter);
    const V t1 = x - k * splat<V>(kHalfPiPart1);
    const V p2 = -(k * splat<V>(kHalfPiPart2));
    const V t2 = t1 + p2;
    const V w = two_sum_error<V>(t1, p2, t2) - k * splat<V>(kHalfPiPart3);
    const V y = t2 + w;
    return {k, lanes::to_bits<V>(shifted) - lanes::to_bits<V>(splat<V>(kShifter)), y, two_sum_error<V>(t2, w, y)};
}

template <class V>
struct SinCos {
    V sin;
    V cos;
};

template <class V>
[[gnu::always_inline]] inline SinCos<V> sin_cos_reduced(const V& y, const V& y_low) {
    const auto s = [](int j) { return splat<V>(kSinPolynomial[j]); };
    const auto c = [](int j) { return splat<V>(kCosPolynomial[j]); };
    const V z = y * y;
    const V z2 = z * z;
    const V z4 = z2 * z2;
    const V big_s = ((s(0) + s(1) * z) + (s(2) + s(3) * z) * z2) + ((s(4) + s(5) * z) + s(6) * z2) * z4;
    const V big_c = ((c(0) + c(1) * z) + (c(2) + c(3) * z) * z2) + (c(4) + c(5) * z) * z4;
    const V half_z = splat<V>(0.5) * z;
    const V sine = y + ((y * z) * big_s + (y_low - half_z * y_low));
    const V w = splat<V>(1.0) - half_z;
    const V cosine = w + (((splat<V>(1.0) - w) - half_z) + (z2 * big_c - y * y_low));
    return {sine, cosine};
}

// `steps` doubles up from a finite y whose neighbours on the way are finite:
// steps of the bit pattern away from or towards zero, and from 0 to steps eta.
template <class V>
[[gnu::always_inline]] inline V steps_away_up(const V& y, int steps) {
    const Bits<V> b = lanes::to_bits<V>(y);
    const V zero = splat<V>(0.0);
    const auto n = static_cast<std::uint64_t>(steps);
    return select<V>(y > zero, lanes::from_bits<V>(b + n),
                     select<V>(y < zero, lanes::from_bits<V>(b - n), splat<V>(steps * kMinSubnormal)));
}

template <class V>
[[gnu::always_inline]] inline V steps_away_down(const V& y, int steps) {
    return -steps_away_up<V>(-y, steps);
}

// 1 where bit `bit` of b is set, as a mask; and a small integer of b as a double.
template <class V>
[[gnu::always_inline]] inline Mask<V> bit_set(const Bits<V>& b, int bit) {
    if constexpr (lanes::Traits<V>::width == 1) {
        return ((b >> bit) & 1) != 0;
    } else {
        return (Mask<V>)(Bits<V>{} - ((b >> bit) & 1));
    }
}

template <class V>
[[gnu::always_inline]] inline V small_to_double(const Bits<V>& b) {
    return lanes::from_bits<V>(lanes::to_bits<V>(splat<V>(kShifter)) + b) - splat<V>(kShifter);
}

// 1 where m holds, as an integer of each lane.
template <class V>
[[gnu::always_inline]] inline Bits<V> one_if(const Mask<V>& m) {
    if constexpr (lanes::Traits<V>::width == 1) {
        return m ? 1 : 0;
    } else {
        return Bits<V>{} - (Bits<V>)m;
    }
}

// sin(x) for shift 0, cos(x) = sin(x + pi/2) for shift 1, from a reduction.
template <class V>
[[gnu::always_inline]] inline V sine_value(const QuarterTurns<V>& x, int shift) {
    const SinCos<V> sc = sin_cos_reduced<V>(x.y, x.y_low);
    const Bits<V> q = x.quadrant + static_cast<std::uint64_t>(shift);
    const V v = select<V>(bit_set<V>(q, 0), sc.cos, sc.sin);
    return lanes::from_bits<V>(lanes::to_bits<V>(v) ^ ((q & 2) << 62));
}

// tan(x) = tan(y) for even k, -1 / tan(y) for odd k.
template <class V>
[[gnu::always_inline]] inline V tangent_value(const QuarterTurns<V>& x) {
    const SinCos<V> sc = sin_cos_reduced<V>(x.y, x.y_low);
    const auto odd = bit_set<V>(x.quadrant, 0);
    return select<V>(odd, -sc.cos, sc.sin) / select<V>(odd, sc.sin, sc.cos);
}

// Lanes whose reduction the bound does not cover: |x| above 2^23, NaN, tiny
// non-zero x, and x within 2^-26 of a non-zero multiple of pi/2.
template <class V>
[[gnu::always_inline]] inline Mask<V> outside_fast_range(const V& x, const QuarterTurns<V>& r) {
    const auto far = !(lanes::abs(x) <= splat<V>(kTrigFastLimit));
    const auto tiny = lanes::below_nonzero<V>(lanes::abs(x), kTrigTiny);
    const auto near = (r.k != splat<V>(0.0)) & (lanes::abs(r.y) < splat<V>(kTrigNearMultiple));
    return lanes::either<V>(lanes::either<V>(far, tiny), near);
}

// The multiples b pi/2 in [lo, hi] for ends reduced outside the deferred
// lanes (so the signs of y are right): from first = ceil(lo / (pi/2)) to
// last = floor(hi / (pi/2)), counting b = 0 at an end at zero. Whether one
// of them is congruent to `residue` modulo 4.
template <class V>
struct Multiples {
    Bits<V> first;
    V count;
};

template <class V>
[[gnu::always_inline]] inline Multiples<V> multiples_between(const QuarterTurns<V>& lo, const QuarterTurns<V>& hi) {
    const V zero = splat<V>(0.0);
    const Bits<V> first = lo.quadrant + 1 - one_if<V>(lo.y <= zero);
    const Bits<V> last = hi.quadrant - one_if<V>(hi.y < zero);
    return {first, small_to_double<V>(last - first + 1)};
}

template <class V>
[[gnu::always_inline]] inline Mask<V> has_residue(const Multiples<V>& b, std::uint64_t residue) {
    return small_to_double<V>((residue - b.first) & 3) < b.count;
}

}  // namespace element
}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
