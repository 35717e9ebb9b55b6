// Interval Gaussian elimination on endpoint pairs: the elimination once per
// matrix, its replay on right-hand sides, and the per-column reference.
#include "boundwise/linalg/gauss.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

#include "boundwise/error.hpp"
#include "boundwise/linalg/pairs.hpp"

namespace boundwise {

using pairs::contains_zero;
using pairs::is_zero;
using pairs::kEntire;

PairMatrix to_pairs(const Array& a) {
    check_internal(a.ndim() == 1 || a.ndim() == 2, "to_pairs: 1D or 2D array expected");
    PairMatrix p{a.shape()[0], a.ndim() == 2 ? a.shape()[1] : 1, {}};
    p.pairs.resize(a.size());
    const double* m = a.mid();
    const double* r = a.rad();
    for (std::uint64_t i = 0; i < a.size(); ++i) p.pairs[i] = to_endpoints(m[i], r[i]);
    return p;
}

PairMatrix identity_pairs(std::size_t n) {
    PairMatrix p{n, n, std::vector<Endpoints>(n * n, Endpoints{0.0, 0.0})};
    for (std::size_t i = 0; i < n; ++i) p.at(i, i) = {1.0, 1.0};
    return p;
}

Array from_pairs(const PairMatrix& m, Shape shape) {
    Array out = Array::uninitialized(std::move(shape));
    check_internal(out.size() == m.pairs.size(), "from_pairs: size mismatch");
    double* mid = out.mid_mut();
    double* rad = out.rad_mut();
    for (std::size_t i = 0; i < m.pairs.size(); ++i) {
        const Interval v = from_endpoints(m.pairs[i].lo, m.pairs[i].hi);
        mid[i] = v.mid;
        rad[i] = v.rad;
    }
    return out;
}

namespace {

constexpr std::uint64_t kNegativeZero = 0x8000000000000000;

bool has_negative_zero(Endpoints p) {
    return std::bit_cast<std::uint64_t>(p.lo) == kNegativeZero || std::bit_cast<std::uint64_t>(p.hi) == kNegativeZero;
}

// dst[j] = dst[j] - f * src[j] for j < count.
void eliminate_row(Endpoints* dst, Endpoints f, const Endpoints* src, std::size_t count) {
    for (std::size_t j = 0; j < count; ++j) dst[j] = pairs::sub(dst[j], pairs::mul(f, src[j]));
}

}  // namespace

Elimination::Elimination(PairMatrix m, PivotRule rule) : n_(m.rows), m_(std::move(m)), pivot_rows_(n_) {
    check_internal(m_.rows == m_.cols, "Elimination: square matrix expected");
    forward(rule);
}

std::optional<std::size_t> Elimination::choose_pivot(std::size_t k, PivotRule rule) const {
    // A later row wins only with a strictly larger key: the first of equal keys
    // stays, and a NaN key neither wins nor is beaten.
    std::size_t best = k;
    double best_key = pairs::pivot_key(m_.at(k, k));
    for (std::size_t p = k + 1; p < n_; ++p) {
        const double key = pairs::pivot_key(m_.at(p, k));
        if (key > best_key) {
            best = p;
            best_key = key;
        }
    }
    if (best_key != 0) return best;
    if (rule == PivotRule::Solve) return std::nullopt;
    for (std::size_t p = k; p < n_; ++p)
        if (!is_zero(m_.at(p, k))) return p;
    return std::nullopt;
}

void Elimination::forward(PivotRule rule) {
    for (std::size_t k = 0; k < n_; ++k) {
        const std::optional<std::size_t> pivot = choose_pivot(k, rule);
        if (!pivot) {
            outcome_ = rule == PivotRule::Solve ? Outcome::NoPivot : Outcome::ZeroColumn;
            return;
        }
        const std::size_t p = *pivot;
        pivot_rows_[k] = p;
        if (p != k) {
            // Columns left of k hold multipliers that stay with their step, and
            // the per-column procedure has zeros there in both rows.
            std::swap_ranges(&m_.at(p, k), &m_.at(p, 0) + n_, &m_.at(k, k));
            ++exchanges_;
        }
        if (k + 1 == n_) break;
        const Endpoints d = m_.at(k, k);
        const bool unbounded = contains_zero(d);
        const Endpoints r = unbounded ? kEntire : pairs::reciprocal(d);
        for (std::size_t i = k + 1; i < n_; ++i) {
            Endpoints f = kEntire;
            if (!unbounded) {
                f = pairs::mul(m_.at(i, k), r);
                if (is_zero(f)) {
                    m_.at(i, k) = f;  // the row stays as it is
                    continue;
                }
            }
            m_.at(i, k) = f;
            eliminate_row(&m_.at(i, k + 1), f, &m_.at(k, k + 1), n_ - k - 1);
        }
    }
}

bool Elimination::zero_diagonal() const {
    for (std::size_t i = 0; i < n_; ++i)
        if (is_zero(m_.at(i, i))) return true;
    return false;
}

// The row operations of the forward elimination, applied to every column. A
// column whose pivot-row pair is zero, updated with a bounded multiplier,
// changes only where a pair has an end -0 (x - 0 keeps every other end bit for
// bit); columns without such an end anywhere are skipped, which is where inv
// saves most of its work on the identity.
void Elimination::forward_on_rhs(PairMatrix& y) const {
    const std::size_t c = y.cols;
    std::vector<char> signed_zero(c, 0);
    for (std::size_t t = 0; t < y.pairs.size(); ++t)
        if (has_negative_zero(y.pairs[t])) signed_zero[t % c] = 1;
    std::vector<std::size_t> active;
    active.reserve(c);
    for (std::size_t k = 0; k + 1 < n_; ++k) {
        const std::size_t p = pivot_rows_[k];
        if (p != k) std::swap_ranges(&y.at(p, 0), &y.at(p, 0) + c, &y.at(k, 0));
        active.clear();
        for (std::size_t j = 0; j < c; ++j)
            if (!is_zero(y.at(k, j)) || signed_zero[j]) active.push_back(j);
        const Endpoints* pivot_row = &y.at(k, 0);
        for (std::size_t i = k + 1; i < n_; ++i) {
            const Endpoints f = m_.at(i, k);
            if (is_zero(f)) continue;
            Endpoints* row = &y.at(i, 0);
            const auto update = [&](std::size_t j) {
                row[j] = pairs::sub(row[j], pairs::mul(f, pivot_row[j]));
                if (has_negative_zero(row[j])) signed_zero[j] = 1;
            };
            if (pairs::is_bounded(f)) {
                for (const std::size_t j : active) update(j);
            } else {
                for (std::size_t j = 0; j < c; ++j) update(j);
            }
        }
    }
}

void Elimination::back_substitute(PairMatrix& y) const {
    const std::size_t c = y.cols;
    for (std::size_t i = n_; i-- > 0;) {
        Endpoints* row = &y.at(i, 0);
        for (std::size_t j = i + 1; j < n_; ++j) {
            const Endpoints g = m_.at(i, j);
            const Endpoints* x = &y.at(j, 0);
            for (std::size_t t = 0; t < c; ++t) row[t] = pairs::sub(row[t], pairs::mul(g, x[t]));
        }
        const Endpoints d = m_.at(i, i);
        if (contains_zero(d)) {
            std::fill_n(row, c, kEntire);
        } else {
            const Endpoints r = pairs::reciprocal(d);
            for (std::size_t t = 0; t < c; ++t) row[t] = pairs::mul(row[t], r);
        }
    }
}

void Elimination::solve(PairMatrix& y) const {
    check_internal(outcome_ == Outcome::Eliminated && y.rows == n_, "Elimination::solve: not eliminated");
    if (y.cols == 0) return;
    forward_on_rhs(y);
    back_substitute(y);
}

Endpoints Elimination::pivot_product() const {
    Endpoints p{1.0, 1.0};
    for (std::size_t k = 0; k < n_; ++k) p = pairs::mul(p, m_.at(k, k));
    return p;
}

std::optional<std::vector<Endpoints>> interval_gauss_solve(PairMatrix m, std::vector<Endpoints> y) {
    const std::size_t n = m.rows;
    check_internal(y.size() == n, "interval_gauss_solve: right-hand side length");
    const Elimination e(std::move(m), PivotRule::Solve);
    if (e.outcome() != Elimination::Outcome::Eliminated || e.zero_diagonal()) return std::nullopt;
    PairMatrix column{n, 1, std::move(y)};
    e.solve(column);
    return std::move(column.pairs);
}

std::optional<std::vector<Endpoints>> interval_gauss_solve_reference(PairMatrix m, std::vector<Endpoints> y) {
    const std::size_t n = m.rows;
    check_internal(y.size() == n && m.cols == n, "interval_gauss_solve_reference: shapes");
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t p = k;
        for (std::size_t i = k + 1; i < n; ++i)
            if (pairs::pivot_key(m.at(i, k)) > pairs::pivot_key(m.at(p, k))) p = i;
        if (pairs::pivot_key(m.at(p, k)) == 0) return std::nullopt;
        if (p != k) {
            for (std::size_t j = 0; j < n; ++j) std::swap(m.at(p, j), m.at(k, j));
            std::swap(y[p], y[k]);
        }
        if (k == n - 1) break;
        const Endpoints d = m.at(k, k);
        for (std::size_t i = k + 1; i < n; ++i) {
            Endpoints f = kEntire;
            if (!contains_zero(d)) {
                f = mul_endpoints(m.at(i, k), pairs::reciprocal(d));
                if (is_zero(f)) continue;
            }
            m.at(i, k) = {0.0, 0.0};
            for (std::size_t j = k + 1; j < n; ++j)
                m.at(i, j) = pairs::sub(m.at(i, j), mul_endpoints(f, m.at(k, j)));
            y[i] = pairs::sub(y[i], mul_endpoints(f, y[k]));
        }
    }
    std::vector<Endpoints> x(n);
    for (std::size_t i = n; i-- > 0;) {
        Endpoints s = y[i];
        for (std::size_t j = i + 1; j < n; ++j) s = pairs::sub(s, mul_endpoints(m.at(i, j), x[j]));
        const Endpoints d = m.at(i, i);
        if (is_zero(d)) return std::nullopt;
        x[i] = contains_zero(d) ? kEntire : mul_endpoints(s, pairs::reciprocal(d));
    }
    return x;
}

}  // namespace boundwise
