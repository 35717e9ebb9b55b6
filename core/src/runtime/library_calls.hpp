// Calls into the BLAS and LAPACK library, kept apart from the process exit.
//
// The library frees its work buffers from a destructor of its own when the
// process exits, while a thread that the interpreter never joins (a daemon
// thread, or a pool worker running its product) may still be inside a call
// using them. Every call therefore holds a LibraryCall: the first one
// registers an exit handler, which runs before the library's destructor
// (handlers registered later run earlier, and library destructors run last),
// marks the library closed and waits for the calls in flight to return. A
// call that starts after that waits for the process to end instead.
#pragma once

namespace boundwise {

class LibraryCall {
public:
    LibraryCall() noexcept;
    ~LibraryCall();
    LibraryCall(const LibraryCall&) = delete;
    LibraryCall& operator=(const LibraryCall&) = delete;
};

}  // namespace boundwise
