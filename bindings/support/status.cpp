#include "support/status.hpp"

#include <string>

#include "boundwise/error.hpp"
#include "boundwise/text/format.hpp"
#include "support/errors.hpp"

namespace boundwise::py {

namespace {

constexpr const char* kDivideByZeroWarning =
    "divide by zero encountered in interval division; returning the entire real line";
constexpr const char* kSingular = "solve: singular matrix (interval contains zero pivot)";
constexpr const char* kUnverified =
    "solve: method='krawczyk' could not verify an enclosure (the matrix is singular, too ill-conditioned "
    "or too wide); method='gauss' may still give a wide one";

constexpr const char* kComplexEigenvalues =
    "eig: matrix has complex eigenvalues; only real eigenvalues are supported";
constexpr const char* kDefective =
    "eig: eigenvector matrix is numerically singular (defective or nearly defective matrix); eigenvalues cannot "
    "be rigorously enclosed";
constexpr const char* kNotFinite =
    "matrix_rank: singular values are not finite (the matrix holds NaN, infinite or unbounded elements)";

std::string not_positive_definite(const Breakdown& where) {
    const std::string j = std::to_string(where.pivot);
    // + 0.0 prints a negative zero as 0.
    return "cholesky: A[" + j + "," + j + "] lower bound " + format_number(where.bound + 0.0) +
           " <= 0; matrix is not positive-definite";
}

}  // namespace

void report_status(Status flags, const Breakdown& where) {
    if (has(flags, Status::Singular)) throw value_error(kSingular);
    if (has(flags, Status::NotPositiveDefinite)) throw value_error(not_positive_definite(where));
    if (has(flags, Status::Unverified)) throw value_error(kUnverified);
    if (has(flags, Status::ComplexEigenvalues)) throw Error(ErrorKind::NotImplemented, kComplexEigenvalues);
    if (has(flags, Status::Defective)) throw value_error(kDefective);
    if (has(flags, Status::NotFinite)) throw value_error(kNotFinite);
    if (has(flags, Status::DividedByZero))
        check_status(PyErr_WarnEx(PyExc_RuntimeWarning, kDivideByZeroWarning, 2));
}

}  // namespace boundwise::py
