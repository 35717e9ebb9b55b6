// NumPy broadcasting: the common shape of two operands and their expansion.
#pragma once

#include <optional>

#include "boundwise/array/array.hpp"

namespace boundwise {

// Right-aligned common shape, or nothing when the shapes are incompatible.
std::optional<Shape> broadcast_shape(const Shape& a, const Shape& b);

// Common shape of a and b; ValueError "operands could not be broadcast together
// with shapes [..] and [..]" when there is none.
Shape broadcast_result_shape(const Array& a, const Array& b);

// x expanded to `target`, which x's shape must broadcast to.
Array broadcast_to(const Array& x, const Shape& target);

// Whether the element kernels can take x as it is for a result of `count`
// elements: it has that many elements (equal element counts of compatible
// shapes differ only by unit dimensions, so the row-major order is the same) or
// a single element, which the kernels repeat.
inline bool is_kernel_operand(const Array& x, std::uint64_t count) { return x.size() == 1 || x.size() == count; }

// a op= b: b must broadcast to a's own shape (the two NumPy messages otherwise).
void check_inplace_target(const Array& a, const Array& b);

}  // namespace boundwise
