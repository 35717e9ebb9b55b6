#include "boundwise/kernels/arithmetic.hpp"

#include "targets.hpp"

namespace boundwise {

namespace {

ArithmeticKernels select_kernels() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return avx2_kernels();
    return baseline_kernels();
}

}  // namespace

const ArithmeticKernels& arithmetic_kernels() {
    static const ArithmeticKernels kernels = select_kernels();
    return kernels;
}

}  // namespace boundwise
