// The element operations of abs, floor, ceil, trunc, round, sign, nan_to_num,
// sqrt, exp and ln, the loop that applies them and the table of the element
// family, written once for every lane type (lanes.hpp). Included by one
// source file per instruction set, after its target pragma; everything here
// has internal linkage, so each file gets its own copy for its own target.
//
// Each vector operation repeats, for lanes whose midpoint and radius are
// ordinary (see lanes::not_ordinary), exactly the IEEE operations of its scalar
// rule, with the rule's branches replaced by compare masks and blends. It
// reports the other lanes, and the loop then computes the whole group with
// the scalar rule, so every element gets the rule's bits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "boundwise/elementwise/functions.hpp"
#include "boundwise/elementwise/rules.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/kernels/element_functions.hpp"
#include "endpoint_lanes.hpp"
#include "exp_log_lanes.hpp"
#include "piecewise_lanes.hpp"
#include "trig_lanes.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {
namespace element {

using lanes::Bits;
using lanes::Mask;
using lanes::select;
using lanes::splat;

template <class V>
[[gnu::always_inline]] inline V copysign(const V& magnitude, const V& sign) {
    constexpr std::uint64_t kSign = 0x8000000000000000ULL;
    return lanes::from_bits<V>((lanes::to_bits<V>(magnitude) & ~kSign) | (lanes::to_bits<V>(sign) & kSign));
}

using lanes::add_up_finite;
using lanes::pred_if;
using lanes::succ_if;

template <class V>
struct Ends {
    V lo;
    V hi;
};

template <class V>
[[gnu::always_inline]] inline Ends<V> ends(const V& m, const V& r) {
    Ends<V> e;
    lanes::ordinary_ends<V>(m, r, e.lo, e.hi);
    return e;
}

// Narrow lanes: 0 < x < limit and 0 <= r <= x/4 (NaN not). Then the ends of
// (x, r) lie in [x/2, 2x], so lo - x, hi - x and differences of values in
// that range are exact (Sterbenz), and m -+ r and the distances of a hull
// need no TwoSum: the rounding error of fl(x + r) is r - (fl(x + r) - x)
// (Fast2Sum, x >= r). The limit also bounds the values derived from the ends.
template <class V>
[[gnu::always_inline]] inline Mask<V> not_narrow(const V& x, const V& r, double limit) {
    return lanes::either<V>(!(r <= x * splat<V>(0.25)), !lanes::below_nonzero<V>(x, limit));
}

// to_endpoints(x, r) of a narrow lane: both ends positive, so a step outward
// is one step of the bit pattern.
template <class V>
[[gnu::always_inline]] inline Ends<V> narrow_ends(const V& x, const V& r) {
    const V lo = x - r;
    const V hi = x + r;
    return {lanes::step_down_if<V>(x - lo < r, lo), lanes::step_up_if<V>(hi - x < r, hi)};
}

// x moved one double towards +inf (up) or -inf where `step` holds, for x
// non-zero and of the sign of s: one step of the bit pattern away from zero
// or towards it.
template <class V>
[[gnu::always_inline]] inline V step_toward(const Mask<V>& step, const V& s, const V& x, bool up) {
    if constexpr (lanes::Traits<V>::width == 1) {
        if (!step) return x;
        const bool away = up == (s > 0);
        return lanes::from_bits<V>(away ? lanes::to_bits<V>(x) + 1 : lanes::to_bits<V>(x) - 1);
    } else {
        // +1 in the lanes of positive s, -1 in the others.
        const Bits<V> outward = (Bits<V>)(s < splat<V>(0.0)) | 1;
        const Bits<V> delta = (Bits<V>)step & outward;
        const Bits<V> b = lanes::to_bits<V>(x);
        return lanes::from_bits<V>(up ? b + delta : b - delta);
    }
}

// hull_with_midpoint(lo, hi, c) of elementwise/hull.hpp for finite lo <= hi
// below 2^1022 in magnitude and a finite c: c clamped into [lo, hi] with
// maxNum and minNum, the larger upward distance as radius, and a point for
// lo = hi.
template <class V>
[[gnu::always_inline]] inline void hull(const V& lo, const V& hi, const V& c, V& mid, V& rad) {
    V t = select<V>(c > lo, c, lo);
    t = select<V>(t < hi, t, hi);
    const V d1 = add_up_finite<V>(t, -lo);
    const V d2 = add_up_finite<V>(hi, -t);
    const auto point = lo == hi;
    mid = select<V>(point, lo, t);
    rad = select<V>(point, splat<V>(0.0), lanes::larger<V>(d2, d1));  // maxNum(d1, d2)
}

template <class V>
[[gnu::always_inline]] inline V square_root(const V& x) {
    if constexpr (lanes::Traits<V>::width == 1) {
        return std::sqrt(x);
    } else if constexpr (lanes::Traits<V>::width == 2) {
        return _mm_sqrt_pd(x);
    } else {
        return _mm256_sqrt_pd(x);
    }
}

// floor, ceil, trunc and nearbyint, exact IEEE roundings to an integer. With
// four lanes one ROUNDPD (nearbyint: in the current rounding mode); otherwise
// on the magnitude a: below 2^52, (a + 2^52) - 2^52 is a rounded to the
// nearest integer, ties to even (the spacing of doubles there is 1), and one
// step corrects it towards zero or away; the sign of x is put back, which
// gives the signed zeros of the IEEE operations (ceil(-0.5) = -0).
template <IntegerRounding Mode, class V>
[[gnu::always_inline]] inline V to_integer(const V& x) {
    if constexpr (lanes::Traits<V>::width == 4) {
        constexpr int kMode = Mode == IntegerRounding::Floor  ? _MM_FROUND_TO_NEG_INF
                              : Mode == IntegerRounding::Ceil ? _MM_FROUND_TO_POS_INF
                              : Mode == IntegerRounding::Trunc ? _MM_FROUND_TO_ZERO
                                                               : _MM_FROUND_CUR_DIRECTION;
        return _mm256_round_pd(x, kMode | _MM_FROUND_NO_EXC);
    } else {
        const V a = lanes::abs(x);
        const V big = splat<V>(0x1p52);
        const V nearest = select<V>(a < big, (a + big) - big, a);
        const V toward_zero = select<V>(nearest > a, nearest - splat<V>(1.0), nearest);
        const V away = select<V>(nearest < a, nearest + splat<V>(1.0), nearest);
        const auto negative = x < splat<V>(0.0);
        V magnitude = nearest;
        if constexpr (Mode == IntegerRounding::Trunc) magnitude = toward_zero;
        if constexpr (Mode == IntegerRounding::Floor) magnitude = select<V>(negative, away, toward_zero);
        if constexpr (Mode == IntegerRounding::Ceil) magnitude = select<V>(negative, toward_zero, away);
        return copysign<V>(magnitude, x);
    }
}

// ---------------------------------------------------------------------------
// The operations: op(m, r, mid, rad) computes the lanes and returns the mask
// of lanes to redo with `scalar`, the rule itself.
// ---------------------------------------------------------------------------

struct AbsoluteOp {
    static constexpr bool defers = true;
    static constexpr bool memory_bound = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const auto [lo, hi] = ends<V>(m, r);
        const auto non_negative = lo >= splat<V>(0.0);
        const auto non_positive = hi <= splat<V>(0.0);
        const V l = select<V>(non_negative, lo, select<V>(non_positive, -hi, splat<V>(0.0)));
        const V h = select<V>(non_negative, hi, select<V>(non_positive, -lo, lanes::larger<V>(hi, -lo)));
        hull<V>(l, h, lanes::abs(m), mid, rad);
        return lanes::not_ordinary<V>(m, r);
    }
    // Narrow: the ends of (|m|, r) are positive and hold |m|, the preferred
    // midpoint, so the hull keeps |m| and its distances to the ends are exact.
    template <class V>
    [[gnu::always_inline]] static Mask<V> wide(const V& m, const V& r) {
        return not_narrow<V>(lanes::abs(m), r, 0x1p1020);
    }
    template <class V>
    [[gnu::always_inline]] static void narrow(const V& m, const V& r, V& mid, V& rad) {
        const V a = lanes::abs(m);
        const auto [lo, hi] = narrow_ends<V>(a, r);
        mid = a;
        rad = lanes::larger<V>(hi - a, a - lo);
    }
    static Interval scalar(double m, double r, Status& flags) noexcept { return elementwise::absolute_rule(m, r, flags); }
};

template <IntegerRounding Mode>
struct IntegerOp {
    static constexpr bool defers = true;
    static constexpr bool memory_bound = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const auto [lo, hi] = ends<V>(m, r);
        hull<V>(to_integer<Mode, V>(lo), to_integer<Mode, V>(hi), to_integer<Mode, V>(m), mid, rad);
        return lanes::not_ordinary<V>(m, r);
    }
    // Narrow with |m| < 2^51: lo, m and hi share one sign and lie within a
    // factor 2 of each other, so m - lo and hi - m are exact (Sterbenz) and
    // show which end needs its outward step. g is monotone, so the three
    // integers are ordered, the midpoint needs no clamp, and as they lie in
    // [-2^52, 2^52] with one sign the hull's distances are exact differences.
    template <class V>
    [[gnu::always_inline]] static Mask<V> wide(const V& m, const V& r) {
        return not_narrow<V>(lanes::abs(m), r, 0x1p51);
    }
    template <class V>
    [[gnu::always_inline]] static void narrow(const V& m, const V& r, V& mid, V& rad) {
        const V lo = m - r;
        const V hi = m + r;
        const V l = to_integer<Mode, V>(step_toward<V>(m - lo < r, m, lo, false));
        const V h = to_integer<Mode, V>(step_toward<V>(hi - m < r, m, hi, true));
        const V c = to_integer<Mode, V>(m);
        mid = c;
        rad = lanes::larger<V>(h - c, c - l);
    }
    static Interval scalar(double m, double r, Status& flags) noexcept {
        if constexpr (Mode == IntegerRounding::Floor) return elementwise::floor_rule(m, r, flags);
        if constexpr (Mode == IntegerRounding::Ceil) return elementwise::ceil_rule(m, r, flags);
        if constexpr (Mode == IntegerRounding::Trunc) return elementwise::trunc_rule(m, r, flags);
        return elementwise::round_half_even_rule(m, r, flags);
    }
};

struct SignOp {
    static constexpr bool defers = true;
    static constexpr bool memory_bound = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const auto [lo, hi] = ends<V>(m, r);
        const V zero = splat<V>(0.0);
        mid = select<V>(hi < zero, splat<V>(-1.0), select<V>(lo > zero, splat<V>(1.0), zero));
        rad = zero;
        return lanes::not_ordinary<V>(m, r);
    }
    // Narrow: both ends have the sign of m (they lie within [m/2, 2m]).
    template <class V>
    [[gnu::always_inline]] static Mask<V> wide(const V& m, const V& r) {
        return not_narrow<V>(lanes::abs(m), r, 0x1p1020);
    }
    template <class V>
    [[gnu::always_inline]] static void narrow(const V& m, const V&, V& mid, V& rad) {
        mid = copysign<V>(splat<V>(1.0), m);
        rad = splat<V>(0.0);
    }
    static Interval scalar(double m, double r, Status& flags) noexcept { return elementwise::sign_rule(m, r, flags); }
};

// No lane is ever redone: the rule is a choice between the values and fixed ones.
struct NanToNumOp {
    static constexpr bool defers = false;
    static constexpr bool memory_bound = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const auto none = lanes::either<V>(m != m, r != r);
        const V finite_mid = select<V>(lanes::infinite<V>(m), copysign<V>(splat<V>(kDoubleMax), m), m);
        const V finite_rad = select<V>(r == splat<V>(kInfinity), splat<V>(kDoubleMax), r);
        mid = select<V>(none, splat<V>(0.0), finite_mid);
        rad = select<V>(none, splat<V>(0.0), finite_rad);
        return Mask<V>{};
    }
    static Interval scalar(double m, double r, Status& flags) noexcept { return elementwise::nan_to_num_rule(m, r, flags); }
};

// sqrt where lo > 0: sqrt(lo) >= 2^-537 and sqrt(hi) < 2^511, so pred4 and
// succ4 are four steps of the bit pattern and maxNum with 0 keeps pred4.
struct SqrtOp {
    static constexpr bool defers = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const auto [lo, hi] = ends<V>(m, r);
        const V l = lanes::from_bits<V>(lanes::to_bits<V>(square_root<V>(lo)) - 4);
        const V h = lanes::from_bits<V>(lanes::to_bits<V>(square_root<V>(hi)) + 4);
        hull<V>(l, h, square_root<V>(m), mid, rad);
        return lanes::either<V>(lanes::not_ordinary<V>(m, r), !(lo > splat<V>(0.0)));
    }
    // Narrow with m > 0: sqrt(lo) > c/2 and sqrt(hi) < 2c for c = sqrt(m), so
    // c lies strictly between the widened ends and its distances are exact.
    template <class V>
    [[gnu::always_inline]] static Mask<V> wide(const V& m, const V& r) {
        return not_narrow<V>(m, r, 0x1p1020);
    }
    template <class V>
    [[gnu::always_inline]] static void narrow(const V& m, const V& r, V& mid, V& rad) {
        const auto [lo, hi] = narrow_ends<V>(m, r);
        const V l = lanes::from_bits<V>(lanes::to_bits<V>(square_root<V>(lo)) - 4);
        const V h = lanes::from_bits<V>(lanes::to_bits<V>(square_root<V>(hi)) + 4);
        mid = square_root<V>(m);
        rad = lanes::larger<V>(h - mid, mid - l);
    }
    static Interval scalar(double m, double r, Status& flags) noexcept { return elementwise::sqrt_rule(m, r, flags); }
};

// Operations with a narrow form (wide() and narrow()), taken when no lane of
// a vector is wide.
template <class Op, class V>
concept HasNarrowForm = requires(const V& v, V& out) {
    Op::template wide<V>(v, v);
    Op::template narrow<V>(v, v, out, out);
};

// exp where m lies in [-706.5, 708.5] and 0 <= r <= 1/4: both ends are
// directly computed (exp_log_lanes.hpp), and the widened values at the ends
// lie within a factor e^(1/2) (1 + 2^-50) < 2 of each other, so the hull's
// distances from the clamped midpoint are exact differences (Sterbenz).
struct ExpOp {
    static constexpr bool defers = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const V c = exp_direct<V>(m);
        V l;
        V h;
        if (!lanes::any<V>(r != splat<V>(0.0))) {  // points: both ends are m
            l = lanes::from_bits<V>(lanes::to_bits<V>(c) - 2);
            h = lanes::from_bits<V>(lanes::to_bits<V>(c) + 2);
        } else {
            const auto [lo, hi] = ends<V>(m, r);
            l = lanes::from_bits<V>(lanes::to_bits<V>(exp_direct<V>(lo)) - 2);
            h = lanes::from_bits<V>(lanes::to_bits<V>(exp_direct<V>(hi)) + 2);
        }
        V t = select<V>(c > l, c, l);
        t = select<V>(t < h, t, h);
        mid = t;
        rad = lanes::larger<V>(h - t, t - l);
        const auto inside = (m >= splat<V>(-706.5)) & (m <= splat<V>(708.5)) & (r <= splat<V>(0.25));
        return ~inside;
    }
    static Interval scalar(double m, double r, Status& flags) noexcept { return exp_rule(m, r, flags); }
};

// ln where both ends are normal and finite: the general hull, since the
// values at the ends and the midpoint may have any signs.
struct LnOp {
    static constexpr bool defers = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const auto [lo, hi] = ends<V>(m, r);
        const V zero = splat<V>(0.0);
        hull<V>(two_down<V>(log_normal<V>(lo, zero)), two_up<V>(log_normal<V>(hi, zero)), log_normal<V>(m, zero), mid,
                rad);
        return lanes::either<V>(lanes::not_ordinary<V>(m, r), !(lo >= splat<V>(kMinNormal)));
    }
    // Narrow with m >= 2^-1019: the ends are normal and need no TwoSum. Where
    // the widened logarithms at the ends share a sign and lie within a factor
    // two of each other (in every lane: all but intervals near 1), the hull's
    // distances from the clamped midpoint are exact differences (Sterbenz).
    template <class V>
    [[gnu::always_inline]] static Mask<V> wide(const V& m, const V& r) {
        return lanes::either<V>(not_narrow<V>(m, r, 0x1p1020), !(m >= splat<V>(0x1p-1019)));
    }
    template <class V>
    [[gnu::always_inline]] static void narrow(const V& m, const V& r, V& mid, V& rad) {
        const auto [lo, hi] = narrow_ends<V>(m, r);
        const V zero = splat<V>(0.0);
        const V c = log_normal<V>(m, zero);
        const V l = two_down<V>(log_normal<V>(lo, zero));
        const V h = two_up<V>(log_normal<V>(hi, zero));
        const auto within_two = ((l > zero) & (h <= l + l)) | ((h < zero) & (l >= h + h));
        if (lanes::any<V>(~within_two)) [[unlikely]] {
            hull<V>(l, h, c, mid, rad);
            return;
        }
        V t = select<V>(c > l, c, l);
        t = select<V>(t < h, t, h);
        mid = t;
        rad = lanes::larger<V>(h - t, t - l);
    }
    static Interval scalar(double m, double r, Status& flags) noexcept { return ln_rule(m, r, flags); }
};

// sin (Shift 0) and cos (Shift 1) where both ends lie in the range of the
// direct evaluation (trig_lanes.hpp) less than 2 pi apart: the values at the
// ends, and 1 or -1 where a multiple of pi/2 of the right residue lies in
// [lo, hi] (sin: 1 at residue 1, -1 at 3; cos: 1 at 0, -1 at 2).
template <int Shift>
struct SineOp {
    static constexpr bool defers = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const auto [lo, hi] = ends<V>(m, r);
        const QuarterTurns<V> at_m = reduce_quarter_turns<V>(m);
        const V c = sine_value<V>(at_m, Shift);
        const bool points = !lanes::any<V>(r != splat<V>(0.0));  // then lo = hi = m, up to the sign of 0
        const QuarterTurns<V> at_lo = points ? at_m : reduce_quarter_turns<V>(lo);
        const QuarterTurns<V> at_hi = points ? at_m : reduce_quarter_turns<V>(hi);
        const V v_lo = points ? c : sine_value<V>(at_lo, Shift);
        const V v_hi = points ? c : sine_value<V>(at_hi, Shift);
        const Multiples<V> inside = multiples_between<V>(at_lo, at_hi);
        V low = lanes::smaller<V>(steps_away_down<V>(v_lo, kSinCosSteps), steps_away_down<V>(v_hi, kSinCosSteps));
        V high = lanes::larger<V>(steps_away_up<V>(v_lo, kSinCosSteps), steps_away_up<V>(v_hi, kSinCosSteps));
        low = select<V>(has_residue<V>(inside, 3 - Shift), splat<V>(-1.0), lanes::larger<V>(low, splat<V>(-1.0)));
        high = select<V>(has_residue<V>(inside, 1 - Shift), splat<V>(1.0), lanes::smaller<V>(high, splat<V>(1.0)));
        hull<V>(low, high, c, mid, rad);
        const auto wide = !(hi - lo < splat<V>(0x1.921fb54442d18p+2));  // 2 pi: the scalar rule gives [-1, 1]
        return lanes::either<V>(lanes::either<V>(lanes::not_ordinary<V>(m, r), wide),
                                lanes::either<V>(outside_fast_range<V>(lo, at_lo), outside_fast_range<V>(hi, at_hi)));
    }
    static Interval scalar(double m, double r, Status& flags) noexcept {
        double mid;
        double rad;
        if (!SineOp{}(m, r, mid, rad)) return {mid, rad};
        return Shift == 0 ? elementwise::sin_rule(m, r, flags) : elementwise::cos_rule(m, r, flags);
    }
};

// tan where both ends lie in the range of the direct evaluation less than pi
// apart: increasing between its poles at the odd multiples of pi/2, so the
// values at the ends unless such a multiple lies in [lo, hi], which gives the
// whole line (midpoint 0, radius +inf).
struct TangentOp {
    static constexpr bool defers = true;
    template <class V>
    [[gnu::always_inline]] Mask<V> operator()(const V& m, const V& r, V& mid, V& rad) const {
        const auto [lo, hi] = ends<V>(m, r);
        const QuarterTurns<V> at_m = reduce_quarter_turns<V>(m);
        const V c = tangent_value<V>(at_m);
        const bool points = !lanes::any<V>(r != splat<V>(0.0));
        const QuarterTurns<V> at_lo = points ? at_m : reduce_quarter_turns<V>(lo);
        const QuarterTurns<V> at_hi = points ? at_m : reduce_quarter_turns<V>(hi);
        const V v_lo = points ? c : tangent_value<V>(at_lo);
        const V v_hi = points ? c : tangent_value<V>(at_hi);
        const Multiples<V> inside = multiples_between<V>(at_lo, at_hi);
        const auto pole = lanes::either<V>(has_residue<V>(inside, 1), has_residue<V>(inside, 3));
        // Where a pole lies inside, the values may be infinite or NaN: the hull is replaced.
        hull<V>(steps_away_down<V>(v_lo, kTanSteps), steps_away_up<V>(v_hi, kTanSteps), c, mid, rad);
        mid = select<V>(pole, splat<V>(0.0), mid);
        rad = select<V>(pole, splat<V>(kInfinity), rad);
        const auto wide = !(hi - lo < splat<V>(0x1.921fb54442d18p+1));  // pi: the scalar rule gives the whole line
        return lanes::either<V>(lanes::either<V>(lanes::not_ordinary<V>(m, r), wide),
                                lanes::either<V>(outside_fast_range<V>(lo, at_lo), outside_fast_range<V>(hi, at_hi)));
    }
    static Interval scalar(double m, double r, Status& flags) noexcept {
        double mid;
        double rad;
        if (!TangentOp{}(m, r, mid, rad)) return {mid, rad};
        return elementwise::tan_rule(m, r, flags);
    }
};

// A store of one vector: through the cache, or with a non-temporal store
// (MOVNTPD) where `stream` holds, which needs an address aligned to the vector.
template <class V>
[[gnu::always_inline]] inline void put(double* p, const V& v, bool stream) {
    if constexpr (lanes::Traits<V>::width == 4) {
        if (stream) return _mm256_stream_pd(p, v);
    } else if constexpr (lanes::Traits<V>::width == 2) {
        if (stream) return _mm_stream_pd(p, v);
    }
    lanes::store(p, v);
}

// Operations whose time goes to moving the data (a few instructions an
// element) declare memory_bound; only they stream their results.
template <class Op>
inline constexpr bool kMemoryBound = requires { requires Op::memory_bound; };

// The loop over [0, n): full vectors of V, then single elements with the
// scalar form; a vector with a lane to redo is redone element by element.
// With Streaming (memory-bound operations only) the results bypass the cache:
// elements before the first aligned midpoint take the scalar form, the
// midpoints are streamed and the radii too when their address is aligned
// alike, and a store fence at the end orders the streamed stores before
// whatever tells another thread the chunk is done. The values are the same
// either way (each element is independent).
template <class V, class Op, bool Streaming>
Status element_kernel(const double* mid, const double* rad, KernelOutput out, std::size_t n) noexcept {
    const double* __restrict am = mid;
    const double* __restrict ar = rad;
    double* __restrict om = out.mid;
    double* __restrict orad = out.rad;
    Status flags = Status::None;
    const auto scalar = [&](std::size_t j) {
        const Interval v = Op::scalar(am[j], ar[j], flags);
        om[j] = v.mid;
        orad[j] = v.rad;
    };
    constexpr std::size_t width = lanes::Traits<V>::width;
    constexpr std::uintptr_t kAlign = width * sizeof(double) - 1;
    std::size_t i = 0;
    bool stream_mid = false;
    bool stream_rad = false;
    constexpr bool streams = Streaming && width > 1;
    if constexpr (streams) {
        for (; i < n && (reinterpret_cast<std::uintptr_t>(om + i) & kAlign) != 0; ++i) scalar(i);
        stream_mid = true;
        stream_rad = (reinterpret_cast<std::uintptr_t>(orad + i) & kAlign) == 0;
    }
    if constexpr (width > 1) {
        for (; i + width <= n; i += width) {
            const V x = lanes::load<V>(am + i);
            const V xr = lanes::load<V>(ar + i);
            V m;
            V r;
            if constexpr (HasNarrowForm<Op, V>) {
                if (!lanes::any<V>(Op::template wide<V>(x, xr))) [[likely]] {
                    Op::template narrow<V>(x, xr, m, r);
                    put<V>(om + i, m, stream_mid);
                    put<V>(orad + i, r, stream_rad);
                    continue;
                }
            }
            const Mask<V> redo = Op{}(x, xr, m, r);
            if constexpr (Op::defers) {
                if (lanes::any<V>(redo)) [[unlikely]] {
                    for (std::size_t j = i; j < i + width; ++j) scalar(j);
                    continue;
                }
            }
            put<V>(om + i, m, stream_mid);
            put<V>(orad + i, r, stream_rad);
        }
    }
    for (; i < n; ++i) scalar(i);
    if constexpr (streams) _mm_sfence();
    return flags;
}

// The kernel of Op for a table: one instance where streaming changes nothing.
template <class V, class Op, bool Streaming>
inline constexpr ElementKernel kernel_of = element_kernel<V, Op, Streaming && kMemoryBound<Op>>;

}  // namespace element

// The table of a target with the lane set L (lanes::Baseline, lanes::Avx2, or
// lanes::Scalar for the reference), and its twin with streamed results.
template <class L, bool Streaming = false>
inline constexpr ElementKernels element_table{
    .absolute = element::kernel_of<typename L::Wide, element::AbsoluteOp, Streaming>,
    .floor = element::kernel_of<typename L::Wide, element::IntegerOp<IntegerRounding::Floor>, Streaming>,
    .ceil = element::kernel_of<typename L::Wide, element::IntegerOp<IntegerRounding::Ceil>, Streaming>,
    .trunc = element::kernel_of<typename L::Wide, element::IntegerOp<IntegerRounding::Trunc>, Streaming>,
    .round_half_even =
        element::kernel_of<typename L::Wide, element::IntegerOp<IntegerRounding::HalfEven>, Streaming>,
    .sign = element::kernel_of<typename L::Wide, element::SignOp, Streaming>,
    .nan_to_num = element::kernel_of<typename L::Wide, element::NanToNumOp, Streaming>,
    .sqrt = element::kernel_of<typename L::Wide, element::SqrtOp, Streaming>,
    .exp = element::kernel_of<typename L::Wide, element::ExpOp, Streaming>,
    .ln = element::kernel_of<typename L::Wide, element::LnOp, Streaming>,
    .sin = element::kernel_of<typename L::Wide, element::SineOp<0>, Streaming>,
    .cos = element::kernel_of<typename L::Wide, element::SineOp<1>, Streaming>,
    .tan = element::kernel_of<typename L::Wide, element::TangentOp, Streaming>,
    .maximum = element::pair_kernel<typename L::Wide, element::ExtremeOp<true>>,
    .minimum = element::pair_kernel<typename L::Wide, element::ExtremeOp<false>>,
    .clip = element::clip_kernel<typename L::Wide>,
    .integer_power = element::integer_power_kernel<typename L::Fused>,
    .streaming = Streaming ? nullptr : &element_table<L, true>,
};

}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
