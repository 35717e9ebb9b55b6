// The process-wide worker pool and the one call through which all parallel
// work runs.
//
// Contract of run_tasks(n_tasks, task):
// - task(i, worker) is called exactly once for every i in [0, n_tasks);
// - the calling thread blocks until every call has returned, and it runs
//   tasks itself while it waits, so a job always completes even when all
//   workers are busy with other jobs (several threads may submit at once,
//   taking turns with index 0 as below, and a task may itself submit a job);
// - tasks may run concurrently, on the workers and on the caller, in any
//   order; each must write only memory that no other task of the job touches;
// - tasks are noexcept (checked when the TaskRef is made: an exception could
//   not cross the pool) and must not touch the Python interpreter;
// - everything a task wrote is visible to the caller when run_tasks returns.
//
// Worker indices, for per-thread scratch space: `worker` < num_threads() names
// the thread that runs the call. Each pool thread has its own fixed index in
// [1, num_threads()). Index 0 belongs to one submitter at a time: a thread
// outside the pool holds it for the whole of its run_tasks call, and another
// outside thread that submits meanwhile first waits for it. A task that
// submits a nested job keeps its thread's index there. So at every moment the
// threads inside tasks, of all jobs together, hold distinct indices; an index
// is reused at once only by one thread's own nested job, whose tasks run while
// the submitting task is suspended on that thread.
//
// The pool is created on first use (run_tasks or num_threads) with
// RAYON_NUM_THREADS threads, else RAYON_RS_NUM_CPUS, else the processors this
// process may run on (values other than positive integers are ignored). It is
// never destroyed; a child process created by fork() builds a new one on first
// use, since the parent's workers do not exist there.
#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>

namespace boundwise {

// Threads that work on one job: the workers plus the submitting thread.
std::size_t num_threads();

// A non-owning reference to a noexcept callable taking a task index and a worker index.
class TaskRef {
public:
    template <class Fn>
        requires(!std::is_same_v<std::remove_cvref_t<Fn>, TaskRef>)
    TaskRef(Fn& fn) noexcept  // NOLINT(google-explicit-constructor)
        : object_(static_cast<void*>(&fn)),
          call_([](void* o, std::size_t i, std::size_t worker) noexcept { (*static_cast<Fn*>(o))(i, worker); }) {
        static_assert(std::is_nothrow_invocable_v<Fn&, std::size_t, std::size_t>,
                      "a pool task is called as task(i, worker) and must be noexcept");
    }

    void operator()(std::size_t i, std::size_t worker) const noexcept { call_(object_, i, worker); }

private:
    void* object_;
    void (*call_)(void*, std::size_t, std::size_t) noexcept;
};

void run_tasks(std::size_t n_tasks, TaskRef task);

// Runs fn(begin, end) over [0, n): once on the calling thread when n is below
// `threshold`, otherwise over the chunks [c * chunk, min((c + 1) * chunk, n))
// through run_tasks. Results equal those of fn(0, n) when fn treats each
// element independently. The sizes are the caller's (kernels/chunking.hpp).
template <class Fn>
void for_each_chunk(std::size_t n, std::size_t threshold, std::size_t chunk, Fn&& fn) {
    static_assert(std::is_nothrow_invocable_v<Fn&, std::size_t, std::size_t>,
                  "a chunk function is called as fn(begin, end) on the pool and must be noexcept");
    if (n < threshold || n <= chunk) {
        if (n) fn(std::size_t{0}, n);
        return;
    }
    auto task = [&](std::size_t c, std::size_t) noexcept { fn(c * chunk, std::min(n, (c + 1) * chunk)); };
    run_tasks((n + chunk - 1) / chunk, task);
}

}  // namespace boundwise
