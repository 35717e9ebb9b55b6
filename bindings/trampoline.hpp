// The one trampoline: every function, method and slot runs its body through
// guarded(), so no C++ exception ever unwinds into the interpreter.
#pragma once

#include "errors.hpp"

namespace boundwise::py {

// Runs body() (returning a new reference); on any exception sets the Python
// error and returns `failure` (NULL for object slots, -1 for int slots).
template <class Result = PyObject*, class Body>
Result guarded(Body&& body, Result failure = Result{}) noexcept {
    try {
        return body();
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
    ~ReleasedLock() { PyEval_RestoreThread(state_); }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;

private:
    PyThreadState* state_;
};

}  // namespace boundwise::py
