// The rounding primitives and the endpoint conversions against exact
// arithmetic: directed results are the nearest double on their side, error
// terms are exact or bound the exact error, on subnormals, underflowing fma
// residuals, overflow and ties.
#include <cmath>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "exact.hpp"
#include "harness.hpp"
#include "values.hpp"

namespace {

using namespace boundwise;
using bwtest::Exact;
using bwtest::kInf;

constexpr int kPairs = 40000;

double next_up(double x) { return std::nextafter(x, kInf); }
double next_down(double x) { return std::nextafter(x, -kInf); }

// Whether r is the smallest double >= the exact value whose comparison with a
// finite double t is sign(t - exact) = above(t).
template <class Above>
bool tight_upper(double r, Above above) {
    if (std::isnan(r) || r == -kInf) return false;
    const double below = next_down(r);
    return (r == kInf || above(r) >= 0) && (below == -kInf || above(below) < 0);
}

template <class Above>
bool tight_lower(double r, Above above) {
    return tight_upper(-r, [&](double t) { return -above(-t); });
}

auto versus(const Exact& exact) {
    return [exact](double t) { return compare(Exact::of(t), exact); };
}

// sign(t - n/d) from exact products: t - n/d has the sign of (t d - n) sign(d).
auto versus_quotient(double n, double d) {
    return [n, d](double t) { return (Exact::product(t, d) - Exact::of(n)).sign() * (d > 0 ? 1 : -1); };
}

// Pairs of hard doubles, and pairs whose product or quotient lies near the
// range where the fma residual underflows.
template <class Check>
void for_pairs(std::uint64_t seed, Check check) {
    bwtest::Values v(seed);
    for (int i = 0; i < kPairs; ++i) {
        double x = v.finite();
        double y = v.finite();
        if (i % 4 == 0) {  // x * y near 2^-967 .. 2^-1100
            x = v.sign() * std::ldexp(1.0 + v.unit(), static_cast<int>(v.below(400)) - 200);
            y = v.sign() * std::ldexp(1.0 + v.unit(), -967 - std::ilogb(x) - static_cast<int>(v.below(140)) + 10);
        } else if (i % 4 == 1) {  // ties of sums: 1 + odd multiples of 2^-53
            x = v.sign();
            y = x * std::ldexp(static_cast<double>(2 * v.below(4) + 1), -53 - static_cast<int>(v.below(3)));
        }
        check(x, y);
    }
}

}  // namespace

BW_TEST(rounding, sum_errors_are_exact_and_directed_sums_the_nearest_on_their_side) {
    for_pairs(2, [](double x, double y) {
        const Exact exact = Exact::of(x) + Exact::of(y);
        const double s = x + y;
        // An infinite nearest sum is returned as it is.
        if (!is_finite(s)) {
            CHECK(add_up(x, y) == s && add_down(x, y) == s, x, y);
            return;
        }
        CHECK(Exact::of(s) + Exact::of(sum_error(x, y, s)) == exact, x, y);
        CHECK(tight_upper(add_up(x, y), versus(exact)), x, y, add_up(x, y));
        CHECK(tight_lower(add_down(x, y), versus(exact)), x, y, add_down(x, y));
        CHECK(bwtest::bits(diff_down(x, -y)) == bwtest::bits(add_down(x, y)), x, y);
    });
}

BW_TEST(rounding, directed_products_and_quotients_are_the_nearest_on_their_side) {
    // Overflows included: +inf above, and -DBL_MAX for an upper bound of a
    // product below -DBL_MAX, which is still the smallest finite bound.
    for_pairs(3, [](double x, double y) {
        const Exact exact = Exact::product(x, y);
        CHECK(tight_upper(mul_up(x, y), versus(exact)), x, y, mul_up(x, y));
        CHECK(tight_lower(mul_down(x, y), versus(exact)), x, y, mul_down(x, y));
        if (y == 0) return;
        CHECK(tight_upper(div_up(x, y), versus_quotient(x, y)), x, y, div_up(x, y));
        CHECK(tight_lower(div_down(x, y), versus_quotient(x, y)), x, y, div_down(x, y));
        // x y near the underflow range divided by y: small quotients of tiny dividends.
        const double tiny = x * y;
        if (is_finite(tiny)) {
            CHECK(tight_upper(div_up(tiny, y), versus_quotient(tiny, y)), tiny, y);
            CHECK(tight_lower(div_down(tiny, y), versus_quotient(tiny, y)), tiny, y);
        }
    });
}

BW_TEST(rounding, residuals_and_error_terms_against_the_exact_error) {
    // A residual has the sign of the exact error; an error term bounds its
    // magnitude and vanishes only when the operation was exact.
    const auto agree = [](double residual, double bound, const Exact& error) {
        return (residual > 0) - (residual < 0) == error.sign() && Exact::of(bound) - error >= Exact{} &&
               Exact::of(bound) + error >= Exact{} && (bound == 0) == (error.sign() == 0);
    };
    for_pairs(5, [&](double x, double y) {
        const double p = x * y;
        if (is_finite(p)) {
            const double t = product_residual(x, y, p);
            const double e = product_error(x, y, p);
            CHECK(agree(t, e, Exact::product(x, y) - Exact::of(p)), x, y, t, e);
        }
        if (y == 0) return;
        const double q = x / y;
        if (is_finite(q)) {  // the residual of q is y q - x
            const double t = quotient_residual(x, y, q);
            const double e = quotient_error(x, y, q);
            CHECK(agree(t, e, Exact::product(y, q) - Exact::of(x)), x, y, t, e);
        }
    });
}

BW_TEST(rounding, steps_to_the_neighbouring_double) {
    bwtest::Values v(7);
    for (int i = 0; i < kPairs; ++i) {
        const double x = i < 4 ? (i < 2 ? 0.0 * (i ? -1 : 1) : (i == 2 ? kInf : -kInf)) : v.finite();
        CHECK(bwtest::bits(succ(x)) == bwtest::bits(x == kInf ? x : next_up(x)), x);
        CHECK(bwtest::bits(pred(x)) == bwtest::bits(x == -kInf ? x : next_down(x)), x);
        if (!is_finite(x)) continue;
        // Both zeros step to +-eta.
        CHECK(bwtest::bits(succ_if(true, x)) == bwtest::bits(x == 0 ? kMinSubnormal : next_up(x)), x);
        CHECK(bwtest::bits(pred_if(true, x)) == bwtest::bits(x == 0 ? -kMinSubnormal : next_down(x)), x);
        CHECK(bwtest::bits(succ_if(false, x)) == bwtest::bits(x) && bwtest::bits(pred_if(false, x)) == bwtest::bits(x), x);
    }
    CHECK(succ(0.0) == kMinSubnormal && succ(-0.0) == kMinSubnormal && pred(0.0) == -kMinSubnormal);
    CHECK(std::isnan(succ(bwtest::kNaN)) && std::isnan(pred(bwtest::kNaN)));
}

BW_TEST(endpoints, conversions_enclose_exactly) {
    bwtest::Values v(8);
    for (int i = 0; i < kPairs; ++i) {
        const double m = v.finite();
        const double r = std::fabs(i % 3 ? v.finite() : m * std::ldexp(v.unit(), -50));
        const Exact lo_exact = Exact::of(m) - Exact::of(r);
        const Exact hi_exact = Exact::of(m) + Exact::of(r);
        const Endpoints e = to_endpoints(m, r);
        // Outward rounded to the nearest double, or clamped to +-DBL_MAX on overflow.
        CHECK(tight_lower(e.lo, versus(lo_exact)) || (e.lo == -kInf && std::isinf(m - r)), m, r, e.lo);
        CHECK(tight_upper(e.hi, versus(hi_exact)) || (e.hi == kInf && std::isinf(m + r)), m, r, e.hi);
        for (const Interval x : {from_endpoints(e.lo, e.hi), endpoint_round_trip(m, r)}) {
            if (x.rad == kInf) continue;  // the whole line (ends beyond DBL_MAX)
            CHECK(Exact::of(x.mid) - Exact::of(x.rad) <= lo_exact, m, r, x.mid, x.rad);
            CHECK(hi_exact <= Exact::of(x.mid) + Exact::of(x.rad), m, r, x.mid, x.rad);
        }
    }
    const Interval nan = endpoint_round_trip(bwtest::kNaN, 0.0);
    const Interval line = endpoint_round_trip(0.0, kInf);
    CHECK(std::isnan(nan.mid) && nan.rad == kInf && std::isnan(line.mid) && line.rad == kInf);
}

BW_TEST(endpoints, corner_products_and_quotients_enclose_every_corner) {
    bwtest::Values v(9);
    for (int i = 0; i < kPairs / 4; ++i) {
        double a[2] = {v.finite(), v.finite()};
        double b[2] = {v.finite(), v.finite()};
        if (v.below(8) == 0) a[v.below(2)] = v.sign() * kInf;
        if (v.below(8) == 0) b[v.below(2)] = v.sign() * kInf;
        if (a[0] > a[1]) std::swap(a[0], a[1]);
        if (b[0] > b[1]) std::swap(b[0], b[1]);
        const Endpoints p = mul_endpoints({a[0], a[1]}, {b[0], b[1]});
        // The hull of all four corners, which the cases of one strict sign shortcut: the same
        // doubles there (no zero ties), the same values elsewhere (which zero fmin keeps of
        // -0 and +0 is the library's choice).
        double lo = mul_down(a[0], b[0]);
        double hi = mul_up(a[0], b[0]);
        for (const double x : a)
            for (const double y : b) {
                lo = std::fmin(lo, mul_down(x, y));
                hi = std::fmax(hi, mul_up(x, y));
            }
        const bool strict = (a[0] > 0 || a[1] < 0) && (b[0] > 0 || b[1] < 0);
        const auto same = [strict](double x, double y) {
            return strict ? bwtest::bits(x) == bwtest::bits(y) : (x == y || (x != x && y != y));
        };
        CHECK(same(p.lo, lo) && same(p.hi, hi), a[0], a[1], b[0], b[1]);
        const bool finite = std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(b[0]) && std::isfinite(b[1]);
        if (!finite) continue;  // the exact corners below are of finite ends
        for (double x : a)
            for (double y : b) {
                const Exact exact = Exact::product(x, y);
                CHECK((p.lo == -kInf || Exact::of(p.lo) <= exact) && (p.hi == kInf || exact <= Exact::of(p.hi)), x, y);
            }
        if (b[0] <= 0 && b[1] >= 0) continue;  // the divisor must exclude zero
        const Endpoints q = div_endpoints({a[0], a[1]}, {b[0], b[1]});
        for (double x : a)
            for (double y : b) {
                CHECK(q.lo == -kInf || versus_quotient(x, y)(q.lo) <= 0, x, y, q.lo);
                CHECK(q.hi == kInf || versus_quotient(x, y)(q.hi) >= 0, x, y, q.hi);
            }
    }
}
