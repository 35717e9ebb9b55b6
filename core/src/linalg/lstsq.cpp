// Least squares: A^T A and A^T b with the verified products, then the Gauss solve.
#include "boundwise/linalg/lstsq.hpp"

#include <variant>

#include "boundwise/error.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/linalg/products.hpp"
#include "boundwise/linalg/solve.hpp"

namespace boundwise {

namespace {

Array product_array(const Array& a, const Array& b) {
    Product p = interval_product(a, b, ProductKind::Matmul);
    check_internal(std::holds_alternative<Array>(p), "lstsq: A^T A is not 2D");
    return std::get<Array>(std::move(p));
}

// The endpoint round trip of every element (it may widen a radius by a rounding step).
Array round_trip(const Array& x) {
    Array out = Array::uninitialized(x.shape());
    for (std::uint64_t t = 0; t < x.size(); ++t) {
        const Endpoints e = to_endpoints(x.mid()[t], x.rad()[t]);
        const Interval v = from_endpoints(e.lo, e.hi);
        out.mid_mut()[t] = v.mid;
        out.rad_mut()[t] = v.rad;
    }
    return out;
}

}  // namespace

Result<Array> lstsq(const Array& a, const Array& b) {
    if (a.ndim() != 2) throw value_error("lstsq requires A to be 2D");
    const std::uint64_t m = a.shape()[0];
    const std::uint64_t expected = b.ndim() == 2 ? m * b.shape()[1] : m;
    if (b.size() != expected) throw value_error("lstsq: b shape must be (m,) or (m, nrhs)");
    const Array at = transpose(a);
    const Array normal = product_array(at, a);
    const Array rhs = product_array(at, b);
    Result<Array> x = solve(normal, rhs, SolveMethod::Gauss);
    if (x.flags != Status::None || b.ndim() == 2) return x;
    return round_trip(x.value);
}

}  // namespace boundwise
