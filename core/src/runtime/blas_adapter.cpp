// The one adapter between our dgemm_rowmajor and the BLAS library we link.
//
// Two libraries are supported, picked by the build:
//  - BOUNDWISE_SCIPY_OPENBLAS: the OpenBLAS build shipped as the scipy-openblas32
//    wheel, whose symbols all carry the prefix "scipy_" and whose integers are 32 bit;
//  - otherwise a system BLAS exporting the plain CBLAS name cblas_dgemm (LP64,
//    32-bit integers).
// The prototypes are declared here rather than taken from a cblas.h, because a
// system BLAS found by the build need not ship one; the enums of the CBLAS
// interface are int-sized, so passing their values as int is the same call.

#include "boundwise/runtime/blas.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <vector>

#include "boundwise/error.hpp"
#include "library_calls.hpp"

extern "C" {
#if defined(BOUNDWISE_SCIPY_OPENBLAS)
void scipy_cblas_dgemm(int order, int trans_a, int trans_b, int m, int n, int k, double alpha,
                       const double* a, int lda, const double* b, int ldb, double beta, double* c,
                       int ldc);
void scipy_openblas_set_num_threads(int num_threads);
char* scipy_openblas_get_config();
int scipy_openblas_get_num_threads();
#else
void cblas_dgemm(int order, int trans_a, int trans_b, int m, int n, int k, double alpha,
                 const double* a, int lda, const double* b, int ldb, double beta, double* c,
                 int ldc);
// Thread controls of the libraries that have one; weak, so a BLAS without them
// (the reference implementation, say) still links and simply stays as it is.
__attribute__((weak)) void openblas_set_num_threads(int num_threads);
__attribute__((weak)) void flexiblas_set_num_threads(int num_threads);
__attribute__((weak)) char* openblas_get_config();
__attribute__((weak)) int openblas_get_num_threads();
__attribute__((weak)) int flexiblas_get_num_threads();
#endif
}

namespace boundwise {
namespace {

constexpr int kCblasRowMajor = 101;
constexpr int kCblasNoTrans = 111;

// Our worker pool already runs one product per thread; a library that started
// threads of its own inside each call would only oversubscribe the cores.
void make_blas_single_threaded() {
#if defined(BOUNDWISE_SCIPY_OPENBLAS)
    scipy_openblas_set_num_threads(1);
#else
    if (openblas_set_num_threads != nullptr) openblas_set_num_threads(1);
    if (flexiblas_set_num_threads != nullptr) flexiblas_set_num_threads(1);
#endif
}

void library_dgemm(int m, int n, int k, const double* a, int lda, const double* b, int ldb,
                   double beta, double* c, int ldc) {
    const LibraryCall call;
#if defined(BOUNDWISE_SCIPY_OPENBLAS)
    scipy_cblas_dgemm(kCblasRowMajor, kCblasNoTrans, kCblasNoTrans, m, n, k, 1.0, a, lda, b, ldb,
                      beta, c, ldc);
#else
    cblas_dgemm(kCblasRowMajor, kCblasNoTrans, kCblasNoTrans, m, n, k, 1.0, a, lda, b, ldb, beta, c,
                ldc);
#endif
}

// Every size handed to the library must fit the block limit (and so an int).
int to_blas_int(std::size_t value, std::size_t limit) {
    check_internal(value <= limit, "dgemm_rowmajor: block size exceeds the BLAS integer range");
    return static_cast<int>(value);
}

// C = A * B in blocks whose dimensions and strides all fit in `limit` (at most
// INT_MAX). Rows of A and C, and columns of B and C, are independent; the inner
// dimension is split into partial products accumulated in C (beta = 1), which is
// still a sum of the same products in some order, so every error bound that holds
// for any summation order holds here too. A stride above the limit cannot be
// passed on, so such a matrix goes one row at a time, where the stride is unused.
void dgemm_blocked(std::size_t m, std::size_t n, std::size_t k, const double* a, std::size_t lda,
                   const double* b, std::size_t ldb, double* c, std::size_t ldc,
                   std::size_t limit) {
    const std::size_t m_block = (lda > limit || ldc > limit) ? 1 : std::min(m, limit);
    const std::size_t n_block = std::min(n, limit);
    const std::size_t k_block = ldb > limit ? 1 : std::min(k, limit);
    for (std::size_t i0 = 0; i0 < m; i0 += m_block) {
        const std::size_t mi = std::min(m_block, m - i0);
        for (std::size_t j0 = 0; j0 < n; j0 += n_block) {
            const std::size_t nj = std::min(n_block, n - j0);
            for (std::size_t p0 = 0; p0 < k; p0 += k_block) {
                const std::size_t kp = std::min(k_block, k - p0);
                const std::size_t lda_used = m_block == 1 ? kp : lda;
                const std::size_t ldb_used = k_block == 1 ? nj : ldb;
                const std::size_t ldc_used = m_block == 1 ? nj : ldc;
                library_dgemm(to_blas_int(mi, limit), to_blas_int(nj, limit),
                              to_blas_int(kp, limit), a + i0 * lda + p0,
                              to_blas_int(lda_used, limit), b + p0 * ldb + j0,
                              to_blas_int(ldb_used, limit), p0 == 0 ? 0.0 : 1.0,
                              c + i0 * ldc + j0, to_blas_int(ldc_used, limit));
            }
        }
    }
}

void dgemm_checked(std::size_t m, std::size_t n, std::size_t k, const double* a, std::size_t lda,
                   const double* b, std::size_t ldb, double* c, std::size_t ldc,
                   std::size_t limit) {
    use_single_blas_thread();
    if (m == 0 || n == 0) return;
    check_internal(ldc >= n, "dgemm_rowmajor: ldc is smaller than n");
    if (k == 0) {
        for (std::size_t i = 0; i < m; ++i) std::fill_n(c + i * ldc, n, 0.0);
        return;
    }
    check_internal(lda >= k, "dgemm_rowmajor: lda is smaller than k");
    check_internal(ldb >= n, "dgemm_rowmajor: ldb is smaller than n");
    dgemm_blocked(m, n, k, a, lda, b, ldb, c, ldc, limit);
}

// Runs one product of the self-check with row strides padded by `pad` and
// returns the largest deviation from the triple loop over the whole C buffer,
// padding included (padding must keep its sentinel value). NaN propagates.
double self_check_case(std::size_t m, std::size_t n, std::size_t k, std::size_t pad,
                       std::size_t limit) {
    const std::size_t lda = k + pad, ldb = n + pad, ldc = n + 2 * pad;
    std::vector<double> a(std::max<std::size_t>(m * lda, 1)), b(std::max<std::size_t>(k * ldb, 1));
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t p = 0; p < k; ++p)
            a[i * lda + p] = static_cast<double>(static_cast<long>((3 * i + 2 * p) % 7) - 3);
    for (std::size_t p = 0; p < k; ++p)
        for (std::size_t j = 0; j < n; ++j)
            b[p * ldb + j] = static_cast<double>(static_cast<long>((5 * p + j) % 9) - 4);
    constexpr double kSentinel = -17.0;
    std::vector<double> c(m * ldc, kSentinel), expected(m * ldc, kSentinel);
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            double sum = 0.0;
            for (std::size_t p = 0; p < k; ++p) sum += a[i * lda + p] * b[p * ldb + j];
            expected[i * ldc + j] = sum;
        }
    dgemm_checked(m, n, k, a.data(), lda, b.data(), ldb, c.data(), ldc, limit);
    double worst = 0.0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const double deviation = std::fabs(c[i] - expected[i]);
        if (!(deviation <= worst)) worst = deviation;
    }
    return worst;
}

}  // namespace

void use_single_blas_thread() {
    static std::once_flag single_threaded;
    std::call_once(single_threaded, make_blas_single_threaded);
}

void dgemm_rowmajor(std::size_t m, std::size_t n, std::size_t k, const double* a, std::size_t lda,
                    const double* b, std::size_t ldb, double* c, std::size_t ldc) {
    dgemm_checked(m, n, k, a, lda, b, ldb, c, ldc, static_cast<std::size_t>(INT_MAX));
}

double dgemm_self_check() {
    // Small limits force the split paths: blocks of rows, columns and inner
    // dimension, and the row-at-a-time path for strides above the limit.
    const std::size_t limits[] = {static_cast<std::size_t>(INT_MAX), 4, 2, 1};
    double worst = 0.0;
    for (const std::size_t limit : limits)
        for (const std::size_t pad : {std::size_t{0}, std::size_t{2}}) {
            for (const double deviation :
                 {self_check_case(5, 4, 3, pad, limit), self_check_case(2, 3, 0, pad, limit)})
                if (!(deviation <= worst)) worst = deviation;
        }
    return worst;
}

BlasInfo blas_info() {
    use_single_blas_thread();
#if defined(BOUNDWISE_SCIPY_OPENBLAS)
    return {std::string("scipy-openblas32: ") + scipy_openblas_get_config(), scipy_openblas_get_num_threads()};
#else
    if (openblas_get_config != nullptr)
        return {std::string("OpenBLAS: ") + openblas_get_config(),
                openblas_get_num_threads != nullptr ? openblas_get_num_threads() : 0};
    if (flexiblas_get_num_threads != nullptr) return {"FlexiBLAS", flexiblas_get_num_threads()};
    return {"a system BLAS exporting cblas_dgemm", 0};
#endif
}

}  // namespace boundwise
