// The x86-64 baseline: two-lane SSE2 vectors, and one element at a time where
// an fma is needed (a library call without the FMA extension).
#include "targets.hpp"

#include "arithmetic-inl.hpp"
#include "compare-inl.hpp"
#include "element-inl.hpp"
#include "layout-inl.hpp"
#include "reduce-inl.hpp"

namespace boundwise::baseline {
const ArithmeticKernels& arithmetic() noexcept { return arithmetic_table<lanes::Baseline>; }
const CompareKernels& compare() noexcept { return compare_table<lanes::Baseline>; }
const ElementKernels& element_functions() noexcept { return element_table<lanes::Baseline>; }
const ReduceKernels& reduce() noexcept { return reduce_table<lanes::Baseline>; }
const LayoutKernels& layout() noexcept { return layout_table<lanes::Baseline>; }
}  // namespace boundwise::baseline
