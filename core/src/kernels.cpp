// Element kernels of + - * / and negation, with one loop per operand layout
// (both operands full, or one a repeated single element) and one copy per
// instruction set: SSE2 (the x86-64 baseline) and AVX2 + FMA, chosen once at
// run time. The AVX2 copy also turns every fma into the hardware instruction.
#include "boundwise/kernels.hpp"

#include <cmath>
#include <cstring>

#include "boundwise/rounding.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {

namespace {

using lanes::splat;
using lanes::V2;
using lanes::V4;

// Sum: m = fl(am + bm); the TwoSum error of m is exact, so
// r = up(|err| + up(ar + br)) bounds |a + b - m| for every a, b in the
// operands. A midpoint that overflowed gets radius +inf (its TwoSum error is
// NaN); a NaN midpoint keeps the NaN radius.
struct AddOp {
    template <class V>
    [[gnu::always_inline]] void operator()(const V& am, const V& ar, const V& bm, const V& br, V& m, V& r) const {
        m = am + bm;
        const V e = lanes::abs(lanes::sum_error(am, bm, m));
        r = lanes::select<V>(lanes::infinite(m), splat<V>(kInfinity), lanes::add_up(e, lanes::add_up(ar, br)));
    }
};

struct SubtractOp {
    template <class V>
    [[gnu::always_inline]] void operator()(const V& am, const V& ar, const V& bm, const V& br, V& m, V& r) const {
        m = am - bm;
        const V e = lanes::abs(lanes::sum_error(am, -bm, m));
        r = lanes::select<V>(lanes::infinite(m), splat<V>(kInfinity), lanes::add_up(e, lanes::add_up(ar, br)));
    }
};

// Product (Rump, "Fast and parallel interval arithmetic", BIT 39, 1999, the
// midpoint-radius product): for a = am + x, b = bm + y with |x| <= ar,
// |y| <= br, |ab - m| <= |am bm - m| + |am| br + |bm| ar + ar br, where
// |am bm - m| is the fma residual (with the underflow term of
// product_error). A NaN radius (0 * inf) or a non-finite midpoint gives +inf.
struct MultiplyOp {
    [[gnu::always_inline]] void operator()(double am, double ar, double bm, double br, double& m,
                                           double& r) const {
        m = am * bm;
        const double e = is_finite(m) ? product_error(am, bm, m) : kInfinity;
        const double s1 = add_up(mul_up(std::fabs(am), br), mul_up(std::fabs(bm), ar));
        const double s2 = add_up(e, mul_up(ar, br));
        r = add_up(s1, s2);
        if (!is_finite(m) || std::isnan(r)) r = kInfinity;
    }
};

// The product above when one operand is an exact number (radius 0): the terms
// with its radius vanish, and r = up(|exact| * other radius + e) is the same
// double as the general formula gives.
template <bool ExactIsB>
struct MultiplyExactOp {
    [[gnu::always_inline]] void operator()(double am, double ar, double bm, double br, double& m,
                                           double& r) const {
        m = am * bm;
        const double e = is_finite(m) ? product_error(am, bm, m) : kInfinity;
        r = ExactIsB ? add_up(mul_up(std::fabs(bm), ar), e) : add_up(mul_up(std::fabs(am), br), e);
        if (!is_finite(m) || std::isnan(r)) r = kInfinity;
    }
};

// Quotient radius for q = fl(am / bm) with 0 outside [bm - br, bm + br]
// (Rump 1999, midpoint-radius division): for a = am + x, b = bm + y,
// a/b - q = (am - q bm + x - q y) / b, so
// |a/b - q| <= (|am - q bm| + ar + |q| br) / (|bm| - br); the residual is the
// fma remainder (exact for a correctly rounded quotient, Bohlender et al.
// 1991) with the underflow term of quotient_error.
[[gnu::always_inline]] inline double quotient_radius(double am, double ar, double bm, double br, double q) {
    const double e = is_finite(q) ? quotient_error(am, bm, q) : kInfinity;
    const double num = add_up(add_up(ar, e), mul_up(std::fabs(q), br));
    double den = diff_down(std::fabs(bm), br);
    if (den == kInfinity) den = kDoubleMax;
    const double r = den > 0 ? div_up(num, den) : kInfinity;
    return std::isnan(r) ? kInfinity : r;
}

// The loop over [begin, end): full vectors of V, then single elements with the
// same operation. A single-element operand is read once and repeated.
template <class V, bool ASingle, bool BSingle, class Op>
[[gnu::always_inline]] inline void binary_loop(KernelOperand a, KernelOperand b, KernelOutput out,
                                               std::size_t begin, std::size_t end, Op op) {
    const double* __restrict am = a.mid;
    const double* __restrict ar = a.rad;
    const double* __restrict bm = b.mid;
    const double* __restrict br = b.rad;
    double* __restrict om = out.mid;
    double* __restrict orad = out.rad;
    constexpr std::size_t width = lanes::Traits<V>::width;
    std::size_t i = begin;
    if constexpr (width > 1) {
        const V am0 = splat<V>(am[0]);
        const V ar0 = splat<V>(ar[0]);
        const V bm0 = splat<V>(bm[0]);
        const V br0 = splat<V>(br[0]);
        for (; i + width <= end; i += width) {
            V m;
            V r;
            op(ASingle ? am0 : lanes::load<V>(am + i), ASingle ? ar0 : lanes::load<V>(ar + i),
               BSingle ? bm0 : lanes::load<V>(bm + i), BSingle ? br0 : lanes::load<V>(br + i), m, r);
            lanes::store(om + i, m);
            lanes::store(orad + i, r);
        }
    }
    for (; i < end; ++i) {
        double m;
        double r;
        op(am[ASingle ? 0 : i], ar[ASingle ? 0 : i], bm[BSingle ? 0 : i], br[BSingle ? 0 : i], m, r);
        om[i] = m;
        orad[i] = r;
    }
}

template <class V, class Op>
[[gnu::always_inline]] inline void binary_layouts(KernelOperand a, KernelOperand b, KernelOutput out,
                                                  std::size_t begin, std::size_t end, Op op) {
    if (a.single && b.single) {
        binary_loop<V, true, true>(a, b, out, begin, end, op);
    } else if (a.single) {
        binary_loop<V, true, false>(a, b, out, begin, end, op);
    } else if (b.single) {
        binary_loop<V, false, true>(a, b, out, begin, end, op);
    } else {
        binary_loop<V, false, false>(a, b, out, begin, end, op);
    }
}

// Scalar: each element calls fma several times (the AVX2 copy inlines them).
[[gnu::always_inline]] inline void multiply_layouts(KernelOperand a, KernelOperand b, KernelOutput out,
                                                    std::size_t begin, std::size_t end) {
    if (b.single && !a.single && b.rad[0] == 0) {
        binary_loop<double, false, true>(a, b, out, begin, end, MultiplyExactOp<true>{});
    } else if (a.single && !b.single && a.rad[0] == 0) {
        binary_loop<double, true, false>(a, b, out, begin, end, MultiplyExactOp<false>{});
    } else {
        binary_layouts<double>(a, b, out, begin, end, MultiplyOp{});
    }
}

// Midpoints of a quotient: plain divisions, vectorised.
struct QuotientMidpointOp {
    template <class V>
    [[gnu::always_inline]] void operator()(const V& am, const V&, const V& bm, const V&, V& m, V& r) const {
        m = am / bm;
        r = m;  // scratch: overwritten by the radius pass
    }
};

template <bool ASingle, bool BSingle>
[[gnu::always_inline]] inline void quotient_radii(KernelOperand a, KernelOperand b, KernelOutput out,
                                                  std::size_t begin, std::size_t end) {
    const double* __restrict om = out.mid;
    double* __restrict orad = out.rad;
    for (std::size_t i = begin; i < end; ++i) {
        const std::size_t ia = ASingle ? 0 : i;
        const std::size_t ib = BSingle ? 0 : i;
        orad[i] = quotient_radius(a.mid[ia], a.rad[ia], b.mid[ib], b.rad[ib], om[i]);
    }
}

template <class V>
[[gnu::always_inline]] inline void divide_layouts(KernelOperand a, KernelOperand b, KernelOutput out,
                                                  std::size_t begin, std::size_t end) {
    binary_layouts<V>(a, b, out, begin, end, QuotientMidpointOp{});
    if (a.single && b.single) {
        quotient_radii<true, true>(a, b, out, begin, end);
    } else if (a.single) {
        quotient_radii<true, false>(a, b, out, begin, end);
    } else if (b.single) {
        quotient_radii<false, true>(a, b, out, begin, end);
    } else {
        quotient_radii<false, false>(a, b, out, begin, end);
    }
}

// Sign bits flipped, two vectors per step; radii copied as a block.
template <class V>
[[gnu::always_inline]] inline void negate_loop(const double* __restrict mid, const double* __restrict rad,
                                               KernelOutput out, std::size_t n) {
    constexpr std::size_t width = lanes::Traits<V>::width;
    double* __restrict om = out.mid;
    std::size_t i = 0;
    for (; i + 2 * width <= n; i += 2 * width) {
        lanes::store(om + i, -lanes::load<V>(mid + i));
        lanes::store(om + i + width, -lanes::load<V>(mid + i + width));
    }
    for (; i < n; ++i) om[i] = -mid[i];
    if (n) std::memcpy(out.rad, rad, n * sizeof(double));
}

// ---- SSE2 baseline ----

void add_sse2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    binary_layouts<V2>(a, b, o, begin, end, AddOp{});
}
void subtract_sse2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    binary_layouts<V2>(a, b, o, begin, end, SubtractOp{});
}
void multiply_sse2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    multiply_layouts(a, b, o, begin, end);
}
void divide_sse2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    divide_layouts<V2>(a, b, o, begin, end);
}
void negate_sse2(const double* mid, const double* rad, KernelOutput o, std::size_t n) {
    negate_loop<V2>(mid, rad, o, n);
}

// ---- AVX2 + FMA ----

[[gnu::target("avx2,fma")]] void add_avx2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin,
                                          std::size_t end) {
    binary_layouts<V4>(a, b, o, begin, end, AddOp{});
}
[[gnu::target("avx2,fma")]] void subtract_avx2(KernelOperand a, KernelOperand b, KernelOutput o,
                                               std::size_t begin, std::size_t end) {
    binary_layouts<V4>(a, b, o, begin, end, SubtractOp{});
}
[[gnu::target("avx2,fma")]] void multiply_avx2(KernelOperand a, KernelOperand b, KernelOutput o,
                                               std::size_t begin, std::size_t end) {
    multiply_layouts(a, b, o, begin, end);
}
[[gnu::target("avx2,fma")]] void divide_avx2(KernelOperand a, KernelOperand b, KernelOutput o,
                                             std::size_t begin, std::size_t end) {
    divide_layouts<V4>(a, b, o, begin, end);
}
[[gnu::target("avx2,fma")]] void negate_avx2(const double* mid, const double* rad, KernelOutput o,
                                             std::size_t n) {
    negate_loop<V4>(mid, rad, o, n);
}

ArithmeticKernels select_kernels() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return {add_avx2, subtract_avx2, multiply_avx2, divide_avx2, negate_avx2};
    return {add_sse2, subtract_sse2, multiply_sse2, divide_sse2, negate_sse2};
}

}  // namespace

const ArithmeticKernels& arithmetic_kernels() {
    static const ArithmeticKernels kernels = select_kernels();
    return kernels;
}

}  // namespace boundwise
