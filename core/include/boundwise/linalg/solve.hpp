// Verified linear systems: solve, inv and det of square interval matrices.
//
// method Gauss runs interval Gaussian elimination on endpoint pairs (no
// preconditioning); method Krawczyk proves an enclosure around an approximate
// solution (krawczyk.hpp). Shape errors are ValueErrors thrown before any
// element is computed; numerical breakdowns come back as status flags:
// Singular when the elimination finds no pivot, Unverified when the Krawczyk
// proof fails. The value of a flagged result is meaningless.
#pragma once

#include "boundwise/array/array.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

enum class SolveMethod { Gauss, Krawczyk };

// x with a x = b for every member: shape (n,) for a 1-D b, (n, c) for a 2-D b.
Result<Array> solve(const Array& a, const Array& b, SolveMethod method);
// The inverse of every member, shape (n, n).
Result<Array> inv(const Array& a, SolveMethod method);
// The determinant as a midpoint and radius; never fails on a square matrix.
Interval det(const Array& a);

// solve(a, b) with the Gauss method run as the one-column procedure on a fresh
// copy of the matrix for every column of b (slow; the reference of the tests).
Result<Array> solve_per_column(const Array& a, const Array& b);

}  // namespace boundwise
