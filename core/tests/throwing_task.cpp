// Must not compile: pool tasks and chunk functions that may throw are
// rejected at compile time (CTest expects the static_assert message).
#include <cstddef>

#include "boundwise/runtime/pool.hpp"

void submit_a_throwing_task() {
#if defined(BOUNDWISE_PROBE_CHUNK)
    boundwise::for_each_chunk(10, 1, 2, [](std::size_t, std::size_t) {});
#else
    auto task = [](std::size_t, std::size_t) {};
    boundwise::run_tasks(2, task);
#endif
}
