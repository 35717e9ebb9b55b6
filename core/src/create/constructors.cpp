#include "boundwise/create/constructors.hpp"

#include <cmath>
#include <cstring>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/error.hpp"

namespace boundwise {

namespace {

Array exact_points(std::uint64_t n, auto&& point_at) {
    Array a = Array::uninitialized({n});
    double* m = a.mid_mut();
    for (std::uint64_t i = 0; i < n; ++i) m[i] = point_at(i);
    if (n) std::memset(a.rad_mut(), 0, n * sizeof(double));
    return a;
}

// Point i of a range, i * step + start, for finite start and step. Where that
// overflows although the exact point lies between the finite ends lo and hi,
// the halves i * (step / 2) + start / 2 cannot overflow; doubled back and kept
// inside [lo, hi], they replace only the points that would have been infinite.
double range_point(std::uint64_t i, double step, double start, double lo, double hi) {
    const double x = static_cast<double>(i) * step + start;
    if (std::isfinite(x) || !std::isfinite(step) || !std::isfinite(start)) return x;
    const double halves = (static_cast<double>(i) * (step * 0.5) + start * 0.5) * 2.0;
    return std::fmin(std::fmax(halves, lo), hi);
}

}  // namespace

Array full(Shape shape, double midpoint, double radius) {
    const Endpoints e = to_endpoints(midpoint, radius);
    return Array::filled(std::move(shape), e.lo, e.hi);
}

Array eye(std::uint64_t n, std::uint64_t m, std::int64_t k) {
    Array a = Array::zeros({n, m});
    double* mid = a.mid_mut();
    // The ones sit at (i, i + k): walk the diagonal from its first in-range cell.
    const std::uint64_t shift = k < 0 ? static_cast<std::uint64_t>(-(k + 1)) + 1 : static_cast<std::uint64_t>(k);
    std::uint64_t i = k < 0 ? shift : 0;
    std::uint64_t j = k < 0 ? 0 : shift;
    for (; i < n && j < m; ++i, ++j) mid[i * m + j] = 1.0;
    return a;
}

Array diag(const Array& v) {
    if (v.ndim() == 1) {
        const std::uint64_t n = v.size();
        Array out = Array::zeros({n, n});
        for (std::uint64_t i = 0; i < n; ++i) {
            const Interval x = endpoint_round_trip(v.mid()[i], v.rad()[i]);
            out.mid_mut()[i * n + i] = x.mid;
            out.rad_mut()[i * n + i] = x.rad;
        }
        return out;
    }
    if (v.ndim() == 2) {
        const std::uint64_t rows = v.shape()[0], cols = v.shape()[1];
        const std::uint64_t n = rows < cols ? rows : cols;
        Array out = Array::uninitialized({n});
        for (std::uint64_t i = 0; i < n; ++i) {
            const Interval x = endpoint_round_trip(v.mid()[i * cols + i], v.rad()[i * cols + i]);
            out.mid_mut()[i] = x.mid;
            out.rad_mut()[i] = x.rad;
        }
        return out;
    }
    throw value_error("diag requires a 1D or 2D array");
}

Array diag_of_values(std::span<const double> values) {
    const std::uint64_t n = values.size();
    Array out = Array::zeros({n, n});
    for (std::uint64_t i = 0; i < n; ++i) out.mid_mut()[i * n + i] = values[i];
    return out;
}

Array linspace(double start, double stop, std::uint64_t num, bool endpoint) {
    if (num == 0) return Array::zeros({0});
    if (num == 1) return exact_points(1, [&](std::uint64_t) { return start; });
    const double divisor = static_cast<double>(endpoint ? num - 1 : num);
    const double delta = stop - start;
    if (std::isinf(delta) && std::isfinite(start) && std::isfinite(stop)) {
        // stop - start overflows: step in halves, which cannot overflow, and
        // keep every point inside [start, stop].
        const double half_step = (stop * 0.5 - start * 0.5) / divisor;
        const double lo = std::fmin(start, stop), hi = std::fmax(start, stop);
        return exact_points(num, [&](std::uint64_t i) {
            const double x = (static_cast<double>(i) * half_step + start * 0.5) * 2.0;
            return std::fmin(std::fmax(x, lo), hi);
        });
    }
    const double step = delta / divisor;
    const double lo = std::fmin(start, stop), hi = std::fmax(start, stop);
    return exact_points(num, [&](std::uint64_t i) { return range_point(i, step, start, lo, hi); });
}

Array arange(double start, double stop, double step) {
    if (step == 0.0) throw value_error("arange: step cannot be zero");
    double count = std::ceil((stop - start) / step);
    if (std::isinf(stop - start) && std::isfinite(start) && std::isfinite(stop) && std::isfinite(step))
        count = std::ceil((stop * 0.5 - start * 0.5) / step * 2.0);  // the span overflows, its half cannot
    if (std::isnan(count)) {
        if (std::isnan(start) || std::isnan(stop) || std::isnan(step)) return Array::zeros({0});
        throw value_error("arange: cannot compute the length of the range");
    }
    if (count <= 0) return Array::zeros({0});
    // Converting a double beyond the unsigned range is undefined: refuse it.
    if (!(count < 18446744073709551616.0))
        throw value_error("arange: the range has too many elements");
    const auto n = static_cast<std::uint64_t>(count);
    if (n > kMaxElements) throw value_error("arange: the range has too many elements");
    const double lo = std::fmin(start, stop), hi = std::fmax(start, stop);
    return exact_points(n, [&](std::uint64_t i) { return range_point(i, step, start, lo, hi); });
}

}  // namespace boundwise
