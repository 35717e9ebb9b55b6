// Accumulators shared by the reductions (internal to core/src/reduce).
#pragma once

#include <bit>
#include <cstdint>

#include "boundwise/array/array.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"

namespace boundwise::reduce {

// add_up for x, y >= 0 (radii and error terms), the same double as add_up:
// with h = max(x, y) and l = min(x, y), s - h is exact and l - (s - h) is the
// error of s (Dekker's Fast2Sum), positive exactly when l > s - h; then
// s >= 0 is finite and rounds up by one step of its bit pattern. An infinite
// or NaN sum never compares as having a positive error.
[[gnu::always_inline]] inline double add_up_nonneg(double x, double y) {
    const double s = x + y;
    const double h = x > y ? x : y;
    const double l = x > y ? y : x;
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(s) + (l > s - h ? 1u : 0u));
}

// The midpoint-radius running sum: S is the recursive double sum of the
// midpoints and R bounds |exact sum - S| for every choice of points in the
// elements: the radii plus the exact TwoSum error of every addition (Knuth,
// TAOCP vol. 2, 4.2.2), all added upward. Once S overflows its TwoSum error
// is NaN, and so R stays NaN from there on.
struct RunningSum {
    double s = 0.0;
    double r = 0.0;

    [[gnu::always_inline]] void add(double m, double rad) {
        const double r1 = add_up_nonneg(r, rad);
        const double next = s + m;
        const double e = std::fabs(sum_error(s, m, next));
        r = add_up_nonneg(e, r1);
        s = next;
    }

    // The stored form of the running value: a sum that overflowed or met NaN
    // claims nothing, so its radius is +inf (never NaN, never finite).
    Interval element() const {
        if (!is_finite(s) || std::isnan(r)) return {s, kInfinity};
        return {s, r};
    }

    // The outward-rounded ends of the enclosed sum.
    Endpoints ends() const {
        if (std::isnan(s) || std::isnan(r)) return {NAN, NAN};
        if (r == kInfinity || !is_finite(s)) return {-kInfinity, kInfinity};
        return to_endpoints(s, r);
    }
};

// A sum of endpoint pairs: lower ends added downward, upper ends upward, each
// clamped at the largest double on its inner side (a lower bound that
// overflowed to +inf is still at least DBL_MAX).
struct EndpointSum {
    double lo = 0.0;
    double hi = 0.0;

    [[gnu::always_inline]] void add(Endpoints x) {
        lo = add_down_clamped(lo, x.lo);
        hi = add_up_clamped(hi, x.hi);
    }
    Endpoints ends() const { return {lo, hi}; }
};

inline Interval to_element(Endpoints e) { return from_endpoints(e.lo, e.hi); }

inline void store(Array& out, std::uint64_t i, Interval v) {
    out.mid_mut()[i] = v.mid;
    out.rad_mut()[i] = v.rad;
}

inline Endpoints endpoints_of(const Array& a, std::uint64_t i) { return to_endpoints(a.mid()[i], a.rad()[i]); }

}  // namespace boundwise::reduce
