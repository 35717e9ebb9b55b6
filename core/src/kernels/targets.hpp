// The kernel tables each target file exports, one function per family, and
// everything those files include before their target pragma: headers with
// inline functions of external linkage must be compiled for the baseline only,
// or the linker could keep an AVX2 copy for every caller.
#pragma once

#include <immintrin.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundwise/interval/rounding.hpp"
#include "boundwise/elementwise/functions.hpp"
#include "boundwise/elementwise/hull.hpp"
#include "boundwise/elementwise/rules.hpp"
#include "boundwise/kernels/arithmetic.hpp"
#include "boundwise/kernels/compare.hpp"
#include "boundwise/kernels/reduce.hpp"
#include "../reduce/accumulate.hpp"
#include "boundwise/kernels/element_functions.hpp"
#include "boundwise/kernels/layout.hpp"
#include "boundwise/interval/endpoints.hpp"

namespace boundwise {

namespace baseline {
const ArithmeticKernels& arithmetic() noexcept;
const CompareKernels& compare() noexcept;
const ReduceKernels& reduce() noexcept;
const ElementKernels& element_functions() noexcept;
const LayoutKernels& layout() noexcept;
}  // namespace baseline

// Only to be called on a processor with AVX2 and FMA.
namespace avx2 {
const ArithmeticKernels& arithmetic() noexcept;
const CompareKernels& compare() noexcept;
const ReduceKernels& reduce() noexcept;
const ElementKernels& element_functions() noexcept;
const LayoutKernels& layout() noexcept;
}  // namespace avx2

// Only to be called on a processor with AVX-512 F and DQ, AVX2 and FMA.
namespace avx512 {
const ArithmeticKernels& arithmetic() noexcept;
const ReduceKernels& reduce() noexcept;
}  // namespace avx512

}  // namespace boundwise
