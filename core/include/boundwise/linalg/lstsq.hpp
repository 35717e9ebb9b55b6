// Least squares by the normal equations.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

// Enclosure of the solution of (A^T A) x = A^T b for every member (a m x n,
// b of m or m x c elements): shape (n,) or (n, c). ValueErrors "lstsq requires
// A to be 2D", "lstsq: b shape must be (m,) or (m, nrhs)" and those of the
// matrix product; Status::Singular when the elimination fails.
Result<Array> lstsq(const Array& a, const Array& b);

}  // namespace boundwise
