// Element kernels of the one-operand element functions, on flat midpoint and
// radius sequences. A kernel computes elements [0, n) and returns the status
// flags its elements raised; any split into chunks gives the same bits.
//
// Every target's table computes exactly the scalar reference: the element
// rules of elementwise/rules.hpp for abs, the integer roundings, sign,
// nan_to_num, sqrt, maximum, minimum, clip and integer powers, and the
// one-lane instance of the vectorised exp, ln, sin,
// cos and tan (sin, cos and tan fall back on their rules outside the range
// their lanes cover). The selected table is used (see dispatch.hpp).
#pragma once

#include <cstddef>

#include "boundwise/kernels/arithmetic.hpp"
#include "boundwise/kernels/dispatch.hpp"
#include "boundwise/status.hpp"

namespace boundwise {

using ElementKernel = Status (*)(const double* mid, const double* rad, KernelOutput out, std::size_t n) noexcept;
// Element pairs over [begin, end), an operand with `single` set repeated.
using PairElementKernel = Status (*)(KernelOperand a, KernelOperand b, KernelOutput out, std::size_t begin,
                                     std::size_t end) noexcept;
using ClipKernel = Status (*)(const double* mid, const double* rad, KernelOutput out, std::size_t n, double a_min,
                              double a_max) noexcept;
// x^k for an integer 1 <= |k| < 2^53.
using IntegerPowerKernel = Status (*)(const double* mid, const double* rad, KernelOutput out, std::size_t n,
                                      double k) noexcept;

struct ElementKernels {
    ElementKernel absolute;
    ElementKernel floor;
    ElementKernel ceil;
    ElementKernel trunc;
    ElementKernel round_half_even;
    ElementKernel sign;
    ElementKernel nan_to_num;
    ElementKernel sqrt;
    ElementKernel exp;
    ElementKernel ln;
    ElementKernel sin;
    ElementKernel cos;
    ElementKernel tan;
    PairElementKernel maximum;
    PairElementKernel minimum;
    ClipKernel clip;
    IntegerPowerKernel integer_power;
    // The same kernels writing their results with non-temporal stores, for
    // results too large to stay in the cache (null in that twin itself).
    const ElementKernels* streaming;
};

// The table of `target`; the baseline one when the processor lacks `target`.
const ElementKernels& element_kernels(Target target) noexcept;
// The table of selected_target().
const ElementKernels& element_kernels() noexcept;

}  // namespace boundwise
