#include "boundwise/arithmetic/arithmetic.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

#include "boundwise/interval/endpoints.hpp"
#include "boundwise/error.hpp"
#include "boundwise/kernels/arithmetic.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/layout/broadcast.hpp"
#include "binary_runner.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

namespace {

// An operand without elements of its own: a number, or a value read once.
struct Number {
    double mid;
    double rad;
    JobOperand operand() const { return {&mid, &rad, Pairing::Single}; }
};

// An exact number as an element: from_endpoints(x, x), that is x itself with
// radius 0, or NaN with radius +inf.
Number exact_number(double x) {
    const Interval v = from_endpoints(x, x);
    return {v.mid, v.rad};
}

KernelOutput output(Array& r) { return {r.mid_mut(), r.rad_mut()}; }

// The job of a op b writing the n elements of `r`: operands of n elements are
// paired element for element, one-element operands repeated, and any other
// operand (which broadcasts to r's shape) walked without being expanded.
class PairedJob {
public:
    PairedJob(const Array& a, const Array& b, Array& r, const char* message) {
        const std::uint64_t n = r.size();
        job_ = {job_operand(a, n), job_operand(b, n), output(r), n};
        if (n && (job_.a.pairing == Pairing::Walked || job_.b.pairing == Pairing::Walked)) {
            check_internal(broadcast_shape(a.shape(), b.shape()) == r.shape(), message);
            walk_ = plan_broadcast_walk(a.shape(), b.shape(), r.shape());
            job_.walk = &walk_;
        }
        // The target of an in-place form can be an operand as well (a op= a).
        job_.a.is_output = n && a.shares_storage_with(r);
        job_.b.is_output = n && b.shares_storage_with(r);
    }
    PairedJob(const PairedJob&) = delete;
    PairedJob& operator=(const PairedJob&) = delete;

    const BinaryJob& job() const { return job_; }

private:
    BinaryJob job_;
    BroadcastWalk walk_;
};

Array run_paired(const Array& a, const Array& b, const Shape& out, BinaryKernel kernel, const char* message) {
    Array r = Array::uninitialized(out);
    run_binary(kernel, PairedJob(a, b, r, message).job());
    return r;
}

// a op c for an operand c without elements of its own, into `r` (which may be a).
void run_with(const Array& a, const Number& c, bool number_on_left, Array& r, KernelForms kernel) {
    JobOperand x = job_operand(a, a.size());
    x.is_output = a.shares_storage_with(r);
    BinaryJob job{x, c.operand(), output(r), r.size()};
    if (number_on_left) std::swap(job.a, job.b);
    run_binary(kernel, job);
}

Array run_with(const Array& a, const Number& c, bool number_on_left, BinaryKernel kernel) {
    Array r = Array::uninitialized(a.shape());
    run_with(a, c, number_on_left, r, kernel);
    return r;
}

// Division through endpoints, for every element once some divisor contains
// zero: the outward-rounded corner quotients for a divisor excluding zero; a
// divisor containing zero (or NaN) gives the entire line (NaN, +inf).
void divide_through_endpoints(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                              std::size_t end) noexcept {
    for (std::size_t i = begin; i < end; ++i) {
        const std::size_t ia = a.single ? 0 : i;
        const std::size_t ib = b.single ? 0 : i;
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

void check_writable(const Array& a) {
    check_internal(a.has_unique_storage(), "an in-place form needs a buffer of its own");
}

void run_in_place(Array& a, const Array& b, KernelForms kernel, const char* message) {
    check_writable(a);
    run_binary(kernel, PairedJob(a, b, a, message).job());
}

}  // namespace

// The fast path of division needs every divisor to exclude zero under plain
// rounding: fl(bm - br) > 0 or fl(bm + br) < 0 (NaN fails both). Every element
// of a broadcast divisor meets some result element unless the result is
// empty, so scanning the divisor's own elements decides.
bool division_reports_zero(const Array& divisor) {
    return !arithmetic_kernels().divisors_exclude_zero({divisor.mid(), divisor.rad(), false}, 0, divisor.size());
}

Array add(const Array& a, const Array& b, const Shape& out) {
    return run_paired(a, b, out, arithmetic_kernels().add, "array lengths must match for add");
}

Array subtract(const Array& a, const Array& b, const Shape& out) {
    return run_paired(a, b, out, arithmetic_kernels().subtract, "array lengths must match for sub");
}

Array multiply(const Array& a, const Array& b, const Shape& out) {
    return run_paired(a, b, out, arithmetic_kernels().multiply, "array lengths must match for mul");
}

// Operands paired element for element or repeated: each chunk tests its own
// divisors while it divides; once any chunk meets one that contains zero, the
// chunks not yet started are skipped and every element takes the endpoint
// path, as when the whole divisor is scanned first. Returns that verdict.
static bool divide_testing_divisors(const BinaryJob& job) {
    const KernelOperand x{job.a.mid, job.a.rad, job.a.pairing == Pairing::Single};
    const KernelOperand y{job.b.mid, job.b.rad, job.b.pairing == Pairing::Single};
    const ArithmeticKernels& kernels = arithmetic_kernels();
    std::atomic<bool> zero_divisor{false};
    for_each_chunk(job.n, kParallelThreshold, kArithmeticChunk, [&](std::size_t begin, std::size_t end) noexcept {
        if (zero_divisor.load(std::memory_order_relaxed)) return;
        if (!kernels.divide_and_test(x, y, job.out, begin, end)) zero_divisor.store(true, std::memory_order_relaxed);
    });
    return zero_divisor.load(std::memory_order_relaxed);
}

// Once some divisor contains zero the slow path serves every element, on the
// calling thread. A walked (broadcast) operand or an operand that is the
// output scans the divisor first.
Quotient divide(const Array& a, const Array& b, const Shape& out) {
    static constexpr const char* kMessage = "array lengths must match for div";
    Array r = Array::uninitialized(out);
    if (r.size() == 0) return {std::move(r)};
    const PairedJob paired(a, b, r, kMessage);
    const BinaryJob& job = paired.job();
    bool zero_divisor;
    if (job.walk == nullptr && !job.a.is_output && !job.b.is_output) {
        zero_divisor = divide_testing_divisors(job);
    } else {
        zero_divisor = division_reports_zero(b);
        if (!zero_divisor) run_binary(arithmetic_kernels().divide, job);
    }
    if (zero_divisor) {
        run_binary(divide_through_endpoints, job, Schedule::CallingThread);
        return {std::move(r), Status::DividedByZero};
    }
    return {std::move(r)};
}

void add_in_place(Array& a, const Array& b) {
    const ArithmeticKernels& k = arithmetic_kernels();
    run_in_place(a, b, {k.add, k.add_into}, "array lengths must match for add");
}

void subtract_in_place(Array& a, const Array& b) {
    const ArithmeticKernels& k = arithmetic_kernels();
    run_in_place(a, b, {k.subtract, k.subtract_into}, "array lengths must match for sub");
}

void multiply_in_place(Array& a, const Array& b) {
    const ArithmeticKernels& k = arithmetic_kernels();
    run_in_place(a, b, {k.multiply, k.multiply_into}, "array lengths must match for mul");
}

// The caller has ruled out divisors containing zero (division_reports_zero).
void divide_in_place(Array& a, const Array& b) {
    const ArithmeticKernels& k = arithmetic_kernels();
    run_in_place(a, b, {k.divide, k.divide_into}, "array lengths must match for div");
}

Array add_point(const Array& a, double x) {
    return run_with(a, exact_number(x), false, arithmetic_kernels().add);
}

// x - a as the difference kernel with x repeated: the same doubles as
// negating a and adding x (TwoSum errors and upward sums are symmetric).
Array point_minus(double x, const Array& a) {
    return run_with(a, exact_number(x), true, arithmetic_kernels().subtract);
}

Array multiply_point(const Array& a, double x) {
    return run_with(a, exact_number(x), false, arithmetic_kernels().multiply);
}

// a / c with c an exact divisor: the fast-path quotient with (c, 0) repeated,
// so the residual fma(c, q, -am) is bounded as for array divisors. A zero
// divisor of either sign gives midpoints 0, radii +inf and the flag.
Quotient divide_point(const Array& a, double x) {
    if (x == 0) {
        Array r = Array::uninitialized(a.shape());
        std::fill_n(r.mid_mut(), r.size(), 0.0);
        std::fill_n(r.rad_mut(), r.size(), kInfinity);
        return {std::move(r), Status::DividedByZero};
    }
    return {run_with(a, Number{x, 0.0}, false, arithmetic_kernels().divide)};
}

void add_point_in_place(Array& a, double x) {
    check_writable(a);
    run_with(a, exact_number(x), false, a, {arithmetic_kernels().add, arithmetic_kernels().add_into});
}

void multiply_point_in_place(Array& a, double x) {
    check_writable(a);
    run_with(a, exact_number(x), false, a, {arithmetic_kernels().multiply, arithmetic_kernels().multiply_into});
}

void divide_point_in_place(Array& a, double x) {
    check_writable(a);
    check_internal(x != 0, "an in-place division by zero");
    run_with(a, Number{x, 0.0}, false, a, {arithmetic_kernels().divide, arithmetic_kernels().divide_into});
}

// c / a per element (the bound is derived with the kernel); pooled like the
// other number forms.
Quotient point_divide(double x, const Array& a) {
    Array r = Array::uninitialized(a.shape());
    const KernelOperand ka{a.mid(), a.rad(), false};
    const KernelOutput out = output(r);
    const PointDivideKernel kernel = arithmetic_kernels().point_divide;
    std::atomic<bool> zero{false};
    for_each_chunk(r.size(), kParallelThreshold, kArithmeticChunk, [&](std::size_t begin, std::size_t end) noexcept {
        if (kernel(x, ka, out, begin, end)) zero.store(true, std::memory_order_relaxed);
    });
    return {std::move(r), zero.load(std::memory_order_relaxed) ? Status::DividedByZero : Status::None};
}

Array negate(const Array& a) {
    Array r = Array::uninitialized(a.shape());
    if (r.size()) arithmetic_kernels().negate(a.mid(), a.rad(), output(r), r.size());
    return r;
}

}  // namespace boundwise
