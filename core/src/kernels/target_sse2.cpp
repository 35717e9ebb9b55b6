// The kernels for the x86-64 baseline: two-lane SSE2 vectors for sums,
// differences and quotient midpoints; multiplication and quotient radii one
// element at a time (fma is a library call without the FMA extension).
#include "arithmetic-inl.hpp"
#include "targets.hpp"

namespace boundwise {

namespace {

using lanes::V2;

void add_sse2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    binary_layouts<V2>(a, b, o, begin, end, AddOp{});
}
void subtract_sse2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    binary_layouts<V2>(a, b, o, begin, end, SubtractOp{});
}
void multiply_sse2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    multiply_layouts<double>(a, b, o, begin, end);
}
void divide_sse2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    divide_layouts<V2, double>(a, b, o, begin, end);
}
void negate_sse2(const double* mid, const double* rad, KernelOutput o, std::size_t n) {
    negate_loop<V2>(mid, rad, o, n);
}

}  // namespace

ArithmeticKernels baseline_kernels() {
    return {add_sse2, subtract_sse2, multiply_sse2, divide_sse2, negate_sse2};
}

}  // namespace boundwise
