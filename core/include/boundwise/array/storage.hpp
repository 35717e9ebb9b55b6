// IntervalStorage: one 64-byte-aligned buffer of n midpoints followed by n radii,
// shared between arrays through an atomic reference count (copy-on-write).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace boundwise {

// Bytes of one element: its midpoint and its radius.
inline constexpr std::size_t kIntervalBytes = 2 * sizeof(double);

// Largest element count: kIntervalBytes * n must not exceed 2^63 - 64.
inline constexpr std::uint64_t kMaxElements = 576460752303423484ULL;
static_assert(kMaxElements * kIntervalBytes <= (std::uint64_t{1} << 63) - 64);

class IntervalStorage {
public:
    // Allocates room for n elements, contents uninitialised. n = 0 allocates
    // nothing. Throws InternalFailure("invalid layout") above kMaxElements and
    // Error(Memory) when the allocation cannot be satisfied.
    static IntervalStorage* allocate(std::uint64_t n);

    double* midpoints() { return data_; }
    double* radii() { return data_ + count_; }
    const double* midpoints() const { return data_; }
    const double* radii() const { return data_ + count_; }

    // Every midpoint and radius set to +0.
    void fill_zero();
    // The midpoints and radii of `other`, which holds as many elements.
    void copy_values_from(const IntervalStorage& other);

    void retain() { refs_.fetch_add(1, std::memory_order_relaxed); }
    void release();
    // Acquire load: a buffer that other threads just stopped sharing is seen
    // with all their reads finished before this thread writes to it.
    bool is_unique() const { return refs_.load(std::memory_order_acquire) == 1; }

private:
    IntervalStorage() = default;
    ~IntervalStorage() = default;
    std::atomic<std::uint64_t> refs_{1};
    std::uint64_t count_ = 0;
    double* data_ = nullptr;
    void* block_ = nullptr;  // what malloc returned
};

// Owning handle with value semantics (copy = share).
class StorageHandle {
public:
    StorageHandle() = default;
    explicit StorageHandle(IntervalStorage* adopted) : p_(adopted) {}
    StorageHandle(const StorageHandle& o) : p_(o.p_) { if (p_) p_->retain(); }
    StorageHandle(StorageHandle&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    StorageHandle& operator=(StorageHandle o) noexcept { std::swap(p_, o.p_); return *this; }
    ~StorageHandle() { if (p_) p_->release(); }

    IntervalStorage* get() const { return p_; }
    IntervalStorage* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    IntervalStorage* p_ = nullptr;
};

}  // namespace boundwise
