#include "boundwise/storage.hpp"

#include <cstdlib>
#include <new>
#include <string>

#include "boundwise/error.hpp"

namespace boundwise {

IntervalStorage* IntervalStorage::allocate(std::uint64_t n) {
    if (n > kMaxElements) throw InternalFailure("invalid layout");
    auto* storage = new IntervalStorage();
    storage->count_ = n;
    if (n == 0) return storage;
    void* memory = nullptr;
    const std::size_t bytes = static_cast<std::size_t>(n) * 16;
    if (posix_memalign(&memory, 64, bytes) != 0 || memory == nullptr) {
        delete storage;
        throw Error(ErrorKind::Memory, "cannot allocate " + std::to_string(bytes) + " bytes for an array of " +
                                           std::to_string(n) + " intervals");
    }
    storage->data_ = static_cast<double*>(memory);
    return storage;
}

IntervalStorage::~IntervalStorage() { std::free(data_); }

void IntervalStorage::release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

}  // namespace boundwise
