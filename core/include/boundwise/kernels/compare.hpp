// Element kernels of the interval comparisons, on flat midpoint and radius
// sequences. Each kernel writes bytes [begin, end) of its output, 1 where the
// test holds and 0 elsewhere, and touches nothing else, so any split into
// chunks gives the same bytes.
//
// An element (m, r) is compared through its outward-rounded ends
// to_endpoints(m, r); every target's table gives exactly the bytes of that
// test (see dispatch.hpp for the choice of table).
#pragma once

#include <cstddef>
#include <cstdint>

#include "boundwise/kernels/dispatch.hpp"

namespace boundwise {

// Fixed ends [lo, hi] of the other operand: a point (lo = hi), the ends of a
// single interval, or the ends that stand for a number between two doubles.
struct CompareEnds {
    double lo;
    double hi;
};

// out[i] = a[i] op b[i].
using CompareArraysKernel = void (*)(const double* am, const double* ar, const double* bm, const double* br,
                                     std::uint8_t* out, std::size_t begin, std::size_t end) noexcept;
// out[i] = a[i] op [b.lo, b.hi].
using CompareEndsKernel = void (*)(const double* am, const double* ar, CompareEnds b, std::uint8_t* out,
                                   std::size_t begin, std::size_t end) noexcept;

// One kernel per operator: < <= == != > >=.
template <class Kernel>
struct CompareOpKernels {
    Kernel less;
    Kernel less_equal;
    Kernel equal;
    Kernel not_equal;
    Kernel greater;
    Kernel greater_equal;
};

struct CompareKernels {
    CompareOpKernels<CompareArraysKernel> arrays;
    CompareOpKernels<CompareEndsKernel> ends;
};

// The table of `target`; the baseline one when the processor lacks `target`.
const CompareKernels& compare_kernels(Target target) noexcept;
// The table of selected_target().
const CompareKernels& compare_kernels() noexcept;

}  // namespace boundwise
