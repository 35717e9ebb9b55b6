// Element kernels of the interval arithmetic, on flat midpoint and radius
// sequences. Each kernel computes elements [begin, end) of its output and
// touches nothing else, so any split into chunks gives the same bits.
//
// Every target's table computes exactly the scalar reference; the selected
// one is used (see dispatch.hpp).
#pragma once

#include <cstddef>

#include "boundwise/kernels/dispatch.hpp"

namespace boundwise {

// One operand: its midpoints and radii, either one per output element or a
// single element paired with every output element. Only a single operand's
// element 0 is read outside [begin, end); the pointers of an operand without
// elements may be null.
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
                              std::size_t end) noexcept;
// Elements [0, n) of a one-operand kernel.
using UnaryKernel = void (*)(const double* mid, const double* rad, KernelOutput out, std::size_t n) noexcept;

struct ArithmeticKernels {
    BinaryKernel add;
    BinaryKernel subtract;
    BinaryKernel multiply;
    // The fast path of division: every divisor must exclude zero (or be a
    // single exact non-zero number). Midpoint pass, then radius pass.
    BinaryKernel divide;
    // a op= b: the kernels above with a's elements read from the output
    // (a.mid == out.mid, a not single); b may be the output as well (a op= a).
    BinaryKernel add_into;
    BinaryKernel subtract_into;
    BinaryKernel multiply_into;
    // Midpoints negated (sign bit flipped), radii copied.
    UnaryKernel negate;
};

// The table of `target`; the baseline one when the processor lacks `target`.
const ArithmeticKernels& arithmetic_kernels(Target target) noexcept;
// The table of selected_target().
const ArithmeticKernels& arithmetic_kernels() noexcept;

}  // namespace boundwise
