#include "boundwise/kernels/streaming.hpp"

#include <cstdio>
#include <initializer_list>

#include <unistd.h>

namespace boundwise {

namespace {

// The size of cache index `index` of cpu0 at `level`, in bytes; 0 if absent.
std::uint64_t sysfs_cache_bytes(int index, int level) noexcept {
    char path[96];
    std::snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/level", index);
    std::FILE* f = std::fopen(path, "r");
    if (!f) return 0;
    int found = 0;
    const bool read_level = std::fscanf(f, "%d", &found) == 1;
    std::fclose(f);
    if (!read_level || found != level) return 0;
    std::snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/size", index);
    f = std::fopen(path, "r");
    if (!f) return 0;
    unsigned long long size = 0;
    char unit = 0;
    const int fields = std::fscanf(f, "%llu%c", &size, &unit);
    std::fclose(f);
    if (fields < 1) return 0;
    if (fields == 2 && unit == 'K') size <<= 10;
    if (fields == 2 && unit == 'M') size <<= 20;
    return size;
}

}  // namespace

std::uint64_t last_level_cache_bytes() noexcept {
    for (const int level : {3, 2})
        for (int index = 0; index < 8; ++index)
            if (const std::uint64_t bytes = sysfs_cache_bytes(index, level)) return bytes;
    long bytes = 0;
#ifdef _SC_LEVEL3_CACHE_SIZE
    bytes = sysconf(_SC_LEVEL3_CACHE_SIZE);
    if (bytes <= 0) bytes = sysconf(_SC_LEVEL2_CACHE_SIZE);
#endif
    return bytes > 0 ? static_cast<std::uint64_t>(bytes) : std::uint64_t{32} << 20;
}

}  // namespace boundwise
