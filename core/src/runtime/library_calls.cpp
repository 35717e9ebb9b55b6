#include "library_calls.hpp"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace boundwise {

namespace {

std::atomic<int> g_in_flight{0};
std::atomic<bool> g_closed{false};

// Both sides write their own flag before they read the other's (sequentially
// consistent), so either the handler sees the call in flight and waits for
// it, or the call sees the library closed and never enters it.
void close_library() {
    g_closed.store(true);
    while (g_in_flight.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

[[noreturn]] void wait_for_process_end() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

}  // namespace

LibraryCall::LibraryCall() noexcept {
    static const bool registered = std::atexit(close_library) == 0;
    (void)registered;
    g_in_flight.fetch_add(1);
    if (g_closed.load()) {
        g_in_flight.fetch_sub(1);
        wait_for_process_end();
    }
}

LibraryCall::~LibraryCall() { g_in_flight.fetch_sub(1); }

}  // namespace boundwise
