// Block kernels of the reductions and the table of the reduce family, written
// once for every lane type (lanes.hpp). Included by one source file per
// instruction set, after its target pragma; everything here has internal
// linkage.
//
// The whole-array sum is a recursive double sum with an upward-rounded error
// bound, a chain of dependent roundings. Inside one binade both roundings are
// arithmetic on integers: the doubles in [2^k, 2^(k+1)) are the multiples of
// u = 2^(k-52), so while a running value stays there, rounding s + m to
// nearest adds m rounded to a multiple of u, and rounding r + x upward adds
// ceil(x / u) units of u. Integer sums do not depend on their order, so a
// block is added lane-parallel and checked afterwards to have stayed inside
// its binades. A block whose sum leaves its binade adds its midpoints one by
// one and keeps only r in its lattice; failing that, it is taken element by
// element.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "boundwise/interval/rounding.hpp"
#include "../reduce/accumulate.hpp"
#include "boundwise/kernels/reduce.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {

using lanes::splat;

constexpr std::uint64_t kExponentBits = 0x7FF0000000000000;

// 2^k for a positive normal x in [2^k, 2^(k+1)).
[[gnu::always_inline]] inline double binade_start(double x) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) & kExponentBits);
}

// The spacing 2^(k-52) of the doubles in that binade (x >= 2^-970).
[[gnu::always_inline]] inline double binade_spacing(double x) {
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(x) & kExponentBits) - (std::uint64_t{52} << 52));
}

// 1/p for a power of two p whose inverse is a double: the biased exponent
// E becomes 2046 - E.
[[gnu::always_inline]] inline double power_inverse(double p) {
    return std::bit_cast<double>((std::uint64_t{2046} << 52) - std::bit_cast<std::uint64_t>(p));
}

// Running values whose binade the lattice arithmetic may use: far from the
// subnormals (so 1/u is a double) and, for the midpoint sum, from overflow.
inline constexpr double kLatticeLow = 0x1p-960;
inline constexpr double kSumLatticeHigh = 0x1p1000;
// Radius bounds below 2^52 have u <= 1/2, so x / u = x * (1/u) never
// underflows and is exact unless it overflows (which fails the check).
inline constexpr double kRadiusLatticeHigh = 0x1p52;

// How a radius bound r grows by upward additions counted in units of its
// binade: r = 0 stays 0 only if every addend is 0 (then the unit is taken as 1
// and every count must be 0).
struct RadiusLattice {
    double unit;
    double inverse;
    double room;  // counts that r can take and stay in its binade

    static bool usable(double r) { return r == 0 || (r >= kLatticeLow && r < kRadiusLatticeHigh); }
    explicit RadiusLattice(double r) {
        unit = r == 0 ? 0.0 : binade_spacing(r);
        inverse = r == 0 ? 1.0 : power_inverse(unit);
        room = r == 0 ? 0.5 : 0x1p53 - r * inverse;
    }
    // r plus `count` units, if that stays in the binade (count < room: the
    // last up-rounded partial sum stays below 2^(k+1), so every one is exact).
    bool advance(double& r, double count) const {
        if (!(count < room)) return false;
        r += count * unit;
        return true;
    }
};

// The lattice of the midpoint sum s: u = 2^(k-52) for |s| in [2^k, 2^(k+1)),
// and magic = 1.5 * 2^52 u. For |m| < 2^51 u, m + magic lies in
// [2^52 u, 2^53 u), where the doubles are the multiples of u, so
// d = (m + magic) - magic is m rounded to a nearest multiple of u (Sterbenz
// makes the subtraction exact), and m - d, a part of m's bits, is exact: the
// TwoSum error of s + m. Any other m gives |d| >= 2^51 u.
struct SumLattice {
    double magnitude;  // |s|
    double low;        // 2^k
    double unit;
    double inverse;
    double magic;

    static bool usable(double s) { return std::fabs(s) >= kLatticeLow && std::fabs(s) < kSumLatticeHigh; }
    explicit SumLattice(double s)
        : magnitude(std::fabs(s)),
          low(binade_start(magnitude)),
          unit(binade_spacing(magnitude)),
          inverse(power_inverse(unit)),
          magic(0x1.8p52 * unit) {}

    // Every partial sum's magnitude, |s| + p u with p in [lowest, highest]
    // (counted towards larger magnitudes), strictly inside the binade: a
    // partial sum there lies within u/2 of its exact sum, so the exact sum is
    // in the binade too, where rounding to nearest is rounding to the lattice.
    bool contains(double lowest, double highest) const {
        return magnitude + lowest * unit > low && magnitude + highest * unit < 2 * low;
    }
};

// Partial sums of one block in the lattice of the midpoint sum, lane by lane:
// the midpoints rounded to multiples of u (d), the largest and smallest
// running sum of each lane, the largest |m - d| (u/2 exactly for a tie) and
// the radius count (NaN when some m or rad is).
template <class V>
struct LatticeSums {
    V rounded;
    V top;
    V bottom;
    V error;
    V count;

    [[gnu::always_inline]] static LatticeSums zero() {
        const V zero = splat<V>(0.0);
        return {zero, zero, zero, zero, zero};
    }

    [[gnu::always_inline]] void add(const V& m, const V& r, const V& magic, const V& inverse) {
        const V d = (m + magic) - magic;
        const V e = lanes::abs(m - d);
        rounded += d;
        top = lanes::larger<V>(rounded, top);
        bottom = lanes::smaller<V>(rounded, bottom);
        error = lanes::larger<V>(e, error);
        count += lanes::ceil_count(r * inverse) + lanes::ceil_count(e * inverse);
    }
};

// A block's sums in units of u, the range counted towards larger magnitudes.
struct BlockSums {
    double rounded;
    double top;
    double bottom;
    double count;
    bool tie;
};

template <class V>
BlockSums sum_block(const SumLattice& lattice, const RadiusLattice& radius, bool negative, const double* mid,
                    const double* rad, std::size_t n) noexcept {
    LatticeSums<V> wide = LatticeSums<V>::zero();
    LatticeSums<double> tail = LatticeSums<double>::zero();
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    const V magic = splat<V>(lattice.magic);
    const V inverse = splat<V>(radius.inverse);
    std::size_t i = 0;
    for (; i + kWidth <= n; i += kWidth) wide.add(lanes::load<V>(mid + i), lanes::load<V>(rad + i), magic, inverse);
    for (; i < n; ++i) tail.add(mid[i], rad[i], lattice.magic, radius.inverse);
    const double top = (lanes::lane_sum(wide.top) + tail.top) * lattice.inverse;
    const double bottom = (lanes::lane_sum(wide.bottom) + tail.bottom) * lattice.inverse;
    return {.rounded = lanes::lane_sum(wide.rounded) + tail.rounded,
            .top = negative ? -bottom : top,
            .bottom = negative ? -top : bottom,
            .count = lanes::lane_sum(wide.count) + tail.count,
            .tie = std::fmax(lanes::lane_max(wide.error), tail.error) == 0.5 * lattice.unit};
}

// Rounding to nearest breaks a tie (|m - d| = u/2) towards the even multiple
// of u of the sum, while d is even by itself; so d is right exactly when s/u
// is even, and is 2m - d otherwise.
//
// Ties: the parity of the running s/u before element i is
// that of s/u, of the steps d/u before i, and of the number of corrections
// before i (each moves the sum by one unit). The parity of d/u is the last bit
// of m + magic (whose spacing is u and whose magic / u is even). Flags per
// element are gathered into bit masks of 64 elements, and only the ties are
// then visited in order. Each correction moves the later partial sums by one
// unit, which widens the range by the number of ties.
template <class V>
bool resolve_ties(const SumLattice& lattice, double s, const double* mid, std::size_t n, BlockSums& block) noexcept {
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    constexpr std::size_t kWord = 64;
    const auto start = static_cast<std::int64_t>(s * lattice.inverse);
    std::int64_t correction = 0;
    std::int64_t odd_before = 0;  // odd steps before the current word
    std::int64_t tie_count = 0;
    for (std::size_t word = 0; word < n; word += kWord) {
        std::uint64_t odd = 0;
        std::uint64_t ties = 0;
        std::uint64_t upward = 0;
        const auto flags = [](const auto& mask) { return std::uint64_t{lanes::sign_bits(mask)}; };
        const auto gather = [&]<class W>(const W& m, std::size_t at) {
            const W t = m + splat<W>(lattice.magic);
            const W d = t - splat<W>(lattice.magic);
            const W yes = splat<W>(-1.0);
            const W no = splat<W>(1.0);
            odd |= flags(lanes::from_bits<W>(lanes::to_bits<W>(t) << 63)) << at;
            ties |= flags(lanes::select<W>(lanes::abs<W>(m - d) == splat<W>(0.5 * lattice.unit), yes, no)) << at;
            upward |= flags(lanes::select<W>(m > d, yes, no)) << at;
        };
        const std::size_t end = std::min(n, word + kWord);
        std::size_t i = word;
        for (; i + kWidth <= end; i += kWidth) gather(lanes::load<V>(mid + i), i - word);
        for (; i < end; ++i) gather(mid[i], i - word);
        for (std::uint64_t rest = ties; rest != 0; rest &= rest - 1) {
            const int at = std::countr_zero(rest);
            const std::int64_t before = odd_before + std::popcount(odd & ((std::uint64_t{1} << at) - 1));
            if (((start ^ before ^ correction) & 1) != 0) correction += (upward >> at & 1) != 0 ? 1 : -1;
        }
        odd_before += std::popcount(odd);
        tie_count += std::popcount(ties);
    }
    const double widen = static_cast<double>(tie_count);
    if (!lattice.contains(block.bottom - widen, block.top + widen)) return false;
    block.rounded += static_cast<double>(correction) * lattice.unit;
    return true;
}

// The n elements in the lattices of s and r, if every exact partial sum stays
// in the binade of s: the rounded sums of s + m are s plus the m rounded to
// the lattice, and the error of each addition is |m - d|, so r gains
// ceil(rad / u_r) + ceil(|m - d| / u_r) units. The vector pass sums the d and
// the counts. A partial sum of the block is a sum of one running sum per lane
// (and of the tail), so it lies between the sums of their smallest and of
// their largest values; that range must lie inside the binade. (The lane sums
// are multiples of u below 2^53 u then, so exact; a lane sum beyond that
// would put the range outside. A single |d| is at most the range, so every m
// was in reach of the magic constant.) Ties are settled by their parities.
// Declines, leaving `sum` as it was, otherwise.
template <class V>
bool add_in_lattice(SumState& sum, const double* mid, const double* rad, std::size_t n) noexcept {
    if (!SumLattice::usable(sum.s) || !RadiusLattice::usable(sum.r)) return false;
    const SumLattice lattice(sum.s);
    const RadiusLattice radius(sum.r);
    BlockSums block = sum_block<V>(lattice, radius, sum.s < 0, mid, rad, n);
    // A NaN or infinite m or rad makes the count NaN or infinite.
    if (!(block.top - block.bottom < 0x1p51) || !(block.count < 0x1p53)) return false;
    const bool settled = block.tie ? resolve_ties<V>(lattice, sum.s, mid, n, block)
                                   : lattice.contains(block.bottom, block.top);
    double r = sum.r;
    if (!settled || !radius.advance(r, block.count)) return false;
    sum.s += block.rounded;
    sum.r = r;
    return true;
}

// Blocks short enough that a running sum seldom leaves its binade within one,
// long enough to pay for the checks.
inline constexpr std::size_t kSumBlock = 64;

// Up to kSumBlock elements whose midpoint sums leave the lattice of s (or s
// has none): the midpoints are added one by one, the only dependent chain,
// and the TwoSum errors of those additions (exact, Knuth TAOCP 4.2.2) are
// then taken lane-parallel, so that the radius bound still grows in its own
// lattice by ceil(rad / u_r) + ceil(|e| / u_r) units per element. Declines
// (and leaves `sum` as it was) where r would leave its binade or some value
// is not finite (a NaN or infinite count).
template <class V>
bool add_in_radius_lattice(SumState& sum, const double* mid, const double* rad, std::size_t n) noexcept {
    if (!RadiusLattice::usable(sum.r)) return false;
    const RadiusLattice radius(sum.r);
    double partial[kSumBlock + 1];
    double s = sum.s;
    partial[0] = s;
    for (std::size_t j = 0; j < n; ++j) {
        s += mid[j];
        partial[j + 1] = s;
    }
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    const V inverse = splat<V>(radius.inverse);
    V wide = splat<V>(0.0);
    std::size_t j = 0;
    for (; j + kWidth <= n; j += kWidth) {
        const V e = lanes::abs(lanes::sum_error<V>(lanes::load<V>(partial + j), lanes::load<V>(mid + j),
                                                   lanes::load<V>(partial + j + 1)));
        wide += lanes::ceil_count(lanes::load<V>(rad + j) * inverse) + lanes::ceil_count(e * inverse);
    }
    double count = lanes::lane_sum(wide);
    for (; j < n; ++j) {
        const double e = std::fabs(lanes::sum_error<double>(partial[j], mid[j], partial[j + 1]));
        count += lanes::ceil_count(rad[j] * radius.inverse) + lanes::ceil_count(e * radius.inverse);
    }
    double r = sum.r;
    if (!(count < 0x1p53) || !radius.advance(r, count)) return false;
    sum = {s, r};
    return true;
}

// Block by block: in the lattices of s and r, else in that of r alone, else
// step by step (a NaN, an overflow, r leaving its binade). Returns how many
// elements went through lattices.
template <class V>
std::size_t add_to_sum(SumState& sum, const double* mid, const double* rad, std::size_t n) noexcept {
    std::size_t in_lattice = 0;
    for (std::size_t i = 0; i < n; i += kSumBlock) {
        const std::size_t count = std::min(n - i, kSumBlock);
        if (add_in_lattice<V>(sum, mid + i, rad + i, count) || add_in_radius_lattice<V>(sum, mid + i, rad + i, count)) {
            in_lattice += count;
            continue;
        }
        reduce::RunningSum steps{sum.s, sum.r};
        for (std::size_t k = i; k < i + count; ++k) steps.add(mid[k], rad[k]);
        sum = {steps.s, steps.r};
    }
    return in_lattice;
}

// The extremes of m - r and m + r rounded to nearest, MAXPD (MINPD) style.
// Any non-finite m, r or end makes some (m - r) - (m + r) infinite or NaN,
// and so their running sum, which is then reported.
template <class V, bool kLargest>
[[gnu::always_inline]] inline V take(const V& x, const V& best) {
    if constexpr (kLargest) {
        return lanes::larger<V>(x, best);
    } else {
        return lanes::smaller<V>(x, best);
    }
}

template <class V, bool kLargest>
bool rounded_ends(RoundedEnds& ends, const double* mid, const double* rad, std::size_t n) noexcept {
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    V lo = splat<V>(ends.lo);
    V hi = splat<V>(ends.hi);
    V width = splat<V>(0.0);
    std::size_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        const V m = lanes::load<V>(mid + i);
        const V r = lanes::load<V>(rad + i);
        const V down = m - r;
        const V up = m + r;
        width += down - up;
        lo = take<V, kLargest>(down, lo);
        hi = take<V, kLargest>(up, hi);
    }
    double w = lanes::lane_sum(width);
    double l = ends.lo;
    double h = ends.hi;
    if constexpr (kWidth == 1) {
        l = lo;
        h = hi;
    } else {
        for (std::size_t k = 0; k < kWidth; ++k) {
            l = take<double, kLargest>(lo[k], l);
            h = take<double, kLargest>(hi[k], h);
        }
    }
    for (; i < n; ++i) {
        const double down = mid[i] - rad[i];
        const double up = mid[i] + rad[i];
        w += down - up;
        l = take<double, kLargest>(down, l);
        h = take<double, kLargest>(up, h);
    }
    ends = {l, h};
    return is_finite(w);
}

template <class V, bool kLargest>
double midpoint_extreme(double start, const double* mid, std::size_t n) noexcept {
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    V best = splat<V>(start);
    std::size_t i = 0;
    for (; i + kWidth <= n; i += kWidth) best = take<V, kLargest>(lanes::load<V>(mid + i), best);
    double x = start;
    if constexpr (kWidth == 1) {
        x = best;
    } else {
        for (std::size_t k = 0; k < kWidth; ++k) x = take<double, kLargest>(best[k], x);
    }
    for (; i < n; ++i) x = take<double, kLargest>(mid[i], x);
    return x;
}

// Lane kernels: the elements of each lane folded into its state in lane
// order, with the scalar code's operations lane by lane (compares and blends
// for its branches).

// to_endpoints: m - r and m + r rounded outward by their TwoSum errors, an
// overflowed end clamped on the side it cannot reach, the whole line for an
// infinite radius and (NaN, NaN) for a NaN. kInfiniteRadiusFirst: an infinite
// radius gives the whole line even with a NaN midpoint (the extremes' rule).
//
// On eight lanes the ends are the sums rounded downward and upward by the
// instruction (static rounding), which equal the stepped sums except that an
// exact cancellation rounded downward is -0 where rounding to nearest gives +0.
template <class V, bool kInfiniteRadiusFirst>
[[gnu::always_inline]] inline void outward_ends(const V& m, const V& r, V& lo, V& hi) {
    const V max = splat<V>(kDoubleMax);
    if constexpr (lanes::Traits<V>::width == 8) {
        lo = _mm512_sub_round_pd(m, r, lanes::kDownward);
        lo = lanes::select<V>(lo == splat<V>(0.0), m - r, lo);
        hi = _mm512_add_round_pd(m, r, lanes::kUpward);
    } else {
        const V down = m - r;
        const V up = m + r;
        const auto lo_step = (lanes::abs(down) <= max) & (lanes::sum_error<V>(m, -r, down) < splat<V>(0.0));
        const auto hi_step = (lanes::abs(up) <= max) & (lanes::sum_error<V>(m, r, up) > splat<V>(0.0));
        lo = lanes::select<V>(lo_step, -lanes::succ_finite<V>(-down), down);
        hi = lanes::select<V>(hi_step, lanes::succ_finite<V>(up), up);
    }
    lo = lanes::select<V>(lo == splat<V>(kInfinity), max, lo);
    hi = lanes::select<V>(hi == splat<V>(-kInfinity), -max, hi);
    const auto whole = r == splat<V>(kInfinity);
    const auto nan = (m != m) | (r != r);
    if constexpr (kInfiniteRadiusFirst) {
        lo = lanes::select<V>(nan, splat<V>(NAN), lo);
        hi = lanes::select<V>(nan, splat<V>(NAN), hi);
        lo = lanes::select<V>(whole, splat<V>(-kInfinity), lo);
        hi = lanes::select<V>(whole, splat<V>(kInfinity), hi);
    } else {
        lo = lanes::select<V>(whole, splat<V>(-kInfinity), lo);
        hi = lanes::select<V>(whole, splat<V>(kInfinity), hi);
        lo = lanes::select<V>(nan, splat<V>(NAN), lo);
        hi = lanes::select<V>(nan, splat<V>(NAN), hi);
    }
}

// add_down_clamped and add_up_clamped of rounding.hpp.
// On eight lanes, as in outward_ends, by the instruction with the zero of an
// exact cancellation taken from the sum rounded to nearest.
template <class V>
[[gnu::always_inline]] inline V add_down_clamped(const V& x, const V& y) {
    V down;
    if constexpr (lanes::Traits<V>::width == 8) {
        down = _mm512_add_round_pd(x, y, lanes::kDownward);
        down = lanes::select<V>(down == splat<V>(0.0), x + y, down);
    } else {
        const V s = x + y;
        const auto step = (lanes::abs(s) <= splat<V>(kDoubleMax)) & (lanes::sum_error<V>(x, y, s) < splat<V>(0.0));
        down = lanes::select<V>(step, -lanes::succ_finite<V>(-s), s);
    }
    return lanes::select<V>(down == splat<V>(kInfinity), splat<V>(kDoubleMax), down);
}

template <class V>
[[gnu::always_inline]] inline V add_up_clamped(const V& x, const V& y) {
    V up;
    if constexpr (lanes::Traits<V>::width == 8) {
        up = _mm512_add_round_pd(x, y, lanes::kUpward);
    } else {
        const V s = x + y;
        const auto step = (lanes::abs(s) <= splat<V>(kDoubleMax)) & (lanes::sum_error<V>(x, y, s) > splat<V>(0.0));
        up = lanes::select<V>(step, lanes::succ_finite<V>(s), s);
    }
    return lanes::select<V>(up == splat<V>(-kInfinity), splat<V>(-kDoubleMax), up);
}

// Lanes [0, count) whose element j lies at j * step + lane * lane_stride,
// folded with their states in registers: two vectors of lanes at a time (one
// lane's steps depend on each other, two vectors keep the units busy), then
// one, then single lanes. The lanes of a vector are gathered.
template <class V>
[[gnu::always_inline]] inline V gather(const double* p, std::size_t stride) {
    if constexpr (lanes::Traits<V>::width == 1) {
        return *p;
    } else if constexpr (lanes::Traits<V>::width == 2) {
        return V{p[0], p[stride]};
    } else if constexpr (lanes::Traits<V>::width == 4) {
        return V{p[0], p[stride], p[2 * stride], p[3 * stride]};
    } else {
        static_assert(lanes::Traits<V>::width == 8, "gather is provided for one to eight lanes");
        return V{p[0], p[stride], p[2 * stride], p[3 * stride], p[4 * stride], p[5 * stride], p[6 * stride],
                 p[7 * stride]};
    }
}

template <class V, class Op>
[[gnu::always_inline]] inline void fold_strided(double* lo, double* hi, const double* mid, const double* rad,
                                                std::size_t count, std::size_t lane_stride, std::size_t length,
                                                std::size_t step, Op op) {
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    std::size_t g = 0;
    for (; g + 2 * kWidth <= count; g += 2 * kWidth) {
        V l0 = lanes::load<V>(lo + g);
        V h0 = lanes::load<V>(hi + g);
        V l1 = lanes::load<V>(lo + g + kWidth);
        V h1 = lanes::load<V>(hi + g + kWidth);
        const std::size_t first = g * lane_stride;
        const std::size_t second = (g + kWidth) * lane_stride;
        for (std::size_t j = 0, at = 0; j < length; ++j, at += step) {
            op(gather<V>(mid + first + at, lane_stride), gather<V>(rad + first + at, lane_stride), l0, h0);
            op(gather<V>(mid + second + at, lane_stride), gather<V>(rad + second + at, lane_stride), l1, h1);
        }
        lanes::store<V>(lo + g, l0);
        lanes::store<V>(hi + g, h0);
        lanes::store<V>(lo + g + kWidth, l1);
        lanes::store<V>(hi + g + kWidth, h1);
    }
    for (; g < count; ++g) {
        for (std::size_t j = 0, at = g * lane_stride; j < length; ++j, at += step) op(mid[at], rad[at], lo[g], hi[g]);
    }
}

// EndpointSum::add: lower ends added downward, upper ends upward, clamped.
struct AddEnds {
    template <class W>
    [[gnu::always_inline]] void operator()(const W& m, const W& r, W& l, W& h) const {
        W x_lo;
        W x_hi;
        outward_ends<W, false>(m, r, x_lo, x_hi);
        l = add_down_clamped<W>(l, x_lo);
        h = add_up_clamped<W>(h, x_hi);
    }
};

// Extreme::add: an end replaces the state's only when it comes strictly
// before it (NaN ends never do).
template <bool kLargest>
struct ExtremeEnds {
    template <class W>
    [[gnu::always_inline]] void operator()(const W& m, const W& r, W& l, W& h) const {
        W x_lo;
        W x_hi;
        outward_ends<W, true>(m, r, x_lo, x_hi);
        l = lanes::select<W>(kLargest ? x_lo > l : x_lo < l, x_lo, l);
        h = lanes::select<W>(kLargest ? x_hi > h : x_hi < h, x_hi, h);
    }
};

template <class V, class Op>
void lane_kernel(double* lo, double* hi, const double* mid, const double* rad, std::size_t count,
                    std::size_t lane_stride, std::size_t length, std::size_t step) noexcept {
    fold_strided<V>(lo, hi, mid, rad, count, lane_stride, length, step, Op{});
}

// Squared deviations (SquaresKernel). The products of the ends are formed
// lane-parallel; their outward rounding is that of mul_down and mul_up: the
// fma residual x*y - p is exact unless p is tiny (Boldo and Muller 2011), and
// a block holding such a product is left to the scalar steps. The sums then
// take the lower and upper ends one after the other.
template <class V>
[[gnu::always_inline]] inline V min_num(const V& best, const V& x) {
    return lanes::select<V>((x < best) | (best != best), x, best);
}
template <class V>
[[gnu::always_inline]] inline V max_num(const V& best, const V& x) {
    return lanes::select<V>((x > best) | (best != best), x, best);
}

// mul_down and mul_up of x * y; `slow` gets the lanes whose residual may be
// inexact (then product_residual decides on scaled operands).
template <class V>
[[gnu::always_inline]] inline void product_ends(const V& x, const V& y, V& down, V& up, lanes::Mask<V>& slow) {
    const V p = x * y;
    const V t = lanes::fused<V>(x, y, -p);
    const V max = splat<V>(kDoubleMax);
    const auto finite = lanes::abs(p) <= max;
    const V zero = splat<V>(0.0);
    slow = slow | (finite & (t == zero) & (lanes::abs(p) < splat<V>(kProductResidualLimit)) & (x != zero) &
                   (y != zero));
    if constexpr (lanes::Traits<V>::width == 8) {  // rounded by the instruction (a product's zero has no choice of sign)
        down = _mm512_mul_round_pd(x, y, lanes::kDownward);
        up = _mm512_mul_round_pd(x, y, lanes::kUpward);
    } else {
        down = lanes::select<V>(finite & (t < zero), -lanes::succ_finite<V>(-p), p);
        up = lanes::select<V>(finite & (t > zero), lanes::succ_finite<V>(p), p);
    }
    down = lanes::select<V>(down == splat<V>(kInfinity), max, down);
    up = lanes::select<V>(up == splat<V>(-kInfinity), -max, up);
}

// The ends of D * D for the deviation D of each element: mul_endpoints'
// corner hull with its minNum / maxNum (the corners lo*hi and hi*lo are the
// same product). A zero's sign may differ from the scalar hull's, which the
// sums starting from +0 cannot see.
template <class V>
[[gnu::always_inline]] inline lanes::Mask<V> squared_deviation(const V& m, const V& r, const V& mean_lo,
                                                               const V& mean_hi, V& q_lo, V& q_hi) {
    V x_lo;
    V x_hi;
    outward_ends<V, false>(m, r, x_lo, x_hi);
    const V d_lo = add_down_clamped<V>(x_lo, -mean_hi);
    const V d_hi = add_up_clamped<V>(x_hi, -mean_lo);
    lanes::Mask<V> slow{};
    V down;
    V up;
    product_ends<V>(d_lo, d_lo, q_lo, q_hi, slow);
    product_ends<V>(d_lo, d_hi, down, up, slow);
    q_lo = min_num<V>(q_lo, down);
    q_hi = max_num<V>(q_hi, up);
    product_ends<V>(d_hi, d_hi, down, up, slow);
    q_lo = min_num<V>(q_lo, down);
    q_hi = max_num<V>(q_hi, up);
    return slow;
}

// Directed sums in a lattice: while a running value v and every partial sum
// stay strictly inside the binade of v (|v| in (2^k, 2^(k+1)), spacing u),
// add_down(v, q) is v + floor(q / u) u and add_up(v, q) is v + ceil(q / u) u,
// integers that may be added in any order. q * (1/u) is exact unless it
// underflows; an underflow to zero hides a count of -1 (floor, q < 0) or 1
// (ceil, q > 0), put back below.
template <class V, bool kUp>
[[gnu::always_inline]] inline V directed_count(const V& q, const V& inverse) {
    const V x = q * inverse;
    const V zero = splat<V>(0.0);
    V c;
    if constexpr (lanes::Traits<V>::width == 4) {
        c = kUp ? _mm256_round_pd(x, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC)
                : _mm256_round_pd(x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    } else if constexpr (lanes::Traits<V>::width == 8) {
        c = kUp ? _mm512_roundscale_pd(x, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC)
                : _mm512_roundscale_pd(x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    } else {
        // x rounded to an integer for |x| < 2^51 (larger counts fail the range
        // check anyway), then moved by one towards the direction if needed.
        const V t = (x + splat<V>(0x1.8p52)) - splat<V>(0x1.8p52);
        c = kUp ? t + lanes::select<V>(t < x, splat<V>(1.0), zero) : t - lanes::select<V>(t > x, splat<V>(1.0), zero);
    }
    const auto hidden = kUp ? (q > zero) & (c == zero) : (q < zero) & (c == zero);
    return lanes::select<V>(hidden, splat<V>(kUp ? 1.0 : -1.0), c);
}

template <class V, bool kUp>
bool add_directed_in_lattice(double& v, const double* q, std::size_t n) noexcept {
    if (!SumLattice::usable(v)) return false;
    const SumLattice lattice(v);
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    const V inverse = splat<V>(lattice.inverse);
    V steps = splat<V>(0.0);
    V top = steps;
    V bottom = steps;
    std::size_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        steps += directed_count<V, kUp>(lanes::load<V>(q + i), inverse);
        top = lanes::larger<V>(steps, top);
        bottom = lanes::smaller<V>(steps, bottom);
    }
    double total = lanes::lane_sum(steps);
    double t = lanes::lane_sum(top);
    double b = lanes::lane_sum(bottom);
    for (; i < n; ++i) {
        total += directed_count<double, kUp>(q[i], lattice.inverse);
        t = std::fmax(t, total);
        b = std::fmin(b, total);
    }
    // A NaN or infinite q makes the total NaN or infinite.
    if (!(t - b < 0x1p51) || !is_finite(total)) return false;
    const bool inside = v > 0 ? lattice.contains(b, t) : lattice.contains(-t, -b);
    if (!inside) return false;
    v += total * lattice.unit;
    return true;
}

// The scalar reference of squared_deviation, products near the subnormals
// included.
inline Endpoints squared_deviation(double m, double r, double mean_lo, double mean_hi) {
    const Endpoints x = to_endpoints(m, r);
    const Endpoints d{add_down_clamped(x.lo, -mean_hi), add_up_clamped(x.hi, -mean_lo)};
    return mul_endpoints(d, d);
}

inline constexpr std::size_t kSquaresBlock = 256;

template <class V, class W>
void add_squares(double& lo, double& hi, double mean_lo, double mean_hi, const double* mid, const double* rad,
                 std::size_t n) noexcept {
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    double q_lo[kSquaresBlock];
    double q_hi[kSquaresBlock];
    const V mlo = splat<V>(mean_lo);
    const V mhi = splat<V>(mean_hi);
    double l = lo;
    double h = hi;
    for (std::size_t start = 0; start < n; start += kSquaresBlock) {
        const std::size_t count = std::min(kSquaresBlock, n - start);
        const double* m = mid + start;
        const double* r = rad + start;
        bool slow = false;
        std::size_t i = 0;
        for (; i + kWidth <= count; i += kWidth) {
            V a;
            V b;
            slow |= lanes::any<V>(squared_deviation<V>(lanes::load<V>(m + i), lanes::load<V>(r + i), mlo, mhi, a, b));
            lanes::store<V>(q_lo + i, a);
            lanes::store<V>(q_hi + i, b);
        }
        for (; i < count; ++i)
            slow |= squared_deviation<double>(m[i], r[i], mean_lo, mean_hi, q_lo[i], q_hi[i]);
        if (slow) {
            for (std::size_t k = 0; k < count; ++k) {
                const Endpoints q = squared_deviation(m[k], r[k], mean_lo, mean_hi);
                q_lo[k] = q.lo;
                q_hi[k] = q.hi;
            }
        }
        if (!add_directed_in_lattice<W, false>(l, q_lo, count))
            for (std::size_t k = 0; k < count; ++k) l = add_down_clamped(l, q_lo[k]);
        // The upper ends are squares' maxima, never below +0 (or NaN), so
        // their sum needs only the non-negative form of add_up.
        if (!add_directed_in_lattice<W, true>(h, q_hi, count))
            for (std::size_t k = 0; k < count; ++k) h = reduce::add_up_nonneg(h, q_hi[k]);
    }
    lo = l;
    hi = h;
}

// LaneSquaresKernel: row after row, a vector of lanes at a time; a vector
// with a product near the subnormals takes the scalar steps lane by lane.
template <class V>
void lane_squares(double* lo, double* hi, const double* mean_lo, const double* mean_hi, const double* mid,
                  const double* rad, std::size_t count, std::size_t length, std::size_t step) noexcept {
    constexpr std::size_t kWidth = lanes::Traits<V>::width;
    const auto scalar = [&](std::size_t g, std::size_t at) {
        const Endpoints q = squared_deviation(mid[at], rad[at], mean_lo[g], mean_hi[g]);
        lo[g] = add_down_clamped(lo[g], q.lo);
        hi[g] = reduce::add_up_nonneg(hi[g], q.hi);
    };
    for (std::size_t j = 0, at = 0; j < length; ++j, at += step) {
        std::size_t g = 0;
        for (; g + kWidth <= count; g += kWidth) {
            V q_lo;
            V q_hi;
            const auto slow = squared_deviation<V>(lanes::load<V>(mid + at + g), lanes::load<V>(rad + at + g),
                                                   lanes::load<V>(mean_lo + g), lanes::load<V>(mean_hi + g), q_lo, q_hi);
            if (lanes::any<V>(slow)) [[unlikely]] {
                for (std::size_t k = g; k < g + kWidth; ++k) scalar(k, at + k);
                continue;
            }
            lanes::store<V>(lo + g, add_down_clamped<V>(lanes::load<V>(lo + g), q_lo));
            lanes::store<V>(hi + g, lanes::add_up_nonneg<V>(lanes::load<V>(hi + g), q_hi));
        }
        for (; g < count; ++g) scalar(g, at + g);
    }
}

template <class L>
inline constexpr ReduceKernels reduce_table{
    .add_to_sum = add_to_sum<typename L::Wide>,
    .largest_ends = rounded_ends<typename L::Wide, true>,
    .smallest_ends = rounded_ends<typename L::Wide, false>,
    .largest_midpoint = midpoint_extreme<typename L::Wide, true>,
    .smallest_midpoint = midpoint_extreme<typename L::Wide, false>,
    .add_lane_ends = lane_kernel<typename L::Wide, AddEnds>,
    .largest_lane_ends = lane_kernel<typename L::Wide, ExtremeEnds<true>>,
    .smallest_lane_ends = lane_kernel<typename L::Wide, ExtremeEnds<false>>,
    .add_squares = add_squares<typename L::Fused, typename L::Wide>,
    .add_lane_squares = lane_squares<typename L::Fused>,
};

}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
