#include "boundwise/reduce/extremes.hpp"

#include <cmath>

#include "accumulate.hpp"
#include "boundwise/error.hpp"
#include "boundwise/reduce/lanes.hpp"

namespace boundwise {

namespace {

// The two directions: the maximum keeps the larger ends, starting from -inf.
struct Largest {
    static constexpr const char* kEmpty = "max of an empty array has no value";
    static constexpr const char* kEmptyArg = "attempt to get argmax of an empty array";
    static constexpr double kStart = -kInfinity;
    static bool before(double x, double y) { return x > y; }
};
struct Smallest {
    static constexpr const char* kEmpty = "min of an empty array has no value";
    static constexpr const char* kEmptyArg = "attempt to get argmin of an empty array";
    static constexpr double kStart = kInfinity;
    static bool before(double x, double y) { return x < y; }
};

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

template <class Direction>
Interval whole_extreme(const Array& a) {
    if (a.size() == 0) throw value_error(Direction::kEmpty);
    Extreme<Direction> e;
    for (std::uint64_t i = 0, n = a.size(); i < n; ++i) e.add(a.mid()[i], a.rad()[i]);
    return e.element();
}

// Lanes of length 0 have no extreme: refused as the empty array is, unless
// there are no lanes at all (then the result is empty and nothing is read).
template <class Direction>
Array lane_extremes(const Array& a, std::uint64_t axis) {
    const LaneLayout layout = lane_layout(a.shape(), axis);
    if (layout.length == 0 && layout.lanes() != 0) throw value_error(Direction::kEmpty);
    Array out = Array::uninitialized(layout.reduced);
    reduce_lanes<Extreme<Direction>>(
        layout, [](Extreme<Direction>& e, std::uint64_t) { e = {}; },
        [&](Extreme<Direction>& e, std::uint64_t i, std::uint64_t) { e.add(a.mid()[i], a.rad()[i]); },
        [&](Extreme<Direction>& e, std::uint64_t lane) { reduce::store(out, lane, e.element()); });
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

template <class Direction>
std::uint64_t whole_arg(const Array& a) {
    if (a.size() == 0) throw value_error(Direction::kEmptyArg);
    const double* m = a.mid();
    const double* r = a.rad();
    Best<Direction> best{m[0], r[0], 0};
    for (std::uint64_t i = 1, n = a.size(); i < n; ++i) best.offer(m[i], r[i], i);
    return best.at;
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
