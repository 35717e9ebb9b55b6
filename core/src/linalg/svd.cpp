// Singular values by one-sided Jacobi on the (balanced) midpoint matrix, and
// their enclosure for every member of the interval matrix; pinv, cond and
// matrix_rank on top (the bounds are stated in spectral.hpp).
#include <algorithm>
#include <cmath>
#include <numeric>
#include <variant>
#include <vector>

#include "boundwise/error.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/linalg/pairs.hpp"
#include "boundwise/linalg/products.hpp"
#include "boundwise/linalg/spectral.hpp"
#include "spectral_bounds.hpp"

namespace boundwise {

namespace {

using spectral::point_matrix;

constexpr int kLargestSweeps = 60;
constexpr double kRotationThreshold = 0x1p-52;
// Rounded up from 1/sqrt(2): the residual of (u; v)/sqrt(2) for [[0, B], [B^T, 0]].
constexpr double kHalfRootTwoUp = 0.7071067811865476;

// W (t x k, row-major) and Q (k x k) after the sweeps, W's columns normalised.
struct Jacobi {
    std::vector<double> w;
    std::vector<double> q;
    std::vector<double> sigma;
};

void rotate_columns(std::vector<double>& x, std::size_t rows, std::size_t cols, std::size_t p, std::size_t q,
                    double c, double s) {
    for (std::size_t i = 0; i < rows; ++i) {
        const double xp = x[i * cols + p];
        const double xq = x[i * cols + q];
        x[i * cols + p] = c * xp - s * xq;
        x[i * cols + q] = xp * s + c * xq;
    }
}

// One sweep over every column pair; returns whether it rotated any pair.
bool sweep(Jacobi& j, std::size_t t, std::size_t k) {
    bool rotated = false;
    for (std::size_t p = 0; p + 1 < k; ++p)
        for (std::size_t q = p + 1; q < k; ++q) {
            double alpha = 0.0, beta = 0.0, gamma = 0.0;
            for (std::size_t i = 0; i < t; ++i) {
                const double wp = j.w[i * k + p];
                const double wq = j.w[i * k + q];
                alpha += wp * wp;
                beta += wq * wq;
                gamma += wp * wq;
            }
            if (std::sqrt(alpha * beta) * kRotationThreshold >= std::fabs(gamma)) continue;
            rotated = true;
            const double zeta = (beta - alpha) / (gamma + gamma);
            const double tau = std::copysign(1.0, zeta) / (std::fabs(zeta) + std::sqrt(zeta * zeta + 1.0));
            const double c = 1.0 / std::sqrt(tau * tau + 1.0);
            const double s = c * tau;
            rotate_columns(j.w, t, k, p, q, c, s);
            rotate_columns(j.q, k, k, p, q, c, s);
        }
    return rotated;
}

Jacobi one_sided_jacobi(const Array& b) {
    const std::size_t t = b.shape()[0];
    const std::size_t k = b.shape()[1];
    Jacobi j{std::vector<double>(b.mid(), b.mid() + t * k), std::vector<double>(k * k, 0.0), {}};
    for (std::size_t i = 0; i < k; ++i) j.q[i * k + i] = 1.0;
    // Sweep until every pair is orthogonal relative to its column norms: an
    // absolute test on the inner products would stop while small columns are
    // still far from orthogonal, and the bound grows with that defect.
    for (int s = 0; s < kLargestSweeps; ++s)
        if (!sweep(j, t, k)) break;
    j.sigma.assign(k, 0.0);
    for (std::size_t c = 0; c < k; ++c) {
        double squares = 0.0;
        for (std::size_t i = 0; i < t; ++i) squares += j.w[i * k + c] * j.w[i * k + c];
        j.sigma[c] = std::sqrt(squares);
        if (squares > 0)
            for (std::size_t i = 0; i < t; ++i) j.w[i * k + c] /= j.sigma[c];
    }
    // Decreasing order, stable; NaN values go last.
    std::vector<std::size_t> order(k);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return j.sigma[x] > j.sigma[y] || (!std::isnan(j.sigma[x]) && std::isnan(j.sigma[y]));
    });
    Jacobi sorted{std::vector<double>(t * k), std::vector<double>(k * k), std::vector<double>(k)};
    for (std::size_t c = 0; c < k; ++c) {
        sorted.sigma[c] = j.sigma[order[c]];
        for (std::size_t i = 0; i < t; ++i) sorted.w[i * k + c] = j.w[i * k + order[c]];
        for (std::size_t i = 0; i < k; ++i) sorted.q[i * k + c] = j.q[i * k + order[c]];
    }
    return sorted;
}

std::vector<double> column(const std::vector<double>& x, std::size_t rows, std::size_t cols, std::size_t c) {
    std::vector<double> out(rows);
    for (std::size_t i = 0; i < rows; ++i) out[i] = x[i * cols + c];
    return out;
}

double largest_magnitude(const std::vector<double>& v) {
    double largest = 0.0;
    for (double x : v) largest = std::isnan(x) ? x : std::max(largest, std::fabs(x));
    return largest;
}

// Upper bound of ||B - U diag(sigma) V^T||_2 + (e_U + e_V) sigma_max: the
// distance of each sorted singular value of a member of B from sigma_j.
double value_radius(const Array& b, const Jacobi& j, double defect_u, double defect_v) {
    const std::size_t t = b.shape()[0];
    const std::size_t k = b.shape()[1];
    if (!(defect_u < 1) || !(defect_v < 1)) return kInfinity;
    std::vector<double> sigma_diag(k * k, 0.0), qt(k * k);
    for (std::size_t i = 0; i < k; ++i) {
        sigma_diag[i * k + i] = j.sigma[i];
        for (std::size_t c = 0; c < k; ++c) qt[c * k + i] = j.q[i * k + c];
    }
    const Array us = interval_matmul(point_matrix(j.w, t, k), point_matrix(sigma_diag, k, k));
    const Array usvt = interval_matmul(us, point_matrix(qt, k, k));
    const double distance = spectral::difference_norm(b, usvt);
    return add_up(distance, mul_up(add_up(defect_u, defect_v), j.sigma.empty() ? 0.0 : j.sigma[0]));
}

// The t x k decomposition of B (t >= k, both positive).
SvdEnclosure enclose_tall(const Array& b_in) {
    const std::size_t t = b_in.shape()[0];
    const std::size_t k = b_in.shape()[1];
    const double scale = spectral::balancing_scale(b_in);
    const Array b = spectral::scaled(b_in, scale);
    const Array bt = transpose(b);
    Jacobi j = one_sided_jacobi(b);

    std::vector<bool> nonzero(k);
    for (std::size_t c = 0; c < k; ++c) nonzero[c] = j.sigma[c] > 0;
    const double defect_u = spectral::orthonormality_defect(j.w, t, k, nonzero);
    const double defect_v = spectral::orthonormality_defect(j.q, k, k, {});
    double radius = value_radius(b, j, defect_u, defect_v);
    bool finite = is_finite(radius);
    for (double s : j.sigma) finite = finite && is_finite(s);
    if (!finite) radius = kInfinity;

    std::vector<double> left_rad(t * k), right_rad(k * k);
    const double defect = std::max(defect_u, defect_v);
    for (std::size_t c = 0; c < k; ++c) {
        const std::vector<double> u = column(j.w, t, k, c);
        const std::vector<double> v = column(j.q, k, k, c);
        const double r1 = matvec_residual(b, v.data(), j.sigma[c], u.data());
        const double r2 = matvec_residual(bt, u.data(), j.sigma[c], v.data());
        const double rho = mul_up(spectral::sqrt_up(add_up(mul_up(r1, r1), mul_up(r2, r2))), kHalfRootTwoUp);
        // The augmented matrix [[0, B], [B^T, 0]] has eigenvalues +-s_i, and
        // t - k zeros when t > k: sigma_j is at least sigma_j - R from those.
        const double own = add_down(j.sigma[c], -radius);
        double gap = t > k ? own : 2.0 * own;
        for (std::size_t i = 0; i < k; ++i)
            if (i != c) gap = std::min(gap, add_down(add_down(spectral::distance_down(j.sigma[i], j.sigma[c]), -radius), -radius));
        const double du = spectral::vector_radius(rho, gap, defect, spectral::unit_vector_cap(largest_magnitude(u)));
        const double dv = spectral::vector_radius(rho, gap, defect, spectral::unit_vector_cap(largest_magnitude(v)));
        for (std::size_t i = 0; i < t; ++i) left_rad[i * k + c] = du;
        for (std::size_t i = 0; i < k; ++i) right_rad[c * k + i] = dv;
    }

    // Back to the scale of the input: exact for powers of two unless a value
    // leaves the range of doubles, and then the radius takes the error.
    const double inverse = 1.0 / scale;
    double shift = 0.0;
    for (double& s : j.sigma) {
        const double back = s * inverse;
        if (is_finite(back)) shift = std::max(shift, product_error(s, inverse, back));
        else finite = false;
        s = back;
    }
    radius = finite ? add_up(mul_up(radius, inverse), shift) : kInfinity;

    std::vector<double> qt(k * k);
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t c = 0; c < k; ++c) qt[c * k + i] = j.q[i * k + c];
    SvdEnclosure out;
    out.left = Array::from_parts(j.w, left_rad, {t, k});
    out.values = Array::from_parts(j.sigma, std::vector<double>(k, radius), {k});
    out.right_t = Array::from_parts(qt, right_rad, {k, k});
    out.radius = radius;
    out.finite = finite;
    return out;
}

const Array& matrix_of(const std::variant<Interval, Array>& p) {
    check_internal(std::holds_alternative<Array>(p),
                   "internal error: entered unreachable code: a is 2D in matvec_residual");
    return std::get<Array>(p);
}

}  // namespace

double matvec_residual(const Array& b, const double* x, double sigma, const double* y) {
    const std::size_t cols = b.shape()[1];
    const Array xv = Array::from_parts({x, cols}, std::vector<double>(cols, 0.0), {cols});
    const auto product = interval_product(b, xv, ProductKind::Matmul);
    const Array& z = matrix_of(product);
    double sum = 0.0;
    for (std::uint64_t i = 0; i < z.size(); ++i) {
        const Endpoints d = pairs::sub(to_endpoints(z.mid()[i], z.rad()[i]), pairs::mul({sigma, sigma}, {y[i], y[i]}));
        const double e = std::isnan(d.lo) ? std::fabs(d.hi)
                         : std::isnan(d.hi) ? std::fabs(d.lo)
                                            : std::max(std::fabs(d.lo), std::fabs(d.hi));
        if (std::isnan(e)) return kInfinity;
        sum = add_up(sum, mul_up(e, e));
    }
    return spectral::sqrt_up(sum);
}

SvdEnclosure interval_svd(const Array& a) {
    if (a.ndim() != 2) throw value_error("svd requires a 2D array");
    const std::size_t m = a.shape()[0];
    const std::size_t n = a.shape()[1];
    const std::size_t k = std::min(m, n);
    const std::size_t t = std::max(m, n);
    if (k == 0) {
        SvdEnclosure empty;
        empty.left = Array::zeros({t, 0});
        empty.values = Array::zeros({0});
        empty.right_t = Array::zeros({0, 0});
        return empty;
    }
    return enclose_tall(m >= n ? a : transpose(a));
}

SvdEnclosure svd(const Array& a) {
    if (a.ndim() != 2) throw value_error("svd requires a 2D array");
    const std::size_t m = a.shape()[0];
    const std::size_t n = a.shape()[1];
    const std::size_t k = std::min(m, n);
    if (k == 0) {
        SvdEnclosure empty;
        empty.left = Array::zeros({m, 0});
        empty.values = Array::zeros({0});
        empty.right_t = Array::zeros({0, n});
        return empty;
    }
    SvdEnclosure e = interval_svd(a);
    if (m < n) {
        // The factors of a^T = U S V^T give a = V S U^T.
        Array left = transpose(e.right_t);
        e.right_t = transpose(e.left);
        e.left = std::move(left);
    }
    return e;
}

Array pinv(const Array& a) {
    if (a.ndim() < 2) throw value_error("pinv requires at least a 2D array");
    const std::size_t m = a.shape()[0];
    const std::size_t n = a.shape()[1];
    if (m == 0 || n == 0) return Array::zeros({n, m});
    const SvdEnclosure e = svd(a);
    const std::size_t k = std::min(m, n);
    const double* sigma = e.values.mid();
    const double tol =
        std::max(sigma[0], 2.2250738585072014e-308) * (static_cast<double>(std::max(m, n)) * kRotationThreshold);
    std::vector<double> dm(k * k, 0.0), dr(k * k, 0.0);
    for (std::size_t j = 0; j < k; ++j) {
        if (!(sigma[j] > tol)) continue;
        const double lo = add_down(sigma[j], -e.radius);
        const double hi = add_up(sigma[j], e.radius);
        Interval d{std::nan(""), kInfinity};
        // A value whose enclosure reaches zero may be as small as any positive number.
        if (lo > 0 && is_finite(hi)) d = from_endpoints(div_down(1.0, hi), div_up(1.0, lo));
        dm[j * k + j] = d.mid;
        dr[j * k + j] = d.rad;
    }
    const Array d = Array::from_parts(dm, dr, {k, k});
    return interval_matmul(interval_matmul(transpose(e.right_t), d), transpose(e.left));
}

Interval cond(const Array& a) {
    if (a.ndim() != 2 || a.shape()[0] != a.shape()[1]) throw value_error("cond requires a square matrix");
    if (a.shape()[0] == 0) return {0.0, 0.0};
    const SvdEnclosure e = interval_svd(a);
    if (!e.finite) return {std::nan(""), kInfinity};
    const std::size_t k = e.values.size();
    const double largest = e.values.mid()[0];
    const double smallest = e.values.mid()[k - 1];
    const double bottom = add_down(smallest, -e.radius);
    // The exact smallest singular value may be zero: no finite bound exists.
    if (!(bottom > 0)) return {kInfinity, kInfinity};
    const double lo = div_down(add_down(largest, -e.radius), add_up(smallest, e.radius));
    const double hi = div_up(add_up(largest, e.radius), bottom);
    return from_endpoints(std::max(lo, 1.0), hi);
}

Result<std::size_t> matrix_rank(const Array& a) {
    if (a.ndim() != 2) throw value_error("matrix_rank requires a 2D array");
    const SvdEnclosure e = interval_svd(a);
    if (!e.finite) return {0, Status::NotFinite};
    const std::size_t k = e.values.size();
    double top = 0.0;
    for (std::size_t j = 0; j < k; ++j) top = std::max(top, succ(e.values.mid()[j] + e.radius));
    const double tol = static_cast<double>(k + 1) * kRotationThreshold * top;
    // A value counts when its lower end is above the tolerance for every
    // member; an upper end above it would count a zero value whose enclosure
    // is merely wider than the tolerance.
    std::size_t rank = 0;
    for (std::size_t j = 0; j < k; ++j) rank += add_down(e.values.mid()[j], -e.radius) > tol ? 1 : 0;
    return rank;
}

}  // namespace boundwise
