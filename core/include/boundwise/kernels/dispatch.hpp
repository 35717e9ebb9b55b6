// Instruction-set targets of the element kernels and the choice among them.
//
// Every kernel family (arithmetic, comparisons, reductions, the element
// functions and the layout round trip) has one table of function pointers per target, built from
// one template in the family's shared kernel header, and a function that
// returns the table of the selected target. Adding a family:
//   1. its table struct and `<family>_kernels(Target)` in kernels/<family>.hpp;
//   2. its element operations and `<family>_table<Lanes>` (designated
//      initialisers) in core/src/kernels/<family>-inl.hpp;
//   3. one line per target file (target_sse2.cpp, target_avx2.cpp, and
//      target_avx512.cpp where the family has eight-lane kernels) exporting
//      the table, declared in core/src/kernels/targets.hpp;
//   4. `<family>_kernels` in dispatch.cpp, picking by target.
#pragma once

namespace boundwise {

enum class Target { Baseline, Avx2, Avx512 };

inline constexpr Target kAllTargets[] = {Target::Baseline, Target::Avx2, Target::Avx512};

// "baseline" (SSE2, every x86-64 processor), "avx2" (AVX2 with FMA) or
// "avx512" (AVX-512 F, DQ and VL besides those; eight-lane arithmetic and
// reduction kernels, the AVX2 tables for the other families).
const char* target_name(Target target) noexcept;

// Whether this processor can run the kernels of `target`.
bool target_supported(Target target) noexcept;

// The best target for a processor that has (or lacks) AVX2 with FMA and
// AVX-512, after removing those named in `disabled`: a comma-separated list of
// feature names, case-insensitive, blanks around names ignored ("AVX2" or
// "FMA" rules out both wider targets, "AVX512F", "AVX512DQ" or "AVX512" the
// AVX-512 one; unknown names are ignored). `disabled` may be null.
Target choose_target(bool avx2_supported, bool avx512_supported, const char* disabled) noexcept;

// The target used by the kernel tables: chosen once per process from the
// processor and the environment variable BOUNDWISE_DISABLE_CPU_FEATURES.
Target selected_target() noexcept;

}  // namespace boundwise
