// The endpoint round trip of the layout family and its table, written once
// for every lane type (lanes.hpp). Included by one source file per
// instruction set, after its target pragma; everything here has internal
// linkage, so each file gets its own copy for its own target.
//
// The reference is endpoint_round_trip itself. A group of lanes is computed
// in one of two vector forms when all its lanes qualify, and otherwise
// element by element with the reference:
//  - narrow lanes (0 < |m| < 2^1020, 0 <= r <= |m|/4), where the ends and the
//    distances need no TwoSum (Sterbenz), the common case;
//  - ordinary lanes (|m|, |r| < 2^1021), the reference's IEEE operations in
//    the same order with its branches made compare masks; nothing overflows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/kernels/layout.hpp"
#include "endpoint_lanes.hpp"
#include "lanes.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {
namespace layout {

using lanes::Bits;
using lanes::Mask;
using lanes::select;
using lanes::splat;

// Narrow lanes, on x = |m|. With 0 <= r <= x/4 the outward-rounded ends lie
// in [x/2, 2x] and lo >= hi/2 (below 2^-1020, where x/4 may round, every
// difference is exact or the same bounds hold with room to spare), so
// x - lo, hi - x, hi - c and c - lo are exact (Sterbenz). The rounding error
// of fl(x -+ r) then points outward exactly when x - lo < r (hi - x < r), and
// both distances of from_endpoints have a TwoSum error of zero. A negative m
// is the mirror image of (x, r): rounding to nearest is symmetric, the ends
// swap and the larger distance stays the same.
template <class V>
[[gnu::always_inline]] inline void narrow_round_trip(const V& m, const V& r, V& mid, V& rad) {
    constexpr std::uint64_t kSign = 0x8000000000000000ULL;
    const V x = lanes::abs(m);
    V lo = x - r;
    V hi = x + r;
    lo = lanes::step_down_if<V>(x - lo < r, lo);
    hi = lanes::step_up_if<V>(hi - x < r, hi);
    const V c = (lo + hi) * splat<V>(0.5);
    const V up = hi - c;
    const V down = c - lo;
    rad = select<V>(up >= down, up, down);
    mid = lanes::from_bits<V>(lanes::to_bits<V>(c) | (lanes::to_bits<V>(m) & kSign));
}

// Ordinary lanes: to_endpoints and from_endpoints operation by operation.
template <class V>
[[gnu::always_inline]] inline void ordinary_round_trip(const V& m, const V& r, V& mid, V& rad) {
    V lo;
    V hi;
    lanes::ordinary_ends<V>(m, r, lo, hi);
    lanes::ordinary_from_ends<V>(lo, hi, mid, rad);
}

// The loop over [0, n): full vectors of V in the first form that all their
// lanes allow, then single elements with the reference. Every vector is
// loaded before it is stored, so the output may be the input.
template <class V>
void round_trip_kernel(const double* mid, const double* rad, double* out_mid, double* out_rad,
                       std::size_t n) noexcept {
    const auto reference = [&](std::size_t j) {
        const Interval v = endpoint_round_trip(mid[j], rad[j]);
        out_mid[j] = v.mid;
        out_rad[j] = v.rad;
    };
    constexpr std::size_t width = lanes::Traits<V>::width;
    std::size_t i = 0;
    if constexpr (width > 1) {
        for (; i + width <= n; i += width) {
            const V m = lanes::load<V>(mid + i);
            const V r = lanes::load<V>(rad + i);
            V om;
            V orad;
            if (!lanes::any<V>(lanes::not_narrow<V>(m, r))) [[likely]] {
                narrow_round_trip<V>(m, r, om, orad);
            } else if (!lanes::any<V>(lanes::not_ordinary<V>(m, r))) {
                ordinary_round_trip<V>(m, r, om, orad);
            } else {
                for (std::size_t j = i; j < i + width; ++j) reference(j);
                continue;
            }
            lanes::store(out_mid + i, om);
            lanes::store(out_rad + i, orad);
        }
    }
    for (; i < n; ++i) reference(i);
}

}  // namespace layout

// The table of a target with the lane set L (lanes::Baseline, lanes::Avx2, or
// lanes::Scalar for the reference).
template <class L>
inline constexpr LayoutKernels layout_table{
    .round_trip = layout::round_trip_kernel<typename L::Wide>,
};

}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
