#include "support/status.hpp"

#include "support/errors.hpp"

namespace boundwise::py {

namespace {

constexpr const char* kDivideByZeroWarning =
    "divide by zero encountered in interval division; returning the entire real line";

}  // namespace

void report_status(Status flags) {
    if (has(flags, Status::DividedByZero))
        check_status(PyErr_WarnEx(PyExc_RuntimeWarning, kDivideByZeroWarning, 2));
}

}  // namespace boundwise::py
