// Element kernels of the interval arithmetic, on flat midpoint and radius
// sequences. Each kernel computes elements [begin, end) of its output and
// touches nothing else, so any split into chunks gives the same bits.
//
// The variant for the running processor (AVX2 + FMA, or the SSE2 baseline) is
// chosen once per process; every variant computes exactly the scalar reference.
#pragma once

#include <cstddef>

namespace boundwise {

// One operand: its midpoints and radii, either one per output element or a
// single element paired with every output element.
struct KernelOperand {
    const double* mid;
    const double* rad;
    bool single;
};

struct KernelOutput {
    double* mid;
    double* rad;
};

using BinaryKernel = void (*)(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                              std::size_t end);

struct ArithmeticKernels {
    BinaryKernel add;
    BinaryKernel subtract;
    BinaryKernel multiply;
    // The fast path of division: every divisor must exclude zero (or be a
    // single exact non-zero number). Midpoint pass, then radius pass.
    BinaryKernel divide;
    // Midpoints negated (sign bit flipped), radii copied.
    void (*negate)(const double* mid, const double* rad, KernelOutput out, std::size_t n);
};

const ArithmeticKernels& arithmetic_kernels();

}  // namespace boundwise
