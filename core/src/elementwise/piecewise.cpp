// Piecewise functions: sign, nan_to_num, clip, maximum and minimum, through
// the same dispatch as the other element functions.
#include <cmath>

#include "boundwise/elementwise/functions.hpp"
#include "boundwise/elementwise/hull.hpp"
#include "boundwise/elementwise/rules.hpp"
#include "boundwise/error.hpp"
#include "boundwise/kernels/element_functions.hpp"
#include "boundwise/text/format.hpp"
#include "element_map.hpp"

namespace boundwise {

namespace {

using elementwise::Dispatch;
using elementwise::map_kernel;

// Endpoints with NaN ends for elements without a value; minNum and maxNum
// (min_num / max_num) then let any other operand win. An infinite radius
// reads as the whole line, so the stored entire line is never skipped.
template <bool Maximum>
Interval extreme(double am, double ar, double bm, double br) noexcept {
    const Endpoints a = element_endpoints(am, ar);
    const Endpoints b = element_endpoints(bm, br);
    const double lo = Maximum ? max_num(a.lo, b.lo) : min_num(a.lo, b.lo);
    const double hi = Maximum ? max_num(a.hi, b.hi) : min_num(a.hi, b.hi);
    return from_endpoints(min_num(lo, hi), max_num(lo, hi));
}

// A zero-dimensional array holding the exact number x (NaN: no value).
Array point(double x) {
    const double radius = 0.0;
    return Array::from_parts({&x, 1}, {&radius, 1}, Shape{});
}

}  // namespace

Array sign(const Array& a) { return map_kernel(a, &ElementKernels::sign, Dispatch::Pool).value; }
Array nan_to_num(const Array& a) { return map_kernel(a, &ElementKernels::nan_to_num, Dispatch::Pool).value; }

Array clip(const Array& a, double a_min, double a_max) {
    if (a_min > a_max)
        throw value_error("a_min must be <= a_max; got a_min=" + format_number(a_min) +
                          " a_max=" + format_number(a_max));
    const ClipKernel run = element_kernels().clip;
    const auto clipped = [&](const double* m, const double* r, KernelOutput out, std::size_t n) noexcept {
        return run(m, r, out, n, a_min, a_max);
    };
    return elementwise::map_chunks(a, Dispatch::Pool, clipped).value;
}

Array maximum(const Array& a, const Array& b) {
    return elementwise::map_pair_kernel(a, b, &ElementKernels::maximum).value;
}
Array minimum(const Array& a, const Array& b) {
    return elementwise::map_pair_kernel(a, b, &ElementKernels::minimum).value;
}
Array maximum(const Array& a, double x) { return maximum(a, point(x)); }
Array minimum(const Array& a, double x) { return minimum(a, point(x)); }

namespace elementwise {

Interval sign_rule(double m, double r, Status&) noexcept {
    if (std::isnan(m) || std::isnan(r) || r == kInfinity) return {0.0, 0.0};
    const Endpoints x = to_endpoints(m, r);
    if (x.hi < 0) return {-1.0, 0.0};
    if (x.lo > 0) return {1.0, 0.0};
    return {0.0, 0.0};
}

Interval maximum_rule(double am, double ar, double bm, double br, Status&) noexcept {
    return extreme<true>(am, ar, bm, br);
}

Interval minimum_rule(double am, double ar, double bm, double br, Status&) noexcept {
    return extreme<false>(am, ar, bm, br);
}

Interval clip_rule(double m, double r, double a_min, double a_max) noexcept {
    // The whole line first: its stored form has a NaN midpoint.
    if (r == kInfinity) return from_endpoints(a_min, a_max);
    if (std::isnan(m) || std::isnan(r)) return Interval{a_min, 0.0};
    const Endpoints x = to_endpoints(m, r);
    const double lo = min_num(max_num(x.lo, a_min), a_max);
    const double hi = min_num(max_num(x.hi, a_min), a_max);
    return from_endpoints(min_num(lo, hi), max_num(lo, hi));
}

Interval nan_to_num_rule(double m, double r, Status&) noexcept {
    if (std::isnan(m) || std::isnan(r)) return {0.0, 0.0};
    if (std::isinf(m)) m = std::copysign(kDoubleMax, m);
    if (r == kInfinity) r = kDoubleMax;
    return {m, r};
}

}  // namespace elementwise

}  // namespace boundwise
