// Element-wise interval arithmetic on arrays. Every result encloses the exact
// result for every choice of reals in the operands, rounding errors included.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

// A division result, flagged Status::DividedByZero when some divisor contained zero.
using Quotient = Result<Array>;

// Two-array forms. Each operand holds either product(out) elements or exactly one
// element, which is then paired with every element of the other (broadcasting
// without a materialised copy). The result has shape `out`.
Array add(const Array& a, const Array& b, const Shape& out);
Array subtract(const Array& a, const Array& b, const Shape& out);
Array multiply(const Array& a, const Array& b, const Shape& out);
Quotient divide(const Array& a, const Array& b, const Shape& out);

// The test that sends a whole division through endpoints: false when some
// divisor element has neither fl(bm - br) > 0 nor fl(bm + br) < 0 (NaN
// included). For callers that must know before writing a result (in place).
bool divisors_exclude_zero(const double* bm, const double* br, std::uint64_t n);

// Forms with an exact number x on one side.
Array add_point(const Array& a, double x);          // a + x (a - x is add_point(a, -x))
Array point_minus(double x, const Array& a);        // x - a
Array multiply_point(const Array& a, double x);     // a * x, x * a, scale(x)
Quotient divide_point(const Array& a, double x);    // a / x
Quotient point_divide(double x, const Array& a);    // x / a

Array negate(const Array& a);

}  // namespace boundwise
