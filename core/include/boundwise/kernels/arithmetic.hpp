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
// Whether a test holds for every element [begin, end) of an operand (only
// element 0 of a single operand).
using OperandTest = bool (*)(KernelOperand x, std::size_t begin, std::size_t end) noexcept;
// A binary kernel that also returns whether a test held for every element of
// its range.
using TestedKernel = bool (*)(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                              std::size_t end) noexcept;
// Elements [0, n) of a one-operand kernel.
using UnaryKernel = void (*)(const double* mid, const double* rad, KernelOutput out, std::size_t n) noexcept;

// The running midpoint sum s and radius bound r of a dot product of two
// interval vectors of length n, accumulated element by element in order.
struct DotSums {
    double s;
    double r;
};
using DotKernel = DotSums (*)(const double* am, const double* ar, const double* bm, const double* br,
                              std::size_t n) noexcept;

// x / a for an exact number x over elements [begin, end) of a (not single);
// returns whether some element's outward-rounded enclosure holds zero (its
// result is midpoint 0, radius +inf).
using PointDivideKernel = bool (*)(double x, KernelOperand a, KernelOutput out, std::size_t begin,
                                   std::size_t end) noexcept;

struct ArithmeticKernels {
    BinaryKernel add;
    BinaryKernel subtract;
    BinaryKernel multiply;
    // The fast path of division: every divisor must exclude zero (or be a
    // single exact non-zero number). Quotient and radius in one pass.
    BinaryKernel divide;
    // The same, returning divisors_exclude_zero over its range; where that is
    // false the elements it wrote are to be replaced (the endpoint path).
    TestedKernel divide_and_test;
    // Whether every divisor excludes zero under plain rounding:
    // fl(bm - br) > 0 or fl(bm + br) < 0; NaN fails both.
    OperandTest divisors_exclude_zero;
    // a op= b: the kernels above with a's elements read from the output
    // (a.mid == out.mid, a not single); b may be the output as well (a op= a).
    BinaryKernel add_into;
    BinaryKernel subtract_into;
    BinaryKernel multiply_into;
    BinaryKernel divide_into;  // divisors as for divide
    // Midpoints negated (sign bit flipped), radii copied.
    UnaryKernel negate;
    DotKernel dot;
    PointDivideKernel point_divide;
};

// The table of `target`; the baseline one when the processor lacks `target`.
const ArithmeticKernels& arithmetic_kernels(Target target) noexcept;
// The table of selected_target().
const ArithmeticKernels& arithmetic_kernels() noexcept;

}  // namespace boundwise
