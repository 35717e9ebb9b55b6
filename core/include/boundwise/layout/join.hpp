// Joining, splitting and selection: arrays built from the elements of other
// arrays, copied bit for bit (no rounding happens here).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "boundwise/array/array.hpp"

namespace boundwise {

// Joins along an existing axis; the first array fixes ndim and every dimension
// but `axis`. ValueError for an empty list, a bad axis, mismatched shapes, or
// sizes along the axis whose sum does not fit in 64 bits.
Array concatenate(std::span<const Array> arrays, std::uint64_t axis);

// Joins along a new axis inserted at `axis` (0 <= axis <= ndim); every array
// must have the first array's ndim, then the concatenate rules apply.
Array stack(std::span<const Array> arrays, std::uint64_t axis);

// concatenate along axis 0 when the first array is 1-D, along axis 1 otherwise.
Array hstack(std::span<const Array> arrays);

// N pieces of equal length along `axis`.
std::vector<Array> split_sections(const Array& a, std::uint64_t sections, std::uint64_t axis);

// Pieces between the cut points (each in 1..len-1). A cut below its
// predecessor gives an empty piece, the next one starting at that cut.
std::vector<Array> split_at(const Array& a, std::span<const std::uint64_t> cuts, std::uint64_t axis);

// x where the condition holds, y elsewhere. The condition is one-dimensional
// (a truth value per byte) and broadcasts with x and y as shape (n,).
Array where(std::span<const std::uint8_t> condition, const Array& x, const Array& y);

// The truth values of an array used as a condition: midpoint or radius non-zero
// (NaN counts as non-zero).
std::vector<std::uint8_t> truth_values(const Array& a);

}  // namespace boundwise
