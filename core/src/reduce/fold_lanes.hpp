// Lane reductions by the lane-fold kernels (internal to core/src/reduce): each
// lane's state is a pair of doubles, and its elements are folded in in lane
// order, so every lane gets exactly what the element-by-element scan gives.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "boundwise/array/array.hpp"
#include "boundwise/kernels/reduce.hpp"
#include "boundwise/reduce/lanes.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise::reduce {

// Lanes folded at once: of one row of the layout (consecutive in memory), or
// of a reduction along the last axis (each lane consecutive in memory).
inline constexpr std::uint64_t kRowSpan = 256;
inline constexpr std::uint64_t kLastAxisLanes = 64;
// Elements from which the lanes are spread over the pool, and elements per task.
inline constexpr std::uint64_t kFoldParallelThreshold = 1 << 16;
inline constexpr std::uint64_t kFoldTaskElements = 1 << 15;

// Folds every lane of `a` along the layout from the state (lo0, hi0) and hands
// each lane's final state to finish(lane, lo, hi), lanes in any order (from
// several threads when the array is large: finish must write only its lane's
// own output). Lanes go in groups of consecutive lanes with one outer index
// (or, along the last axis, of any outer indices).
template <class Finish>
void fold_lanes(const Array& a, const LaneLayout& layout, LaneFoldKernel fold, double lo0, double hi0,
                Finish&& finish) {
    const std::uint64_t lanes = layout.lanes();
    if (lanes == 0) return;
    if (layout.length == 0) {
        for (std::uint64_t lane = 0; lane < lanes; ++lane) finish(lane, lo0, hi0);
        return;
    }
    const bool last_axis = layout.inner == 1;
    const std::uint64_t span = last_axis ? kLastAxisLanes : std::min(kRowSpan, layout.inner);
    const std::uint64_t per_row = last_axis ? 0 : (layout.inner + span - 1) / span;
    const std::uint64_t groups = last_axis ? (lanes + span - 1) / span : layout.outer * per_row;
    const auto group = [&](std::uint64_t k) noexcept {
        const std::uint64_t first = last_axis ? k * span : k / per_row * layout.inner + k % per_row * span;
        const std::uint64_t row_end = last_axis ? lanes : first - first % layout.inner + layout.inner;
        const std::uint64_t count = std::min(row_end, first + span) - first;
        double lo[std::max(kRowSpan, kLastAxisLanes)];
        double hi[std::max(kRowSpan, kLastAxisLanes)];
        std::fill(lo, lo + count, lo0);
        std::fill(hi, hi + count, hi0);
        const std::uint64_t base = first / layout.inner * layout.length * layout.inner + first % layout.inner;
        const std::uint64_t lane_stride = last_axis ? layout.length : 1;
        fold(lo, hi, a.mid() + base, a.rad() + base, count, lane_stride, layout.length, layout.inner);
        for (std::uint64_t g = 0; g < count; ++g) finish(first + g, lo[g], hi[g]);
    };
    if (a.size() < kFoldParallelThreshold || groups == 1) {
        for (std::uint64_t k = 0; k < groups; ++k) group(k);
        return;
    }
    // Tasks of whole groups, about kFoldTaskElements each.
    const std::uint64_t per_group = std::max<std::uint64_t>(1, a.size() / groups);
    const std::uint64_t per_task = std::max<std::uint64_t>(1, kFoldTaskElements / per_group);
    auto task = [&](std::size_t t, std::size_t) noexcept {
        for (std::uint64_t k = t * per_task, end = std::min(groups, k + per_task); k < end; ++k) group(k);
    };
    run_tasks((groups + per_task - 1) / per_task, task);
}

}  // namespace boundwise::reduce
