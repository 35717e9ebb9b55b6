#include "boundwise/arithmetic/arithmetic.hpp"

#include <atomic>
#include <cmath>
#include <utility>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/error.hpp"
#include "boundwise/kernels/arithmetic.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/runtime/pool.hpp"
#include "boundwise/interval/rounding.hpp"

namespace boundwise {

namespace {

// An operand of a two-array form: one element per output element, or one
// element repeated for all of them.
KernelOperand operand(const Array& x, std::uint64_t n, const char* message) {
    check_internal(x.size() == n || x.size() == 1, message);
    return {x.mid(), x.rad(), x.size() != n};
}

struct Number {
    double mid;
    double rad;
    KernelOperand operand() const { return {&mid, &rad, true}; }
};

// An exact number as an element: from_endpoints(x, x), that is x itself with
// radius 0, or NaN with radius +inf.
Number exact_number(double x) {
    const Interval v = from_endpoints(x, x);
    return {v.mid, v.rad};
}

KernelOutput output(Array& r) { return {r.mid_mut(), r.rad_mut()}; }

// The four array-by-array families run on the pool from kParallelThreshold
// elements on, in chunks of kArithmeticChunk; each chunk writes its own slice.
void run_chunked(BinaryKernel kernel, KernelOperand x, KernelOperand y, KernelOutput o, std::uint64_t n) {
    for_each_chunk(n, kParallelThreshold, kArithmeticChunk,
                   [&](std::size_t begin, std::size_t end) noexcept { kernel(x, y, o, begin, end); });
}

Array run_parallel(const Array& a, const Array& b, const Shape& out, BinaryKernel kernel, const char* message) {
    Array r = Array::uninitialized(out);
    const std::uint64_t n = r.size();
    if (n == 0) return r;
    run_chunked(kernel, operand(a, n, message), operand(b, n, message), output(r), n);
    return r;
}

// A scalar kernel: always on the calling thread.
Array run_here(const Array& a, KernelOperand x, KernelOperand y, BinaryKernel kernel) {
    Array r = Array::uninitialized(a.shape());
    if (r.size()) kernel(x, y, output(r), 0, r.size());
    return r;
}

// Division through endpoints, for every element once some divisor contains
// zero: the outward-rounded corner quotients for a divisor excluding zero; a
// divisor containing zero (or NaN) gives the entire line (NaN, +inf).
void divide_through_endpoints(KernelOperand a, KernelOperand b, KernelOutput out, std::uint64_t n) {
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t ia = a.single ? 0 : i;
        const std::uint64_t ib = b.single ? 0 : i;
        const Endpoints x = to_endpoints(a.mid[ia], a.rad[ia]);
        const Endpoints y = to_endpoints(b.mid[ib], b.rad[ib]);
        Interval q{NAN, kInfinity};
        if (y.lo > 0 || y.hi < 0) {
            const Endpoints e = div_endpoints(x, y);
            q = from_endpoints(e.lo, e.hi);
        }
        out.mid[i] = q.mid;
        out.rad[i] = q.rad;
    }
}

}  // namespace

bool divisors_exclude_zero(const double* bm, const double* br, std::uint64_t n) {
    return arithmetic_kernels().divisors_exclude_zero({bm, br, false}, 0, n);
}

Array add(const Array& a, const Array& b, const Shape& out) {
    return run_parallel(a, b, out, arithmetic_kernels().add, "array lengths must match for add");
}

Array subtract(const Array& a, const Array& b, const Shape& out) {
    return run_parallel(a, b, out, arithmetic_kernels().subtract, "array lengths must match for sub");
}

Array multiply(const Array& a, const Array& b, const Shape& out) {
    return run_parallel(a, b, out, arithmetic_kernels().multiply, "array lengths must match for mul");
}

// Each chunk tests its own divisors while it divides; once any chunk meets one
// that contains zero, the chunks not yet started are skipped and every element
// takes the endpoint path, as when the whole divisor is scanned first.
Quotient divide(const Array& a, const Array& b, const Shape& out) {
    static constexpr const char* kMessage = "array lengths must match for div";
    Array r = Array::uninitialized(out);
    const std::uint64_t n = r.size();
    if (n == 0) return {std::move(r)};
    const KernelOperand x = operand(a, n, kMessage);
    const KernelOperand y = operand(b, n, kMessage);
    const KernelOutput o = output(r);
    const ArithmeticKernels& kernels = arithmetic_kernels();
    std::atomic<bool> zero_divisor{false};
    for_each_chunk(n, kParallelThreshold, kArithmeticChunk, [&](std::size_t begin, std::size_t end) noexcept {
        if (zero_divisor.load(std::memory_order_relaxed)) return;
        if (!kernels.divide_and_test(x, y, o, begin, end)) zero_divisor.store(true, std::memory_order_relaxed);
    });
    if (zero_divisor.load(std::memory_order_relaxed)) {
        divide_through_endpoints(x, y, o, n);
        return {std::move(r), Status::DividedByZero};
    }
    return {std::move(r)};
}

Array add_point(const Array& a, double x) {
    const Number c = exact_number(x);
    return run_here(a, {a.mid(), a.rad(), false}, c.operand(), arithmetic_kernels().add);
}

// x - a as the difference kernel with x repeated: the same doubles as
// negating a and adding x (TwoSum errors and upward sums are symmetric).
Array point_minus(double x, const Array& a) {
    const Number c = exact_number(x);
    return run_here(a, c.operand(), {a.mid(), a.rad(), false}, arithmetic_kernels().subtract);
}

Array multiply_point(const Array& a, double x) {
    const Number c = exact_number(x);
    return run_here(a, {a.mid(), a.rad(), false}, c.operand(), arithmetic_kernels().multiply);
}

// a / c with c an exact divisor: the fast-path quotient with (c, 0) repeated,
// so the residual fma(c, q, -am) is bounded as for array divisors. A zero
// divisor of either sign gives midpoints 0, radii +inf and the flag.
Quotient divide_point(const Array& a, double x) {
    if (x == 0) {
        Array r = Array::uninitialized(a.shape());
        double* m = r.mid_mut();
        double* rad = r.rad_mut();
        for (std::uint64_t i = 0; i < r.size(); ++i) {
            m[i] = 0.0;
            rad[i] = kInfinity;
        }
        return {std::move(r), Status::DividedByZero};
    }
    const Number c{x, 0.0};
    return {run_here(a, {a.mid(), a.rad(), false}, c.operand(), arithmetic_kernels().divide)};
}

// c / a per element with q = fl(c / am): for x in [am - ar, am + ar],
// c/x - q = ((c - q am) - q (x - am)) / x, so |c/x - q| <= (|c - q am| + |q| ar) / g
// with g <= min |x| the end of the outward-rounded enclosure nearest zero.
Quotient point_divide(double x, const Array& a) {
    Array r = Array::uninitialized(a.shape());
    const std::uint64_t n = r.size();
    const double* am = a.mid();
    const double* ar = a.rad();
    double* om = r.mid_mut();
    double* orad = r.rad_mut();
    Status flags = Status::None;
    for (std::uint64_t i = 0; i < n; ++i) {
        const Endpoints e = to_endpoints(am[i], ar[i]);
        if (e.lo <= 0 && 0 <= e.hi) {
            om[i] = 0.0;
            orad[i] = kInfinity;
            flags = Status::DividedByZero;
            continue;
        }
        const double q = x / am[i];
        const double residual = is_finite(q) ? quotient_error(x, am[i], q) : kInfinity;
        const double g = e.lo > 0 ? e.lo : -e.hi;
        const double rad = div_up(add_up(residual, mul_up(ar[i], std::fabs(q))), g);
        om[i] = q;
        orad[i] = std::isnan(rad) ? kInfinity : rad;
    }
    return {std::move(r), flags};
}

Array negate(const Array& a) {
    Array r = Array::uninitialized(a.shape());
    if (r.size()) arithmetic_kernels().negate(a.mid(), a.rad(), output(r), r.size());
    return r;
}

}  // namespace boundwise
