#include "boundwise/array/storage.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>
#include <string>

#include "boundwise/error.hpp"

namespace boundwise {

// The bookkeeping and the buffer share one block: the header fills the first
// 64-byte line and the midpoints start on the next, so creating an array costs
// one allocation. The block is aligned by hand from a plain malloc: memalign
// returns the unused front of its chunk to the allocator, which then spends
// more time merging those fragments than the arithmetic of a small array takes.
static_assert(sizeof(IntervalStorage) <= 64);

namespace {

// Large buffers ask for transparent huge pages, as NumPy does for its arrays:
// a fresh result is then faulted in (and zeroed by the kernel) 2 MiB at a
// time instead of 4 KiB, which otherwise costs as much as the arithmetic.
void advise_huge_pages(void* block, std::size_t bytes) {
    constexpr std::size_t kThreshold = std::size_t{4} << 20;
    constexpr std::uintptr_t kPage = 4096;
    if (bytes < kThreshold) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kPage - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // advice only
}

}  // namespace

IntervalStorage* IntervalStorage::allocate(std::uint64_t n) {
    if (n > kMaxElements) throw InternalFailure("invalid layout");
    const std::size_t bytes = static_cast<std::size_t>(n) * kIntervalBytes;
    void* block = std::malloc(bytes + 2 * 64);
    if (block == nullptr)
        throw Error(ErrorKind::Memory, "cannot allocate " + std::to_string(bytes) + " bytes for an array of " +
                                           std::to_string(n) + " intervals");
    advise_huge_pages(block, bytes + 2 * 64);
    const auto aligned = (reinterpret_cast<std::uintptr_t>(block) + 63) & ~std::uintptr_t{63};
    auto* storage = new (reinterpret_cast<void*>(aligned)) IntervalStorage();
    storage->block_ = block;
    storage->count_ = n;
    storage->data_ = n ? reinterpret_cast<double*>(aligned + 64) : nullptr;
    return storage;
}

void IntervalStorage::fill_zero() {
    if (count_) std::memset(data_, 0, static_cast<std::size_t>(count_) * kIntervalBytes);
}

void IntervalStorage::copy_values_from(const IntervalStorage& other) {
    if (count_) std::memcpy(data_, other.data_, static_cast<std::size_t>(count_) * kIntervalBytes);
}

void IntervalStorage::release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        void* block = block_;
        this->~IntervalStorage();
        std::free(block);
    }
}

}  // namespace boundwise
