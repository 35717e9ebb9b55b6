// The interval comparisons of < <= == != > >= into bytes, and the table of the
// comparison family, written once for every lane type (lanes.hpp). Included
// by one source file per instruction set, after its target pragma; everything
// here has internal linkage, so each file gets its own copy.
//
// The scalar reference computes both ends of every element exactly; the vector
// forms decide most elements from the rounded sums m - r and m + r alone and
// compute the others as the reference does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundwise/interval/rounding.hpp"
#include "boundwise/kernels/compare.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {

enum class Test { Less, LessEqual, Equal, NotEqual, Greater, GreaterEqual };

// The upper end of to_endpoints(m, r) without a branch, bit for bit: the
// TwoSum error of m + r (Knuth) decides one step up (an infinite or NaN sum
// has a NaN error and is kept); an overflow to -inf is clamped to -DBL_MAX,
// and an infinite radius gives +inf unless m is NaN.
[[gnu::always_inline]] inline double upper_end(double m, double r) {
    const double s = m + r;
    double hi = succ_if(sum_error(m, r, s) > 0, s);
    hi = s == -kInfinity ? -kDoubleMax : hi;
    return (r == kInfinity) & (m == m) ? kInfinity : hi;
}

// The lower end: rounding to nearest is symmetric, so lo(m, r) = -hi(-m, r).
[[gnu::always_inline]] inline double lower_end(double m, double r) { return -upper_end(-m, r); }

// The test on exact ends; a NaN end makes every test false.
template <Test T>
[[gnu::always_inline]] inline bool holds(double alo, double ahi, double blo, double bhi) {
    if constexpr (T == Test::Less) return ahi < blo;
    if constexpr (T == Test::LessEqual) return ahi <= blo;
    if constexpr (T == Test::Equal) return (alo <= bhi) & (blo <= ahi);
    if constexpr (T == Test::NotEqual) return (alo > bhi) | (blo > ahi);
    if constexpr (T == Test::Greater) return alo > bhi;
    if constexpr (T == Test::GreaterEqual) return alo >= bhi;
}

template <Test T>
[[gnu::always_inline]] inline std::uint8_t exact_test(double am, double ar, double blo, double bhi) {
    return holds<T>(lower_end(am, ar), upper_end(am, ar), blo, bhi);
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

// U < L (or U <= L) for U the upper end rounded from u and L the lower end
// rounded from l: the answer; lanes it cannot decide are cleared in `decided`.
template <bool Strict, class V>
[[gnu::always_inline]] inline lanes::Mask<V> below(const V& u, const V& l, lanes::Mask<V>& decided) {
    using lanes::splat;
    const V size = lanes::abs(u) + lanes::abs(l);  // infinite or NaN unless both are finite
    const lanes::Mask<V> apart = (l - u) > size * splat<V>(0x1p-50) + splat<V>(0x1p-1020);
    lanes::Mask<V> not_below;
    if constexpr (Strict) {
        not_below = (u >= l) & (size <= splat<V>(kDoubleMax));
    } else {
        not_below = (u > l) & (size <= splat<V>(kDoubleMax));
    }
    decided &= apart | not_below;
    return apart;
}

// The test from the rounded sums of both operands.
template <Test T, class V>
[[gnu::always_inline]] inline lanes::Mask<V> fast_test(const V& alo, const V& ahi, const V& blo, const V& bhi,
                                                       lanes::Mask<V>& decided) {
    if constexpr (T == Test::Less) return below<true>(ahi, blo, decided);
    if constexpr (T == Test::LessEqual) return below<false>(ahi, blo, decided);
    if constexpr (T == Test::Greater) return below<true>(bhi, alo, decided);
    if constexpr (T == Test::GreaterEqual) return below<false>(bhi, alo, decided);
    if constexpr (T == Test::Equal) return ~(below<true>(bhi, alo, decided) | below<true>(ahi, blo, decided));
    if constexpr (T == Test::NotEqual) return below<true>(bhi, alo, decided) | below<true>(ahi, blo, decided);
}

// With fixed ends (a number, or an integer between two doubles) each test
// compares a rounded sum with one precomputed double: U < x is true when
// u < pred(x), since then U <= succ(u) <= pred(x), and false when u >= x; U <= x is
// true when u < x and false when u > x; the tests of x against L mirror them.
template <class V>
struct Thresholds {
    V below_true, below_false;  // for U < blo or U <= blo
    V above_true, above_false;  // for bhi < L or bhi <= L
};

template <Test T, class V>
Thresholds<V> thresholds(CompareEnds b) {
    using lanes::splat;
    constexpr bool kStrictBelow = T != Test::LessEqual;
    constexpr bool kStrictAbove = T != Test::GreaterEqual;
    return {splat<V>(kStrictBelow ? pred(b.lo) : b.lo), splat<V>(b.lo), splat<V>(kStrictAbove ? succ(b.hi) : b.hi),
            splat<V>(b.hi)};
}

// U < blo (or <=) from u = fl(m + r).
template <bool Strict, class V>
[[gnu::always_inline]] inline lanes::Mask<V> below_fixed(const V& u, const Thresholds<V>& t,
                                                         lanes::Mask<V>& decided) {
    const lanes::Mask<V> yes = u < t.below_true;
    lanes::Mask<V> no;
    if constexpr (Strict) {
        no = u >= t.below_false;
    } else {
        no = u > t.below_false;
    }
    decided &= yes | no;
    return yes;
}

// bhi < L (or <=) from l = fl(m - r).
template <bool Strict, class V>
[[gnu::always_inline]] inline lanes::Mask<V> above_fixed(const V& l, const Thresholds<V>& t,
                                                         lanes::Mask<V>& decided) {
    const lanes::Mask<V> yes = l > t.above_true;
    lanes::Mask<V> no;
    if constexpr (Strict) {
        no = l <= t.above_false;
    } else {
        no = l < t.above_false;
    }
    decided &= yes | no;
    return yes;
}

template <Test T, class V>
[[gnu::always_inline]] inline lanes::Mask<V> fixed_test(const V& l, const V& u, const Thresholds<V>& t,
                                                        lanes::Mask<V>& decided) {
    if constexpr (T == Test::Less) return below_fixed<true>(u, t, decided);
    if constexpr (T == Test::LessEqual) return below_fixed<false>(u, t, decided);
    if constexpr (T == Test::Greater) return above_fixed<true>(l, t, decided);
    if constexpr (T == Test::GreaterEqual) return above_fixed<false>(l, t, decided);
    if constexpr (T == Test::Equal) return ~(above_fixed<true>(l, t, decided) | below_fixed<true>(u, t, decided));
    if constexpr (T == Test::NotEqual) return above_fixed<true>(l, t, decided) | below_fixed<true>(u, t, decided);
}

// Elements per block: the fast path runs over a block, and a block holding an
// element it leaves undecided is computed again exactly.
constexpr std::size_t kCompareBlock = 8;

// The eight bytes (0 or 1) spelling each 8-bit pattern, in memory order.
constexpr auto kSpreadBits = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned bits = 0; bits < 256; ++bits)
        for (unsigned k = 0; k < 8; ++k) table[bits] |= static_cast<std::uint64_t>((bits >> k) & 1) << (8 * k);
    return table;
}();
static_assert(kCompareBlock == 8, "one table entry per block");

// Runs fast(j, decided), the lane test at elements j .. j + width - 1, over
// the whole blocks of [begin, end); exact(j) gives the answer for element j,
// for the elements of undecided blocks and the tail.
template <class V, class Fast, class Exact>
[[gnu::always_inline]] inline void compare_blocks(std::uint8_t* __restrict out, std::size_t begin, std::size_t end,
                                                  Fast&& fast, Exact&& exact) {
    constexpr std::size_t width = lanes::Traits<V>::width;
    static_assert(width > 1 && kCompareBlock % width == 0, "the fast path works on whole vectors");
    constexpr unsigned kAllLanes = (1u << width) - 1;
    std::size_t i = begin;
    for (; i + kCompareBlock <= end; i += kCompareBlock) {
        lanes::Mask<V> decided = ~lanes::Mask<V>{};
        unsigned bits = 0;
#pragma GCC unroll 4
        for (std::size_t k = 0; k < kCompareBlock; k += width) bits |= lanes::lane_bits<V>(fast(i + k, decided)) << k;
        std::memcpy(out + i, &kSpreadBits[bits], kCompareBlock);  // little-endian: byte k holds bit k
        if (lanes::lane_bits<V>(decided) != kAllLanes) [[unlikely]]
            for (std::size_t j = i; j < i + kCompareBlock; ++j) out[j] = exact(j);
    }
    for (; i < end; ++i) out[i] = exact(i);
}

// out[i] = a[i] op b[i]: the reference computes every end exactly.
template <class V, Test T>
void compare_arrays(const double* __restrict am, const double* __restrict ar, const double* __restrict bm,
                    const double* __restrict br, std::uint8_t* __restrict out, std::size_t begin,
                    std::size_t end) noexcept {
    const auto exact = [&](std::size_t j) {
        return exact_test<T>(am[j], ar[j], lower_end(bm[j], br[j]), upper_end(bm[j], br[j]));
    };
    if constexpr (lanes::Traits<V>::width == 1) {
        for (std::size_t j = begin; j < end; ++j) out[j] = exact(j);
    } else {
        const auto fast = [&](std::size_t j, lanes::Mask<V>& decided) {
            const V m = lanes::load<V>(am + j), r = lanes::load<V>(ar + j);
            const V mb = lanes::load<V>(bm + j), rb = lanes::load<V>(br + j);
            return fast_test<T>(m - r, m + r, mb - rb, mb + rb, decided);
        };
        compare_blocks<V>(out, begin, end, fast, exact);
    }
}

// out[i] = a[i] op [b.lo, b.hi].
template <class V, Test T>
void compare_with_ends(const double* __restrict am, const double* __restrict ar, CompareEnds b,
                       std::uint8_t* __restrict out, std::size_t begin, std::size_t end) noexcept {
    const auto exact = [&](std::size_t j) { return exact_test<T>(am[j], ar[j], b.lo, b.hi); };
    if constexpr (lanes::Traits<V>::width == 1) {
        for (std::size_t j = begin; j < end; ++j) out[j] = exact(j);
    } else {
        const Thresholds<V> t = thresholds<T, V>(b);
        const auto fast = [&](std::size_t j, lanes::Mask<V>& decided) {
            const V m = lanes::load<V>(am + j), r = lanes::load<V>(ar + j);
            return fixed_test<T>(m - r, m + r, t, decided);
        };
        compare_blocks<V>(out, begin, end, fast, exact);
    }
}

template <class V, template <class, Test> class Kernel, class Fn>
constexpr CompareOpKernels<Fn> per_test() {
    return {
        .less = Kernel<V, Test::Less>::fn,
        .less_equal = Kernel<V, Test::LessEqual>::fn,
        .equal = Kernel<V, Test::Equal>::fn,
        .not_equal = Kernel<V, Test::NotEqual>::fn,
        .greater = Kernel<V, Test::Greater>::fn,
        .greater_equal = Kernel<V, Test::GreaterEqual>::fn,
    };
}

template <class V, Test T>
struct ArraysKernel {
    static constexpr CompareArraysKernel fn = compare_arrays<V, T>;
};
template <class V, Test T>
struct EndsKernel {
    static constexpr CompareEndsKernel fn = compare_with_ends<V, T>;
};

// The table of a target with the lane set L (lanes::Baseline, lanes::Avx2, or
// lanes::Scalar for the reference).
template <class L>
inline constexpr CompareKernels compare_table{
    .arrays = per_test<typename L::Wide, ArraysKernel, CompareArraysKernel>(),
    .ends = per_test<typename L::Wide, EndsKernel, CompareEndsKernel>(),
};

}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
