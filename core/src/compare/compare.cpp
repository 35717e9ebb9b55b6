#include "boundwise/compare/compare.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundwise/error.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/layout/broadcast.hpp"

namespace boundwise {

namespace {

[[gnu::always_inline]] inline bool is_nan(double x) { return x != x; }

// The upper end of to_endpoints(m, r) without a branch, bit for bit: the
// TwoSum error of m + r (Knuth) decides one step up (an infinite or NaN sum
// has a NaN error and is kept); an overflow to -inf is clamped to -DBL_MAX,
// and an infinite radius gives +inf unless m is NaN.
[[gnu::always_inline]] inline double upper_end(double m, double r) {
    const double s = m + r;
    double hi = succ_if(sum_error(m, r, s) > 0, s);
    hi = s == -kInfinity ? -kDoubleMax : hi;
    return (r == kInfinity) & !is_nan(m) ? kInfinity : hi;
}

// The lower end: rounding to nearest is symmetric, so lo(m, r) = -hi(-m, r).
[[gnu::always_inline]] inline double lower_end(double m, double r) { return -upper_end(-m, r); }

// The test of the table on exact ends.
template <CompareOp Op>
[[gnu::always_inline]] inline bool holds(double alo, double ahi, double blo, double bhi) {
    if constexpr (Op == CompareOp::Less) return ahi < blo;
    if constexpr (Op == CompareOp::LessEqual) return ahi <= blo;
    if constexpr (Op == CompareOp::Equal) return (alo <= bhi) & (blo <= ahi);
    if constexpr (Op == CompareOp::NotEqual) return (alo > bhi) | (blo > ahi);
    if constexpr (Op == CompareOp::Greater) return alo > bhi;
    if constexpr (Op == CompareOp::GreaterEqual) return alo >= bhi;
}

template <CompareOp Op>
[[gnu::always_inline]] inline std::uint8_t exact_test(double am, double ar, double blo, double bhi) {
    return holds<Op>(lower_end(am, ar), upper_end(am, ar), blo, bhi);
}

// ---------------------------------------------------------------------------
// The fast path: most comparisons are decided by the rounded sums alone.
//
// An upper end U is the smallest double >= the exact m + r, a lower end L the
// largest double <= the exact m - r. With u = fl(m + r) and l = fl(m - r)
// finite, U is u or the next double up and L is l or the next one down. So
// U < L is false when u >= l, and true when l - u exceeds the two spacings
// (at most 2^-52 |u| + eta and 2^-52 |l| + eta); the test below asks for
// four times that, which covers the rounding of the test itself. The few
// elements it cannot decide (ends one or two doubles apart, infinities, NaN)
// are computed exactly.
// ---------------------------------------------------------------------------

// Two doubles in GCC's vector extension (one SSE2 register, the baseline of
// x86-64). Comparisons of lanes give 0 or -1 in each 64-bit lane.
using Lanes = double __attribute__((vector_size(16)));
using LaneMask = std::int64_t __attribute__((vector_size(16)));
constexpr std::size_t kLanes = 2;
// Elements per block: the fast path runs over a block, and a block holding an
// undecided element is computed again exactly.
constexpr std::size_t kBlock = 8;

[[gnu::always_inline]] inline Lanes load(const double* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
[[gnu::always_inline]] inline Lanes splat(double x) { return Lanes{x, x}; }
[[gnu::always_inline]] inline Lanes abs(Lanes x) {
    return reinterpret_cast<Lanes>(reinterpret_cast<LaneMask>(x) & ~reinterpret_cast<LaneMask>(splat(-0.0)));
}

// U < L (or U <= L) for U the upper end rounded from u and L the lower end
// rounded from l: the answer, and the lanes where it is not decided.
template <bool Strict>
[[gnu::always_inline]] inline LaneMask below(Lanes u, Lanes l, LaneMask& undecided) {
    const Lanes size = abs(u) + abs(l);  // infinite or NaN unless both are finite
    const LaneMask apart = (l - u) > size * 0x1p-50 + 0x1p-1020;
    const LaneMask not_below = (Strict ? (u >= l) : (u > l)) & (size <= kDoubleMax);
    undecided |= ~(apart | not_below);
    return apart;
}

// The test of the table from the rounded sums of both operands.
template <CompareOp Op>
[[gnu::always_inline]] inline LaneMask fast_test(Lanes alo, Lanes ahi, Lanes blo, Lanes bhi, LaneMask& undecided) {
    if constexpr (Op == CompareOp::Less) return below<true>(ahi, blo, undecided);
    if constexpr (Op == CompareOp::LessEqual) return below<false>(ahi, blo, undecided);
    if constexpr (Op == CompareOp::Greater) return below<true>(bhi, alo, undecided);
    if constexpr (Op == CompareOp::GreaterEqual) return below<false>(bhi, alo, undecided);
    if constexpr (Op == CompareOp::Equal) return ~(below<true>(bhi, alo, undecided) | below<true>(ahi, blo, undecided));
    if constexpr (Op == CompareOp::NotEqual) return below<true>(bhi, alo, undecided) | below<true>(ahi, blo, undecided);
}

// Runs the fast test over whole blocks of out; b_ends(i, lo, hi) gives the
// rounded sums of b at element i, exact(i) the exact answer for element i.
template <CompareOp Op, class Ends, class Exact>
[[gnu::always_inline]] inline void compare_blocks(const double* __restrict am, const double* __restrict ar,
                                                  std::uint8_t* __restrict out, std::size_t n, Ends&& b_ends,
                                                  Exact&& exact) {
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        LaneMask undecided{};
        for (std::size_t j = i; j < i + kBlock; j += kLanes) {
            const Lanes m = load(am + j), r = load(ar + j);
            Lanes blo, bhi;
            b_ends(j, blo, bhi);
            const LaneMask t = fast_test<Op>(m - r, m + r, blo, bhi, undecided);
            for (std::size_t k = 0; k < kLanes; ++k) out[j + k] = static_cast<std::uint8_t>(t[k] & 1);
        }
        if (undecided[0] | undecided[1]) [[unlikely]]
            for (std::size_t j = i; j < i + kBlock; ++j) out[j] = exact(j);
    }
    for (; i < n; ++i) out[i] = exact(i);
}

// out[i] = a[i] op b[i].
template <CompareOp Op>
void compare_arrays(const double* __restrict am, const double* __restrict ar, const double* __restrict bm,
                    const double* __restrict br, std::uint8_t* __restrict out, std::size_t n) {
    compare_blocks<Op>(
        am, ar, out, n,
        [&](std::size_t j, Lanes& lo, Lanes& hi) {
            const Lanes m = load(bm + j), r = load(br + j);
            lo = m - r;
            hi = m + r;
        },
        [&](std::size_t j) { return exact_test<Op>(am[j], ar[j], lower_end(bm[j], br[j]), upper_end(bm[j], br[j])); });
}

// out[i] = a[i] op [blo, bhi] for fixed ends (exact, so they serve as their own sums).
template <CompareOp Op>
void compare_with_ends(const double* __restrict am, const double* __restrict ar, double blo, double bhi,
                       std::uint8_t* __restrict out, std::size_t n) {
    const Lanes lo2 = splat(blo), hi2 = splat(bhi);
    compare_blocks<Op>(
        am, ar, out, n,
        [&](std::size_t, Lanes& lo, Lanes& hi) {
            lo = lo2;
            hi = hi2;
        },
        [&](std::size_t j) { return exact_test<Op>(am[j], ar[j], blo, bhi); });
}

// Calls fn.template operator()<Op>() for the run-time op.
template <class Fn>
void with_op(CompareOp op, Fn&& fn) {
    switch (op) {
        case CompareOp::Less: return fn.template operator()<CompareOp::Less>();
        case CompareOp::LessEqual: return fn.template operator()<CompareOp::LessEqual>();
        case CompareOp::Equal: return fn.template operator()<CompareOp::Equal>();
        case CompareOp::NotEqual: return fn.template operator()<CompareOp::NotEqual>();
        case CompareOp::Greater: return fn.template operator()<CompareOp::Greater>();
        case CompareOp::GreaterEqual: return fn.template operator()<CompareOp::GreaterEqual>();
    }
    throw InternalFailure("invalid compareop");
}

BoolMask compare_ends(const Array& a, double blo, double bhi, CompareOp op) {
    const std::size_t n = a.size();
    return BoolMask::build(n, [&](std::uint8_t* out) {
        with_op(op, [&]<CompareOp Op>() { compare_with_ends<Op>(a.mid(), a.rad(), blo, bhi, out, n); });
    });
}

template <class Test>
BoolMask classify(const Array& a, Test&& test) {
    const std::size_t n = a.size();
    const double* m = a.mid();
    const double* r = a.rad();
    return BoolMask::build(n, [&](std::uint8_t* out) {
        for (std::size_t i = 0; i < n; ++i) out[i] = test(m[i], r[i]);
    });
}

bool is_nan_element(double m, double r) { return is_nan(m) | is_nan(r); }
bool is_inf_element(double m, double r) { return (std::fabs(m - r) == kInfinity) | (std::fabs(m + r) == kInfinity); }

}  // namespace

BoolMask compare(const Array& a, const Array& b, CompareOp op) {
    const Shape shape = broadcast_result_shape(a, b);
    // Operands of the result's element count, or of one element, are used in
    // place; the others are expanded to the common shape first.
    const std::uint64_t n = checked_product(shape).value_or(0);
    const Array left = is_kernel_operand(a, n) ? a : broadcast_to(a, shape);
    const Array right = is_kernel_operand(b, n) ? b : broadcast_to(b, shape);
    if (left.size() == 1 && n != 1) {
        // The repeated element on the left: swap the sides of the test.
        static constexpr CompareOp kMirror[] = {CompareOp::Greater, CompareOp::GreaterEqual, CompareOp::Equal,
                                                CompareOp::NotEqual, CompareOp::Less, CompareOp::LessEqual};
        return compare(right, left, kMirror[static_cast<int>(op)]);
    }
    check_internal(right.size() == n || right.size() == 1, "comparison: length mismatch");
    if (right.size() != n) return compare_ends(left, lower_end(right.mid()[0], right.rad()[0]),
                                               upper_end(right.mid()[0], right.rad()[0]), op);
    return BoolMask::build(n, [&](std::uint8_t* out) {
        with_op(op, [&]<CompareOp Op>() { compare_arrays<Op>(left.mid(), left.rad(), right.mid(), right.rad(), out, n); });
    });
}

BoolMask compare(const Array& a, double x, CompareOp op) { return compare_ends(a, x, x, op); }

// With no double strictly between below and above, a double d satisfies
// d < X exactly when d <= below and d > X exactly when d >= above, so each
// test of the table becomes one on fixed ends: <= and >= take the near end,
// every other test the far one.
BoolMask compare_between(const Array& a, double below, double above, CompareOp op) {
    const double blo = op == CompareOp::LessEqual ? below : above;
    const double bhi = op == CompareOp::GreaterEqual ? above : below;
    return compare_ends(a, blo, bhi, op);
}

BoolMask nan_mask(const Array& a) { return classify(a, is_nan_element); }
BoolMask inf_mask(const Array& a) { return classify(a, is_inf_element); }
BoolMask finite_mask(const Array& a) {
    return classify(a, [](double m, double r) { return !is_nan_element(m, r) & !is_inf_element(m, r); });
}

}  // namespace boundwise
