// Rounding to integers and to decimals, and the absolute value. Each is
// monotone on the endpoints (abs piecewise), so the image of [lo, hi] lies
// between the values at the two ends; the stored midpoint is the function at
// the old midpoint, clamped into the new range.
#include <cmath>

#include "boundwise/elementwise/functions.hpp"
#include "boundwise/elementwise/hull.hpp"
#include "boundwise/elementwise/rules.hpp"
#include "element_map.hpp"

namespace boundwise {

namespace {

using elementwise::Dispatch;
using elementwise::map_elements;
using elementwise::map_kernel;

template <IntegerRounding Mode>
double to_integer(double x) {
    if constexpr (Mode == IntegerRounding::Floor) return std::floor(x);
    if constexpr (Mode == IntegerRounding::Ceil) return std::ceil(x);
    if constexpr (Mode == IntegerRounding::Trunc) return std::trunc(x);
    // Round to nearest in the default rounding mode: half to even.
    return std::nearbyint(x);
}

template <IntegerRounding Mode>
Interval integer_rule(double m, double r) {
    const Endpoints x = element_endpoints(m, r);
    return hull_with_midpoint(to_integer<Mode>(x.lo), to_integer<Mode>(x.hi), to_integer<Mode>(m));
}

// ---------------------------------------------------------------------------
// round(x, n): the nearest multiple of 10^-n, ties to even. With 10^|n| exact
// (|n| <= 22) and the scaled value below 2^52, the integer k = round(x 10^n) is
// found exactly: rint of the rounded product (or quotient) is right unless that
// is itself a half-integer, and then the sign of the exact rounding error
// (fma residual) says on which side of the tie the exact value lies. The
// result k / 10^n is then rounded outward. Elsewhere round(x, n) is bounded by
// |round(x, n) - x| <= 10^-n / 2 and by having the sign of x.
// ---------------------------------------------------------------------------

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kExactPowers = 22;
constexpr double kTwo52 = 0x1p52;

struct Bounds {
    double lo;
    double hi;
};

// Enclosure of 10^e for e >= 0 by binary exponentiation with directed
// products; the upper end may reach +inf, the lower end saturates at DBL_MAX.
Bounds power_of_ten(std::uint32_t e) {
    Bounds result{1.0, 1.0};
    Bounds base{10.0, 10.0};
    while (e) {
        if (e & 1u) result = {mul_down(result.lo, base.lo), mul_up(result.hi, base.hi)};
        e >>= 1;
        if (e) base = {mul_down(base.lo, base.lo), mul_up(base.hi, base.hi)};
    }
    return result;
}

class DecimalRounding {
public:
    explicit DecimalRounding(std::int32_t n) : n_(n) {
        const std::uint32_t e = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
        const Bounds ten = power_of_ten(e);
        exact_ = e <= kExactPowers ? kPowersOfTen[e] : 0.0;
        // Bounds of half = 10^-n / 2.
        if (n >= 0) {
            half_lo_ = div_down(0.5, ten.hi);
            half_hi_ = div_up(0.5, ten.lo);
        } else {
            half_lo_ = 0.5 * ten.lo;
            half_hi_ = 0.5 * ten.hi;
        }
    }

    // Lower and upper bounds of round(x, n) and its value rounded to nearest.
    struct Rounded {
        double lo;
        double hi;
        double near;
    };

    Rounded operator()(double x) const {
        if (!is_finite(x)) return {x, x, x};
        // |x| <= 10^-n / 2: the nearest multiple is 0 (a tie goes to the even 0).
        if (std::fabs(x) <= half_lo_) return {0.0, 0.0, 0.0};
        if (exact_ != 0) {
            if (n_ >= 0) {
                const double p = x * exact_;
                if (std::fabs(p) < kTwo52) {
                    const double k = nearest_integer(p, product_residual(x, exact_, p));
                    return {div_down(k, exact_), div_up(k, exact_), k / exact_};
                }
            } else {
                const double q = x / exact_;
                if (std::fabs(q) < kTwo52) {
                    // exact_ * q - x has the sign opposite to x / exact_ - q.
                    const double k = nearest_integer(q, -quotient_residual(x, exact_, q));
                    return {mul_down(k, exact_), mul_up(k, exact_), k * exact_};
                }
            }
        }
        double lo = add_down_clamped(x, -half_hi_);
        double hi = add_up_clamped(x, half_hi_);
        if (x > 0) lo = max_num(lo, 0.0);
        if (x < 0) hi = min_num(hi, 0.0);
        return {lo, hi, x};
    }

private:
    // The integer nearest to v = t + e (ties to even), for t = fl(v) with
    // |t| < 2^52 and `error` of the sign of e.
    static double nearest_integer(double t, double error) {
        const double k = std::nearbyint(t);
        if (std::fabs(t - std::trunc(t)) != 0.5 || error == 0) return k;
        return error > 0 ? t + 0.5 : t - 0.5;
    }

    std::int32_t n_;
    double exact_;  // 10^|n| when representable, else 0
    double half_lo_;
    double half_hi_;
};

}  // namespace

Array round_to_integer(const Array& a, IntegerRounding mode) {
    switch (mode) {
        case IntegerRounding::Floor: return map_kernel(a, &ElementKernels::floor, Dispatch::Pool).value;
        case IntegerRounding::Ceil: return map_kernel(a, &ElementKernels::ceil, Dispatch::Pool).value;
        case IntegerRounding::Trunc: return map_kernel(a, &ElementKernels::trunc, Dispatch::Pool).value;
        case IntegerRounding::HalfEven: return map_kernel(a, &ElementKernels::round_half_even, Dispatch::Pool).value;
    }
    return {};
}

Array round_decimals(const Array& a, std::int32_t ndigits) {
    const DecimalRounding round(ndigits);
    const auto rule = [&round](double m, double r, Status&) noexcept {
        const Endpoints x = element_endpoints(m, r);
        if (std::isnan(x.lo)) return Interval{kNaN, kNaN};
        return hull_with_midpoint(round(x.lo).lo, round(x.hi).hi, round(m).near);
    };
    return map_elements(a, rule, Dispatch::Pool).value;
}

Array absolute(const Array& a) { return map_kernel(a, &ElementKernels::absolute, Dispatch::Pool).value; }

namespace elementwise {

Interval absolute_rule(double m, double r, Status&) noexcept {
    const Endpoints x = element_endpoints(m, r);
    if (x.lo >= 0) return hull_with_midpoint(x.lo, x.hi, std::fabs(m));
    if (x.hi <= 0) return hull_with_midpoint(-x.hi, -x.lo, std::fabs(m));
    return hull_with_midpoint(0.0, max_num(-x.lo, x.hi), std::fabs(m));
}

Interval floor_rule(double m, double r, Status&) noexcept { return integer_rule<IntegerRounding::Floor>(m, r); }
Interval ceil_rule(double m, double r, Status&) noexcept { return integer_rule<IntegerRounding::Ceil>(m, r); }
Interval trunc_rule(double m, double r, Status&) noexcept { return integer_rule<IntegerRounding::Trunc>(m, r); }
Interval round_half_even_rule(double m, double r, Status&) noexcept {
    return integer_rule<IntegerRounding::HalfEven>(m, r);
}

}  // namespace elementwise

}  // namespace boundwise
