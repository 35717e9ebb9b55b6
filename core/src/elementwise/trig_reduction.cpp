// Reduction modulo pi/2. Below 2^50 the argument is reduced with pi/2 split
// into three doubles (Cody and Waite's scheme, with every product split exactly
// by fma and the sum kept as a TwoSum pair); beyond, with the bits of 2/pi
// that matter for x (Payne and Hanek, "Radian reduction for trigonometric
// functions", SIGNUM Newsletter 18, 1983). Either way the error is bounded
// explicitly, so the library is trusted only on [-pi/4, pi/4], where it does
// no reduction of its own.
#include "trig_reduction.hpp"

#include <bit>
#include <cmath>

#include "boundwise/interval/rounding.hpp"

namespace boundwise::elementwise {

namespace {

// pi/2 = kHalfPi1 + kHalfPi2 + kHalfPi3 + d with |d| < 2^-163.
constexpr double kHalfPi1 = 0x1.921fb54442d18p+0;
constexpr double kHalfPi2 = 0x1.1a62633145c07p-54;
constexpr double kHalfPi3 = -0x1.f1976b7ed8fbcp-110;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kQuarterPiBelow = 0.785;  // below pi/4: no reduction
// Below this, k = round(x 2/pi) and k +- a few are exact doubles.
constexpr double kCodyWaiteLimit = 0x1p50;

// Bits 1 to 1280 of 2/pi after the binary point, most significant first.
constexpr std::uint64_t kTwoOverPiBits[] = {
    0xA2F9836E4E441529ULL, 0xFC2757D1F534DDC0ULL, 0xDB6295993C439041ULL, 0xFE5163ABDEBBC561ULL,
    0xB7246E3A424DD2E0ULL, 0x06492EEA09D1921CULL, 0xFE1DEB1CB129A73EULL, 0xE88235F52EBB4484ULL,
    0xE99C7026B45F7E41ULL, 0x3991D639835339F4ULL, 0x9C845F8BBDF9283BULL, 0x1FF897FFDE05980FULL,
    0xEF2F118B5A0A6D1FULL, 0x6D367ECF27CB09B7ULL, 0x4F463F669E5FEA2DULL, 0x7527BAC7EBE5F17BULL,
    0x3D0739F78A5292EAULL, 0x6BFB5FB11F8D5D08ULL, 0x56033046FC7B6BABULL, 0xF0CFBC209AF4361DULL,
};

// t = x - k pi/2 as a TwoSum pair, with a bound of its error. The products
// k * part are exact pairs from fma except the last (k times a 53-bit part is
// a multiple of 2^-52 or 2^-106, so no residual underflows); the partial sums
// keep their exact TwoSum errors, which are then added in plain arithmetic.
// Error sources: that plain sum (at most 5 roundings, each at most 2^-53 of the
// running total, so at most 2^-50 times the sum of the magnitudes), the last
// product (2^-53 |k kHalfPi3|), the tail d of pi/2 (|k| 2^-163), and the final
// TwoSum pair's low part, which the caller drops.
[[gnu::always_inline]] inline Reduction cody_waite_steps(double x, double k) {
    const double h1 = k * kHalfPi1;
    const double l1 = std::fma(k, kHalfPi1, -h1);
    const double h2 = k * kHalfPi2;
    const double l2 = std::fma(k, kHalfPi2, -h2);
    const double h3 = k * kHalfPi3;
    const double terms[] = {-h1, -l1, -h2, -l2, -h3};
    double sum = x;
    double err = 0.0;
    double err_magnitude = 0.0;
    for (const double term : terms) {
        const double s = sum + term;
        const double e = sum_error(sum, term, s);
        err += e;
        err_magnitude += std::fabs(e);
        sum = s;
    }
    const double t = sum + err;
    const double low = sum_error(sum, err, t);
    double delta = add_up(std::fabs(low), err_magnitude * 0x1p-49);
    delta = add_up(delta, std::fabs(h3) * 0x1p-52);
    delta = add_up(delta, std::fabs(k) * 0x1p-162);
    return {static_cast<std::int64_t>(k), t, delta};
}

// The same steps compiled for the baseline and for processors with FMA,
// where fma is one instruction instead of a library call; the results are
// identical (fma is correctly rounded either way).
Reduction cody_waite_baseline(double x, double k) { return cody_waite_steps(x, k); }
[[gnu::target("fma")]] Reduction cody_waite_fma(double x, double k) { return cody_waite_steps(x, k); }

Reduction cody_waite(double x, double k) {
    static const bool has_fma = __builtin_cpu_supports("fma");
    return has_fma ? cody_waite_fma(x, k) : cody_waite_baseline(x, k);
}

// The integer nearest to v (ties to even) for |v| <= 2^51: adding 1.5 * 2^52
// leaves no fraction bits, and the sum is rounded to nearest.
double nearest_integer(double v) {
    constexpr double kShifter = 0x1.8p52;
    return (v + kShifter) - kShifter;
}

Reduction reduce_small(double x) {
    double k = nearest_integer(x * kTwoOverPi);
    Reduction r = cody_waite(x, k);
    // The first k may be off by a unit where x * 2/pi is rounded; the reduced
    // value corrects it (a second pass only guards a doubtful rounding of
    // t * 2/pi).
    for (int pass = 0; pass < 2; ++pass) {
        const double step = nearest_integer(r.t * kTwoOverPi);
        if (step == 0) break;
        k += step;
        r = cody_waite(x, k);
    }
    if (!(std::fabs(r.t) < 0.7854)) r.delta = kInfinity;  // not reached; sound all the same
    return r;
}

// The 64 bits of 2/pi from bit j on (bit 1 is the first after the point;
// bits 0, -1, ... before it are 0).
std::uint64_t two_over_pi_bits(int j) {
    if (j < 1) return kTwoOverPiBits[0] >> (1 - j);
    const int word = (j - 1) / 64;
    const int shift = (j - 1) % 64;
    const std::uint64_t high = kTwoOverPiBits[word] << shift;
    return shift ? high | (kTwoOverPiBits[word + 1] >> (64 - shift)) : high;
}

using U128 = unsigned __int128;

// x = M 2^E with E >= -2 (|x| >= 2^50). In x * 2/pi = M sum_j b_j 2^(E-j), the
// bits j <= E - 2 give multiples of 4, so only bits from E - 1 on count; 192
// of them, W, give x * 2/pi = 4n + M W 2^-190 + tail with tail < M 2^-190 <=
// 2^-137. Of the product the two bits above 2^-190 give k mod 4 and the next
// 128 the fraction f, truncated (below 2^-128).
Reduction payne_hanek(double x) {
    int exponent = 0;
    const double mantissa = std::frexp(std::fabs(x), &exponent);
    const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));
    const int e = exponent - 53;
    const std::uint64_t w0 = two_over_pi_bits(e - 1);
    const std::uint64_t w1 = two_over_pi_bits(e + 63);
    const std::uint64_t w2 = two_over_pi_bits(e + 127);
    // P = m * (w0 w1 w2) in four 64-bit limbs, least significant first.
    const U128 p2 = U128{m} * w2;
    const U128 p1 = U128{m} * w1 + static_cast<std::uint64_t>(p2 >> 64);
    const U128 p0 = U128{m} * w0 + static_cast<std::uint64_t>(p1 >> 64);
    const auto limb0 = static_cast<std::uint64_t>(p2);
    const auto limb1 = static_cast<std::uint64_t>(p1);
    const auto limb2 = static_cast<std::uint64_t>(p0);
    auto quadrant = static_cast<std::int64_t>(limb2 >> 62);
    const U128 fraction = (U128{(limb2 << 2) | (limb1 >> 62)} << 64) | ((limb1 << 2) | (limb0 >> 62));
    // Fold f in [1/2, 1) to f - 1 so that |t| <= pi/4.
    const bool upper_half = (fraction >> 127) != 0;
    U128 g = upper_half ? U128{0} - fraction : fraction;
    if (upper_half) quadrant += 1;
    if (g == 0) return {quadrant, 0.0, 0x1p-120};  // below the resolution; not reached for doubles
    // g 2^-128 as a pair of doubles: its leading 106 bits (relative error 2^-105).
    const int zeros = std::countl_zero(static_cast<std::uint64_t>(g >> 64)) +
                      ((g >> 64) == 0 ? std::countl_zero(static_cast<std::uint64_t>(g)) : 0);
    g <<= zeros;
    const double f_hi = std::ldexp(static_cast<double>(static_cast<std::uint64_t>(g >> 75)), 75 - 128 - zeros);
    const double f_lo =
        std::ldexp(static_cast<double>(static_cast<std::uint64_t>(g >> 22) & ((1ULL << 53) - 1)), 22 - 128 - zeros);
    // t = f pi/2 as a pair: the product of the leading parts is split exactly,
    // the small cross terms are rounded (relative 2^-104 of t).
    const double t_hi = f_hi * kHalfPi1;
    const double t_low = std::fma(f_hi, kHalfPi1, -t_hi) + (f_hi * kHalfPi2 + f_lo * kHalfPi1);
    double t = t_hi + t_low;
    const double low = sum_error(t_hi, t_low, t);
    // f: tail and truncation below 2^-127; pair 2^-105 f; product 2^-103 t.
    double delta = add_up(std::fabs(low), std::fabs(t) * 0x1p-100);
    delta = add_up(delta, 0x1p-126);
    if (upper_half) t = -t;
    if (x < 0) {
        t = -t;
        quadrant = -quadrant;
    }
    return {quadrant & 3, t, delta};
}

}  // namespace

Reduction reduce_half_pi(double x) {
    if (std::fabs(x) < kQuarterPiBelow) return {0, x, 0.0};
    if (std::fabs(x) < kCodyWaiteLimit) return reduce_small(x);
    return payne_hanek(x);
}

}  // namespace boundwise::elementwise
