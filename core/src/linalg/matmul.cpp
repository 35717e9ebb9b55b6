// interval_matmul: five double matrix products and an a-priori bound of their
// rounding errors, in blocks of rows on the pool for tall left operands.
//
// For A = Am +- Ar (m x k) and B = Bm +- Br (k x n) every product of points
// a in A, b in B satisfies |a b - Am Bm| <= |Am| Br + Ar |Bm| + Ar Br (entry-wise),
// so the midpoint Cm = fl(Am Bm) and the radius
//     Cr >= |fl(Am Bm) - Am Bm| + |Am| Br + Ar |Bm| + Ar Br
// enclose the product (Rump, "Fast and parallel interval arithmetic", BIT 39,
// 1999). The five products are computed by DGEMM in an unknown order of
// summation; every bound below holds for any order.
//
// Error model (Higham, "Accuracy and Stability of Numerical Algorithms", 2nd
// ed., 2.2 with gradual underflow): an operation, a fused multiply-add included,
// returns x (1 + d) + e with |d| <= u = 2^-53 and |e| <= eta / 2, eta = 2^-1074;
// e = 0 for additions. Each of the k terms of an inner product passes through
// at most k roundings and only the k operations holding a multiplication carry
// an e, so for computed products T of exact ones S (Higham, 3.1):
//     |fl(Am Bm) - Am Bm| <= g_k |Am||Bm| + V,     S <= (T + V) / (1 - k u),
//     g_k = k u / (1 - k u),                        V = (k eta / 2)(1 + g_k).
// Collecting terms, the radius needs at most
//     (g_k T3 + T1 + T2 + T4) / (1 - k u) + V (4 + 5 k u)
// with T1 = |Am| Br, T2 = Ar |Bm|, T3 = |Am||Bm|, T4 = Ar Br as computed. We
// evaluate, with c1 = (k + 1) u, g = 1 + k u, c2 = 1 + 16 k u,
//     x = fl(fl(fl(fl(fl(T3 c1) + T1) + T2) + succ(fl(g T4))) c2),
//     Cr = succ(fl(x + 4 k eta)).
// The five roundings of x lose at most a factor (1 - u)^5 and c2 restores it
// together with 1 / (1 - k u) for every k u < 1/16; (k + 1) u c2 covers
// g_k / (1 - k u). Underflow in fl(T3 c1) and in the product by c2 loses at
// most eta, and V (4 + 5 k u) + eta <= 2 k eta (1 + 3 k u) + eta <= 4 k eta for
// every k >= 1 with k u < 2^-10. Without that term the relative bound misses
// amounts lost to underflow (ten products 1.5 2^-538 * 1.5 2^-538 give 10 eta
// for an exact 5.625 eta). The final succ of the nearest sum bounds its exact
// value from above. Any array that fits in memory has k u far below 2^-10.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "boundwise/error.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/linalg/products.hpp"
#include "boundwise/runtime/blas.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

namespace {

struct BoundConstants {
    double c1;
    double g;
    double c2;
    double underflow;
};

BoundConstants bound_constants(std::size_t k) {
    const double kd = static_cast<double>(k);
    return {
        .c1 = (kd + 1) * 0x1p-53,
        .g = 0x1p-53 * kd + 1,
        .c2 = (kd * 8) * 0x1p-52 + 1,
        .underflow = kd * 0x1p-1072,
    };
}

// The radius from the running sum fl(fl(fl(T3 c1) + T1) + T2) and T4. A
// midpoint that is not finite, or a bound that overflowed or met a NaN (an
// infinite radius times a zero midpoint), gives an infinite radius.
inline double finish_radius(double mid, double partial, double t4, const BoundConstants& c) {
    const double rho = succ(c.g * t4);
    const double y = (partial + rho) * c.c2 + c.underflow;
    return is_finite(mid) && y < kInfinity ? succ(y) : kInfinity;
}

// Row-major operands, the shared |Bm|, and the buffers every block writes its
// own rows of: |Am| (m x k), the scratch product (m x n) and the result parts.
struct Factors {
    std::size_t k;
    std::size_t n;
    const double* am;
    const double* ar;
    const double* bm;
    const double* br;
    const double* abs_bm;
    double* abs_am;
    double* work;
    double* cm;
    double* cr;
    BoundConstants bound;
    bool a_points;  // every radius of A is zero
    bool b_points;

    // Rows [row, row + rows) of the product: the five DGEMMs, folded into the
    // radius as they come so that one scratch product suffices.
    void rows_of_product(std::size_t row, std::size_t rows) const noexcept {
        const double* a_mid = am + row * k;
        const double* a_rad = ar + row * k;
        double* a_abs = abs_am + row * k;
        double* mid = cm + row * n;
        double* rad = cr + row * n;
        double* t = work + row * n;
        const std::size_t count = rows * n;
        if (k == 0) {
            // No terms at all: skip DGEMM, whose leading dimensions would be 0.
            std::fill_n(mid, count, 0.0);
            std::fill_n(rad, count, 0.0);
            std::fill_n(t, count, 0.0);
        } else {
            for (std::size_t i = 0; i < rows * k; ++i) a_abs[i] = std::fabs(a_mid[i]);
            dgemm_rowmajor(rows, n, k, a_mid, k, bm, n, mid, n);
            dgemm_rowmajor(rows, n, k, a_abs, k, abs_bm, n, rad, n);  // T3
            // A product with an operand of zero radii is skipped. Where it would
            // hold a NaN (0 times an infinite factor), so does the midpoint or
            // another radius part, so every result is the same.
            if (b_points) {
                for (std::size_t i = 0; i < count; ++i) rad[i] *= bound.c1;
            } else {
                dgemm_rowmajor(rows, n, k, a_abs, k, br, n, t, n);  // T1
                for (std::size_t i = 0; i < count; ++i) rad[i] = rad[i] * bound.c1 + t[i];
            }
            if (!a_points) {
                dgemm_rowmajor(rows, n, k, a_rad, k, abs_bm, n, t, n);  // T2
                for (std::size_t i = 0; i < count; ++i) rad[i] += t[i];
            }
            if (a_points || b_points) std::fill_n(t, count, 0.0);
            else dgemm_rowmajor(rows, n, k, a_rad, k, br, n, t, n);  // T4
        }
        for (std::size_t i = 0; i < count; ++i) rad[i] = finish_radius(mid[i], rad[i], t[i], bound);
    }
};

bool all_zero(const double* values, std::size_t count) {
    bool zero = true;
    for (std::size_t i = 0; i < count; ++i) zero &= values[i] == 0.0;
    return zero;
}

std::unique_ptr<double[]> scratch(std::size_t count) { return std::make_unique_for_overwrite<double[]>(count); }

}  // namespace

Array interval_matmul(const Array& a, const Array& b) {
    check_internal(a.ndim() == 2 && b.ndim() == 2, "matmul requires 2D arrays");
    check_internal(a.shape()[1] == b.shape()[0], "matmul: inner dimensions must match");
    const std::size_t m = a.shape()[0];
    const std::size_t k = a.shape()[1];
    const std::size_t n = b.shape()[1];
    if (m == 0 || n == 0) return Array::zeros({m, n});
    Array c = Array::uninitialized({m, n});
    const bool pooled = m >= kMatmulParallelRows;
    const auto abs_bm = scratch(k * n);
    const auto abs_am = scratch(m * k);
    const auto work = scratch(m * n);
    const double* bm = b.mid();
    double* abs_b = abs_bm.get();
    const auto absolute = [&](std::size_t begin, std::size_t end) noexcept {
        for (std::size_t i = begin; i < end; ++i) abs_b[i] = std::fabs(bm[i]);
    };
    if (pooled) for_each_chunk(k * n, kParallelThreshold, kUnaryChunk, absolute);
    else absolute(0, k * n);
    const Factors factors{
        .k = k, .n = n, .am = a.mid(), .ar = a.rad(), .bm = bm, .br = b.rad(), .abs_bm = abs_b,
        .abs_am = abs_am.get(), .work = work.get(), .cm = c.mid_mut(), .cr = c.rad_mut(),
        .bound = bound_constants(k), .a_points = all_zero(a.rad(), m * k), .b_points = all_zero(b.rad(), k * n),
    };
    if (!pooled) {
        factors.rows_of_product(0, m);
        return c;
    }
    // Each task writes only its own rows of abs_am, work and the result.
    auto block = [&](std::size_t i, std::size_t /*worker*/) noexcept {
        const std::size_t row = i * kMatmulBlockRows;
        factors.rows_of_product(row, std::min(kMatmulBlockRows, m - row));
    };
    run_tasks((m + kMatmulBlockRows - 1) / kMatmulBlockRows, block);
    return c;
}

}  // namespace boundwise
