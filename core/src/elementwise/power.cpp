// Powers x^p of an interval base and an interval (or exact) exponent.
//
// An exact integer exponent k with |k| < 2^53 uses binary exponentiation with
// interval products, for every base sign. Otherwise the base splits into its
// non-negative part, where x^p is monotone in x for fixed p and in p for fixed
// x (so its extremes over a box lie at the corners), and its negative part,
// which only integer exponents reach: there |x|^q is enclosed over the box of
// magnitudes and integers, with the sign each parity gives. Exponents of 2^53
// or more are even integers. 0^p is 0 for p > 0, 1 for p = 0 and +inf (the
// pole) for p < 0; corner values come from the library pow, four doubles
// outward (see exp_log.cpp for the accuracy it is trusted with).
#include <cmath>
#include <cstdint>

#include "boundwise/elementwise/functions.hpp"
#include "boundwise/elementwise/hull.hpp"
#include "boundwise/elementwise/rules.hpp"
#include "boundwise/kernels/element_functions.hpp"
#include "element_map.hpp"

namespace boundwise {

namespace {

constexpr double kTwo53 = 0x1p53;

bool is_integer(double p) { return std::isfinite(p) && std::trunc(p) == p; }

// x^k for an integer k, |k| < 2^53, by squaring: general interval products,
// so a square of an interval holding 0 is enclosed as a product of two
// independent factors (wider than the exact square, never narrower).
Endpoints integer_power(Endpoints x, double k) {
    // A square of a base of one strict sign: the corners of x * x are ordered
    // (0 < lo <= hi gives lo*lo <= lo*hi <= hi*hi) and directed rounding is
    // monotone, so the corner hull is the two outer products, and the factor
    // 1 of the first step below is exact.
    if (k == 2 && x.lo > 0) return {mul_down(x.lo, x.lo), mul_up(x.hi, x.hi)};
    if (k == 2 && x.hi < 0) return {mul_down(x.hi, x.hi), mul_up(x.lo, x.lo)};
    auto e = static_cast<std::uint64_t>(std::fabs(k));
    Endpoints result{1.0, 1.0};
    Endpoints base = x;
    if (e & 1u) result = mul_endpoints(result, base);
    while (e >= 2) {
        e /= 2;
        base = mul_endpoints(base, base);
        if (e & 1u) result = mul_endpoints(result, base);
    }
    if (k > 0) return result;
    if (result.lo <= 0 && result.hi >= 0) return {-kInfinity, kInfinity};
    return {div_down(1.0, result.hi), div_up(1.0, result.lo)};
}

// Enclosure of x^p for x >= 0 from the library value. Bases 0, 1 and +inf
// and exponents 0, 1 and +-inf give exact values (limits at infinity).
Endpoints pow_point(double x, double p) {
    const double v = std::pow(x, p);
    if (x == 0 || x == 1 || std::isinf(x) || p == 0 || p == 1 || std::isinf(p)) return {v, v};
    return {max_num(pred4(v), 0.0), succ4(v)};
}

// x^p over x in [a, b] (0 <= a <= b) and p in [plo, phi]: the corner hull.
Endpoints corner_power(double a, double b, double plo, double phi) {
    if (plo == phi) {  // two corners (one for a point base) instead of four equal pairs
        const Endpoints at_a = pow_point(a, plo);
        if (a == b) return at_a;
        const Endpoints at_b = pow_point(b, plo);
        return {min_num(at_a.lo, at_b.lo), max_num(at_a.hi, at_b.hi)};
    }
    const Endpoints c[4] = {pow_point(a, plo), pow_point(a, phi), pow_point(b, plo), pow_point(b, phi)};
    Endpoints hull = c[0];
    for (const Endpoints& v : c) hull = {min_num(hull.lo, v.lo), max_num(hull.hi, v.hi)};
    return hull;
}

Endpoints join(const Endpoints* a, const Endpoints* b) {
    if (!a) return *b;
    if (!b) return *a;
    return {min_num(a->lo, b->lo), max_num(a->hi, b->hi)};
}

// +0 for -0 and for the negative side of a base.
double at_least_zero(double v) { return v > 0 ? v : 0.0; }

// x^q for x in [lo, min(hi, 0)] (lo < 0) and the integers q in [qlo, qhi]:
// even q give |x|^q, odd q -|x|^q, each over the box of magnitudes and of its
// integers. A single integer is a double, even from 2^53 on; a longer range
// holds both parities, split exactly while its ends are below 2^52.
const Endpoints* negative_base_power(Endpoints x, double qlo, double qhi, Endpoints& out) {
    if (!(qlo <= qhi)) return nullptr;
    const double a = at_least_zero(-x.hi);
    const double b = -x.lo;
    const auto odd_part = [&](double lo, double hi) {
        const Endpoints magnitude = corner_power(a, b, lo, hi);
        return Endpoints{-magnitude.hi, -magnitude.lo};
    };
    if (qlo == qhi) {
        const bool odd = std::fabs(qlo) < kTwo53 && std::fmod(qlo, 2.0) != 0;
        out = odd ? odd_part(qlo, qlo) : corner_power(a, b, qlo, qlo);
        return &out;
    }
    if (!(max_num(std::fabs(qlo), std::fabs(qhi)) < kTwo53 / 2)) {
        const Endpoints magnitude = corner_power(a, b, qlo, qhi);
        out = {-magnitude.hi, magnitude.hi};
        return &out;
    }
    const bool lo_odd = std::fmod(qlo, 2.0) != 0;
    const bool hi_odd = std::fmod(qhi, 2.0) != 0;
    const double even_lo = lo_odd ? qlo + 1 : qlo;
    const double even_hi = hi_odd ? qhi - 1 : qhi;
    const double odd_lo = lo_odd ? qlo : qlo + 1;
    const double odd_hi = hi_odd ? qhi : qhi - 1;
    Endpoints even_values;
    Endpoints odd_values;
    const Endpoints* even = even_lo <= even_hi ? &(even_values = corner_power(a, b, even_lo, even_hi)) : nullptr;
    const Endpoints* odd = odd_lo <= odd_hi ? &(odd_values = odd_part(odd_lo, odd_hi)) : nullptr;
    out = join(even, odd);
    return &out;
}

// The enclosure of {x^p : x in X, p in [plo, phi], x^p defined}, with 0^0 = 1;
// (NaN, NaN) when that set is empty (flagged) or an operand is NaN.
Endpoints interval_pow(Endpoints x, double plo, double phi, Status& flags) {
    if (plo == 0 && phi == 0) return {1.0, 1.0};
    if (std::isnan(x.lo) || std::isnan(plo)) return {kNaN, kNaN};
    if (plo == phi && is_integer(plo)) {
        if (std::fabs(plo) < kTwo53) return integer_power(x, plo);
        // An even exponent: x^p = |x|^p.
        const double mig = x.lo > 0 ? x.lo : at_least_zero(-x.hi);
        const double mag = max_num(std::fabs(x.lo), std::fabs(x.hi));
        return corner_power(mig, mag, plo, plo);
    }
    Endpoints non_negative;
    Endpoints negative;
    const Endpoints* positive_part = nullptr;
    const Endpoints* negative_part = nullptr;
    if (x.hi >= 0)
        positive_part = &(non_negative = corner_power(at_least_zero(x.lo), at_least_zero(x.hi), plo, phi));
    if (x.lo < 0) negative_part = negative_base_power(x, std::ceil(plo), std::floor(phi), negative);
    if (!positive_part && !negative_part) {
        flags |= Status::DomainError;
        return {kNaN, kNaN};
    }
    return join(positive_part, negative_part);
}

Interval store(Endpoints e) { return from_endpoints(e.lo, e.hi); }

}  // namespace

Interval elementwise::power_rule(double m, double r, double p, Status& flags) noexcept {
    return store(interval_pow(element_endpoints(m, r), p, p, flags));
}

Result<Array> power(const Array& a, double p) {
    if (std::fabs(p) >= 1 && std::fabs(p) < kTwo53 && is_integer(p)) {
        const IntegerPowerKernel run = element_kernels().integer_power;
        const auto powers = [&](const double* m, const double* r, KernelOutput out, std::size_t n) noexcept {
            return run(m, r, out, n, p);
        };
        return elementwise::map_chunks(a, elementwise::Dispatch::Pool, powers);
    }
    const auto rule = [p](double m, double r, Status& flags) noexcept {
        return elementwise::power_rule(m, r, p, flags);
    };
    return elementwise::map_elements(a, rule, elementwise::Dispatch::Pool);
}

Result<Array> power(double x, const Array& a) {
    const Endpoints base = element_endpoints(x, 0.0);
    const auto rule = [base](double m, double r, Status& flags) noexcept {
        const Endpoints exponent = element_endpoints(m, r);
        return store(interval_pow(base, exponent.lo, exponent.hi, flags));
    };
    return elementwise::map_elements(a, rule, elementwise::Dispatch::Pool);
}

Result<Array> power(const Array& a, const Array& b) {
    const auto rule = [](double am, double ar, double bm, double br, Status& flags) noexcept {
        const Endpoints exponent = element_endpoints(bm, br);
        return store(interval_pow(element_endpoints(am, ar), exponent.lo, exponent.hi, flags));
    };
    return elementwise::map_broadcast(a, b, rule);
}

}  // namespace boundwise
