// Pairing two broadcast operands element by element without expanding either:
// the result's row-major order walked as rows, each row meeting a contiguous
// row or a single repeated element of each operand.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "boundwise/array/shape.hpp"

namespace boundwise {

// The axes of a broadcast pairing after dropping unit dimensions and merging
// neighbours that both operands traverse as one (NumPy's axis coalescing).
// Strides count elements; a stride is 0 along an axis where the operand
// repeats. The last axis is the row: there each operand's stride is 0 (one
// element repeated along the row) or 1 (a contiguous row).
struct BroadcastWalk {
    std::size_t ndim = 0;  // at least 1
    std::array<std::uint64_t, kMaxDims> dims{};
    std::array<std::uint64_t, kMaxDims> a_stride{};
    std::array<std::uint64_t, kMaxDims> b_stride{};

    std::uint64_t row() const { return dims[ndim - 1]; }
    bool a_repeats_in_row() const { return a_stride[ndim - 1] == 0; }
    bool b_repeats_in_row() const { return b_stride[ndim - 1] == 0; }
};

// The walk of operands of shapes `a` and `b` over their broadcast shape `out`,
// which must have at least one element.
BroadcastWalk plan_broadcast_walk(const Shape& a, const Shape& b, const Shape& out);

// Calls fn(out_offset, a_offset, b_offset, length) for the pieces of rows that
// cover result elements [begin, end), in order: result elements
// [out_offset, out_offset + length) pair the operands' elements from the given
// offsets on, each advancing by its row stride.
template <class Fn>
void for_each_row(const BroadcastWalk& w, std::uint64_t begin, std::uint64_t end, Fn&& fn) {
    if (begin >= end) return;
    const std::size_t inner = w.ndim - 1;
    const std::uint64_t row = w.row();
    std::array<std::uint64_t, kMaxDims> index{};
    std::uint64_t col = begin % row;
    std::uint64_t outer = begin / row;
    std::uint64_t a = col * w.a_stride[inner];
    std::uint64_t b = col * w.b_stride[inner];
    for (std::size_t j = inner; j-- > 0;) {
        index[j] = outer % w.dims[j];
        outer /= w.dims[j];
        a += index[j] * w.a_stride[j];
        b += index[j] * w.b_stride[j];
    }
    for (std::uint64_t o = begin;;) {
        const std::uint64_t length = std::min(row - col, end - o);
        fn(o, a, b, length);
        o += length;
        if (o >= end) return;
        // The next row starts at column 0 of the next outer index (odometer).
        a -= col * w.a_stride[inner];
        b -= col * w.b_stride[inner];
        col = 0;
        for (std::size_t j = inner; j-- > 0;) {
            a += w.a_stride[j];
            b += w.b_stride[j];
            if (++index[j] < w.dims[j]) break;
            a -= w.a_stride[j] * index[j];
            b -= w.b_stride[j] * index[j];
            index[j] = 0;
        }
    }
}

}  // namespace boundwise
