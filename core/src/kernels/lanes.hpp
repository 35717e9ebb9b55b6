// Lane types for the element kernels: one double, or a vector of 2 or 4
// doubles (GCC vector extensions), with the lane sets of each target below. The same element code is instantiated for
// every lane type, so the vector loops compute exactly what the scalar
// reference computes: the same IEEE operations in the same order, with the
// branches of the directed-rounding step replaced by compare masks and blends.
//
// Everything here is force-inlined into the kernels of one instruction-set
// file (which sets the compilation target); no function with a vector
// parameter is ever called out of line.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "boundwise/interval/rounding.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {  // internal linkage: each instruction-set file compiles its own copy
namespace lanes {

// Compares give signed masks (a true lane is -1); bit patterns are handled in
// unsigned lanes, where a step past the end of the range wraps as defined.
typedef double V2 __attribute__((vector_size(16)));
typedef std::int64_t M2 __attribute__((vector_size(16)));
typedef std::uint64_t U2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef std::int64_t M4 __attribute__((vector_size(32)));
typedef std::uint64_t U4 __attribute__((vector_size(32)));
typedef double V8 __attribute__((vector_size(64)));
typedef std::int64_t M8 __attribute__((vector_size(64)));
typedef std::uint64_t U8 __attribute__((vector_size(64)));

template <class V>
struct Traits;

template <>
struct Traits<double> {
    using Mask = bool;
    using Bits = std::uint64_t;
    static constexpr std::size_t width = 1;
};
template <>
struct Traits<V2> {
    using Mask = M2;
    using Bits = U2;
    static constexpr std::size_t width = 2;
};
template <>
struct Traits<V4> {
    using Mask = M4;
    using Bits = U4;
    static constexpr std::size_t width = 4;
};
template <>
struct Traits<V8> {
    using Mask = M8;
    using Bits = U8;
    static constexpr std::size_t width = 8;
};

template <class V>
using Mask = typename Traits<V>::Mask;
template <class V>
using Bits = typename Traits<V>::Bits;

template <class V>
[[gnu::always_inline]] inline V load(const double* p) {
    V v;
    std::memcpy(&v, p, sizeof(V));
    return v;
}

template <class V>
[[gnu::always_inline]] inline void store(double* p, const V& v) {
    std::memcpy(p, &v, sizeof(V));
}

template <class V>
[[gnu::always_inline]] inline V splat(double x) {
    if constexpr (Traits<V>::width == 1) {
        return x;
    } else if constexpr (Traits<V>::width == 2) {
        return V{x, x};
    } else if constexpr (Traits<V>::width == 4) {
        return V{x, x, x, x};
    } else {
        return V{x, x, x, x, x, x, x, x};
    }
}

template <class V>
[[gnu::always_inline]] inline Bits<V> to_bits(const V& v) {
    if constexpr (Traits<V>::width == 1) {
        return std::bit_cast<std::uint64_t>(v);
    } else {
        return (Bits<V>)v;
    }
}

template <class V>
[[gnu::always_inline]] inline V from_bits(const Bits<V>& b) {
    if constexpr (Traits<V>::width == 1) {
        return std::bit_cast<double>(b);
    } else {
        return (V)b;
    }
}

template <class V>
[[gnu::always_inline]] inline V select(const Mask<V>& m, const V& yes, const V& no) {
    return m ? yes : no;
}

// Sign bit cleared, NaN included (as fabs).
template <class V>
[[gnu::always_inline]] inline V abs(const V& v) {
    if constexpr (Traits<V>::width == 1) {
        return std::fabs(v);
    } else {
        return from_bits<V>(to_bits(v) & std::uint64_t{0x7FFFFFFFFFFFFFFF});
    }
}

template <class V>
[[gnu::always_inline]] inline Mask<V> infinite(const V& v) {
    return abs(v) == splat<V>(kInfinity);
}


template <class V>
[[gnu::always_inline]] inline Mask<V> either(const Mask<V>& a, const Mask<V>& b) {
    if constexpr (Traits<V>::width == 1) {
        return a || b;
    } else {
        return a | b;
    }
}

// a * b + c with one rounding. The four- and eight-lane forms need an fma
// (or AVX-512) target at the point where they are inlined.
template <class V>
[[gnu::always_inline]] inline V fused(const V& a, const V& b, const V& c) {
    if constexpr (Traits<V>::width == 1) {
        return std::fma(a, b, c);
    } else if constexpr (Traits<V>::width == 4) {
        return _mm256_fmadd_pd(a, b, c);
    } else {
        static_assert(Traits<V>::width == 8, "fused is provided for one, four and eight lanes");
        return _mm512_fmadd_pd(a, b, c);
    }
}

// Whether some lane of m is set; only the sign bit of each lane is read.
template <class V>
[[gnu::always_inline]] inline bool any(const Mask<V>& m) {
    if constexpr (Traits<V>::width == 1) {
        return m;
    } else if constexpr (Traits<V>::width == 2) {
        return _mm_movemask_pd((V)m) != 0;
    } else if constexpr (Traits<V>::width == 4) {
        return _mm256_movemask_pd((V)m) != 0;
    } else {
        return _mm512_movepi64_mask((__m512i)m) != 0;
    }
}

// The sign bits of the lanes of m as the low bits of an integer, lane k as bit k.
template <class V>
[[gnu::always_inline]] inline unsigned lane_bits(const Mask<V>& m) {
    if constexpr (Traits<V>::width == 1) {
        return m ? 1u : 0u;
    } else if constexpr (Traits<V>::width == 2) {
        return static_cast<unsigned>(_mm_movemask_pd((V)m));
    } else if constexpr (Traits<V>::width == 4) {
        return static_cast<unsigned>(_mm256_movemask_pd((V)m));
    } else {
        return static_cast<unsigned>(_mm512_movepi64_mask((__m512i)m));
    }
}

// The sign bits of the lanes of v, lane k in bit k.
template <class V>
[[gnu::always_inline]] inline unsigned sign_bits(const V& v) {
    if constexpr (Traits<V>::width == 1) {
        return static_cast<unsigned>(std::signbit(v));
    } else if constexpr (Traits<V>::width == 2) {
        return static_cast<unsigned>(_mm_movemask_pd(v));
    } else if constexpr (Traits<V>::width == 4) {
        return static_cast<unsigned>(_mm256_movemask_pd(v));
    } else {
        return static_cast<unsigned>(_mm512_movepi64_mask((__m512i)v));
    }
}

// The lanes of v added in lane order (exact for the integer-valued and
// lattice sums that the reductions check afterwards).
template <class V>
[[gnu::always_inline]] inline double lane_sum(const V& v) {
    if constexpr (Traits<V>::width == 1) {
        return v;
    } else {
        double s = v[0];
        for (std::size_t k = 1; k < Traits<V>::width; ++k) s += v[k];
        return s;
    }
}

// The largest lane of v (MAXPD order: a NaN lane may be passed over).
template <class V>
[[gnu::always_inline]] inline double lane_max(const V& v) {
    if constexpr (Traits<V>::width == 1) {
        return v;
    } else {
        double s = v[0];
        for (std::size_t k = 1; k < Traits<V>::width; ++k) s = v[k] > s ? v[k] : s;
        return s;
    }
}

// The smallest integer >= x for x in [0, 2^52), NaN kept; a larger x gives
// at least 2^52. Four and eight lanes round with ROUNDPD (VRNDSCALEPD); elsewhere x + 2^52 rounds x
// to the nearest integer (the doubles in [2^52, 2^53) are the integers), and
// a result below x is raised by one.
template <class V>
[[gnu::always_inline]] inline V ceil_count(const V& x) {
    if constexpr (Traits<V>::width == 4) {
        return _mm256_round_pd(x, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
    } else if constexpr (Traits<V>::width == 8) {
        return _mm512_roundscale_pd(x, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
    } else {
        const V t = (x + splat<V>(0x1p52)) - splat<V>(0x1p52);
        return t + select<V>(t < x, splat<V>(1.0), splat<V>(0.0));
    }
}

// Forms of the primitives above for operands known to be non-negative (sign
// bit clear), such as radii and magnitudes, in lanes that are not deferred
// (see small_factor). The sum and product of two such operands is +0, a
// positive double, +inf or NaN; it rounds up by adding 1 to its bit pattern
// exactly when the rounding error is positive, and an infinite or NaN result
// never compares as having a positive error. This gives the same double as the
// general form, with one compare instead of the sign, zero and -inf cases.

// x with its bit pattern raised by one where `m` holds (x >= +0 there).
template <class V>
[[gnu::always_inline]] inline V step_up_if(const Mask<V>& m, const V& x) {
    if constexpr (Traits<V>::width == 1) {
        return from_bits<V>(to_bits(x) + static_cast<std::uint64_t>(m));
    } else {
        return from_bits<V>(to_bits(x) - (Bits<V>)m);  // a true lane is -1: bits + 1
    }
}

// x with its bit pattern lowered by one where `m` holds (x > 0 there).
template <class V>
[[gnu::always_inline]] inline V step_down_if(const Mask<V>& m, const V& x) {
    if constexpr (Traits<V>::width == 1) {
        return from_bits<V>(to_bits(x) - static_cast<std::uint64_t>(m));
    } else {
        return from_bits<V>(to_bits(x) + (Bits<V>)m);
    }
}

// succ for finite x: +-0 gives the smallest subnormal, otherwise one step of
// the bit pattern away from zero (x > 0) or towards it (x < 0).
template <class V>
[[gnu::always_inline]] inline V succ_finite(const V& x) {
    const Bits<V> bits = to_bits(x);
    const V stepped = select<V>(x > splat<V>(0.0), from_bits<V>(bits + 1), from_bits<V>(bits - 1));
    return select<V>(x == splat<V>(0.0), splat<V>(kMinSubnormal), stepped);
}

// The larger and the smaller of x and y, as MAXPD and MINPD: y when either is NaN.
template <class V>
[[gnu::always_inline]] inline V larger(const V& x, const V& y) {
    if constexpr (Traits<V>::width == 4) {
        return _mm256_max_pd(x, y);
    } else if constexpr (Traits<V>::width == 8) {
        return _mm512_max_pd(x, y);
    } else {
        return select<V>(x > y, x, y);
    }
}
template <class V>
[[gnu::always_inline]] inline V smaller(const V& x, const V& y) {
    if constexpr (Traits<V>::width == 4) {
        return _mm256_min_pd(x, y);
    } else if constexpr (Traits<V>::width == 8) {
        return _mm512_min_pd(x, y);
    } else {
        return select<V>(x < y, x, y);
    }
}

// TwoSum of rounding.hpp, lane by lane, with s - x clamped in the same way.
template <class V>
[[gnu::always_inline]] inline V sum_error(const V& x, const V& y, const V& s) {
    const V b = larger<V>(splat<V>(-kDoubleMax), smaller<V>(splat<V>(kDoubleMax), s - x));
    return (x - (s - b)) + (y - b);
}

// NaN replaced by +inf, everything else kept.
template <class V>
[[gnu::always_inline]] inline V nan_to_infinity(const V& x) {
    return smaller<V>(x, splat<V>(kInfinity));
}

// add_up for x, y >= 0. With h = max(x, y) >= l = min(x, y) >= 0, s - h is
// exact and l - (s - h) is the exact error of s (Dekker's Fast2Sum), so the
// error is positive exactly when l > s - h. An infinite s gives s - h = +inf
// or NaN and a NaN operand makes the compare false.
//
// On the eight-lane target the four primitives below are single instructions
// with the rounding direction embedded (EVEX static rounding, no exception
// flags). The stepped forms give the correctly rounded upward (downward)
// result for the operands they admit, because each decides the step from the
// sign of an exact error term; so the embedded forms give the same doubles,
// NaN and infinity included (both propagate a NaN operand unchanged and round
// an overflow up to +inf).
inline constexpr int kUpward = _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC;
inline constexpr int kDownward = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;

template <class V>
[[gnu::always_inline]] inline V add_up_nonneg(const V& x, const V& y) {
    if constexpr (Traits<V>::width == 8) {
        return _mm512_add_round_pd(x, y, kUpward);
    } else {
        const V s = x + y;
        return step_up_if<V>(smaller(x, y) > s - larger(x, y), s);
    }
}

// add_down(x, -y) for x >= y >= 0: s - x is exact and (x - s) - y is the exact
// error of s = fl(x - y) (Fast2Sum), negative exactly when x - s < y.
// (The downward instruction gives -0 for x == y where this gives +0; callers
// use the difference only where x > y.)
template <class V>
[[gnu::always_inline]] inline V diff_down_ordered(const V& x, const V& y) {
    if constexpr (Traits<V>::width == 8) {
        return _mm512_sub_round_pd(x, y, kDownward);
    } else {
        const V s = x - y;
        return step_down_if<V>(x - s < y, s);
    }
}

// mul_up for x, y >= 0 in lanes where neither factor is small_factor: the
// residual is exact and positive exactly when p is below x*y (then p < +inf);
// an infinite p gives a residual of -inf or NaN.
template <class V>
[[gnu::always_inline]] inline V mul_up_nonneg(const V& x, const V& y) {
    if constexpr (Traits<V>::width == 8) {
        return _mm512_mul_round_pd(x, y, kUpward);
    } else {
        const V p = x * y;
        return step_up_if<V>(fused(x, y, -p) > splat<V>(0.0), p);
    }
}

// mul_down for x, y >= 0 under the same condition: p lies above x*y exactly
// when the residual is negative (then p > 0, and an overflow to +inf steps
// down to DBL_MAX, as rounding downward gives).
template <class V>
[[gnu::always_inline]] inline V mul_down_nonneg(const V& x, const V& y) {
    if constexpr (Traits<V>::width == 8) {
        return _mm512_mul_round_pd(x, y, kDownward);
    } else {
        const V p = x * y;
        return step_down_if<V>(fused(x, y, -p) < splat<V>(0.0), p);
    }
}

// div_up for n >= 0 and d > 0 in lanes where neither n nor the quotient is
// small: q = fl(n/d) lies below n/d exactly when the exact residual d*q - n
// is negative (then q is finite and >= +0).
template <class V>
[[gnu::always_inline]] inline V div_up_pos(const V& n, const V& d) {
    if constexpr (Traits<V>::width == 8) {
        return _mm512_div_round_pd(n, d, kUpward);
    } else {
        const V q = n / d;
        return step_up_if<V>(fused(d, q, -n) < splat<V>(0.0), q);
    }
}

// div_down for n >= 0 and d > 0 under the same condition: q lies above n/d
// exactly when the residual is positive (then q > 0).
template <class V>
[[gnu::always_inline]] inline V div_down_pos(const V& n, const V& d) {
    if constexpr (Traits<V>::width == 8) {
        return _mm512_div_round_pd(n, d, kDownward);
    } else {
        const V q = n / d;
        return step_down_if<V>(fused(d, q, -n) > splat<V>(0.0), q);
    }
}

// Lanes with 0 < x < `limit` (a positive double) for x with its sign bit
// clear: the unsigned compare bits(x) - 1 < bits(limit) - 1, in which +0 wraps
// to the largest value (a set sign bit is not flagged either, see sign_set).
// AVX2 has only the signed compare: 2^63 - 1 is added to both sides in
// unsigned lanes, and the sums are compared as signed.
template <class V>
[[gnu::always_inline]] inline Mask<V> below_nonzero(const V& x, double limit) {
    constexpr std::uint64_t kBias = 0x7FFFFFFFFFFFFFFFULL;
    if constexpr (Traits<V>::width == 1) {
        return to_bits(x) - 1 < std::bit_cast<std::uint64_t>(limit) - 1;
    } else {
        const Bits<V> biased = to_bits(x) + kBias;
        const Bits<V> bound = to_bits(splat<V>(limit)) + kBias;
        return (Mask<V>)biased < (Mask<V>)bound;
    }
}

// Factors from which a product of non-zero factors may fall below
// kProductResidualLimit: if x, y != 0 and x*y < 2^-967 then min(x, y) < 2^-483.5,
// so lanes where no factor lies in (0, 2^-483) have every such product's fma
// residual exact (and the scalar reference takes its plain path for them).
inline constexpr double kSmallFactor = 0x1p-483;
static_assert(kSmallFactor * kSmallFactor >= 2 * kProductResidualLimit);

template <class V>
[[gnu::always_inline]] inline Mask<V> small_factor(const V& x) {
    return below_nonzero(x, kSmallFactor);
}

// The sign bits of x as a mask that `any` reads (only the sign bit of a lane
// counts): lanes whose operand is not known to be non-negative.
template <class V>
[[gnu::always_inline]] inline Mask<V> sign_set(const V& x) {
    if constexpr (Traits<V>::width == 1) {
        return std::signbit(x);
    } else {
        return (Mask<V>)to_bits(x);
    }
}

// The lane types of each target: `Wide` for operations built from plain IEEE
// operations and compares, `Fused` for those that need the fused multiply-add
// (a library call without the FMA extension, so one element at a time there).
// `Scalar` is the reference that every target reproduces bit for bit.
struct Scalar {
    using Wide = double;
    using Fused = double;
};
struct Baseline {
    using Wide = V2;
    using Fused = double;
};
struct Avx2 {
    using Wide = V4;
    using Fused = V4;
};
struct Avx512 {
    using Wide = V8;
    using Fused = V8;
};

// succ_if and pred_if of rounding.hpp, lane by lane: the same bit steps.
template <class V>
[[gnu::always_inline]] inline V succ_if(const Mask<V>& step, const V& x) {
    const Bits<V> b = to_bits<V>(x + splat<V>(0.0));
    const Bits<V> stepped = b + 1 - ((b >> 63) << 1);
    Bits<V> mask;
    if constexpr (Traits<V>::width == 1) {
        mask = 0 - static_cast<std::uint64_t>(step);
    } else {
        mask = (Bits<V>)step;
    }
    return from_bits<V>((to_bits<V>(x) & ~mask) | (stepped & mask));
}

template <class V>
[[gnu::always_inline]] inline V pred_if(const Mask<V>& step, const V& x) {
    return -succ_if<V>(step, -x);
}

// add_up(x, y) where x + y is finite: one step up where the TwoSum error is positive.
template <class V>
[[gnu::always_inline]] inline V add_up_finite(const V& x, const V& y) {
    const V s = x + y;
    return succ_if<V>(sum_error<V>(x, y, s) > splat<V>(0.0), s);
}

}  // namespace lanes
}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
