// The kernels for processors with AVX2 and FMA: four-lane vectors for every
// family, and the hardware fused multiply-add. Everything after the target
// pragma, the lane templates and element operations included, is compiled for
// AVX2 + FMA; the rounding primitives come in before it (so their cold paths
// stay baseline code) and are inlined here, where fma becomes one instruction.
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstring>

#include "boundwise/kernels/arithmetic.hpp"
#include "boundwise/interval/rounding.hpp"
#include "targets.hpp"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

#include "arithmetic-inl.hpp"

namespace boundwise {

namespace {

using lanes::V4;

void add_avx2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    binary_layouts<V4>(a, b, o, begin, end, AddOp{});
}
void subtract_avx2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    binary_layouts<V4>(a, b, o, begin, end, SubtractOp{});
}
void multiply_avx2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    multiply_layouts<V4>(a, b, o, begin, end);
}
void divide_avx2(KernelOperand a, KernelOperand b, KernelOutput o, std::size_t begin, std::size_t end) {
    divide_layouts<V4, V4>(a, b, o, begin, end);
}
void negate_avx2(const double* mid, const double* rad, KernelOutput o, std::size_t n) {
    negate_loop<V4>(mid, rad, o, n);
}

}  // namespace

ArithmeticKernels avx2_kernels() {
    return {add_avx2, subtract_avx2, multiply_avx2, divide_avx2, negate_avx2};
}

}  // namespace boundwise

#pragma GCC pop_options
