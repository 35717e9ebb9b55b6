#include "boundwise/reduce/extremes.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "../kernels/lanes.hpp"
#include "accumulate.hpp"
#include "fold_lanes.hpp"
#include "boundwise/error.hpp"
#include "boundwise/kernels/reduce.hpp"
#include "boundwise/reduce/lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {

namespace {

// The two directions: the maximum keeps the larger ends, starting from -inf.
struct Largest {
    static constexpr bool kLargest = true;
    static constexpr const char* kEmpty = "max of an empty array has no value";
    static constexpr const char* kEmptyArg = "attempt to get argmax of an empty array";
    static constexpr double kStart = -kInfinity;
    template <class V>
    static auto before(const V& x, const V& y) { return x > y; }
};
struct Smallest {
    static constexpr bool kLargest = false;
    static constexpr const char* kEmpty = "min of an empty array has no value";
    static constexpr const char* kEmptyArg = "attempt to get argmin of an empty array";
    static constexpr double kStart = kInfinity;
    template <class V>
    static auto before(const V& x, const V& y) { return x < y; }
};

// The one of x and y that comes first (y on ties and where x is NaN).
template <class Direction, class V>
[[gnu::always_inline]] inline V first_of(const V& x, const V& y) {
    return lanes::select<V>(Direction::before(x, y), x, y);
}

// Running ends of the extreme. Elements whose ends are NaN are skipped.
template <class Direction>
struct Extreme {
    double lo = Direction::kStart;
    double hi = Direction::kStart;

    void add(double m, double r) {
        if (std::isnan(r)) return;
        // An infinite radius is the entire line, whatever its midpoint.
        const Endpoints x = r == kInfinity ? Endpoints{-kInfinity, kInfinity} : to_endpoints(m, r);
        if (std::isnan(x.lo)) return;
        if (Direction::before(x.lo, lo)) lo = x.lo;
        if (Direction::before(x.hi, hi)) hi = x.hi;
    }
    Interval element() const { return lo <= hi ? from_endpoints(lo, hi) : from_endpoints(hi, lo); }
};

// Extreme::add over n elements whose midpoints and radii are all finite, two
// at a time: the ends rounded outward by their TwoSum errors as to_endpoints
// rounds them (an end that overflows stays infinite there too). The extreme
// of the ends does not depend on the order in which they are taken.
template <class Direction>
void add_finite(Extreme<Direction>& e, const double* m, const double* r, std::uint64_t n) {
    using lanes::V2;
    V2 lo = lanes::splat<V2>(e.lo);
    V2 hi = lanes::splat<V2>(e.hi);
    std::uint64_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const V2 mm = lanes::load<V2>(m + i);
        const V2 rr = lanes::load<V2>(r + i);
        const V2 l = mm - rr;
        const V2 h = mm + rr;
        const V2 down = lanes::select<V2>(lanes::sum_error<V2>(mm, -rr, l) < 0, -lanes::succ_finite<V2>(-l), l);
        const V2 up = lanes::select<V2>(lanes::sum_error<V2>(mm, rr, h) > 0, lanes::succ_finite<V2>(h), h);
        lo = first_of<Direction>(down, lo);
        hi = first_of<Direction>(up, hi);
    }
    for (int k = 0; k < 2; ++k) {
        e.lo = first_of<Direction>(lo[k], e.lo);
        e.hi = first_of<Direction>(hi[k], e.hi);
    }
    for (; i < n; ++i) e.add(m[i], r[i]);
}

bool all_finite(const double* m, const double* r, std::uint64_t n) {
    bool finite = true;
    for (std::uint64_t i = 0; i < n; ++i) finite &= (std::fabs(m[i]) <= kDoubleMax) & (r[i] <= kDoubleMax);
    return finite;
}

// The extreme lower and upper ends of a block of finite elements, if either
// can replace an end of `e`. The kernel gives the extremes L and H of the ends
// rounded to nearest; rounding is monotone, so the extreme of the outward-
// rounded ends is the outward rounding of the extreme exact end, and that
// element's end rounds to nearest to L (or H): only elements with m - r = L
// (m + r = H) need their outward ends. Those round away from L by at most one
// step, down for lower ends and up for upper ones, so an L (H) equal to the
// end of `e` can still move it where that is the direction of the extreme.
template <class Direction>
struct BlockEnds {
    bool lo_may_move;
    bool hi_may_move;
    double lo = Direction::kStart;
    double hi = Direction::kStart;

    BlockEnds(RoundedEnds rounded, const Extreme<Direction>& e)
        : lo_may_move(Direction::before(rounded.lo, e.lo) || (!Direction::kLargest && rounded.lo == e.lo)),
          hi_may_move(Direction::before(rounded.hi, e.hi) || (Direction::kLargest && rounded.hi == e.hi)) {}

    void find(RoundedEnds rounded, const double* m, const double* r, std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            const bool lo_here = lo_may_move && m[i] - r[i] == rounded.lo;
            const bool hi_here = hi_may_move && m[i] + r[i] == rounded.hi;
            if (!lo_here && !hi_here) continue;
            const Endpoints x = to_endpoints(m[i], r[i]);
            if (lo_here) lo = first_of<Direction>(x.lo, lo);
            if (hi_here) hi = first_of<Direction>(x.hi, hi);
        }
    }
};

template <class Direction>
Interval whole_extreme(const Array& a) {
    if (a.size() == 0) throw value_error(Direction::kEmpty);
    constexpr std::uint64_t kBlock = 512;
    const ReduceKernels& kernels = reduce_kernels();
    const RoundedEndsKernel rounded_ends = Direction::kLargest ? kernels.largest_ends : kernels.smallest_ends;
    Extreme<Direction> e;
    const double* m = a.mid();
    const double* r = a.rad();
    for (std::uint64_t start = 0, n = a.size(); start < n; start += kBlock) {
        const std::uint64_t count = std::min(kBlock, n - start);
        RoundedEnds rounded{Direction::kStart, Direction::kStart};
        if (!rounded_ends(rounded, m + start, r + start, count)) {
            if (all_finite(m + start, r + start, count)) {
                add_finite(e, m + start, r + start, count);  // an end overflowed
            } else {
                for (std::uint64_t i = start; i < start + count; ++i) e.add(m[i], r[i]);
            }
            continue;
        }
        BlockEnds<Direction> block(rounded, e);
        if (!block.lo_may_move && !block.hi_may_move) continue;
        block.find(rounded, m + start, r + start, count);
        // Which of two zeros of opposite sign is kept depends on the order in
        // which they are met; that order is the two-lane scan's.
        if ((block.lo_may_move && block.lo == 0) || (block.hi_may_move && block.hi == 0)) {
            add_finite(e, m + start, r + start, count);
            continue;
        }
        if (block.lo_may_move) e.lo = first_of<Direction>(block.lo, e.lo);
        if (block.hi_may_move) e.hi = first_of<Direction>(block.hi, e.hi);
    }
    return e.element();
}

// Lanes of length 0 have no extreme: refused as the empty array is, unless
// there are no lanes at all (then the result is empty and nothing is read).
template <class Direction>
Array lane_extremes(const Array& a, std::uint64_t axis) {
    const LaneLayout layout = lane_layout(a.shape(), axis);
    if (layout.length == 0 && layout.lanes() != 0) throw value_error(Direction::kEmpty);
    Array out = Array::uninitialized(layout.reduced);
    const ReduceKernels& kernels = reduce_kernels();
    const LaneFoldKernel fold = Direction::kLargest ? kernels.largest_lane_ends : kernels.smallest_lane_ends;
    reduce::fold_lanes(a, layout, fold, Direction::kStart, Direction::kStart, [&](std::uint64_t lane, double lo, double hi) {
                           reduce::store(out, lane, Extreme<Direction>{lo, hi}.element());
                       });
    return out;
}

// The best position so far; a candidate replaces it only when its midpoint
// comes strictly before, or the midpoints are equal and its radius comes
// strictly before (larger for argmax, smaller for argmin). Every comparison
// with NaN is false, so NaN never replaces and is never replaced by order.
template <class Direction>
struct Best {
    double m = 0.0;
    double r = 0.0;
    std::uint64_t at = 0;

    void offer(double cm, double cr, std::uint64_t where) {
        if (Direction::before(cm, m) || (cm == m && Direction::before(cr, r))) {
            m = cm;
            r = cr;
            at = where;
        }
    }
};

// The scan of Best in two passes. Unless element 0 has a NaN midpoint (then
// nothing ever replaces it), the scan's midpoint ends as the extreme M of the
// midpoints that are not NaN, reached first at the first element equal to M;
// from there only elements equal to M can replace the best, by radius. The
// first pass keeps the extreme of every block, so the second visits only the
// blocks that hold M.
template <class Direction>
std::uint64_t whole_arg(const Array& a) {
    const std::uint64_t n = a.size();
    if (n == 0) throw value_error(Direction::kEmptyArg);
    const double* m = a.mid();
    const double* r = a.rad();
    if (std::isnan(m[0])) return 0;
    constexpr std::uint64_t kBlock = 4096;
    const ReduceKernels& kernels = reduce_kernels();
    const MidpointExtremeKernel block_extreme = Direction::kLargest ? kernels.largest_midpoint : kernels.smallest_midpoint;
    std::vector<double> extremes((n + kBlock - 1) / kBlock);
    double extreme = Direction::kStart;
    for (std::uint64_t b = 0; b < extremes.size(); ++b) {
        extremes[b] = block_extreme(Direction::kStart, m + b * kBlock, std::min(kBlock, n - b * kBlock));
        extreme = first_of<Direction>(extremes[b], extreme);
    }
    std::optional<Best<Direction>> best;
    for (std::uint64_t b = 0; b < extremes.size(); ++b) {
        if (!(extremes[b] == extreme)) continue;
        for (std::uint64_t i = b * kBlock, end = std::min(n, i + kBlock); i < end; ++i) {
            if (!(m[i] == extreme)) continue;
            if (best) best->offer(m[i], r[i], i);
            else best = Best<Direction>{m[i], r[i], i};
        }
    }
    return best->at;
}

template <class Direction>
std::vector<std::uint64_t> lane_args(const Array& a, std::uint64_t axis) {
    if (a.size() == 0) throw value_error(Direction::kEmptyArg);
    const LaneLayout layout = lane_layout(a.shape(), axis);
    std::vector<std::uint64_t> out(layout.lanes());
    reduce_lanes<Best<Direction>>(
        layout, [](Best<Direction>&, std::uint64_t) {},
        [&](Best<Direction>& best, std::uint64_t i, std::uint64_t j) {
            if (j == 0) best = {a.mid()[i], a.rad()[i], 0};
            else best.offer(a.mid()[i], a.rad()[i], j);
        },
        [&](Best<Direction>& best, std::uint64_t lane) { out[lane] = best.at; });
    return out;
}

}  // namespace

Interval interval_max(const Array& a) { return whole_extreme<Largest>(a); }
Interval interval_min(const Array& a) { return whole_extreme<Smallest>(a); }
Array interval_max(const Array& a, std::uint64_t axis) { return lane_extremes<Largest>(a, axis); }
Array interval_min(const Array& a, std::uint64_t axis) { return lane_extremes<Smallest>(a, axis); }

std::uint64_t argmax(const Array& a) { return whole_arg<Largest>(a); }
std::uint64_t argmin(const Array& a) { return whole_arg<Smallest>(a); }
std::vector<std::uint64_t> argmax(const Array& a, std::uint64_t axis) { return lane_args<Largest>(a, axis); }
std::vector<std::uint64_t> argmin(const Array& a, std::uint64_t axis) { return lane_args<Smallest>(a, axis); }

}  // namespace boundwise

#pragma GCC diagnostic pop
