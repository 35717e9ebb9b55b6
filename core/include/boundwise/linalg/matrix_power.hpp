// Integer powers of a square interval matrix.
#pragma once

#include <cstdint>

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

// A^n by repeated squaring with the verified product; A^0 is the exact
// identity, A^1 is A itself, a negative n is the power of the enclosed
// inverse (Gauss method; Status::Singular when it fails). ValueError
// "matrix_power requires a square matrix", and for n = -2^63, whose negation
// is not an int64, a ValueError that says so.
Result<Array> matrix_power(const Array& a, std::int64_t n);

}  // namespace boundwise
