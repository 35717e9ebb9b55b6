// Eigenvalue enclosures. Symmetric midpoints: two-sided Jacobi, then Kahan's
// bound on the whole residual block. Otherwise: LAPACK eigenpairs, a verified
// inverse of the eigenvector matrix and Gershgorin discs of X^-1 A X.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "boundwise/error.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/linalg/krawczyk.hpp"
#include "boundwise/linalg/pairs.hpp"
#include "boundwise/linalg/products.hpp"
#include "boundwise/linalg/spectral.hpp"
#include "boundwise/runtime/lapack.hpp"
#include "spectral_bounds.hpp"

namespace boundwise {

namespace {

using spectral::point_matrix;

constexpr double kSymmetryTolerance = 1e-12;
constexpr double kRotationThreshold = 0x1p-52;
constexpr double kConvergenceFactor = 0x1p-104;
constexpr int kLargestSweeps = 100;

double magnitude(Endpoints e) { return std::max(std::fabs(e.lo), std::fabs(e.hi)); }

Endpoints element(const Array& a, std::size_t i) { return to_endpoints(a.mid()[i], a.rad()[i]); }

bool symmetric_midpoints(const Array& a) {
    const std::size_t n = a.shape()[0];
    const double* m = a.mid();
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const double x = m[i * n + j];
            const double y = m[j * n + i];
            const double larger = std::fmax(std::fabs(x), std::fabs(y));
            if (std::fabs(x - y) > (larger + 1.0) * kSymmetryTolerance) return false;
        }
    return true;
}

// W <- J^T W J and V <- V J for the rotation (c, s) in plane (p, q).
void rotate(std::vector<double>& w, std::vector<double>& v, std::size_t n, std::size_t p, std::size_t q, double c,
            double s) {
    for (std::size_t k = 0; k < n; ++k) {
        const double wp = w[k * n + p], wq = w[k * n + q];
        w[k * n + p] = c * wp - s * wq;
        w[k * n + q] = s * wp + c * wq;
    }
    for (std::size_t k = 0; k < n; ++k) {
        const double wp = w[p * n + k], wq = w[q * n + k];
        w[p * n + k] = c * wp - s * wq;
        w[q * n + k] = s * wp + c * wq;
    }
    for (std::size_t k = 0; k < n; ++k) {
        const double vp = v[k * n + p], vq = v[k * n + q];
        v[k * n + p] = c * vp - s * vq;
        v[k * n + q] = s * vp + c * vq;
    }
}

void jacobi_eigen(std::vector<double>& w, std::vector<double>& v, std::size_t n) {
    const double limit = static_cast<double>(n * n) * kConvergenceFactor;
    for (int sweep = 0; sweep < kLargestSweeps; ++sweep) {
        double off = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) off += w[i * n + j] * w[i * n + j];
        if (limit >= off) return;
        for (std::size_t p = 0; p + 1 < n; ++p)
            for (std::size_t q = p + 1; q < n; ++q) {
                const double wpq = w[p * n + q];
                if ((std::fabs(w[p * n + p]) + std::fabs(w[q * n + q])) * kRotationThreshold >= std::fabs(wpq))
                    continue;
                const double zeta = (w[q * n + q] - w[p * n + p]) / (wpq + wpq);
                const double t = std::copysign(1.0, zeta) / (std::fabs(zeta) + std::sqrt(zeta * zeta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                rotate(w, v, n, p, q, c, t * c);
            }
    }
}

// Indices of `values` in decreasing order, stable; NaN last.
std::vector<std::size_t> decreasing_order(const std::vector<double>& values) {
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return values[x] > values[y] || (!std::isnan(values[x]) && std::isnan(values[y]));
    });
    return order;
}

std::vector<double> permuted_columns(const std::vector<double>& x, std::size_t n, const std::vector<std::size_t>& order) {
    std::vector<double> out(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < n; ++c) out[i * n + c] = x[i * n + order[c]];
    return out;
}

std::vector<double> column(const std::vector<double>& x, std::size_t n, std::size_t c) {
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = x[i * n + c];
    return out;
}

EigenEnclosure scaled_back(std::vector<double> lambda, double radius, double scale, std::vector<double> vectors,
                           std::vector<double> vector_rad, std::size_t n) {
    const double inverse = 1.0 / scale;
    double shift = 0.0;
    bool finite = is_finite(radius);
    for (double& l : lambda) {
        const double back = l * inverse;
        if (is_finite(back)) shift = std::max(shift, product_error(l, inverse, back));
        else finite = false;
        l = back;
    }
    const double r = finite ? add_up(mul_up(radius, inverse), shift) : kInfinity;
    return {Array::from_parts(lambda, std::vector<double>(n, r), {n}), Array::from_parts(vectors, vector_rad, {n, n})};
}

// Every symmetric member's sorted eigenvalues lie within R of the sorted
// lambda_j, R = ||A X - X L||_F / sigma_min(X) (Kahan's theorem), with
// sigma_min(X) >= sqrt(1 - ||X^T X - I||_2).
EigenEnclosure symmetric_eig(const Array& a, std::size_t n, double scale) {
    std::vector<double> w(a.mid(), a.mid() + n * n), v(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) v[i * n + i] = 1.0;
    jacobi_eigen(w, v, n);
    std::vector<double> diagonal(n);
    for (std::size_t i = 0; i < n; ++i) diagonal[i] = w[i * n + i];
    const std::vector<std::size_t> order = decreasing_order(diagonal);
    std::vector<double> lambda(n);
    for (std::size_t c = 0; c < n; ++c) lambda[c] = diagonal[order[c]];
    const std::vector<double> x = permuted_columns(v, n, order);

    std::vector<double> residual(n);
    double squares = 0.0;
    for (std::size_t c = 0; c < n; ++c) {
        const std::vector<double> xc = column(x, n, c);
        residual[c] = matvec_residual(a, xc.data(), lambda[c], xc.data());
        squares = add_up(squares, mul_up(residual[c], residual[c]));
    }
    const double defect = spectral::orthonormality_defect(x, n, n, {});
    double radius = defect < 1 ? div_up(spectral::sqrt_up(squares), spectral::sqrt_down(add_down(1.0, -defect)))
                               : kInfinity;
    for (double l : lambda)
        if (!is_finite(l)) radius = kInfinity;
    if (!is_finite(radius)) radius = kInfinity;

    std::vector<double> vector_rad(n * n);
    for (std::size_t c = 0; c < n; ++c) {
        double gap = kInfinity;
        for (std::size_t i = 0; i < n; ++i)
            if (i != c)
                gap = std::min(gap, add_down(add_down(spectral::distance_down(lambda[i], lambda[c]), -radius), -radius));
        double largest = 0.0;
        for (std::size_t i = 0; i < n; ++i) largest = std::fmax(largest, std::fabs(x[i * n + c]));
        const double delta = spectral::vector_radius(residual[c], gap, defect, spectral::unit_vector_cap(largest));
        for (std::size_t i = 0; i < n; ++i) vector_rad[i * n + c] = delta;
    }
    return scaled_back(std::move(lambda), radius, scale, x, std::move(vector_rad), n);
}

// The real hull of the Gershgorin disc of row i of the enclosure b.
Endpoints gershgorin_hull(const Array& b, std::size_t n, std::size_t i) {
    double spread = 0.0;
    for (std::size_t j = 0; j < n; ++j)
        if (j != i) spread = add_up(spread, magnitude(element(b, i * n + j)));
    const Endpoints centre = element(b, i * n + i);
    return {add_down(centre.lo, -spread), add_up(centre.hi, spread)};
}

// Bound of |y_p| (p != i) for the eigenvector y of B = X^-1 A X with y_i = 1
// and eigenvalue in `value`: row p gives
// |b_pp - lambda| |y_p| <= |b_pi| + max|y| sum_{k != i, p} |b_pk|.
double coordinate_bound(const Array& b, std::size_t n, std::size_t i, Endpoints value) {
    double bound = 0.0;
    for (std::size_t p = 0; p < n; ++p) {
        if (p == i) continue;
        const Endpoints d = pairs::sub(element(b, p * n + p), value);
        double margin = d.lo > 0 ? d.lo : d.hi < 0 ? -d.hi : 0.0;
        for (std::size_t k = 0; k < n; ++k)
            if (k != i && k != p) margin = add_down(margin, -magnitude(element(b, p * n + k)));
        if (!(margin > 0)) return kInfinity;
        bound = std::max(bound, div_up(magnitude(element(b, p * n + i)), margin));
    }
    return bound;
}

Result<EigenEnclosure> general_eig(const Array& a, std::size_t n, double scale) {
    std::vector<double> work(a.mid(), a.mid() + n * n), re(n), im(n), vectors(n * n);
    bool finite = true;
    for (double x : work) finite = finite && is_finite(x);
    if (!finite || !approximate_eigenpairs(work.data(), n, re.data(), im.data(), vectors.data()))
        return {EigenEnclosure{}, Status::Defective};
    for (double x : im)
        if (x != 0) return {EigenEnclosure{}, Status::ComplexEigenvalues};
    const std::vector<std::size_t> order = decreasing_order(re);
    const std::vector<double> x = permuted_columns(vectors, n, order);
    const Array xa = point_matrix(x, n, n);
    Result<Array> x_inverse = krawczyk_inverse(xa);
    if (x_inverse.flags != Status::None) return {EigenEnclosure{}, Status::Defective};
    const Array b = interval_matmul(x_inverse.value, interval_matmul(a, xa));

    std::vector<Endpoints> hull(n);
    for (std::size_t i = 0; i < n; ++i) {
        hull[i] = gershgorin_hull(b, n, i);
        if (!is_finite(hull[i].lo) || !is_finite(hull[i].hi)) return {EigenEnclosure{}, Status::Defective};
    }
    // Discs whose real hulls are disjoint are disjoint; each then holds
    // exactly one eigenvalue (Gershgorin), real because the disc is symmetric
    // about the real axis and non-real eigenvalues of a real matrix pair up.
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (!(hull[i].hi < hull[j].lo || hull[j].hi < hull[i].lo)) return {EigenEnclosure{}, Status::Defective};

    std::vector<double> lambda(n), rad(n), vector_rad(n * n);
    for (std::size_t i = 0; i < n; ++i) {
        const Interval v = from_endpoints(hull[i].lo, hull[i].hi);
        lambda[i] = v.mid;
        rad[i] = v.rad;
        // x = X y = x_i + sum_{j != i} y_j x_j with |y_j| <= eta.
        const double eta = coordinate_bound(b, n, i, hull[i]);
        for (std::size_t r = 0; r < n; ++r) {
            double spread = 0.0;
            for (std::size_t j = 0; j < n; ++j)
                if (j != i) spread = add_up(spread, std::fabs(x[r * n + j]));
            vector_rad[r * n + i] = eta == 0 ? 0.0 : mul_up(eta, spread);
        }
    }
    const double inverse = 1.0 / scale;
    for (std::size_t i = 0; i < n; ++i) {
        const double back = lambda[i] * inverse;
        rad[i] = is_finite(back) ? add_up(mul_up(rad[i], inverse), product_error(lambda[i], inverse, back)) : kInfinity;
        lambda[i] = back;
    }
    return EigenEnclosure{Array::from_parts(lambda, rad, {n}), Array::from_parts(x, vector_rad, {n, n})};
}

}  // namespace

Result<EigenEnclosure> eig(const Array& a) {
    if (a.ndim() != 2) throw value_error("eig requires a 2D array");
    const std::size_t n = a.shape()[0];
    if (a.shape()[1] != n) throw value_error("eig requires a square matrix");
    if (n == 0) return EigenEnclosure{Array::zeros({0}), Array::zeros({0, 0})};
    const double scale = spectral::balancing_scale(a);
    const Array as = spectral::scaled(a, scale);
    if (!symmetric_midpoints(a)) return general_eig(as, n, scale);
    return symmetric_eig(as, n, scale);
}

}  // namespace boundwise
