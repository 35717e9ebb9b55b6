// How element-wise work is split: below the threshold it runs on the calling
// thread; from it on in chunks of the given size on the pool. Fixed sizes make
// the split, and so every result, independent of the number of threads.
#pragma once

#include <cstddef>

namespace boundwise {

inline constexpr std::size_t kParallelThreshold = 32768;
inline constexpr std::size_t kArithmeticChunk = 8192;
inline constexpr std::size_t kUnaryChunk = 4096;
// Comparisons read 32 bytes and write 1 per element.
inline constexpr std::size_t kCompareChunk = 16384;
// Gathers of selected elements copy 16 bytes per element.
inline constexpr std::size_t kGatherChunk = 16384;

}  // namespace boundwise
