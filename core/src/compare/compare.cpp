#include "boundwise/compare/compare.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "boundwise/error.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/kernels/compare.hpp"
#include "boundwise/layout/broadcast.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

namespace {

[[gnu::always_inline]] inline bool is_nan(double x) { return x != x; }

template <class Kernel>
Kernel pick(const CompareOpKernels<Kernel>& kernels, CompareOp op) {
    switch (op) {
        case CompareOp::Less: return kernels.less;
        case CompareOp::LessEqual: return kernels.less_equal;
        case CompareOp::Equal: return kernels.equal;
        case CompareOp::NotEqual: return kernels.not_equal;
        case CompareOp::Greater: return kernels.greater;
        case CompareOp::GreaterEqual: return kernels.greater_equal;
    }
    throw InternalFailure("invalid compareop");
}

// A mask of n bytes, each chunk written by fill(out, begin, end) on the pool
// from kParallelThreshold elements on.
template <class Fill>
BoolMask build_chunked(std::size_t n, Fill&& fill) {
    return BoolMask::build(n, [&](std::uint8_t* out) {
        for_each_chunk(n, kParallelThreshold, kCompareChunk,
                       [&](std::size_t begin, std::size_t end) noexcept { fill(out, begin, end); });
    });
}

BoolMask compare_ends(const Array& a, CompareEnds ends, CompareOp op) {
    const CompareEndsKernel kernel = pick(compare_kernels().ends, op);
    const double* m = a.mid();
    const double* r = a.rad();
    return build_chunked(a.size(), [&](std::uint8_t* out, std::size_t begin, std::size_t end) {
        kernel(m, r, ends, out, begin, end);
    });
}

template <class Test>
BoolMask classify(const Array& a, Test&& test) {
    const std::size_t n = a.size();
    const double* m = a.mid();
    const double* r = a.rad();
    return BoolMask::build(n, [&](std::uint8_t* out) {
        for (std::size_t i = 0; i < n; ++i) out[i] = test(m[i], r[i]);
    });
}

bool is_nan_element(double m, double r) { return is_nan(m) | is_nan(r); }
bool is_inf_element(double m, double r) { return (std::fabs(m - r) == kInfinity) | (std::fabs(m + r) == kInfinity); }

}  // namespace

BoolMask compare(const Array& a, const Array& b, CompareOp op) {
    const Shape shape = broadcast_result_shape(a, b);
    // Operands of the result's element count, or of one element, are used in
    // place; the others are expanded to the common shape first.
    const std::uint64_t n = checked_product(shape).value_or(0);
    std::optional<Array> expanded_a, expanded_b;
    const Array& left = is_kernel_operand(a, n) ? a : expanded_a.emplace(broadcast_to(a, shape));
    const Array& right = is_kernel_operand(b, n) ? b : expanded_b.emplace(broadcast_to(b, shape));
    if (left.size() == 1 && n != 1) {
        // The repeated element on the left: swap the sides of the test.
        static constexpr CompareOp kMirror[] = {CompareOp::Greater, CompareOp::GreaterEqual, CompareOp::Equal,
                                                CompareOp::NotEqual, CompareOp::Less, CompareOp::LessEqual};
        return compare(right, left, kMirror[static_cast<int>(op)]);
    }
    check_internal(right.size() == n || right.size() == 1, "comparison: length mismatch");
    if (right.size() != n) {
        const Endpoints e = to_endpoints(right.mid()[0], right.rad()[0]);
        return compare_ends(left, {e.lo, e.hi}, op);
    }
    const CompareArraysKernel kernel = pick(compare_kernels().arrays, op);
    const double *am = left.mid(), *ar = left.rad(), *bm = right.mid(), *br = right.rad();
    return build_chunked(n, [&](std::uint8_t* out, std::size_t begin, std::size_t end) {
        kernel(am, ar, bm, br, out, begin, end);
    });
}

BoolMask compare(const Array& a, double x, CompareOp op) { return compare_ends(a, {x, x}, op); }

// With no double strictly between below and above, a double d satisfies
// d < X exactly when d <= below and d > X exactly when d >= above, so each
// test of the table becomes one on fixed ends: <= and >= take the near end,
// every other test the far one.
BoolMask compare_between(const Array& a, double below, double above, CompareOp op) {
    const double blo = op == CompareOp::LessEqual ? below : above;
    const double bhi = op == CompareOp::GreaterEqual ? above : below;
    return compare_ends(a, {blo, bhi}, op);
}

BoolMask nan_mask(const Array& a) { return classify(a, is_nan_element); }
BoolMask inf_mask(const Array& a) { return classify(a, is_inf_element); }
BoolMask finite_mask(const Array& a) {
    return classify(a, [](double m, double r) { return !is_nan_element(m, r) & !is_inf_element(m, r); });
}

}  // namespace boundwise
