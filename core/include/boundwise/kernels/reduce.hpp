// Block kernels of the reductions, on flat midpoint and radius sequences.
//
// Each kernel either computes exactly what the element-by-element reference
// computes (the same doubles, bit for bit) or reports that it cannot, and then
// leaves its state untouched so that the caller runs the reference instead.
// Every target's table behaves the same; the selected one is used (see
// dispatch.hpp).
#pragma once

#include <cstddef>

#include "boundwise/kernels/dispatch.hpp"

namespace boundwise {

// The running whole-array sum: s is the recursive double sum of the
// midpoints, r the upward-rounded bound of its error and of the radii.
struct SumState {
    double s;
    double r;
};

// The extremes, rounded to nearest, of the ends m - r and m + r of n
// elements: `lo` of all m - r, `hi` of all m + r, each the larger (or the
// smaller) of the value it comes in with and of the block's ones.
struct RoundedEnds {
    double lo;
    double hi;
};

// Adds the n elements to the running sum exactly as n steps of
// `s' = fl(s + m); r = up(|s + m - s'| + up(r + rad))` would. Returns how many
// of them had r (and most often s too) added lattice-parallel rather than
// step by step.
using SumBlockKernel = std::size_t (*)(SumState& sum, const double* mid, const double* rad, std::size_t n) noexcept;

// Folds m - r and m + r (rounded to nearest) of n elements into `ends`, and
// returns false when some m, r or end is not finite (`ends` is then
// meaningless, and the caller redoes the block element by element).
using RoundedEndsKernel = bool (*)(RoundedEnds& ends, const double* mid, const double* rad, std::size_t n) noexcept;

// The larger (smaller) of `start` and of the midpoints of n elements that
// are not NaN.
using MidpointExtremeKernel = double (*)(double start, const double* mid, std::size_t n) noexcept;

// Folds the elements of `count` lanes into their states (lo[g], hi[g]), lane
// g's element j lying at j * step + g * lane_stride, all `length` elements of
// each in order, exactly as the scalar reductions do element by element.
using LaneFoldKernel = void (*)(double* lo, double* hi, const double* mid, const double* rad, std::size_t count,
                                std::size_t lane_stride, std::size_t length, std::size_t step) noexcept;

// Adds (x - mean)^2 for the outward ends x of each of n elements to the sums
// (lo, hi): D = (down(x.lo - mean.hi), up(x.hi - mean.lo)) clamped, the
// general outward product D * D, its lower end added downward to lo and its
// upper end upward to hi (clamped), element by element, exactly as the scalar
// steps do (a mean of (+0, +0) adds the squares of the ends themselves). The
// sums must start from +0 or from values reached that way.
using SquaresKernel = void (*)(double& lo, double& hi, double mean_lo, double mean_hi, const double* mid,
                               const double* rad, std::size_t n) noexcept;

// add_squares for `count` lanes side by side (lane g's element j at
// j * step + g), lane g with its own mean (mean_lo[g], mean_hi[g]) and sums
// (lo[g], hi[g]).
using LaneSquaresKernel = void (*)(double* lo, double* hi, const double* mean_lo, const double* mean_hi,
                                   const double* mid, const double* rad, std::size_t count, std::size_t length,
                                   std::size_t step) noexcept;

struct ReduceKernels {
    SumBlockKernel add_to_sum;
    RoundedEndsKernel largest_ends;
    RoundedEndsKernel smallest_ends;
    MidpointExtremeKernel largest_midpoint;
    MidpointExtremeKernel smallest_midpoint;
    // Endpoint sums: the lower ends added downward, the upper ends upward,
    // each clamped at the largest double on its inner side.
    LaneFoldKernel add_lane_ends;
    // Extremes of the outward ends (an infinite radius is the whole line, NaN
    // elements are skipped, ties keep the state).
    LaneFoldKernel largest_lane_ends;
    LaneFoldKernel smallest_lane_ends;
    SquaresKernel add_squares;
    LaneSquaresKernel add_lane_squares;
};

// The table of `target`; the baseline one when the processor lacks `target`.
const ReduceKernels& reduce_kernels(Target target) noexcept;
// The table of selected_target().
const ReduceKernels& reduce_kernels() noexcept;

}  // namespace boundwise
