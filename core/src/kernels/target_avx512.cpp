// Processors with AVX-512 (F, DQ and VL) besides AVX2 and FMA: eight-lane
// vectors for the arithmetic and reduction families, where the bounds round
// upward (downward) with one instruction each (static rounding) instead of a
// rounded-to-nearest result and a step. The other families keep their AVX2
// tables: their work is bounded by memory or by code that rounds to nearest.
#include "targets.hpp"

#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512vl,avx2,fma")
// GCC 12 warns inside its own max/min intrinsics, whose unused pass-through
// operand is deliberately left undefined.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "arithmetic-inl.hpp"
#include "reduce-inl.hpp"

namespace boundwise::avx512 {
const ArithmeticKernels& arithmetic() noexcept { return arithmetic_table<lanes::Avx512>; }
const ReduceKernels& reduce() noexcept { return reduce_table<lanes::Avx512>; }
}  // namespace boundwise::avx512

#pragma GCC pop_options
