// A verified solver in the style of Krawczyk and Rump: an approximate inverse R
// of the midpoint matrix (LAPACK), an approximate solution, and a proof by the
// Krawczyk operator with epsilon-inflation that an interval vector around it
// holds the solution of every member of the interval system.
//
// For an interval matrix A, right-hand sides B, any real R and x~, and an
// interval X: if
//     Z + C X  is contained in the interior of X,   Z = R (B - A x~),  C = I - R A,
// then R and every matrix in A are nonsingular and A^-1 b lies in x~ + Z + C X
// for every A in A and b in B (Krawczyk, Computing 4, 1969; Rump, "Solving
// algebraic problems with high accuracy", 1983; Rump, Acta Numerica 19, 2010,
// section 10). Z and C are enclosed with the verified matrix products, so the
// inclusion test on computed intervals implies the one on exact ones.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

// Enclosure of the solutions of A X = B (a n x n, b n x c), or Status::Unverified
// when the test does not succeed within a few inflation steps.
Result<Array> krawczyk_solve(const Array& a, const Array& b);
// Enclosure of the inverse of every member of a, or Status::Unverified.
Result<Array> krawczyk_inverse(const Array& a);

}  // namespace boundwise
