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

}  // namespace boundwise
