// Element kernels that work on the outward-rounded ends of their operands:
// maximum and minimum of two operands, clip to two bounds, and integer powers.
// Narrow and ordinary lanes repeat the scalar rule's IEEE operations
// (endpoint_lanes.hpp); a group with any other lane is computed by the rule,
// so every element gets the rule's bits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "boundwise/elementwise/rules.hpp"
#include "boundwise/kernels/element_functions.hpp"
#include "endpoint_lanes.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {
namespace element {

// The hull rule of maximum (minimum): the larger (smaller) lower ends and
// upper ends, put in order with maxNum and minNum as the rule does (of the
// ends -0 and +0 the first is kept by both, so the order matters).
template <bool Maximum>
struct ExtremeOp {
    template <class V>
    [[gnu::always_inline]] lanes::Mask<V> operator()(const V& am, const V& ar, const V& bm, const V& br, V& m,
                                                     V& r) const {
        using namespace lanes;
        V alo, ahi, blo, bhi;
        const auto redo = either<V>(any_ends<V>(am, ar, alo, ahi), any_ends<V>(bm, br, blo, bhi));
        const V lo = Maximum ? max_num<V>(alo, blo) : min_num<V>(alo, blo);
        const V hi = Maximum ? max_num<V>(ahi, bhi) : min_num<V>(ahi, bhi);
        return either<V>(redo, any_from_ends<V>(min_num<V>(lo, hi), max_num<V>(lo, hi), m, r));
    }
    Interval operator()(double am, double ar, double bm, double br, Status& flags) const noexcept {
        return Maximum ? elementwise::maximum_rule(am, ar, bm, br, flags)
                       : elementwise::minimum_rule(am, ar, bm, br, flags);
    }
};

// Pairs of elements over [begin, end), a single-element operand repeated.
template <class V, bool ASingle, bool BSingle, class Op>
[[gnu::always_inline]] inline Status pair_loop(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                                               std::size_t end, Op op) {
    Status flags = Status::None;
    const auto scalar = [&](std::size_t j) {
        const std::size_t ja = ASingle ? 0 : j;
        const std::size_t jb = BSingle ? 0 : j;
        const Interval v = op(a.mid[ja], a.rad[ja], b.mid[jb], b.rad[jb], flags);
        out.mid[j] = v.mid;
        out.rad[j] = v.rad;
    };
    constexpr std::size_t width = lanes::Traits<V>::width;
    std::size_t i = begin;
    if constexpr (width > 1) {
        const auto part = [](const double* p, bool single, std::size_t k) {
            return single ? lanes::splat<V>(p[0]) : lanes::load<V>(p + k);
        };
        for (; i + width <= end; i += width) {
            V m;
            V r;
            const auto redo = op(part(a.mid, ASingle, i), part(a.rad, ASingle, i), part(b.mid, BSingle, i),
                                 part(b.rad, BSingle, i), m, r);
            if (lanes::any<V>(redo)) [[unlikely]] {
                for (std::size_t j = i; j < i + width; ++j) scalar(j);
                continue;
            }
            lanes::store(out.mid + i, m);
            lanes::store(out.rad + i, r);
        }
    }
    for (; i < end; ++i) scalar(i);
    return flags;
}

template <class V, class Op>
Status pair_kernel(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin, std::size_t end) noexcept {
    if (a.single && b.single) return pair_loop<V, true, true>(a, b, out, begin, end, Op{});
    if (a.single) return pair_loop<V, true, false>(a, b, out, begin, end, Op{});
    if (b.single) return pair_loop<V, false, true>(a, b, out, begin, end, Op{});
    return pair_loop<V, false, false>(a, b, out, begin, end, Op{});
}

// One operand and parameters held by the operation, over [0, n).
template <class V, class Op>
[[gnu::always_inline]] inline Status parameter_loop(const double* mid, const double* rad, KernelOutput out,
                                                    std::size_t n, const Op& op) {
    Status flags = Status::None;
    const auto scalar = [&](std::size_t j) {
        const Interval v = op(mid[j], rad[j], flags);
        out.mid[j] = v.mid;
        out.rad[j] = v.rad;
    };
    constexpr std::size_t width = lanes::Traits<V>::width;
    std::size_t i = 0;
    if constexpr (width > 1) {
        for (; i + width <= n; i += width) {
            V m;
            V r;
            if (lanes::any<V>(op(lanes::load<V>(mid + i), lanes::load<V>(rad + i), m, r))) [[unlikely]] {
                for (std::size_t j = i; j < i + width; ++j) scalar(j);
                continue;
            }
            lanes::store(out.mid + i, m);
            lanes::store(out.rad + i, r);
        }
    }
    for (; i < n; ++i) scalar(i);
    return flags;
}

// clip to [a_min, a_max]: both ends clamped with maxNum then minNum.
struct ClipOp {
    double a_min;
    double a_max;
    template <class V>
    [[gnu::always_inline]] lanes::Mask<V> operator()(const V& m, const V& r, V& om, V& orad) const {
        using namespace lanes;
        V lo, hi;
        const auto redo = any_ends<V>(m, r, lo, hi);
        lo = min_num<V>(max_num<V>(lo, splat<V>(a_min)), splat<V>(a_max));
        hi = min_num<V>(max_num<V>(hi, splat<V>(a_min)), splat<V>(a_max));
        return either<V>(redo, any_from_ends<V>(min_num<V>(lo, hi), max_num<V>(lo, hi), om, orad));
    }
    Interval operator()(double m, double r, Status&) const noexcept {
        return elementwise::clip_rule(m, r, a_min, a_max);
    }
};

template <class V>
Status clip_kernel(const double* mid, const double* rad, KernelOutput out, std::size_t n, double a_min,
                   double a_max) noexcept {
    return parameter_loop<V>(mid, rad, out, n, ClipOp{a_min, a_max});
}

// x^k for an integer 1 <= |k| < 2^53 by binary exponentiation of endpoint
// pairs and, for k < 0, the outward-rounded reciprocal, as the rule does, in
// lanes whose base is positive (or negative, for an even k: the first square
// is the square of the magnitudes). A product of
// positive pairs is [down(lo lo'), up(hi hi')], its corners being ordered; a
// product with the rule's starting pair [1, 1] is exact, so it is skipped.
// Lanes with a factor below kSmallFactor (whose residual could underflow) or
// with ends beyond the ordinary range go to the rule.
struct IntegerPowerOp {
    double k;
    template <class V>
    [[gnu::always_inline]] lanes::Mask<V> operator()(const V& m, const V& r, V& om, V& orad) const {
        using namespace lanes;
        V lo, hi;
        auto redo = any_ends<V>(m, r, lo, hi);
        auto e = static_cast<std::uint64_t>(std::fabs(k));
        if (e % 2 == 0) {
            const auto negative = hi < splat<V>(0.0);
            const V mirrored_lo = select<V>(negative, -hi, lo);
            hi = select<V>(negative, -lo, hi);
            lo = mirrored_lo;
        }
        redo = either<V>(redo, !(lo > splat<V>(0.0)));
        const auto factors = [&](const V& x, const V& y) { redo = either<V>(redo, either<V>(small_factor<V>(x), small_factor<V>(y))); };
        V rlo = lo;
        V rhi = hi;
        bool started = e & 1;
        while (e >= 2) {
            e /= 2;
            factors(lo, hi);
            lo = mul_down_nonneg<V>(lo, lo);
            hi = mul_up_nonneg<V>(hi, hi);
            if (e & 1) {
                if (started) {
                    factors(rlo, rhi);
                    factors(lo, hi);
                    rlo = mul_down_nonneg<V>(rlo, lo);
                    rhi = mul_up_nonneg<V>(rhi, hi);
                } else {
                    rlo = lo;
                    rhi = hi;
                    started = true;
                }
            }
        }
        if (k < 0) {  // [1 / hi, 1 / lo] of the positive power, rounded outward
            redo = either<V>(redo, !(rhi < splat<V>(kInfinity)));
            const V reciprocal_lo = div_down_pos<V>(splat<V>(1.0), rhi);
            rhi = div_up_pos<V>(splat<V>(1.0), rlo);
            rlo = reciprocal_lo;
        }
        return either<V>(redo, any_from_ends<V>(rlo, rhi, om, orad));
    }
    Interval operator()(double m, double r, Status& flags) const noexcept {
        return elementwise::power_rule(m, r, k, flags);
    }
};

template <class V>
Status integer_power_kernel(const double* mid, const double* rad, KernelOutput out, std::size_t n,
                            double k) noexcept {
    return parameter_loop<V>(mid, rad, out, n, IntegerPowerOp{k});
}

}  // namespace element
}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
