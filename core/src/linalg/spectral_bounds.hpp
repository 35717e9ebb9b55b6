// Rigorous helpers shared by the singular value and eigenvalue enclosures.
#pragma once

#include <cstddef>
#include <vector>

#include "boundwise/array/array.hpp"

namespace boundwise::spectral {

// A power of two s with max |mid| * s in [0.5, 1) over the finite midpoints
// (1 when there are none or all are zero): the Jacobi sweeps and residuals then
// neither overflow nor lose accuracy to underflow.
double balancing_scale(const Array& a);
// s * a, exact midpoints where possible; a rounding error of a product moves
// into the radius, and radii are rounded up.
Array scaled(const Array& a, double s);
// A point matrix of the given shape (row-major doubles).
Array point_matrix(const std::vector<double>& values, std::size_t rows, std::size_t cols);

// Upper bound of ||X^T X - I||_2 for the point matrix X (rows x cols,
// row-major), taken over the columns with keep[j] (every column when keep is
// empty). X^T X - I is symmetric, so its 2-norm is at most its largest
// absolute row sum.
double orthonormality_defect(const std::vector<double>& x, std::size_t rows, std::size_t cols,
                             const std::vector<bool>& keep);

// Upper bound of the Frobenius norm of the difference of two interval
// matrices of equal size, over every pair of members.
double difference_norm(const Array& a, const Array& b);

// Lower bound of |x - y|.
double distance_down(double x, double y);
// Upper bound of sqrt(x) for x >= 0 (+inf stays +inf, NaN gives +inf).
double sqrt_up(double x);
// Lower bound of sqrt(x) for x >= 0 (NaN gives 0).
double sqrt_down(double x);

// The radius cap of a unit vector's components around midpoints x: the exact
// components lie in [-1, 1], within 1 + max |x_i| of every x_i.
double unit_vector_cap(double largest_magnitude);

// Davis-Kahan radius of one vector: 2 r / (gap sqrt(1 - e)) + 2 e for a
// residual r, a gap > 0 and the orthonormality defect e < 1 (the last term
// covers the approximate vector's norm differing from 1), capped at `cap`.
double vector_radius(double residual, double gap, double defect, double cap);

}  // namespace boundwise::spectral
