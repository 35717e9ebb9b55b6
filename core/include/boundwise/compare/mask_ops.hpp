// Element-wise logic, counts and slices of masks. The byte loops work on whole
// blocks of kMaskBlock bytes, which the compiler turns into vector
// instructions, then on the tail.
#pragma once

#include <cstdint>

#include "boundwise/array/mask.hpp"

namespace boundwise {

enum class LogicalOp { And, Or, Xor };

// a op b; ValueError "operands could not be broadcast together (boolean arrays
// must match)" for masks of different lengths.
BoolMask logical(const BoolMask& a, const BoolMask& b, LogicalOp op);
// Every element of a combined with x.
BoolMask logical(const BoolMask& a, bool x, LogicalOp op);
BoolMask invert(const BoolMask& a);

std::uint64_t count_true(const BoolMask& a);
bool any_true(const BoolMask& a);
bool all_true(const BoolMask& a);
// Same length and the same elements.
bool equal(const BoolMask& a, const BoolMask& b);

// Elements start, start + step, ... (count of them), every one inside the mask;
// positions are computed as start + i * step, so no intermediate overflows.
BoolMask take_slice(const BoolMask& a, std::int64_t start, std::int64_t step, std::uint64_t count);

}  // namespace boundwise
