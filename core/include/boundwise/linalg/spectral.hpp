// Verified singular values and eigenvalues, and what derives from them:
// pseudo-inverse, condition number and numerical rank.
//
// Approximations come from floating-point algorithms on the midpoint matrix
// (one-sided Jacobi for singular values, two-sided Jacobi for symmetric
// eigenproblems, LAPACK's dgeev for general ones); enclosures come from
// residuals computed with the interval matrix itself, so they hold for every
// member. The bounds used:
//  - singular values: Weyl's inequality |s_j(A) - s_j(U S V^T)| <= ||A - U S V^T||_2
//    and s_j(U S V^T) within a factor sqrt((1 +- e_U)(1 +- e_V)) of S_jj when
//    ||U^T U - I||_2 <= e_U and ||V^T V - I||_2 <= e_V;
//  - symmetric eigenvalues: Kahan's theorem (Parlett, The Symmetric Eigenvalue
//    Problem, Thm 11.5.1): for symmetric A and full-rank X there are n
//    eigenvalues of A within ||A X - X L||_2 / sigma_min(X) of diag(L);
//  - general eigenvalues: Gershgorin discs of an enclosure of X^-1 A X; an
//    isolated disc of a real matrix holds exactly one eigenvalue, a real one;
//  - vectors: the Davis-Kahan sin-theta bound, residual over gap.
// Shape errors are ValueErrors thrown before any element is computed;
// numerical refusals are status flags.
#pragma once

#include <cstddef>

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

// An enclosure of the singular value decomposition of B, a t x k matrix with
// t >= k: `left` (t x k; column j the j-th left vector), `values` (k, sorted
// decreasing, every one with radius `radius`) and `right_t` (k x k; row j the
// j-th right vector). `finite` is false when a value or a bound is not finite
// (then `radius` is +inf).
struct SvdEnclosure {
    Array left;
    Array values;
    Array right_t;
    double radius = 0.0;
    bool finite = true;
};

// Upper bound of ||B x - sigma y||_2 for point vectors x, y (held as doubles)
// and the interval matrix b (2-D).
double matvec_residual(const Array& b, const double* x, double sigma, const double* y);

// The enclosure of a (2-D, else ValueError "svd requires a 2D array"). For
// m < n the decomposition of a^T is returned, as interval_svd's callers expect.
SvdEnclosure interval_svd(const Array& a);

// The factors (U (m, k), S (k,), Vh (k, n)) of a itself.
SvdEnclosure svd(const Array& a);
// Enclosure of the Moore-Penrose inverse, shape (n, m); ValueError for fewer
// than two dimensions.
Array pinv(const Array& a);
// The 2-norm condition number as (midpoint, radius); (+inf, +inf) when the
// smallest singular value may be zero.
Interval cond(const Array& a);
// Number of singular values above the tolerance; Status::NotFinite when a
// singular value or the radius is not finite.
Result<std::size_t> matrix_rank(const Array& a);

// Eigenvalues (n) and eigenvectors (n x n, column j for value j).
struct EigenEnclosure {
    Array values;
    Array vectors;
};
// Status::ComplexEigenvalues or Status::Unverified (the eigenvector matrix
// could not be inverted or the discs are not isolated) on the general path.
Result<EigenEnclosure> eig(const Array& a);

}  // namespace boundwise
