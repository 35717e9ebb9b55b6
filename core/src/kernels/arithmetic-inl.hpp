// The element operations of + - * / and negation, the loops that apply them
// and the table of the arithmetic family, written once for every lane type
// (lanes.hpp). Included by one source file per instruction set, after its
// target pragma; everything here has internal linkage, so each file gets its
// own copy compiled for its own target.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>

#include "boundwise/kernels/arithmetic.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "endpoint_lanes.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {

using lanes::splat;

// Sum: m = fl(am + bm); the TwoSum error of m is exact, so
// r = up(|err| + up(ar + br)) bounds |a + b - m| for every a, b in the
// operands. A midpoint that overflowed gets radius +inf (its TwoSum error is
// NaN); a NaN midpoint keeps the NaN radius. The three terms are >= 0, -0 or
// NaN (stored radii never are negative), so the cheaper non-negative upward
// sums give the same doubles as add_up.
struct AddOp {
    static constexpr bool defers = false;
    template <class V>
    [[gnu::always_inline]] void operator()(const V& am, const V& ar, const V& bm, const V& br, V& m, V& r) const {
        m = am + bm;
        const V e = lanes::abs(lanes::sum_error(am, bm, m));
        r = lanes::select<V>(lanes::infinite(m), splat<V>(kInfinity), lanes::add_up_nonneg(e, lanes::add_up_nonneg(ar, br)));
    }
};

struct SubtractOp {
    static constexpr bool defers = false;
    template <class V>
    [[gnu::always_inline]] void operator()(const V& am, const V& ar, const V& bm, const V& br, V& m, V& r) const {
        m = am - bm;
        const V e = lanes::abs(lanes::sum_error(am, -bm, m));
        r = lanes::select<V>(lanes::infinite(m), splat<V>(kInfinity), lanes::add_up_nonneg(e, lanes::add_up_nonneg(ar, br)));
    }
};

// Which factor of a product the caller knows to be an exact number (radius 0).
enum class ExactFactor { None, A, B };

// Product (Rump, "Fast and parallel interval arithmetic", BIT 39, 1999, the
// midpoint-radius product): for a = am + x, b = bm + y with |x| <= ar,
// |y| <= br, |ab - m| <= |am bm - m| + |am| br + |bm| ar + ar br, where
// |am bm - m| is the fma residual (with the underflow term of
// product_error). A NaN radius (0 * inf) or a non-finite midpoint gives +inf.
// With an exact factor the terms with its radius vanish, and
// r = up(|exact| * other radius + e) is the same double as the general formula.
template <ExactFactor X>
struct MultiplyOp {
    [[gnu::always_inline]] void operator()(double am, double ar, double bm, double br, double& m,
                                           double& r) const {
        m = am * bm;
        const double e = is_finite(m) ? product_error(am, bm, m) : kInfinity;
        if constexpr (X == ExactFactor::None) {
            const double s1 = add_up(mul_up(std::fabs(am), br), mul_up(std::fabs(bm), ar));
            const double s2 = add_up(e, mul_up(ar, br));
            r = add_up(s1, s2);
        } else if constexpr (X == ExactFactor::B) {
            r = add_up(mul_up(std::fabs(bm), ar), e);
        } else {
            r = add_up(mul_up(std::fabs(am), br), e);
        }
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

// Four-lane forms of the three operations above (AVX2 + FMA). Each computes
// the same doubles as its scalar reference, except in lanes where an fma
// residual may have underflowed or a radius has its sign bit set; it reports
// those lanes (the sign bit of each lane of the returned mask), and the loop
// then recomputes the whole group with the reference.
//
// Every radius term is a sum or product of magnitudes and radii, so the
// non-negative forms of lanes.hpp apply. A non-finite midpoint needs no test
// of its own: its fma residual is +inf or NaN, which makes the radius sum +inf
// or NaN, and NaN becomes +inf as in the reference.

// The parts every four-lane product form starts from: m = fl(am bm), |am|,
// |bm| and |am bm - m| from the fma (exact outside the deferred lanes).
template <class V>
struct ProductParts {
    V a;
    V b;
    V e;
};

template <class V>
[[gnu::always_inline]] inline ProductParts<V> product_parts(const V& am, const V& bm, V& m) {
    m = am * bm;
    return {lanes::abs(am), lanes::abs(bm), lanes::abs(lanes::fused(am, bm, -m))};
}

template <ExactFactor X>
struct MultiplyLanes {
    static constexpr bool defers = true;
    template <class V>
    [[gnu::always_inline]] lanes::Mask<V> operator()(const V& am, const V& ar, const V& bm, const V& br, V& m,
                                                     V& r) const {
        using namespace lanes;
        const auto [a, b, e] = product_parts(am, bm, m);
        if constexpr (X == ExactFactor::None) {
            const V s1 = add_up_nonneg(mul_up_nonneg(a, br), mul_up_nonneg(b, ar));
            const V s2 = add_up_nonneg(e, mul_up_nonneg(ar, br));
            r = nan_to_infinity(add_up_nonneg(s1, s2));
            return either<V>(either<V>(either<V>(small_factor(a), small_factor(b)), either<V>(small_factor(ar), small_factor(br))),
                             sign_set<V>(from_bits<V>(to_bits(ar) | to_bits(br))));
        } else {
            const V radius = X == ExactFactor::B ? ar : br;
            r = nan_to_infinity(add_up_nonneg(mul_up_nonneg(X == ExactFactor::B ? b : a, radius), e));
            return either<V>(either<V>(small_factor(a), small_factor(b)),
                             either<V>(small_factor(radius), sign_set(radius)));
        }
    }
    void operator()(double am, double ar, double bm, double br, double& m, double& r) const {
        MultiplyOp<X>{}(am, ar, bm, br, m, r);
    }
};

// The quotient q = fl(am / bm) and its radius. Where the divisor excludes zero
// (|bm| > br, the test den > 0 of the reference), den = down(|bm| - br) is
// positive and num >= 0; elsewhere the radius is +inf. The residual of q is
// exact unless 0 < |am| < kQuotientResidualLimit, that of num / den unless
// 0 < num < kQuotientResidualLimit. The vector form takes q already divided
// (see quotient_loop).
struct QuotientLanes {
    static constexpr bool defers = true;
    template <class V>
    [[gnu::always_inline]] lanes::Mask<V> radius(const V& am, const V& ar, const V& bm, const V& br, const V& q,
                                                 V& r) const {
        using namespace lanes;
        const V a = abs(am);
        const V b = abs(bm);
        const V aq = abs(q);
        const V e = abs(fused(bm, q, -am));
        const V num = add_up_nonneg(add_up_nonneg(ar, e), mul_up_nonneg(aq, br));
        const V den = smaller(diff_down_ordered(b, br), splat<V>(kDoubleMax));
        r = nan_to_infinity(select<V>(b > br, div_up_pos(num, den), splat<V>(kInfinity)));
        return either<V>(either<V>(either<V>(below_nonzero(a, kQuotientResidualLimit), below_nonzero(num, kQuotientResidualLimit)),
                                   either<V>(small_factor(aq), small_factor(br))),
                         sign_set<V>(from_bits<V>(to_bits(ar) | to_bits(br))));
    }
    void operator()(double am, double ar, double bm, double br, double& q, double& r) const {
        q = am / bm;
        r = quotient_radius(am, ar, bm, br, q);
    }
};

// Where the loop reads operand a (and b): from their own buffers, or from the
// output buffer, for the in-place forms a op= b and a op= a. Reading and
// writing element i through the one output pointer keeps the restrict
// promise when an operand is the output.
enum class Source { Operands, OutputIsA, OutputIsAB };

// The loop over [begin, end): full vectors of V, then single elements with the
// scalar form of the operation. A single-element operand is read once and
// repeated; no other operand is read outside [begin, end). An operation that
// defers lanes has the group redone by its scalar form; every element is read
// before its own output is written, so that works in place as well.
template <class V, bool ASingle, bool BSingle, Source S = Source::Operands, class Op>
[[gnu::always_inline]] inline void binary_loop(KernelOperand a, KernelOperand b, KernelOutput out,
                                               std::size_t begin, std::size_t end, Op op) {
    static_assert(S == Source::Operands || !ASingle, "only a full operand can be the output");
    static_assert(S != Source::OutputIsAB || !BSingle, "only a full operand can be the output");
    constexpr bool a_out = S != Source::Operands;
    constexpr bool b_out = S == Source::OutputIsAB;
    double* __restrict om = out.mid;
    double* __restrict orad = out.rad;
    const double* __restrict am = a_out ? nullptr : a.mid;
    const double* __restrict ar = a_out ? nullptr : a.rad;
    const double* __restrict bm = b_out ? nullptr : b.mid;
    const double* __restrict br = b_out ? nullptr : b.rad;
    const auto a_mid = [&](std::size_t j) -> const double* { return a_out ? om + j : am + (ASingle ? 0 : j); };
    const auto a_rad = [&](std::size_t j) -> const double* { return a_out ? orad + j : ar + (ASingle ? 0 : j); };
    const auto b_mid = [&](std::size_t j) -> const double* { return b_out ? om + j : bm + (BSingle ? 0 : j); };
    const auto b_rad = [&](std::size_t j) -> const double* { return b_out ? orad + j : br + (BSingle ? 0 : j); };
    constexpr std::size_t width = lanes::Traits<V>::width;
    const auto scalar = [&](std::size_t j) {
        double m;
        double r;
        op(*a_mid(j), *a_rad(j), *b_mid(j), *b_rad(j), m, r);
        om[j] = m;
        orad[j] = r;
    };
    std::size_t i = begin;
    if constexpr (width > 1) {
        const V am0 = ASingle ? splat<V>(*a_mid(0)) : V{};
        const V ar0 = ASingle ? splat<V>(*a_rad(0)) : V{};
        const V bm0 = BSingle ? splat<V>(*b_mid(0)) : V{};
        const V br0 = BSingle ? splat<V>(*b_rad(0)) : V{};
        for (; i + width <= end; i += width) {
            V m;
            V r;
            const V x = ASingle ? am0 : lanes::load<V>(a_mid(i));
            const V xr = ASingle ? ar0 : lanes::load<V>(a_rad(i));
            const V y = BSingle ? bm0 : lanes::load<V>(b_mid(i));
            const V yr = BSingle ? br0 : lanes::load<V>(b_rad(i));
            if constexpr (Op::defers) {
                const auto defer = op(x, xr, y, yr, m, r);
                if (lanes::any<V>(defer)) [[unlikely]] {
                    for (std::size_t j = i; j < i + width; ++j) scalar(j);
                    continue;
                }
            } else {
                op(x, xr, y, yr, m, r);
            }
            lanes::store(om + i, m);
            lanes::store(orad + i, r);
        }
    }
    for (; i < end; ++i) scalar(i);
}

template <class V, Source S = Source::Operands, class Op>
[[gnu::always_inline]] inline void binary_layouts(KernelOperand a, KernelOperand b, KernelOutput out,
                                                  std::size_t begin, std::size_t end, Op op) {
    if constexpr (S == Source::OutputIsAB) {
        binary_loop<V, false, false, S>(a, b, out, begin, end, op);
    } else if constexpr (S == Source::OutputIsA) {
        if (b.single) {
            binary_loop<V, false, true, S>(a, b, out, begin, end, op);
        } else {
            binary_loop<V, false, false, S>(a, b, out, begin, end, op);
        }
    } else if (a.single && b.single) {
        binary_loop<V, true, true>(a, b, out, begin, end, op);
    } else if (a.single) {
        binary_loop<V, true, false>(a, b, out, begin, end, op);
    } else if (b.single) {
        binary_loop<V, false, true>(a, b, out, begin, end, op);
    } else {
        binary_loop<V, false, false>(a, b, out, begin, end, op);
    }
}

// Lanes whose divisor excludes zero under plain rounding, fl(bm - br) > 0 or
// fl(bm + br) < 0 (NaN fails both): the test that chooses between the
// quotient kernel and the endpoint path.
template <class V>
[[gnu::always_inline]] inline lanes::Mask<V> excludes_zero(const V& bm, const V& br) {
    return lanes::either<V>(bm - br > splat<V>(0.0), bm + br < splat<V>(0.0));
}

// Whether every divisor in [begin, end) excludes zero. Blocks are scanned
// without an early exit inside, so the test vectorises.
template <class V>
[[gnu::always_inline]] inline bool divisors_exclude_zero_loop(const double* __restrict bm, const double* __restrict br,
                                                              std::size_t begin, std::size_t end) {
    constexpr std::size_t width = lanes::Traits<V>::width;
    constexpr std::size_t block = 16 * width;
    constexpr unsigned kAllLanes = (1u << width) - 1;
    std::size_t i = begin;
    for (; i + width <= end;) {
        const std::size_t stop = end - i >= block ? i + block : end - (end - i) % width;
        auto all = excludes_zero<V>(lanes::load<V>(bm + i), lanes::load<V>(br + i));
        for (i += width; i < stop; i += width) all &= excludes_zero<V>(lanes::load<V>(bm + i), lanes::load<V>(br + i));
        if (lanes::lane_bits<V>(all) != kAllLanes) return false;
    }
    bool all = true;
    for (; i < end; ++i) all &= excludes_zero<double>(bm[i], br[i]);
    return all;
}

// Full vectors of a quotient, then the tail by binary_loop; returns whether
// every divisor in [begin, end) excludes zero (where one does not, the caller
// discards the results). The division of the next group is issued before the
// radius of the current one, so its latency overlaps that arithmetic instead
// of heading each group's chain.
// With S other than Source::Operands, a (and b) are read through the output
// pointers: each group is read before it is written, and the scalar groups
// take binary_loop's in-place form.
template <class V, bool ASingle, bool BSingle, Source S = Source::Operands>
[[gnu::always_inline]] inline bool quotient_loop(KernelOperand a, KernelOperand b, KernelOutput out,
                                                 std::size_t begin, std::size_t end) {
    constexpr std::size_t width = lanes::Traits<V>::width;
    if constexpr (S != Source::Operands) a = {out.mid, out.rad, false};
    if constexpr (S == Source::OutputIsAB) b = {out.mid, out.rad, false};
    const auto part = [](const double* p, bool single, std::size_t i) {
        return single ? splat<V>(p[0]) : lanes::load<V>(p + i);
    };
    std::size_t i = begin;
    auto all = excludes_zero<V>(splat<V>(1.0), splat<V>(0.0));
    if (i + width <= end) {
        V next = part(a.mid, ASingle, i) / part(b.mid, BSingle, i);
        for (; i + width <= end; i += width) {
            const V q = next;
            if (i + 2 * width <= end) next = part(a.mid, ASingle, i + width) / part(b.mid, BSingle, i + width);
            const V bm = part(b.mid, BSingle, i);
            const V br = part(b.rad, BSingle, i);
            all &= excludes_zero<V>(bm, br);
            V r;
            const auto defer = QuotientLanes{}.radius<V>(part(a.mid, ASingle, i), part(a.rad, ASingle, i), bm, br, q, r);
            if (lanes::any<V>(defer)) [[unlikely]] {
                binary_loop<double, ASingle, BSingle, S>(a, b, out, i, i + width, QuotientLanes{});
                continue;
            }
            lanes::store(out.mid + i, q);
            lanes::store(out.rad + i, r);
        }
    }
    binary_loop<double, ASingle, BSingle, S>(a, b, out, i, end, QuotientLanes{});
    const bool tail = BSingle ? excludes_zero<double>(b.mid[0], b.rad[0])
                              : divisors_exclude_zero_loop<double>(b.mid, b.rad, i, end);
    return tail && lanes::lane_bits<V>(all) == (1u << width) - 1;
}

template <class V>
bool divide_and_test_kernel(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                            std::size_t end) noexcept {
    if constexpr (lanes::Traits<V>::width == 1) {
        binary_layouts<V>(a, b, out, begin, end, QuotientLanes{});
        if (b.single) return excludes_zero<double>(b.mid[0], b.rad[0]);
        return divisors_exclude_zero_loop<V>(b.mid, b.rad, begin, end);
    } else if (a.single && b.single) {
        return quotient_loop<V, true, true>(a, b, out, begin, end);
    } else if (a.single) {
        return quotient_loop<V, true, false>(a, b, out, begin, end);
    } else if (b.single) {
        return quotient_loop<V, false, true>(a, b, out, begin, end);
    } else {
        return quotient_loop<V, false, false>(a, b, out, begin, end);
    }
}

template <class V>
void divide_kernel(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin, std::size_t end) noexcept {
    divide_and_test_kernel<V>(a, b, out, begin, end);
}

// V = double: the scalar reference (each element calls fma several times);
// V = V4: the four-lane forms.
template <class V, Source S = Source::Operands>
[[gnu::always_inline]] inline void multiply_layouts(KernelOperand a, KernelOperand b, KernelOutput out,
                                                    std::size_t begin, std::size_t end) {
    if constexpr (S == Source::OutputIsAB) {
        binary_loop<V, false, false, S>(a, b, out, begin, end, MultiplyLanes<ExactFactor::None>{});
    } else if (b.single && !a.single && b.rad[0] == 0) {
        binary_loop<V, false, true, S>(a, b, out, begin, end, MultiplyLanes<ExactFactor::B>{});
    } else if (S == Source::Operands && a.single && !b.single && a.rad[0] == 0) {
        binary_loop<V, true, false>(a, b, out, begin, end, MultiplyLanes<ExactFactor::A>{});
    } else {
        binary_layouts<V, S>(a, b, out, begin, end, MultiplyLanes<ExactFactor::None>{});
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

// The kernels of the family, one function per lane type and operation.
template <class V, class Op>
void binary_kernel(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin, std::size_t end) noexcept {
    binary_layouts<V>(a, b, out, begin, end, Op{});
}

template <class V>
void multiply_kernel(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin, std::size_t end) noexcept {
    multiply_layouts<V>(a, b, out, begin, end);
}

template <class V>
bool divisors_exclude_zero_kernel(KernelOperand b, std::size_t begin, std::size_t end) noexcept {
    if (b.single) return excludes_zero<double>(b.mid[0], b.rad[0]);
    return divisors_exclude_zero_loop<V>(b.mid, b.rad, begin, end);
}

// The in-place forms: a's elements are the output's (a.mid == out.mid), and
// b's too when b.mid == out.mid.
template <class V, class Op>
void binary_into_kernel(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                        std::size_t end) noexcept {
    if (!b.single && b.mid == out.mid) {
        binary_layouts<V, Source::OutputIsAB>(a, b, out, begin, end, Op{});
    } else {
        binary_layouts<V, Source::OutputIsA>(a, b, out, begin, end, Op{});
    }
}

template <class V>
void multiply_into_kernel(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                          std::size_t end) noexcept {
    if (!b.single && b.mid == out.mid) {
        multiply_layouts<V, Source::OutputIsAB>(a, b, out, begin, end);
    } else {
        multiply_layouts<V, Source::OutputIsA>(a, b, out, begin, end);
    }
}

// a /= b (and a /= a), with a's elements read from the output.
template <class V>
void divide_into_kernel(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                        std::size_t end) noexcept {
    if constexpr (lanes::Traits<V>::width == 1) {
        binary_into_kernel<V, QuotientLanes>(a, b, out, begin, end);
    } else if (!b.single && b.mid == out.mid) {
        quotient_loop<V, false, false, Source::OutputIsAB>(a, b, out, begin, end);
    } else if (b.single) {
        quotient_loop<V, false, true, Source::OutputIsA>(a, b, out, begin, end);
    } else {
        quotient_loop<V, false, false, Source::OutputIsA>(a, b, out, begin, end);
    }
}

template <class V>
void negate_kernel(const double* mid, const double* rad, KernelOutput out, std::size_t n) noexcept {
    negate_loop<V>(mid, rad, out, n);
}

// c / a per element with q = fl(c / am): for x in [am - ar, am + ar],
// c/x - q = ((c - q am) - q (x - am)) / x, so |c/x - q| <= (|c - q am| + |q| ar) / g
// with g <= min |x| the end of the outward-rounded enclosure nearest zero.
// Returns whether that enclosure holds zero (then the result is (0, +inf)).
inline bool point_quotient(double c, double am, double ar, double& m, double& r) {
    const Endpoints e = to_endpoints(am, ar);
    if (e.lo <= 0 && 0 <= e.hi) {
        m = 0.0;
        r = kInfinity;
        return true;
    }
    const double q = c / am;
    const double residual = is_finite(q) ? quotient_error(c, am, q) : kInfinity;
    const double g = e.lo > 0 ? e.lo : -e.hi;
    const double rad = div_up(add_up(residual, mul_up(ar, std::fabs(q))), g);
    m = q;
    r = std::isnan(rad) ? kInfinity : rad;
    return false;
}

// The vector form, in lanes whose element is narrow or ordinary and excludes
// zero, whose quotient is finite and whose residual, product and final
// quotient are exact in the non-negative primitives (no factor, dividend or
// numerator in the small ranges of QuotientLanes); other groups take
// point_quotient element by element.
template <class V>
[[gnu::always_inline]] inline lanes::Mask<V> point_quotient_lanes(const V& c, const V& am, const V& ar, V& m, V& r) {
    using namespace lanes;
    V lo, hi;
    auto redo = any_ends<V>(am, ar, lo, hi);
    redo = either<V>(redo, (lo <= splat<V>(0.0)) & (hi >= splat<V>(0.0)));
    m = c / am;
    const V aq = abs(m);
    const V e = abs(fused(am, m, -c));
    const V num = add_up_nonneg(e, mul_up_nonneg(ar, aq));
    r = nan_to_infinity(div_up_pos(num, select<V>(lo > splat<V>(0.0), lo, -hi)));
    redo = either<V>(redo, either<V>(!(aq < splat<V>(kInfinity)), below_nonzero(num, kQuotientResidualLimit)));
    return either<V>(redo, either<V>(either<V>(small_factor(ar), small_factor(aq)), sign_set(ar)));
}

template <class V>
bool point_divide_kernel(double c, KernelOperand a, KernelOutput out, std::size_t begin, std::size_t end) noexcept {
    bool zero = false;
    const auto scalar = [&](std::size_t j) { zero |= point_quotient(c, a.mid[j], a.rad[j], out.mid[j], out.rad[j]); };
    constexpr std::size_t width = lanes::Traits<V>::width;
    std::size_t i = begin;
    // A dividend in the small range has a residual the fma may not give exactly.
    if (width > 1 && !(c != 0 && std::fabs(c) < kQuotientResidualLimit) && std::isfinite(c)) {
        const V cv = splat<V>(c);
        for (; i + width <= end; i += width) {
            V m;
            V r;
            if (lanes::any<V>(point_quotient_lanes<V>(cv, lanes::load<V>(a.mid + i), lanes::load<V>(a.rad + i), m, r)))
                [[unlikely]] {
                for (std::size_t j = i; j < i + width; ++j) scalar(j);
                continue;
            }
            lanes::store(out.mid + i, m);
            lanes::store(out.rad + i, r);
        }
    }
    for (; i < end; ++i) scalar(i);
    return zero;
}

// add_up(x, y) for x, y >= 0 (or NaN) on the running radius of a dot
// product, a chain of dependent sums: the reference's add_up, the
// non-negative form (a compare instead of the TwoSum), or the addition with
// upward rounding embedded (AVX-512); all give the same double.
template <class V>
[[gnu::always_inline]] inline double chain_add_up(double x, double y) {
    if constexpr (lanes::Traits<V>::width == 1) {
        return add_up(x, y);
    } else if constexpr (lanes::Traits<V>::width == 8) {
        return _mm_cvtsd_f64(_mm_add_round_sd(_mm_set_sd(x), _mm_set_sd(y), lanes::kUpward));
    } else {
        return lanes::add_up_nonneg<double>(x, y);
    }
}

// The dot product of (am, ar) and (bm, br): s sums the products am bm in
// order, and r adds, element by element, the upward bound |am| br + |bm| ar +
// ar br of the radii's part, then the TwoSum error of s and the fma residual
// of the product. Every term of r is >= 0 or NaN.
template <class V>
DotSums dot_kernel(const double* am, const double* ar, const double* bm, const double* br, std::size_t n) noexcept {
    double s = 0.0;
    double r = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double p = am[i] * bm[i];
        // product_error stays an upper bound when p underflows, where the fma
        // residual alone may round a lost subnormal amount to zero.
        const double e_p = is_finite(p) ? product_error(am[i], bm[i], p) : kInfinity;
        const double t1 = mul_up(std::fabs(am[i]), br[i]);
        const double t2 = mul_up(std::fabs(bm[i]), ar[i]);
        const double t3 = mul_up(ar[i], br[i]);
        const double q = chain_add_up<V>(chain_add_up<V>(chain_add_up<V>(r, t1), t2), t3);
        const double s_next = s + p;
        const double e_s = std::fabs(sum_error(s, p, s_next));
        r = chain_add_up<V>(chain_add_up<V>(e_s, e_p), q);
        s = s_next;
    }
    return {s, r};
}

// The table of a target with the lane set L (lanes::Baseline, lanes::Avx2, or
// lanes::Scalar for the reference).
template <class L>
inline constexpr ArithmeticKernels arithmetic_table{
    .add = binary_kernel<typename L::Wide, AddOp>,
    .subtract = binary_kernel<typename L::Wide, SubtractOp>,
    .multiply = multiply_kernel<typename L::Fused>,
    .divide = divide_kernel<typename L::Fused>,
    .divide_and_test = divide_and_test_kernel<typename L::Fused>,
    .divisors_exclude_zero = divisors_exclude_zero_kernel<typename L::Wide>,
    .add_into = binary_into_kernel<typename L::Wide, AddOp>,
    .subtract_into = binary_into_kernel<typename L::Wide, SubtractOp>,
    .multiply_into = multiply_into_kernel<typename L::Fused>,
    .divide_into = divide_into_kernel<typename L::Fused>,
    .negate = negate_kernel<typename L::Wide>,
    .dot = dot_kernel<typename L::Wide>,
    .point_divide = point_divide_kernel<typename L::Fused>,
};

}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
