// When a kernel writes its results past the cache.
#pragma once

#include <cstdint>

namespace boundwise {

// The size of one last-level cache in bytes: the level-3 (else level-2) cache
// that the first processor shares, as the kernel describes it in sysfs, else
// as the C library reports it (which may be the sum over all instances), else
// 32 MiB.
std::uint64_t last_level_cache_bytes() noexcept;

// Whether a kernel streams the n results of an array past the cache
// (non-temporal stores): from the size at which operand and result together,
// 32 bytes an element, take three quarters of the last-level cache. Written
// through the cache, such results would evict the operand and each of their
// lines would first be read in. The bits are the same either way.
inline bool streams_results(std::uint64_t n) {
    static const std::uint64_t from = last_level_cache_bytes() / 32 * 3 / 4;
    return n >= from;
}

}  // namespace boundwise
