// Element-wise functions of interval arrays. Every result element encloses
// f(x) for every real x in the operand element (for power, x^p for every x and
// p in the two elements); a NaN element stands for "no value".
#pragma once

#include <cstdint>

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

// Rounding to integers: floor, ceil, trunc (towards zero) and round half to even.
enum class IntegerRounding { Floor, Ceil, Trunc, HalfEven };
Array round_to_integer(const Array& a, IntegerRounding mode);
// round(x, ndigits): the nearest multiple of 10^-ndigits, ties to even.
Array round_decimals(const Array& a, std::int32_t ndigits);
Array absolute(const Array& a);

// Exact -1, 0 or 1 per element; 0 whenever the sign is not certain.
Array sign(const Array& a);
// NaN elements become 0, infinite midpoints and radii +-DBL_MAX.
Array nan_to_num(const Array& a);
// Endpoints clamped into [a_min, a_max]; ValueError "a_min must be <= a_max;
// got a_min=.. a_max=.." when a_min > a_max (a NaN bound is not clamped to).
Array clip(const Array& a, double a_min, double a_max);
// Endpoint-wise maximum / minimum; the operands broadcast (ValueError
// otherwise). An exact number x stands for the point x; NaN for no value.
Array maximum(const Array& a, const Array& b);
Array minimum(const Array& a, const Array& b);
Array maximum(const Array& a, double x);
Array minimum(const Array& a, double x);

// The elementary functions. Elements outside the domain (ln of an interval
// without positive numbers, sqrt of one without non-negative numbers) become
// NaN and flag Status::DomainError.
enum class Elementary { Exp, Ln, Log2, Log10, Sqrt, Sin, Cos, Tan };
Result<Array> elementary(const Array& a, Elementary f);

// a ** p for an exact exponent p, x ** a for an exact base x, and a ** b
// element by element with broadcasting. Bases or exponents outside the domain
// give NaN elements and flag Status::DomainError.
Result<Array> power(const Array& a, double p);
Result<Array> power(double x, const Array& a);
Result<Array> power(const Array& a, const Array& b);

}  // namespace boundwise
