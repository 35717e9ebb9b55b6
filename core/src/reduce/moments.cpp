#include "boundwise/reduce/moments.hpp"

#include <cmath>
#include <utility>
#include <vector>

#include "accumulate.hpp"
#include "boundwise/kernels/reduce.hpp"
#include "boundwise/reduce/lanes.hpp"
#include "boundwise/reduce/sums.hpp"

namespace boundwise {

using reduce::EndpointSum;

namespace {

// Adds (x - mean)^2 for every x in X and every mean in M. The deviation is
// squared by the general product, so a deviation holding 0 gives a negative
// lower end, clamped later; the square of an interval is not needed tighter.
void add_squared_deviation(EndpointSum& q, Endpoints x, Endpoints mean) {
    const Endpoints d{add_down_clamped(x.lo, -mean.hi), add_up_clamped(x.hi, -mean.lo)};
    q.add(mul_endpoints(d, d));
}

// The summed squares divided outward by n, the lower end clamped at 0 (a
// variance is never negative).
Endpoints variance_from_squares(Endpoints squares, std::uint64_t n) {
    if (n == 0) return {NAN, NAN};
    Endpoints v = divide_by_count(squares, n);
    if (std::isnan(v.lo) || std::isnan(v.hi)) return {NAN, NAN};
    if (v.lo < 0) v = {0.0, std::fmax(v.hi, 0.0)};
    return v;
}

// sqrt of non-negative ends, widened by one step each way (IEEE sqrt is
// correctly rounded); a negative or zero lower end gives 0.
Interval square_root(Endpoints v) {
    if (std::isnan(v.lo) || std::isnan(v.hi)) return from_endpoints(NAN, NAN);
    double lo = v.lo > 0 ? pred(std::sqrt(v.lo)) : 0.0;
    double hi = v.hi > 0 ? succ(std::sqrt(v.hi)) : 0.0;
    if (lo > hi) std::swap(lo, hi);
    return from_endpoints(lo, hi);
}

Endpoints variance_ends(const Array& a) {
    const std::uint64_t n = a.size();
    if (n == 0) return {NAN, NAN};
    const Endpoints mean = divide_by_count(sum_endpoints(a), n);
    EndpointSum squares;
    reduce_kernels().add_squares(squares.lo, squares.hi, mean.lo, mean.hi, a.mid(), a.rad(), n);
    return variance_from_squares(squares.ends(), n);
}

// The variance ends of every lane: lane means first, then the squares.
std::vector<Endpoints> lane_variances(const Array& a, const LaneLayout& layout) {
    std::vector<Endpoints> out(layout.lanes(), Endpoints{NAN, NAN});
    if (layout.length == 0) return out;
    reduce_lanes<EndpointSum>(
        layout, [](EndpointSum& s, std::uint64_t) { s = {}; },
        [&](EndpointSum& s, std::uint64_t i, std::uint64_t) { s.add(reduce::endpoints_of(a, i)); },
        [&](EndpointSum& s, std::uint64_t lane) { out[lane] = divide_by_count(s.ends(), layout.length); });
    struct Squares {
        Endpoints mean;
        EndpointSum sum;
    };
    reduce_lanes<Squares>(
        layout, [&](Squares& s, std::uint64_t lane) { s = {out[lane], {}}; },
        [&](Squares& s, std::uint64_t i, std::uint64_t) {
            add_squared_deviation(s.sum, reduce::endpoints_of(a, i), s.mean);
        },
        [&](Squares& s, std::uint64_t lane) { out[lane] = variance_from_squares(s.sum.ends(), layout.length); });
    return out;
}

template <class Convert>
Array lane_moments(const Array& a, std::uint64_t axis, Convert convert) {
    const LaneLayout layout = lane_layout(a.shape(), axis);
    Array out = Array::uninitialized(layout.reduced);
    const std::vector<Endpoints> v = lane_variances(a, layout);
    for (std::uint64_t lane = 0; lane < v.size(); ++lane) reduce::store(out, lane, convert(v[lane]));
    return out;
}

}  // namespace

Interval variance(const Array& a) { return reduce::to_element(variance_ends(a)); }

Array variance(const Array& a, std::uint64_t axis) { return lane_moments(a, axis, reduce::to_element); }

Interval standard_deviation(const Array& a) { return square_root(variance_ends(a)); }

Array standard_deviation(const Array& a, std::uint64_t axis) { return lane_moments(a, axis, square_root); }

Interval norm(const Array& a) {
    // The deviations from a mean of (+0, +0) are the ends themselves.
    EndpointSum squares;
    reduce_kernels().add_squares(squares.lo, squares.hi, 0.0, 0.0, a.mid(), a.rad(), a.size());
    return square_root(squares.ends());
}

}  // namespace boundwise
