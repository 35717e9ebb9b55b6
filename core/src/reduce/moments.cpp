#include "boundwise/reduce/moments.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "accumulate.hpp"
#include "fold_lanes.hpp"
#include "boundwise/kernels/reduce.hpp"
#include "boundwise/reduce/lanes.hpp"
#include "boundwise/reduce/sums.hpp"

namespace boundwise {

using reduce::EndpointSum;

namespace {

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

// The variance ends of every lane: lane means first (the lane sums of
// `sum` with an axis, divided), then the squares, folded lane by lane: along
// the last axis each lane is contiguous, elsewhere up to kRowSpan lanes of a
// row go side by side.
std::vector<Endpoints> lane_variances(const Array& a, const LaneLayout& layout) {
    const std::uint64_t lane_count = layout.lanes();
    std::vector<Endpoints> out(lane_count, Endpoints{NAN, NAN});
    if (layout.length == 0 || lane_count == 0) return out;
    const ReduceKernels& kernels = reduce_kernels();
    std::vector<double> mean_lo(lane_count);
    std::vector<double> mean_hi(lane_count);
    reduce::fold_lanes(a, layout, kernels.add_lane_ends, 0.0, 0.0, [&](std::uint64_t lane, double lo, double hi) {
        const Endpoints mean = divide_by_count({lo, hi}, layout.length);
        mean_lo[lane] = mean.lo;
        mean_hi[lane] = mean.hi;
    });
    const bool last_axis = layout.inner == 1;
    const std::uint64_t span = last_axis ? 1 : std::min(reduce::kRowSpan, layout.inner);
    const std::uint64_t per_row = last_axis ? 1 : (layout.inner + span - 1) / span;
    const std::uint64_t groups = last_axis ? lane_count : layout.outer * per_row;
    const auto group = [&](std::uint64_t k) noexcept {
        const std::uint64_t first = last_axis ? k : k / per_row * layout.inner + k % per_row * span;
        const std::uint64_t count = last_axis ? 1 : std::min(layout.inner - first % layout.inner, span);
        const std::uint64_t base = first / layout.inner * layout.length * layout.inner + first % layout.inner;
        double lo[reduce::kRowSpan] = {};
        double hi[reduce::kRowSpan] = {};
        if (last_axis)
            kernels.add_squares(lo[0], hi[0], mean_lo[first], mean_hi[first], a.mid() + base, a.rad() + base,
                                layout.length);
        else
            kernels.add_lane_squares(lo, hi, mean_lo.data() + first, mean_hi.data() + first, a.mid() + base,
                                     a.rad() + base, count, layout.length, layout.inner);
        for (std::uint64_t g = 0; g < count; ++g) out[first + g] = variance_from_squares({lo[g], hi[g]}, layout.length);
    };
    const std::uint64_t per_group = std::max<std::uint64_t>(1, a.size() / groups);
    const std::uint64_t per_task = std::max<std::uint64_t>(1, reduce::kFoldTaskElements / per_group);
    if (a.size() < reduce::kFoldParallelThreshold || groups == 1) {
        for (std::uint64_t k = 0; k < groups; ++k) group(k);
    } else {
        auto task = [&](std::size_t t, std::size_t) noexcept {
            for (std::uint64_t k = t * per_task, end = std::min(groups, k + per_task); k < end; ++k) group(k);
        };
        run_tasks((groups + per_task - 1) / per_task, task);
    }
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
