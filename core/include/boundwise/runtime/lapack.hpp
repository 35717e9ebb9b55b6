// Our one door to LAPACK. Only lapack_adapter.cpp knows which library sits
// behind it and how its symbols are spelt.
#pragma once

#include <cstddef>

namespace boundwise {

// Replaces the row-major n x n matrix `a` by an approximation of its inverse
// (LU factorisation with partial pivoting, then the inverse from the factors).
// Nothing about its accuracy is assumed by the callers, which verify what they
// use. Returns false when the factorisation meets an exactly zero pivot, when
// n is beyond what the library's 32-bit integers can index, or when the result
// holds a value that is not finite. Runs on the calling thread only.
bool approximate_inverse(double* a, std::size_t n);

// Approximate eigenvalues (real parts `re`, imaginary parts `im`, n each) and
// right eigenvectors of the row-major n x n matrix `a` (dgeev, balancing
// included). `vectors` receives, row-major, the real eigenvector of each real
// eigenvalue in the column of that value (the columns of a complex pair hold
// its real and imaginary parts). `a` is overwritten. Returns false when the QR
// algorithm fails or n is too large. Runs on the calling thread only.
bool approximate_eigenpairs(double* a, std::size_t n, double* re, double* im, double* vectors);

}  // namespace boundwise
