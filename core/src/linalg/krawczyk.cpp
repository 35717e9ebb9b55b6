// The Krawczyk method for interval linear systems: approximate inverse,
// enclosed residual and iteration matrix, then the inclusion test with
// epsilon-inflation (the theorem is stated in krawczyk.hpp).
#include "boundwise/linalg/krawczyk.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/linalg/products.hpp"
#include "boundwise/arithmetic/arithmetic.hpp"
#include "boundwise/runtime/blas.hpp"
#include "boundwise/runtime/lapack.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

namespace {

// Inflation steps before giving up. A contracting iteration (spectral radius
// of |C| well below 1) succeeds in the first one or two; more only help in
// borderline cases (Rump's verifylss allows seven).
constexpr int kInflationSteps = 10;
// The inflation is relative to the radius, to the midpoint and absolute. The
// midpoint term matters for elements whose radius spans only a few units in
// the last place of the midpoint: the interior test rounds the inner ends
// outward and the outer ends inward, which costs up to two such units.
constexpr double kRadiusInflation = 0.1;
constexpr double kMidpointInflation = 0x1p-48;
constexpr double kAbsoluteInflation = 0x1p-1022;  // the smallest normal double

Result<Array> unverified() { return {Array::zeros({0}), Status::Unverified}; }

bool all_bounded(const Array& a) {
    const double* m = a.mid();
    const double* r = a.rad();
    for (std::uint64_t i = 0; i < a.size(); ++i)
        if (!is_finite(m[i]) || !(r[i] < kInfinity)) return false;
    return true;
}

Array point_matrix(const std::vector<double>& values, Shape shape) {
    return Array::from_parts(values, std::vector<double>(values.size(), 0.0), std::move(shape));
}

// C = I - C for a square enclosure C: negation is exact, 1 - c on the
// diagonal adds its TwoSum error to the radius.
void subtract_from_identity(Array& c) {
    const std::uint64_t n = c.shape()[0];
    double* m = c.mid_mut();
    double* r = c.rad_mut();
    for (std::uint64_t t = 0; t < c.size(); ++t) m[t] = -m[t];
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t t = i * n + i;
        const double s = 1.0 + m[t];
        r[t] = is_finite(s) ? add_up(r[t], std::fabs(sum_error(1.0, m[t], s))) : kInfinity;
        m[t] = s;
    }
}

// Y widened about its midpoints: rad + rad / 10 + 2^-48 |mid| + realmin, rounded up.
Array inflate(const Array& y) {
    Array out = Array::from_parts({y.mid(), y.size()}, {y.rad(), y.size()}, y.shape());
    const double* m = out.mid();
    double* r = out.rad_mut();
    for (std::uint64_t t = 0; t < out.size(); ++t) {
        const double widening = r[t] * kRadiusInflation + std::fabs(m[t]) * kMidpointInflation;
        r[t] = add_up(add_up(r[t], widening), kAbsoluteInflation);
    }
    return out;
}

// Whether every element of `inner` lies in the interior of the same element
// of `outer`: the outward ends of the inner one strictly inside the inward
// ends of the outer one. NaN fails.
bool in_interior(const Array& inner, const Array& outer) {
    const double* im = inner.mid();
    const double* ir = inner.rad();
    const double* om = outer.mid();
    const double* orad = outer.rad();
    for (std::uint64_t t = 0; t < inner.size(); ++t) {
        const Endpoints e = to_endpoints(im[t], ir[t]);
        const double lowest = add_up(om[t], -orad[t]);
        const double highest = add_down(om[t], orad[t]);
        if (!(lowest < e.lo && e.hi < highest)) return false;
    }
    return true;
}

// Right-hand sides up to this many get the accurate residual (O(n^2) scalar
// work per column); more columns use the verified matrix product.
constexpr std::uint64_t kAccurateResidualColumns = 8;

// The midpoint part Bm - Am x~ of one residual element, with error-free
// transformations (Ogita, Rump and Oishi, "Accurate sum and dot product", SIAM
// J. Sci. Comput. 26, 2005): the rounded sum s of b and the products -a x, and
// the compensation c = sum of their exact errors. The exact value is
// s + E with E the exact sum of the errors; the floating sum c of those 2n
// terms is within gamma_2n sum |terms| of E (Higham, "Accuracy and Stability
// of Numerical Algorithms", 2nd ed., 4.2, for any order of summation, and
// additions never lose anything to underflow). A product below
// kProductResidualLimit may have an inexact fma error; it enters only its bound.
Interval residual_point_part(const double* a_row, const double* x, std::uint64_t stride, std::uint64_t n,
                             double b) {
    double s = b;
    double c = 0.0;
    double magnitude = 0.0;  // upper bound of the sum of |terms|
    double loose = 0.0;      // upper bound of the errors not carried in c
    for (std::uint64_t p = 0; p < n; ++p) {
        const double ax = -a_row[p];
        const double xv = x[p * stride];
        const double product = ax * xv;
        double e_product = 0.0;
        if (std::fabs(product) >= kProductResidualLimit) e_product = std::fma(ax, xv, -product);
        else if (ax != 0 && xv != 0) loose = add_up(loose, product_error(ax, xv, product));
        const double next = s + product;
        const double e_sum = sum_error(s, product, next);
        c += e_product + e_sum;
        magnitude = add_up(magnitude, add_up(std::fabs(e_product), std::fabs(e_sum)));
        s = next;
    }
    const double mid = s + c;
    if (!is_finite(mid) || !is_finite(s)) return {mid, kInfinity};
    // gamma_2n <= 2n u (1 + 2^-6) while 2n u <= 2^-7, far beyond any matrix in memory.
    const double gamma = mul_up(static_cast<double>(2 * n), 0x1.04p-53);
    const double radius = add_up(add_up(std::fabs(sum_error(s, c, mid)), mul_up(magnitude, gamma)), loose);
    return {mid, radius};
}

// B - A x~ for at most kAccurateResidualColumns columns: the point part by
// residual_point_part, plus Br + Ar |x~| rounded upward.
Array accurate_residual(const Array& a, const Array& b, const Array& x_approx) {
    const std::uint64_t n = a.shape()[0];
    const std::uint64_t c = b.shape()[1];
    Array out = Array::uninitialized(b.shape());
    const double* x = x_approx.mid();
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = 0; j < c; ++j) {
            const Interval point = residual_point_part(a.mid() + i * n, x + j, c, n, b.mid()[i * c + j]);
            double radius = add_up(point.rad, b.rad()[i * c + j]);
            for (std::uint64_t p = 0; p < n; ++p)
                radius = add_up(radius, mul_up(a.rad()[i * n + p], std::fabs(x[p * c + j])));
            out.mid_mut()[i * c + j] = point.mid;
            out.rad_mut()[i * c + j] = radius;
        }
    }
    return out;
}

// From this order on, R A for a point A is first enclosed at the cost of one product.
constexpr std::uint64_t kCheapProductFrom = kMatmulParallelRows;

bool all_points(const Array& a) {
    const double* r = a.rad();
    for (std::uint64_t t = 0; t < a.size(); ++t)
        if (r[t] != 0) return false;
    return true;
}

// An enclosure of R A for point matrices at the cost of one product: the
// midpoint fl(R A) and, for the rounding error, |fl(R A) - R A| <= gamma_n |R||A|
// + n eta (see matmul.cpp) with the bound (|R||A|)_ij <= (sum_p |R_ip|) max_p |A_pj|
// in place of the second product. It can be larger than the exact |R||A| by a
// factor up to n, which only matters for matrices near the end of what the
// method can prove; verify() then retries with interval_matmul.
Array cheap_point_product(const Array& r, const Array& a) {
    const std::uint64_t n = a.shape()[0];
    Array c = Array::uninitialized({n, n});
    const auto rows = [&](std::size_t row, std::size_t count) {
        dgemm_rowmajor(count, n, n, r.mid() + row * n, n, a.mid(), n, c.mid_mut() + row * n, n);
    };
    if (n < kMatmulParallelRows) {
        rows(0, n);
    } else {
        auto block = [&](std::size_t b, std::size_t /*worker*/) noexcept {
            const std::size_t row = b * kMatmulBlockRows;
            rows(row, std::min<std::size_t>(kMatmulBlockRows, n - row));
        };
        run_tasks((n + kMatmulBlockRows - 1) / kMatmulBlockRows, block);
    }
    std::vector<double> column_max(n, 0.0);
    for (std::uint64_t p = 0; p < n; ++p)
        for (std::uint64_t j = 0; j < n; ++j) column_max[j] = std::max(column_max[j], std::fabs(a.mid()[p * n + j]));
    // gamma_n <= n u (1 + 2^-6) while n u <= 2^-7.
    const double gamma = mul_up(static_cast<double>(n), 0x1.04p-53);
    const double underflow = mul_up(static_cast<double>(n), 0x1p-1074);
    for (std::uint64_t i = 0; i < n; ++i) {
        double row_sum = 0.0;
        for (std::uint64_t p = 0; p < n; ++p) row_sum = add_up(row_sum, std::fabs(r.mid()[i * n + p]));
        const double factor = mul_up(gamma, row_sum);
        for (std::uint64_t j = 0; j < n; ++j) {
            const double bound = add_up(mul_up(factor, column_max[j]), underflow);
            c.rad_mut()[i * n + j] = is_finite(c.mid()[i * n + j]) && bound < kInfinity ? bound : kInfinity;
        }
    }
    return c;
}

// The Krawczyk iteration with epsilon-inflation for Z and C = I - R A: the
// enclosure x~ + Y of the theorem, or nothing when no step proves it.
std::optional<Array> prove(const Array& z, const Array& c, const Array& x_approx) {
    if (!all_bounded(c)) return std::nullopt;
    Array y = z;
    for (int step = 0; step < kInflationSteps; ++step) {
        const Array widened = inflate(y);
        Array next = add(z, interval_matmul(c, widened), z.shape());
        if (in_interior(next, widened)) return add(x_approx, next, next.shape());
        if (!all_bounded(next)) break;
        y = std::move(next);
    }
    return std::nullopt;
}

// The proof for A X = B around x~ with the approximate inverse r: for large
// point matrices first with the one-product enclosure of R A (half the work;
// on ill-conditioned matrices it widens the result somewhat), then with the
// verified interval product.
Result<Array> verify(const Array& a, const Array& b, const Array& x_approx, const Array& r) {
    const Array residual = b.shape()[1] <= kAccurateResidualColumns
                               ? accurate_residual(a, b, x_approx)
                               : subtract(b, interval_matmul(a, x_approx), b.shape());
    const Array z = interval_matmul(r, residual);
    if (!all_bounded(z)) return unverified();
    if (a.shape()[0] >= kCheapProductFrom && all_points(a)) {
        Array c = cheap_point_product(r, a);
        subtract_from_identity(c);
        if (std::optional<Array> x = prove(z, c, x_approx)) return std::move(*x);
    }
    Array c = interval_matmul(r, a);
    subtract_from_identity(c);
    if (std::optional<Array> x = prove(z, c, x_approx)) return std::move(*x);
    return unverified();
}

// R ~ inv(mid A), or nothing when LAPACK cannot give a finite one.
std::optional<std::vector<double>> midpoint_inverse(const Array& a) {
    const std::uint64_t n = a.shape()[0];
    std::vector<double> r(a.mid(), a.mid() + n * n);
    if (!approximate_inverse(r.data(), n)) return std::nullopt;
    return r;
}

}  // namespace

Result<Array> krawczyk_solve(const Array& a, const Array& b) {
    const std::uint64_t n = a.shape()[0];
    const std::uint64_t c = b.shape()[1];
    if (n == 0 || c == 0) return Array::zeros({n, c});
    if (!all_bounded(a) || !all_bounded(b)) return unverified();
    const std::optional<std::vector<double>> r = midpoint_inverse(a);
    if (!r) return unverified();
    std::vector<double> x(n * c);
    dgemm_rowmajor(n, c, n, r->data(), n, b.mid(), c, x.data(), c);
    for (const double v : x)
        if (!is_finite(v)) return unverified();
    return verify(a, b, point_matrix(x, {n, c}), point_matrix(*r, {n, n}));
}

Result<Array> krawczyk_inverse(const Array& a) {
    const std::uint64_t n = a.shape()[0];
    if (n == 0) return Array::zeros({0, 0});
    if (!all_bounded(a)) return unverified();
    const std::optional<std::vector<double>> r = midpoint_inverse(a);
    if (!r) return unverified();
    std::vector<double> identity(n * n, 0.0);
    for (std::uint64_t i = 0; i < n; ++i) identity[i * n + i] = 1.0;
    // For B = I the approximate solution is R itself.
    const Array approx = point_matrix(*r, {n, n});
    return verify(a, point_matrix(identity, {n, n}), approx, approx);
}

}  // namespace boundwise
