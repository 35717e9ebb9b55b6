// The kernel tables of each instruction set; kernels.cpp picks one at run time.
#pragma once

#include "boundwise/kernels/arithmetic.hpp"

namespace boundwise {

ArithmeticKernels baseline_kernels();
// Only to be called on a processor with AVX2 and FMA.
ArithmeticKernels avx2_kernels();

}  // namespace boundwise
