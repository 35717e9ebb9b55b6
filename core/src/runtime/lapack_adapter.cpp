// The one adapter between approximate_inverse and the LAPACK library we link:
// the scipy-openblas32 build (symbols prefixed "scipy_", 32-bit integers) or,
// with BOUNDWISE_SYSTEM_BLAS, a system LAPACK with the plain Fortran names.
//
// LAPACK works on column-major matrices. A row-major matrix read column-major
// is its transpose, and inv(A^T) = inv(A)^T, so inverting the buffer as it
// stands leaves inv(A) in row-major order without any copy.
#include "boundwise/runtime/lapack.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "boundwise/runtime/blas.hpp"
#include "library_calls.hpp"

extern "C" {
#if defined(BOUNDWISE_SCIPY_OPENBLAS)
void scipy_dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void scipy_dgetri_(const int* n, double* a, const int* lda, const int* ipiv, double* work, const int* lwork,
                   int* info);
void scipy_dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda, double* wr,
                  double* wi, double* vl, const int* ldvl, double* vr, const int* ldvr, double* work,
                  const int* lwork, int* info, std::size_t jobvl_length, std::size_t jobvr_length);
#else
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgetri_(const int* n, double* a, const int* lda, const int* ipiv, double* work, const int* lwork, int* info);
void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda, double* wr, double* wi,
            double* vl, const int* ldvl, double* vr, const int* ldvr, double* work, const int* lwork, int* info,
            std::size_t jobvl_length, std::size_t jobvr_length);
#endif
}

namespace boundwise {

namespace {

// Reference LAPACK forms element offsets as lda * j in default integers.
constexpr std::size_t kLargestOrder = 46340;  // 46340^2 < 2^31

int factorise(int n, double* a, int* pivots) {
    int info = 0;
    const LibraryCall call;
#if defined(BOUNDWISE_SCIPY_OPENBLAS)
    scipy_dgetrf_(&n, &n, a, &n, pivots, &info);
#else
    dgetrf_(&n, &n, a, &n, pivots, &info);
#endif
    return info;
}

int invert_factors(int n, double* a, const int* pivots, double* work, int lwork) {
    int info = 0;
    const LibraryCall call;
#if defined(BOUNDWISE_SCIPY_OPENBLAS)
    scipy_dgetri_(&n, a, &n, pivots, work, &lwork, &info);
#else
    dgetri_(&n, a, &n, pivots, work, &lwork, &info);
#endif
    return info;
}

// The row-major buffer is A^T to LAPACK; the left eigenvectors of A^T
// (u^H A^T = lambda u^H) are the right eigenvectors of A, so job "V" for the
// left ones and "N" for the right ones.
int eigen_decompose(int n, double* a, double* re, double* im, double* left, double* work, int lwork) {
    int info = 0;
    const LibraryCall call;
    const char want = 'V';
    const char skip = 'N';
    const int one = 1;
#if defined(BOUNDWISE_SCIPY_OPENBLAS)
    scipy_dgeev_(&want, &skip, &n, a, &n, re, im, left, &n, nullptr, &one, work, &lwork, &info, 1, 1);
#else
    dgeev_(&want, &skip, &n, a, &n, re, im, left, &n, nullptr, &one, work, &lwork, &info, 1, 1);
#endif
    return info;
}

}  // namespace

bool approximate_eigenpairs(double* a, std::size_t n, double* re, double* im, double* vectors) {
    if (n == 0) return true;
    if (n > kLargestOrder) return false;
    use_single_blas_thread();
    const int order = static_cast<int>(n);
    std::vector<double> left(n * n);
    double query = 0.0;
    if (eigen_decompose(order, a, re, im, left.data(), &query, -1) != 0) return false;
    const int lwork = std::max(4 * order, static_cast<int>(std::min(query, 1e9)));
    std::vector<double> work(static_cast<std::size_t>(lwork));
    if (eigen_decompose(order, a, re, im, left.data(), work.data(), lwork) != 0) return false;
    // Column j of the column-major result is element (i, j) at left[j * n + i].
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) vectors[i * n + j] = left[j * n + i];
    return true;
}

bool approximate_inverse(double* a, std::size_t n) {
    if (n == 0) return true;
    if (n > kLargestOrder) return false;
    use_single_blas_thread();
    const int order = static_cast<int>(n);
    std::vector<int> pivots(n);
    if (factorise(order, a, pivots.data()) != 0) return false;
    double query = 0.0;
    if (invert_factors(order, a, pivots.data(), &query, -1) != 0) return false;
    const int lwork = std::max(order, static_cast<int>(std::min(query, 1e9)));
    std::vector<double> work(static_cast<std::size_t>(lwork));
    if (invert_factors(order, a, pivots.data(), work.data(), lwork) != 0) return false;
    for (std::size_t i = 0; i < n * n; ++i)
        if (!std::isfinite(a[i])) return false;
    return true;
}

}  // namespace boundwise
