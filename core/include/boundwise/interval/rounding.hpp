// Directed rounding emulated in round-to-nearest double arithmetic.
//
// The processor's rounding mode is never changed. Upward and downward results
// come from the exact rounding error of the nearest result, obtained with
// error-free transformations: TwoSum (Knuth, TAOCP vol. 2, 4.2.2) for sums and
// the fused multiply-add for products and quotients (Boldo and Muller,
// "Exact and approximated error of the FMA", IEEE TC 2011; the remainder of a
// correctly rounded division is exact, Bohlender-Walter-Kornerup-Matula 1991).
//
// The fma transformations are exact only while the error is representable.
// When a product or quotient lies in or near the subnormal range,
// fma(x, y, -p) may round a non-zero error to zero (1e-200 * 1e-200 gives
// p = 0 and a residual of 0). Such cases are recognised by magnitude and
// decided again on operands scaled by powers of two (exact), so exact results
// stay exact and inexact ones are never taken for exact.
//
// Every function is force-inlined so that kernels compiled for an fma-capable
// target get the hardware instruction instead of a library call.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace boundwise {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();
inline constexpr double kDoubleMax = std::numeric_limits<double>::max();
inline constexpr double kMinSubnormal = 0x1p-1074;  // eta, the smallest positive double

// |p| at or above this bound: a non-zero error x*y - p of a rounded product p
// has its lowest bit at or above eta, so fma(x, y, -p) is exact. (The lowest
// bit of x*y is at least |x*y| * 2^-106; below eta only if |x*y| < 2^-968.)
inline constexpr double kProductResidualLimit = 0x1p-967;
// |n| at or above this bound: d*q - n is exact in fma(d, q, -n) for q = fl(n/d)
// (a hidden residual needs |d*q| < 2^-969 and so |n| < 2^-968).
inline constexpr double kQuotientResidualLimit = 0x1p-966;

[[gnu::always_inline]] inline bool is_finite(double x) { return std::fabs(x) <= kDoubleMax; }

// Next double above x: +-0 gives eta, DBL_MAX gives +inf; +inf and NaN are kept.
[[gnu::always_inline]] inline double succ(double x) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    if (x == 0) return kMinSubnormal;
    if (x > 0) return x == kInfinity ? x : std::bit_cast<double>(bits + 1);
    if (x < 0) return std::bit_cast<double>(bits - 1);
    return x;
}

// Next double below x: -succ(-x).
[[gnu::always_inline]] inline double pred(double x) { return -succ(-x); }

// succ(x) when `step` holds, else x, for finite x; without a branch, since the
// sign of a rounding error is as good as random. The step moves the bit
// pattern by one in the direction of the sign of x; a zero (of either sign,
// made +0 by adding +0) steps to eta.
[[gnu::always_inline]] inline double succ_if(bool step, double x) {
    const std::uint64_t b = std::bit_cast<std::uint64_t>(x + 0.0);
    const std::uint64_t stepped = b + 1 - ((b >> 63) << 1);
    const std::uint64_t mask = 0 - static_cast<std::uint64_t>(step);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(x) & ~mask) | (stepped & mask));
}

// pred(x) when `step` holds, else x, for finite x.
[[gnu::always_inline]] inline double pred_if(bool step, double x) { return -succ_if(step, -x); }

// Four steps up: a result of the math library is trusted to lie within four
// doubles of the exact value, so succ4 of it bounds the exact value from
// above. +inf and NaN are kept; -inf steps to -DBL_MAX and on. Equal to four
// calls of succ, computed on the monotone integer key of x (the bit pattern for
// x >= 0, its negation for x < 0; both zeros have key 0).
[[gnu::always_inline]] inline double succ4(double x) {
    constexpr std::int64_t kInfinityKey = 0x7FF0000000000000;
    const auto bits = std::bit_cast<std::int64_t>(x);
    const std::int64_t magnitude = bits & 0x7FFFFFFFFFFFFFFF;
    if (magnitude > kInfinityKey) return x;  // NaN
    std::int64_t key = bits < 0 ? -magnitude : magnitude;
    key = key + 4 < kInfinityKey ? key + 4 : kInfinityKey;
    return std::bit_cast<double>(key < 0 ? (-key | std::numeric_limits<std::int64_t>::min()) : key);
}

// Four steps down: -succ4(-x).
[[gnu::always_inline]] inline double pred4(double x) { return -succ4(-x); }

// TwoSum: for s = fl(x + y), the exact x + y - s (exact whenever s is finite).
// Its one intermediate that can overflow while s is finite is b = fl(s - x)
// (Boldo, Graillat and Muller, "On the robustness of the 2Sum and Fast2Sum
// algorithms", ACM TOMS 2017): s - x = y + (s - x - y) rounds to +-inf only
// for y = +-DBL_MAX and an error of exactly half an ulp of s. Clamping b to
// +-DBL_MAX gives b = y there, and then |y| >= |x| makes s - y exact (Dekker's
// Fast2Sum), so the sum below is exact again. A NaN b is kept as it is.
[[gnu::always_inline]] inline double sum_error(double x, double y, double s) {
    double b = s - x;
    b = kDoubleMax < b ? kDoubleMax : b;
    b = -kDoubleMax > b ? -kDoubleMax : b;
    return (x - (s - b)) + (y - b);
}

// Smallest double >= x + y (infinite and NaN sums returned unchanged).
[[gnu::always_inline]] inline double add_up(double x, double y) {
    const double s = x + y;
    return is_finite(s) ? succ_if(sum_error(x, y, s) > 0, s) : s;
}

// Largest double <= x + y (infinite and NaN sums returned unchanged).
[[gnu::always_inline]] inline double add_down(double x, double y) {
    const double s = x + y;
    return is_finite(s) ? pred_if(sum_error(x, y, s) < 0, s) : s;
}

[[gnu::always_inline]] inline double diff_down(double x, double y) { return add_down(x, -y); }

// Clamped forms for endpoint routines: an upper bound that overflowed to -inf
// is at most -DBL_MAX, a lower bound that overflowed to +inf at least DBL_MAX.
[[gnu::always_inline]] inline double add_up_clamped(double x, double y) {
    const double s = add_up(x, y);
    return s == -kInfinity ? -kDoubleMax : s;
}
[[gnu::always_inline]] inline double add_down_clamped(double x, double y) {
    const double s = add_down(x, y);
    return s == kInfinity ? kDoubleMax : s;
}

namespace detail {

// x*y - p decided on x = mx 2^ex, y = my 2^ey with mx, my in [0.5, 1): the
// scaled product mx*my is a multiple of 2^-106 and p 2^-(ex+ey) is exact (a
// scaling up into [2^-2, 4]), so a non-zero difference cannot underflow and
// the returned value has the sign of x*y - p (0 exactly when x*y = p).
[[gnu::cold, gnu::noinline]] inline double scaled_product_residual(double x, double y, double p) {
    int ex = 0;
    int ey = 0;
    const double mx = std::frexp(x, &ex);
    const double my = std::frexp(y, &ey);
    return std::fma(mx, my, -std::ldexp(p, -(ex + ey)));
}

// d*q - n decided on n = mn 2^en, d = md 2^ed: d*q - n = 2^en (md q' - mn) with
// q' = q 2^(ed-en) exact and of magnitude in (2^-2, 4), so md q' - mn is a
// multiple of 2^-107 and its sign survives rounding.
[[gnu::cold, gnu::noinline]] inline double scaled_quotient_residual(double n, double d, double q) {
    int en = 0;
    int ed = 0;
    const double mn = std::frexp(n, &en);
    const double md = std::frexp(d, &ed);
    return std::fma(md, std::ldexp(q, ed - en), -mn);
}

// Upper bound of |v| from t = RN(v) when v may have been rounded: the
// classical bound |RN(v) - v| <= u|v| + eta/2 (u = 2^-53) gives
// |v| <= (|t| + eta/2)(1 + 2u) <= |t| (1 + 2^-52) + 3 eta/2 (the product
// |t| 2^-52 may itself lose eta/2).
[[gnu::cold, gnu::noinline]] inline double rounded_residual_bound(double t) {
    const double a = std::fabs(t);
    return add_up(add_up(a, a * 0x1p-52), 0x1p-1073);
}

}  // namespace detail

// A value with the sign of the exact x*y - p for finite x, y and finite p =
// fl(x*y) (zero exactly when the product is exact).
[[gnu::always_inline]] inline double product_residual(double x, double y, double p) {
    const double t = std::fma(x, y, -p);
    if (t == 0 && std::fabs(p) < kProductResidualLimit && x != 0 && y != 0) [[unlikely]]
        return detail::scaled_product_residual(x, y, p);
    return t;
}

// A value with the sign of the exact d*q - n for q = fl(n/d) finite.
[[gnu::always_inline]] inline double quotient_residual(double n, double d, double q) {
    const double t = std::fma(d, q, -n);
    if (t == 0 && std::fabs(n) < kQuotientResidualLimit && n != 0 && q != 0) [[unlikely]]
        return detail::scaled_quotient_residual(n, d, q);
    return t;
}

// Upper bound of |x*y - p| for p = fl(x*y) finite: the fma residual, exact
// unless p is tiny; then 0 when the product is exact and otherwise the
// residual widened by the underflow term.
[[gnu::always_inline]] inline double product_error(double x, double y, double p) {
    const double t = std::fma(x, y, -p);
    if (std::fabs(p) < kProductResidualLimit && x != 0 && y != 0) [[unlikely]] {
        if (detail::scaled_product_residual(x, y, p) == 0) return 0;
        return detail::rounded_residual_bound(t);
    }
    return std::fabs(t);
}

// Upper bound of |d*q - n| for q = fl(n/d) finite (the numerator of the
// error of q), with the same underflow treatment. A NaN result (d infinite)
// is left for the caller.
[[gnu::always_inline]] inline double quotient_error(double n, double d, double q) {
    const double t = std::fma(d, q, -n);
    if (std::fabs(n) < kQuotientResidualLimit && n != 0 && q != 0) [[unlikely]] {
        if (detail::scaled_quotient_residual(n, d, q) == 0) return 0;
        return detail::rounded_residual_bound(t);
    }
    return std::fabs(t);
}

// Smallest double >= x*y; an overflow to -inf gives -DBL_MAX.
[[gnu::always_inline]] inline double mul_up(double x, double y) {
    const double p = x * y;
    if (is_finite(p)) return succ_if(product_residual(x, y, p) > 0, p);
    return p == -kInfinity ? -kDoubleMax : p;
}

// Largest double <= x*y; an overflow to +inf gives DBL_MAX.
[[gnu::always_inline]] inline double mul_down(double x, double y) {
    const double p = x * y;
    if (is_finite(p)) return pred_if(product_residual(x, y, p) < 0, p);
    return p == kInfinity ? kDoubleMax : p;
}

// Smallest double >= n/d. With t of the sign of d*q - n, q is below the exact
// quotient when t < 0 for d > 0 and when t > 0 for d < 0.
[[gnu::always_inline]] inline double div_up(double n, double d) {
    const double q = n / d;
    if (is_finite(q)) {
        const double t = quotient_residual(n, d, q);
        return succ_if((t != 0) & ((d > 0) != (t > 0)), q);
    }
    return q == -kInfinity ? -kDoubleMax : q;
}

// Largest double <= n/d.
[[gnu::always_inline]] inline double div_down(double n, double d) {
    const double q = n / d;
    if (is_finite(q)) {
        const double t = quotient_residual(n, d, q);
        return pred_if((t != 0) & ((d <= 0) != (t > 0)), q);
    }
    return q == kInfinity ? kDoubleMax : q;
}

}  // namespace boundwise
