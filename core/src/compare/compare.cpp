#include "boundwise/compare/compare.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <array>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// element it leaves undecided is computed again exactly.
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
// rounded from l: the answer; lanes it cannot decide are cleared in `decided`.
template <bool Strict>
[[gnu::always_inline]] inline LaneMask below(Lanes u, Lanes l, LaneMask& decided) {
    const Lanes size = abs(u) + abs(l);  // infinite or NaN unless both are finite
    const LaneMask apart = (l - u) > size * 0x1p-50 + 0x1p-1020;
    const LaneMask not_below = (Strict ? (u >= l) : (u > l)) & (size <= kDoubleMax);
    decided &= apart | not_below;
    return apart;
}

// The test of the table from the rounded sums of both operands.
template <CompareOp Op>
[[gnu::always_inline]] inline LaneMask fast_test(Lanes alo, Lanes ahi, Lanes blo, Lanes bhi, LaneMask& decided) {
    if constexpr (Op == CompareOp::Less) return below<true>(ahi, blo, decided);
    if constexpr (Op == CompareOp::LessEqual) return below<false>(ahi, blo, decided);
    if constexpr (Op == CompareOp::Greater) return below<true>(bhi, alo, decided);
    if constexpr (Op == CompareOp::GreaterEqual) return below<false>(bhi, alo, decided);
    if constexpr (Op == CompareOp::Equal) return ~(below<true>(bhi, alo, decided) | below<true>(ahi, blo, decided));
    if constexpr (Op == CompareOp::NotEqual) return below<true>(bhi, alo, decided) | below<true>(ahi, blo, decided);
}

// With fixed ends (a number, or an integer between two doubles) each test
// compares a rounded sum with one precomputed double: U < x is true when
// u < pred(x), since then U <= succ(u) <= pred(x), and false when u >= x; U <= x is
// true when u < x and false when u > x; the tests of x against L mirror them.
struct Thresholds {
    Lanes below_true, below_false;  // for U < blo or U <= blo
    Lanes above_true, above_false;  // for bhi < L or bhi <= L
};

template <CompareOp Op>
Thresholds thresholds(double blo, double bhi) {
    constexpr bool kStrictBelow = Op != CompareOp::LessEqual;
    constexpr bool kStrictAbove = Op != CompareOp::GreaterEqual;
    return {splat(kStrictBelow ? pred(blo) : blo), splat(blo), splat(kStrictAbove ? succ(bhi) : bhi), splat(bhi)};
}

// U < blo (or <=) from u = fl(m + r).
template <bool Strict>
[[gnu::always_inline]] inline LaneMask below_fixed(Lanes u, const Thresholds& t, LaneMask& decided) {
    const LaneMask yes = u < t.below_true;
    const LaneMask no = Strict ? (u >= t.below_false) : (u > t.below_false);
    decided &= yes | no;
    return yes;
}

// bhi < L (or <=) from l = fl(m - r).
template <bool Strict>
[[gnu::always_inline]] inline LaneMask above_fixed(Lanes l, const Thresholds& t, LaneMask& decided) {
    const LaneMask yes = l > t.above_true;
    const LaneMask no = Strict ? (l <= t.above_false) : (l < t.above_false);
    decided &= yes | no;
    return yes;
}

template <CompareOp Op>
[[gnu::always_inline]] inline LaneMask fixed_test(Lanes l, Lanes u, const Thresholds& t, LaneMask& decided) {
    if constexpr (Op == CompareOp::Less) return below_fixed<true>(u, t, decided);
    if constexpr (Op == CompareOp::LessEqual) return below_fixed<false>(u, t, decided);
    if constexpr (Op == CompareOp::Greater) return above_fixed<true>(l, t, decided);
    if constexpr (Op == CompareOp::GreaterEqual) return above_fixed<false>(l, t, decided);
    if constexpr (Op == CompareOp::Equal) return ~(above_fixed<true>(l, t, decided) | below_fixed<true>(u, t, decided));
    if constexpr (Op == CompareOp::NotEqual) return above_fixed<true>(l, t, decided) | below_fixed<true>(u, t, decided);
}

// The sign bits of the two lanes as bits 0 and 1 (movmskpd on SSE2).
[[gnu::always_inline]] inline unsigned lane_bits(LaneMask t) {
#if defined(__SSE2__)
    return static_cast<unsigned>(_mm_movemask_pd(reinterpret_cast<__m128d>(t)));
#else
    return static_cast<unsigned>(t[0] & 1) | static_cast<unsigned>(t[1] & 2);
#endif
}

// The eight bytes (0 or 1) spelling each 8-bit pattern, in memory order.
constexpr auto kSpreadBits = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned bits = 0; bits < 256; ++bits)
        for (unsigned k = 0; k < 8; ++k) table[bits] |= static_cast<std::uint64_t>((bits >> k) & 1) << (8 * k);
    return table;
}();
static_assert(kBlock == 8, "one table entry per block");

// Runs fast(j, decided), the lane test at elements j and j + 1, over whole
// blocks of out; exact(j) gives the exact answer for element j.
template <class Fast, class Exact>
[[gnu::always_inline]] inline void compare_blocks(std::uint8_t* __restrict out, std::size_t n, Fast&& fast,
                                                  Exact&& exact) {
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        LaneMask decided = ~LaneMask{};
        unsigned bits = 0;
#pragma GCC unroll 4
        for (std::size_t k = 0; k < kBlock; k += kLanes) bits |= lane_bits(fast(i + k, decided)) << k;
        std::memcpy(out + i, &kSpreadBits[bits], kBlock);  // little-endian: byte k holds bit k
        if (lane_bits(decided) != 3) [[unlikely]]
            for (std::size_t j = i; j < i + kBlock; ++j) out[j] = exact(j);
    }
    for (; i < n; ++i) out[i] = exact(i);
}

// out[i] = a[i] op b[i].
template <CompareOp Op>
void compare_arrays(const double* __restrict am, const double* __restrict ar, const double* __restrict bm,
                    const double* __restrict br, std::uint8_t* __restrict out, std::size_t n) {
    compare_blocks(
        out, n,
        [&](std::size_t j, LaneMask& decided) {
            const Lanes m = load(am + j), r = load(ar + j), mb = load(bm + j), rb = load(br + j);
            return fast_test<Op>(m - r, m + r, mb - rb, mb + rb, decided);
        },
        [&](std::size_t j) { return exact_test<Op>(am[j], ar[j], lower_end(bm[j], br[j]), upper_end(bm[j], br[j])); });
}

// out[i] = a[i] op [blo, bhi] for fixed ends.
template <CompareOp Op>
void compare_with_ends(const double* __restrict am, const double* __restrict ar, double blo, double bhi,
                       std::uint8_t* __restrict out, std::size_t n) {
    const Thresholds t = thresholds<Op>(blo, bhi);
    compare_blocks(
        out, n,
        [&](std::size_t j, LaneMask& decided) {
            const Lanes m = load(am + j), r = load(ar + j);
            return fixed_test<Op>(m - r, m + r, t, decided);
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
