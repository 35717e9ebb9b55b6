#include "boundwise/reduce/sums.hpp"

#include <cmath>

#include "accumulate.hpp"
#include "fold_lanes.hpp"
#include "boundwise/kernels/reduce.hpp"
#include "boundwise/reduce/lanes.hpp"

namespace boundwise {

using reduce::EndpointSum;
using reduce::RunningSum;

Endpoints sum_endpoints(const Array& a) {
    SumState state{0.0, 0.0};
    reduce_kernels().add_to_sum(state, a.mid(), a.rad(), a.size());
    return RunningSum{state.s, state.r}.ends();
}

Endpoints divide_by_count(Endpoints sum, std::uint64_t n) {
    const double count = static_cast<double>(n);
    return {div_down(sum.lo, count), div_up(sum.hi, count)};
}

Interval sum(const Array& a) { return reduce::to_element(sum_endpoints(a)); }

namespace {

// Lane sums, each divided by the lane length when `divide` holds.
Array lane_sums(const Array& a, std::uint64_t axis, bool divide) {
    const LaneLayout layout = lane_layout(a.shape(), axis);
    Array out = Array::uninitialized(layout.reduced);
    reduce::fold_lanes(a, layout, reduce_kernels().add_lane_ends, 0.0, 0.0,
                       [&](std::uint64_t lane, double lo, double hi) {
                           Endpoints ends{lo, hi};
                           if (divide) ends = layout.length ? divide_by_count(ends, layout.length) : Endpoints{NAN, NAN};
                           reduce::store(out, lane, reduce::to_element(ends));
                       });
    return out;
}

}  // namespace

Array sum(const Array& a, std::uint64_t axis) { return lane_sums(a, axis, false); }

Interval mean(const Array& a) {
    if (a.size() == 0) return from_endpoints(NAN, NAN);
    return reduce::to_element(divide_by_count(sum_endpoints(a), a.size()));
}

Array mean(const Array& a, std::uint64_t axis) { return lane_sums(a, axis, true); }

Array cumsum(const Array& a) {
    Array out = Array::uninitialized(a.shape());
    RunningSum running;
    for (std::uint64_t i = 0, n = a.size(); i < n; ++i) {
        running.add(a.mid()[i], a.rad()[i]);
        reduce::store(out, i, running.element());
    }
    return out;
}

Array cumsum(const Array& a, std::uint64_t axis) {
    const LaneLayout layout = lane_layout(a.shape(), axis);
    Array out = Array::uninitialized(a.shape());
    reduce_lanes<EndpointSum>(
        layout, [](EndpointSum& s, std::uint64_t) { s = {}; },
        [&](EndpointSum& s, std::uint64_t i, std::uint64_t) {
            s.add(reduce::endpoints_of(a, i));
            reduce::store(out, i, reduce::to_element(s.ends()));
        },
        [](EndpointSum&, std::uint64_t) {});
    return out;
}

}  // namespace boundwise
