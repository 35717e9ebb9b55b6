// Enclosures of interval dot and matrix products.
//
// interval_dot accumulates exact error terms element by element; interval_matmul
// forms midpoints and radius parts with five double matrix products (DGEMM, any
// summation order) and bounds their rounding errors a priori. The shape rules of
// the Python methods dot, matmul and @ sit on top of the two kernels.
#pragma once

#include <cstddef>
#include <variant>

#include "boundwise/array/array.hpp"
#include "boundwise/interval/endpoints.hpp"

namespace boundwise {

// A product whose left operand has this many rows or more runs on the pool,
// in blocks of kMatmulBlockRows rows; fixed sizes keep results independent of
// the number of threads.
inline constexpr std::size_t kMatmulParallelRows = 256;
inline constexpr std::size_t kMatmulBlockRows = 64;

// Outward-rounded enclosure of sum_i a_i * b_i over two flat interval vectors of
// equal size (InternalFailure "dot: length mismatch" otherwise). Empty vectors
// give (0, 0); a NaN anywhere gives (NaN, NaN); an unbounded sum the whole line.
Endpoints interval_dot(const Array& a, const Array& b);

// Enclosure of the product of a 2-D (m, k) and a 2-D (k, n) interval array, of
// shape (m, n). Non-2-D operands or a mismatched inner dimension are broken
// internal rules (callers check shapes first).
Array interval_matmul(const Array& a, const Array& b);

// The shape rules of dot and matmul differ only in the result of a 1-D by 2-D
// product: dot keeps it 2-D, (1, c); matmul makes it 1-D, (c,).
enum class ProductKind { Dot, Matmul };

// A 1-D by 1-D product is a single element, every other one an array.
using Product = std::variant<Interval, Array>;

// a.dot(b) or a.matmul(b) (and a @ b): ValueError "<kind>: shapes (..) and (..)
// not aligned" or "<kind>: unsupported dimensionalities <n>D and <m>D" before
// anything is computed.
Product interval_product(const Array& a, const Array& b, ProductKind kind);

}  // namespace boundwise
