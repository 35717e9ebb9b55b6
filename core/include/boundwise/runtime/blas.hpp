// Our one door to BLAS. Only blas_adapter.cpp knows which library sits behind it
// and how its symbols are spelt.
#pragma once

#include <cstddef>
#include <string>

namespace boundwise {

// C = A * B for row-major A (m x k, row stride lda), B (k x n, row stride ldb) and
// C (m x n, row stride ldc); C is overwritten, never read. Each call runs on the
// calling thread only (the library's own threading is switched off before the
// first call), so several of our workers may call it at once on disjoint C.
// m, n or k may be 0 (k == 0 zeroes C). Dimensions or strides beyond the
// library's int range are split into several calls. Strides smaller than the
// row length are a broken internal rule and throw InternalFailure.
void dgemm_rowmajor(std::size_t m, std::size_t n, std::size_t k, const double* a, std::size_t lda,
                    const double* b, std::size_t ldb, double* c, std::size_t ldc);

// Switches the library's own threading off, once per process; dgemm_rowmajor
// does it itself, and the LAPACK adapter calls it before its first use.
void use_single_blas_thread();

// Multiplies fixed small integer matrices, whose products are exact in double,
// through dgemm_rowmajor, directly and along the split-call path, and returns the
// largest absolute difference from a plain triple loop: 0.0 when the linked
// library works and is wired correctly.
double dgemm_self_check();

// What sits behind dgemm_rowmajor, for users' reports: the library's own
// description, and the threads it uses inside one call (1 once we have switched
// its threading off, which this does first; 0 when the library cannot say).
struct BlasInfo {
    std::string library;
    int threads_per_call;
};
BlasInfo blas_info();

}  // namespace boundwise
