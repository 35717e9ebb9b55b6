// Processors with AVX2 and FMA: four-lane vectors for every family and the
// hardware fused multiply-add. Everything after the target pragma is compiled
// for AVX2 + FMA; the rounding primitives come in before it (through
// targets.hpp, so their cold paths stay baseline code) and are inlined here,
// where fma becomes one instruction.
#include "targets.hpp"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

#include "arithmetic-inl.hpp"
#include "compare-inl.hpp"
#include "element-inl.hpp"
#include "layout-inl.hpp"
#include "reduce-inl.hpp"

namespace boundwise::avx2 {
const ArithmeticKernels& arithmetic() noexcept { return arithmetic_table<lanes::Avx2>; }
const CompareKernels& compare() noexcept { return compare_table<lanes::Avx2>; }
const ElementKernels& element_functions() noexcept { return element_table<lanes::Avx2>; }
const ReduceKernels& reduce() noexcept { return reduce_table<lanes::Avx2>; }
const LayoutKernels& layout() noexcept { return layout_table<lanes::Avx2>; }
}  // namespace boundwise::avx2

#pragma GCC pop_options
