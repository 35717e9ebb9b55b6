// The binary arithmetic operators with broadcasting or a number on either side:
// the four field operations, floor division (the floor of the enclosed
// quotient) and powers (the element-wise power function).
#pragma once

#include "boundwise/arithmetic/arithmetic.hpp"

namespace boundwise {

enum class BinaryOp { Add, Subtract, Multiply, Divide, FloorDivide, Power };

// a op b with NumPy broadcasting (ValueError for incompatible shapes). Divisions
// flag Status::DividedByZero, powers outside their domain Status::DomainError.
Quotient apply_binary(const Array& a, const Array& b, BinaryOp op);
// a op x, or x op a when number_on_left; x is an exact number.
Quotient apply_with_number(const Array& a, double x, BinaryOp op, bool number_on_left);

// a op= b (b broadcasting to a's shape, check_inplace_target) or a op= x
// written into a's own buffer when that changes nothing else: a's buffer is
// not shared, op is + - * or /, and a division has no divisor containing
// zero (the warning for it may become an exception, and a must then be
// unchanged). Returns false, a untouched, otherwise; the caller then computes
// the result as a new array (copy-on-write).
bool write_in_place(Array& a, const Array& b, BinaryOp op);
bool write_in_place(Array& a, double x, BinaryOp op);

}  // namespace boundwise
