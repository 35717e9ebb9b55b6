// Cholesky factor on outward-rounded endpoint pairs.
#include "boundwise/linalg/cholesky.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "boundwise/error.hpp"
#include "boundwise/linalg/gauss.hpp"
#include "boundwise/linalg/pairs.hpp"

namespace boundwise {

namespace {

// One bit step below and above the correctly rounded square root, which
// therefore bound the exact root (IEEE 754 requires sqrt to round correctly).
double sqrt_down(double x) { return std::bit_cast<double>(std::bit_cast<std::uint64_t>(std::sqrt(x)) - 1); }

double sqrt_up(double x) {
    const double root = std::sqrt(x);
    return root == kInfinity ? root : std::bit_cast<double>(std::bit_cast<std::uint64_t>(root) + 1);
}

// sum over k < count of x[k] * y[k], as pairs, in order.
Endpoints sum_of_products(const Endpoints* x, const Endpoints* y, std::size_t count) {
    Endpoints s{0.0, 0.0};
    for (std::size_t k = 0; k < count; ++k) s = pairs::add(s, pairs::mul(x[k], y[k]));
    return s;
}

}  // namespace

CholeskyFactor cholesky(const Array& a) {
    if (a.ndim() != 2 || a.shape()[0] != a.shape()[1]) throw value_error("cholesky requires a square matrix");
    const std::size_t n = a.shape()[0];
    const PairMatrix source = to_pairs(a);
    PairMatrix l{n, n, std::vector<Endpoints>(n * n, Endpoints{0.0, 0.0})};
    for (std::size_t j = 0; j < n; ++j) {
        const Endpoints* row_j = &l.at(j, 0);
        const Endpoints d = pairs::sub(source.at(j, j), sum_of_products(row_j, row_j, j));
        // A NaN end leaves the pivot unknown: its positivity is not proven
        // either, so it fails here rather than giving a factor (0, 0) that
        // would exclude the factor of every member.
        if (!(d.lo > 0) || std::isnan(d.hi)) {
            return {{Array::zeros({0}), Status::NotPositiveDefinite}, {j, std::isnan(d.hi) ? NAN : d.lo}};
        }
        const double lo = sqrt_down(d.lo);
        const double hi = sqrt_up(d.hi);
        const Endpoints pivot{std::min(lo, hi), std::max(lo, hi)};
        l.at(j, j) = pivot;
        if (j + 1 == n) break;
        // lo > 0: sqrt(d.lo) >= sqrt(eta) is far above eta, one step below it is positive.
        const Endpoints r = pairs::reciprocal(pivot);
        for (std::size_t i = j + 1; i < n; ++i) {
            const Endpoints numerator = pairs::sub(source.at(i, j), sum_of_products(&l.at(i, 0), row_j, j));
            l.at(i, j) = pairs::mul(numerator, r);
        }
    }
    return {from_pairs(l, {n, n}), {}};
}

}  // namespace boundwise
