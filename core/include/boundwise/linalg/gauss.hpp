// Interval Gaussian elimination with partial pivoting on endpoint pairs, the
// kernel behind solve, inv and det.
//
// The elimination of the matrix does not depend on the right-hand side, so it
// runs once and records its pivots and multipliers; Elimination::solve then
// replays, on every column of a right-hand side, exactly the operations the
// per-column procedure performs on it (same pairs, same order), so the results
// are bit for bit those of eliminating a fresh copy of the matrix per column.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "boundwise/array/array.hpp"
#include "boundwise/interval/endpoints.hpp"

namespace boundwise {

// A row-major matrix of endpoint pairs; a vector is one column.
struct PairMatrix {
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::vector<Endpoints> pairs;

    Endpoints& at(std::size_t i, std::size_t j) { return pairs[i * cols + j]; }
    Endpoints at(std::size_t i, std::size_t j) const { return pairs[i * cols + j]; }
};

// The outward-rounded endpoint pairs of a 1-D (as one column) or 2-D array.
PairMatrix to_pairs(const Array& a);
// The (n, n) identity as pairs.
PairMatrix identity_pairs(std::size_t n);
// Every pair turned back into a midpoint and radius (from_endpoints), in `shape`.
Array from_pairs(const PairMatrix& m, Shape shape);

// How a pivot column is searched. Both take the first row of largest midpoint
// magnitude. When that magnitude is 0, Solve gives up (the column cannot give a
// pivot that excludes zero); Determinant reports an exact zero only if every
// candidate is exactly zero and otherwise continues with a pivot that contains
// zero, whose determinant enclosure then widens as it must.
enum class PivotRule { Solve, Determinant };

class Elimination {
public:
    enum class Outcome {
        Eliminated,
        NoPivot,     // Solve: a pivot column whose midpoints are all 0
        ZeroColumn,  // Determinant: a pivot column of exact zeros, so det = 0
    };

    // Eliminates the square matrix m (consumed).
    Elimination(PairMatrix m, PivotRule rule);

    Outcome outcome() const { return outcome_; }
    // Whether back substitution meets an exactly zero diagonal element.
    bool zero_diagonal() const;
    // Solves for every column of y (n rows) in place. Requires Eliminated.
    void solve(PairMatrix& y) const;
    // The product of the pivots, in order, and the sign of the row exchanges.
    Endpoints pivot_product() const;
    double exchange_sign() const { return exchanges_ % 2 ? -1.0 : 1.0; }

private:
    void forward(PivotRule rule);
    std::optional<std::size_t> choose_pivot(std::size_t k, PivotRule rule) const;
    void forward_on_rhs(PairMatrix& y) const;
    void back_substitute(PairMatrix& y) const;

    std::size_t n_;
    // Upper triangle: the eliminated matrix; strictly below the diagonal, the
    // multiplier of each row and column (a zero one marks a row left unchanged).
    PairMatrix m_;
    std::vector<std::size_t> pivot_rows_;
    std::size_t exchanges_ = 0;
    Outcome outcome_ = Outcome::Eliminated;
};

// The routine as one procedure: eliminate m (n x n, consumed) with the right-hand
// side y (n pairs); nothing when a pivot column's midpoints are all 0 or back
// substitution meets an exactly zero diagonal element.
std::optional<std::vector<Endpoints>> interval_gauss_solve(PairMatrix m, std::vector<Endpoints> y);

// The same procedure written out for one column at a time, as plainly as
// possible, with the shared mul_endpoints: the reference the shared elimination
// is tested against bit for bit.
std::optional<std::vector<Endpoints>> interval_gauss_solve_reference(PairMatrix m, std::vector<Endpoints> y);

}  // namespace boundwise
