// log2, log10 and the square root: increasing functions, so the image of
// [lo, hi] is [f(lo), f(hi)], each end taken from the math library and moved
// four doubles outward. (exp and ln have their own vectorised evaluation with
// a proven error bound, kernels/exp_log_lanes.hpp.)
//
// Which library: the C library's libm, on Linux glibc (2.28 or later, where
// exp, log, log2 and pow are Szabolcs Nagy's implementations and sin, cos, tan
// the IBM Accurate Mathematical Library). The glibc manual's table of known
// maximal errors lists at most 2 ulps for these functions on x86-64, and a
// result within k ulps of the exact value is covered by k steps, so four steps
// leave a margin. Subnormal results are within the same ulp bounds (the ulp
// there being the smallest subnormal), and overflow to +inf happens only above
// DBL_MAX. The table does not cover the argument reduction of sin, cos and tan
// for huge arguments (glibc's cos of 6381956970095103 * 2^797 is about 150 ulps
// off), so those are trusted only on [-pi/4, pi/4] (trig_reduction.cpp), and
// only for the arguments that the direct lanes of kernels/trig_lanes.hpp leave
// to the rules (beyond 2^23, or near a multiple of pi/2). The test suite checks all of this against high-precision values on random and
// hard arguments; another libm must pass it before it is used. The square root
// is the correctly rounded IEEE operation.
#include <cmath>

#include "boundwise/elementwise/hull.hpp"
#include "boundwise/elementwise/rules.hpp"

namespace boundwise::elementwise {

namespace {

// An element without a value: NaN for a NaN input, NaN flagged as a domain
// error for an input wholly outside the domain.
Interval no_value(double hi, Status& flags) {
    if (!std::isnan(hi)) flags |= Status::DomainError;
    return {kNaN, kNaN};
}

// log, log2 and log10: hi <= 0 leaves no point of the domain. A lower end at
// or below 0 holds positive reals arbitrarily close to 0 (not only the
// subnormals), whose logarithms are unbounded below.
template <double (*Log)(double)>
Interval logarithm(double m, double r, Status& flags) {
    const Endpoints x = element_endpoints(m, r);
    if (!(x.hi > 0)) return no_value(x.hi, flags);
    const double c = Log(m);
    const double lo = x.lo > 0 ? pred4(x.lo == m ? c : Log(x.lo)) : -kInfinity;
    return hull_with_midpoint(lo, succ4(x.hi == m ? c : Log(x.hi)), c);
}

double log_2(double x) { return std::log2(x); }
double log_10(double x) { return std::log10(x); }

}  // namespace

Interval log2_rule(double m, double r, Status& flags) noexcept { return logarithm<log_2>(m, r, flags); }
Interval log10_rule(double m, double r, Status& flags) noexcept { return logarithm<log_10>(m, r, flags); }

// sqrt of the non-negative part; hi = 0 still holds the point 0.
Interval sqrt_rule(double m, double r, Status& flags) noexcept {
    const Endpoints x = element_endpoints(m, r);
    if (!(x.hi >= 0)) return no_value(x.hi, flags);
    const double lo = x.lo > 0 ? max_num(pred4(std::sqrt(x.lo)), 0.0) : 0.0;
    return hull_with_midpoint(lo, succ4(std::sqrt(x.hi)), std::sqrt(m));
}

}  // namespace boundwise::elementwise
