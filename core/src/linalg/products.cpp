// interval_dot and the shape rules of dot, matmul and @.
#include "boundwise/linalg/products.hpp"

#include <cmath>
#include <string>

#include "boundwise/error.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/kernels/arithmetic.hpp"

namespace boundwise {

Endpoints interval_dot(const Array& a, const Array& b) {
    check_internal(a.size() == b.size(), "dot: length mismatch");
    const std::uint64_t n = a.size();
    if (n == 0) return {0.0, 0.0};
    const auto [s, r] = arithmetic_kernels().dot(a.mid(), a.rad(), b.mid(), b.rad(), n);
    if (std::isnan(s) || std::isnan(r)) return {NAN, NAN};
    if (r >= kInfinity) return {-kInfinity, kInfinity};
    return to_endpoints(s, r);
}

namespace {

const char* kind_name(ProductKind kind) { return kind == ProductKind::Dot ? "dot" : "matmul"; }

std::string dims_text(const Shape& shape) {
    if (shape.size() == 1) return "(" + std::to_string(shape[0]) + ",)";
    return "(" + std::to_string(shape[0]) + ", " + std::to_string(shape[1]) + ")";
}

void check_aligned(bool aligned, const Array& a, const Array& b, ProductKind kind) {
    if (!aligned)
        throw value_error(std::string(kind_name(kind)) + ": shapes " + dims_text(a.shape()) + " and " +
                          dims_text(b.shape()) + " not aligned");
}

}  // namespace

Product interval_product(const Array& a, const Array& b, ProductKind kind) {
    const std::size_t da = a.ndim();
    const std::size_t db = b.ndim();
    if (da < 1 || da > 2 || db < 1 || db > 2)
        throw value_error(std::string(kind_name(kind)) + ": unsupported dimensionalities " + std::to_string(da) +
                          "D and " + std::to_string(db) + "D");
    const Shape& sa = a.shape();
    const Shape& sb = b.shape();
    check_aligned(sa.back() == sb.front(), a, b, kind);
    if (da == 1 && db == 1) {
        const Endpoints e = interval_dot(a, b);
        return from_endpoints(e.lo, e.hi);
    }
    // Vectors become one-row or one-column matrices that share the storage.
    const Array left = da == 1 ? a.with_shape({1, sa[0]}) : a;
    const Array right = db == 1 ? b.with_shape({sb[0], 1}) : b;
    Array c = interval_matmul(left, right);
    if (db == 1) return c.with_shape({sa[0]});
    if (da == 1 && kind == ProductKind::Matmul) return c.with_shape({sb[1]});
    return c;
}

}  // namespace boundwise
