// Enclosure of the Cholesky factor of a symmetric positive-definite interval matrix.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

struct CholeskyFactor {
    // The lower-triangular L (zeros above the diagonal) with L L^T = A for the
    // members; flagged NotPositiveDefinite when a pivot cannot be proven positive.
    Result<Array> factor;
    // For NotPositiveDefinite: the row and the lower end of its pivot (NaN when
    // the pivot is not known at all).
    Breakdown breakdown;
};

// Row-by-row (Cholesky-Banachiewicz) recurrence on endpoint pairs. Only the
// diagonal and the strictly lower triangle of `a` are read; symmetry is not
// tested. ValueError "cholesky requires a square matrix" for other shapes.
CholeskyFactor cholesky(const Array& a);

}  // namespace boundwise
