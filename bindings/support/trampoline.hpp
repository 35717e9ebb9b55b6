// The one trampoline: every function, method and slot runs its body through
// guarded(), so no C++ exception ever unwinds into the interpreter.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "support/errors.hpp"

namespace boundwise::py {

// A thread that takes the interpreter lock while the interpreter finalises is
// ended by it (pthread_exit, a forced unwind through our frames). The forced
// unwind cannot cross the noexcept entry points back into the interpreter, so
// such a thread waits for the process to end instead, as later Python
// versions do for every thread in that situation.
[[noreturn]] inline void wait_for_process_end() noexcept {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

// Runs body() (returning a new reference); on any exception sets the Python
// error and returns `failure` (NULL for object slots, -1 for int slots).
template <class Result = PyObject*, class Body>
Result guarded(Body&& body, Result failure = Result{}) noexcept {
    try {
        return body();
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        wait_for_process_end();  // Python code run by body() was ending this thread
#endif
    } catch (...) {
        set_error_from_current_exception();
        return failure;
    }
}

// Releases the interpreter lock for its lifetime. Nothing may touch a Python
// object while it is alive; exceptions re-acquire the lock on the way out.
class ReleasedLock {
public:
    ReleasedLock() : state_(PyEval_SaveThread()) {}
    ~ReleasedLock() {
#if defined(__GLIBCXX__)
        try {
            PyEval_RestoreThread(state_);
        } catch (abi::__forced_unwind&) {
            wait_for_process_end();
        }
#else
        PyEval_RestoreThread(state_);
#endif
    }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;

private:
    PyThreadState* state_;
};

// Below this many elements a computation keeps the interpreter lock: handing
// it over costs more than the work.
inline constexpr std::uint64_t kReleaseLockFrom = 4096;

// compute(), without the interpreter lock from kReleaseLockFrom elements on.
// compute() must not touch Python objects.
template <class Compute>
auto unlocked_if_large(std::uint64_t elements, Compute&& compute) -> decltype(compute()) {
    std::optional<ReleasedLock> unlocked;
    if (elements >= kReleaseLockFrom) unlocked.emplace();
    return compute();
}

}  // namespace boundwise::py
