// solve, inv and det: shape checks, the Gauss method on endpoint pairs and the
// dispatch to the Krawczyk method.
#include "boundwise/linalg/solve.hpp"

#include <optional>
#include <utility>

#include "boundwise/error.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/linalg/gauss.hpp"
#include "boundwise/linalg/krawczyk.hpp"

namespace boundwise {

namespace {

void check_solve_shapes(const Array& a, const Array& b) {
    if (a.ndim() != 2) throw value_error("solve requires A to be 2D");
    const std::uint64_t n = a.shape()[0];
    if (a.shape()[1] != n) throw value_error("solve requires a square matrix A");
    if (b.ndim() == 1) {
        if (b.shape()[0] != n) throw value_error("solve: b length must match A rows");
        return;
    }
    if (b.ndim() != 2) throw value_error("solve: b must be 1D or 2D");
    if (b.shape()[0] != n) throw value_error("solve: b rows must match A rows");
}

Result<Array> singular() { return {Array::zeros({0}), Status::Singular}; }

// The Gauss method on pairs: one elimination for all columns of y.
Result<Array> gauss_solve(const Array& a, PairMatrix y, Shape shape) {
    // Without a column to solve for, the per-column procedure never eliminates.
    if (y.cols == 0) return Array::zeros(std::move(shape));
    const Elimination e(to_pairs(a), PivotRule::Solve);
    if (e.outcome() != Elimination::Outcome::Eliminated || e.zero_diagonal()) return singular();
    e.solve(y);
    return from_pairs(y, std::move(shape));
}

}  // namespace

Result<Array> solve(const Array& a, const Array& b, SolveMethod method) {
    check_solve_shapes(a, b);
    if (method == SolveMethod::Krawczyk) {
        if (b.ndim() == 2) return krawczyk_solve(a, b);
        Result<Array> x = krawczyk_solve(a, b.with_shape({b.shape()[0], 1}));
        if (x.flags == Status::None) x.value = x.value.with_shape(b.shape());
        return x;
    }
    if (b.ndim() == 2) return gauss_solve(a, to_pairs(b), b.shape());
    std::optional<std::vector<Endpoints>> x = interval_gauss_solve(to_pairs(a), to_pairs(b).pairs);
    if (!x) return singular();
    return from_pairs({x->size(), 1, std::move(*x)}, b.shape());
}

Result<Array> inv(const Array& a, SolveMethod method) {
    if (a.ndim() != 2) throw value_error("inv requires a 2D array");
    const std::uint64_t n = a.shape()[0];
    if (a.shape()[1] != n) throw value_error("inv requires a square matrix");
    if (method == SolveMethod::Krawczyk) return krawczyk_inverse(a);
    return gauss_solve(a, identity_pairs(n), {n, n});
}

Interval det(const Array& a) {
    if (a.ndim() != 2) throw value_error("det requires a 2D array");
    if (a.shape()[1] != a.shape()[0]) throw value_error("det requires a square matrix");
    const Elimination e(to_pairs(a), PivotRule::Determinant);
    if (e.outcome() == Elimination::Outcome::ZeroColumn) return {0.0, 0.0};
    const Endpoints p = e.pivot_product();
    // The sign is exact; the round trip through endpoints makes a NaN midpoint
    // or an infinite radius the entire line (NaN, +inf).
    const Interval unsigned_value = from_endpoints(p.lo, p.hi);
    const Endpoints signed_value = to_endpoints(e.exchange_sign() * unsigned_value.mid, unsigned_value.rad);
    return from_endpoints(signed_value.lo, signed_value.hi);
}

Result<Array> solve_per_column(const Array& a, const Array& b) {
    check_solve_shapes(a, b);
    const PairMatrix m = to_pairs(a);
    PairMatrix y = to_pairs(b);
    PairMatrix x{y.rows, y.cols, std::vector<Endpoints>(y.pairs.size())};
    for (std::size_t j = 0; j < y.cols; ++j) {
        std::vector<Endpoints> column(y.rows);
        for (std::size_t i = 0; i < y.rows; ++i) column[i] = y.at(i, j);
        const std::optional<std::vector<Endpoints>> solution = interval_gauss_solve_reference(m, std::move(column));
        if (!solution) return singular();
        for (std::size_t i = 0; i < y.rows; ++i) x.at(i, j) = (*solution)[i];
    }
    return from_pairs(x, b.shape());
}

}  // namespace boundwise
