// Element-wise interval arithmetic on arrays. Every result encloses the exact
// result for every choice of reals in the operands, rounding errors included.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

// A division result, flagged Status::DividedByZero when some divisor contained zero.
using Quotient = Result<Array>;

// Two-array forms with a result of shape `out`, to which both operands'
// shapes broadcast. Neither operand is expanded: one of product(out)
// elements is paired element for element, one element is repeated, and any
// other is walked along the broadcast axes.
Array add(const Array& a, const Array& b, const Shape& out);
Array subtract(const Array& a, const Array& b, const Shape& out);
Array multiply(const Array& a, const Array& b, const Shape& out);
Quotient divide(const Array& a, const Array& b, const Shape& out);

// Whether a division by `divisor` takes the slow path and flags
// Status::DividedByZero (some element of it may contain zero, or is NaN).
// Decided from the divisor alone, before any element is computed.
bool division_reports_zero(const Array& divisor);

// In-place forms a op= b: the result written over a's own elements, the same
// doubles as the forms above. a's buffer must not be shared
// (Array::has_unique_storage) and b must broadcast to a's shape; b may be a
// itself. Divisors must not make the division report zero: b with
// division_reports_zero(b) false, a number other than 0.
void add_in_place(Array& a, const Array& b);
void subtract_in_place(Array& a, const Array& b);
void multiply_in_place(Array& a, const Array& b);
void divide_in_place(Array& a, const Array& b);
void add_point_in_place(Array& a, double x);       // a += x (a -= x is a += -x)
void multiply_point_in_place(Array& a, double x);  // a *= x
void divide_point_in_place(Array& a, double x);    // a /= x

// Forms with an exact number x on one side.
Array add_point(const Array& a, double x);          // a + x (a - x is add_point(a, -x))
Array point_minus(double x, const Array& a);        // x - a
Array multiply_point(const Array& a, double x);     // a * x, x * a, scale(x)
Quotient divide_point(const Array& a, double x);    // a / x
Quotient point_divide(double x, const Array& a);    // x / a

Array negate(const Array& a);

}  // namespace boundwise
