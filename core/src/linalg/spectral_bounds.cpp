#include "spectral_bounds.hpp"

#include <algorithm>
#include <cmath>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/linalg/pairs.hpp"
#include "boundwise/linalg/products.hpp"

namespace boundwise::spectral {

double balancing_scale(const Array& a) {
    double largest = 0.0;
    const double* m = a.mid();
    for (std::uint64_t i = 0; i < a.size(); ++i)
        if (is_finite(m[i])) largest = std::max(largest, std::fabs(m[i]));
    if (largest == 0.0) return 1.0;
    int exponent = 0;
    std::frexp(largest, &exponent);  // largest = f 2^exponent, f in [0.5, 1)
    // Subnormal inputs are lifted only as far as a representable scale allows.
    return std::ldexp(1.0, std::min(-exponent, 1000));
}

Array scaled(const Array& a, double s) {
    if (s == 1.0) return a;
    Array out = Array::uninitialized(a.shape());
    const double* m = a.mid();
    const double* r = a.rad();
    double* om = out.mid_mut();
    double* orad = out.rad_mut();
    for (std::uint64_t i = 0; i < a.size(); ++i) {
        const double p = m[i] * s;
        const double error = is_finite(p) ? product_error(m[i], s, p) : 0.0;
        om[i] = p;
        orad[i] = add_up(mul_up(r[i], s), error);
    }
    return out;
}

Array point_matrix(const std::vector<double>& values, std::size_t rows, std::size_t cols) {
    return Array::from_parts(values, std::vector<double>(values.size(), 0.0), {rows, cols});
}

double orthonormality_defect(const std::vector<double>& x, std::size_t rows, std::size_t cols,
                             const std::vector<bool>& keep) {
    std::vector<std::size_t> columns;
    for (std::size_t j = 0; j < cols; ++j)
        if (keep.empty() || keep[j]) columns.push_back(j);
    const std::size_t c = columns.size();
    if (c == 0) return 0.0;
    std::vector<double> compact(rows * c), compact_t(rows * c);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < c; ++j) {
            compact[i * c + j] = x[i * cols + columns[j]];
            compact_t[j * rows + i] = compact[i * c + j];
        }
    const Array gram = interval_matmul(point_matrix(compact_t, c, rows), point_matrix(compact, rows, c));
    double defect = 0.0;
    for (std::size_t i = 0; i < c; ++i) {
        double row = 0.0;
        for (std::size_t j = 0; j < c; ++j) {
            Endpoints e = to_endpoints(gram.mid()[i * c + j], gram.rad()[i * c + j]);
            if (i == j) e = pairs::sub(e, {1.0, 1.0});
            const double magnitude = std::max(std::fabs(e.lo), std::fabs(e.hi));
            row = add_up(row, std::isnan(magnitude) ? kInfinity : magnitude);
        }
        defect = std::max(defect, row);
    }
    return defect;
}

double difference_norm(const Array& a, const Array& b) {
    double sum = 0.0;
    for (std::uint64_t i = 0; i < a.size(); ++i) {
        const Endpoints d = pairs::sub(to_endpoints(a.mid()[i], a.rad()[i]), to_endpoints(b.mid()[i], b.rad()[i]));
        const double magnitude = std::max(std::fabs(d.lo), std::fabs(d.hi));
        if (std::isnan(magnitude)) return kInfinity;
        sum = add_up(sum, mul_up(magnitude, magnitude));
    }
    return sqrt_up(sum);
}

double distance_down(double x, double y) { return x >= y ? add_down(x, -y) : add_down(y, -x); }

double sqrt_up(double x) {
    if (std::isnan(x)) return kInfinity;
    const double root = std::sqrt(std::max(x, 0.0));
    return root == kInfinity ? kInfinity : succ(root);
}

double sqrt_down(double x) {
    if (!(x > 0)) return 0.0;
    return std::max(pred(std::sqrt(x)), 0.0);
}

double unit_vector_cap(double largest_magnitude) {
    return std::isnan(largest_magnitude) ? kInfinity : add_up(1.0, largest_magnitude);
}

double vector_radius(double residual, double gap, double defect, double cap) {
    if (!(gap > 0) || !(defect < 1)) return cap;
    const double scale = sqrt_down(add_down(1.0, -defect));
    const double quotient = div_up(residual, mul_down(gap, scale));
    const double radius = add_up(2.0 * quotient, 2.0 * defect);
    return radius < cap ? radius : cap;
}

}  // namespace boundwise::spectral
