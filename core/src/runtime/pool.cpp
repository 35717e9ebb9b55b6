#include "boundwise/runtime/pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace boundwise {

namespace {

constexpr std::size_t kNoIndex = static_cast<std::size_t>(-1);
constexpr std::size_t kSubmitterIndex = 0;

// The worker index of this thread: fixed for a pool thread, kSubmitterIndex
// while an outside thread holds the submitter slot, kNoIndex otherwise.
thread_local std::size_t t_worker_index = kNoIndex;

// How long a thread that runs out of work keeps polling before it blocks on a
// condition variable: a worker for the next job, a submitter for the workers
// still inside its job. Element-wise jobs on large arrays take a millisecond
// or less, a sleeping thread tens of microseconds to wake, and calls tend to
// come in runs, so a short poll keeps the pool's speed-up on such jobs.
constexpr auto kWorkerPoll = std::chrono::microseconds(200);
constexpr auto kSubmitterPoll = std::chrono::microseconds(100);

// Polls `done` until it holds or `limit` has passed; whether it held.
template <class Done>
bool poll(Done done, std::chrono::microseconds limit) noexcept {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done()) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= until) return done();
        std::this_thread::yield();
    }
}

// One submitted job. It lives on the submitter's stack; workers reach it only
// through the pool's queue and announce themselves in `active` (changed under
// the pool mutex; a worker's decrement releases its writes), so the
// submitter returns only once no worker holds it.
struct Job {
    TaskRef task;
    std::size_t n_tasks;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> active{0};  // workers inside this job
    Job* later = nullptr;                // queue link; guarded by the pool mutex

    Job(TaskRef t, std::size_t n) : task(t), n_tasks(n) {}

    // Claims and runs tasks, as worker `worker`, until none is left.
    void work(std::size_t worker) noexcept {
        for (std::size_t i = next.fetch_add(1, std::memory_order_relaxed); i < n_tasks;
             i = next.fetch_add(1, std::memory_order_relaxed))
            task(i, worker);
    }
    bool exhausted() const { return next.load(std::memory_order_relaxed) >= n_tasks; }
};

class Pool {
public:
    explicit Pool(std::size_t threads) : threads_(threads) {}

    // Starts threads_ - 1 workers, with indices 1, 2, ... (index 0 is the
    // submitter slot), with all signals blocked, so signals reach the
    // interpreter's threads.
    void start() {
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        std::size_t started = 1;
        for (; started < threads_; ++started) {
            try {
                std::thread([this, started] { worker_loop(started); }).detach();
            } catch (...) {
                break;
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        threads_ = started;
    }

    std::size_t threads() const { return threads_; }

    // Held by an outside thread for the whole of its submission.
    std::mutex& submitter_slot() { return submitter_slot_; }

    void run(std::size_t n_tasks, TaskRef task, std::size_t worker) {
        Job job(task, n_tasks);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (tail_) tail_->later = &job; else head_ = &job;
            tail_ = &job;
            posted_.fetch_add(1, std::memory_order_relaxed);
        }
        work_ready_.notify_all();
        job.work(worker);
        std::unique_lock<std::mutex> lock(mutex_);
        unlink(&job);
        if (job.active.load(std::memory_order_relaxed) != 0) {
            // Unlinked, so no worker joins any more; those inside finish a chunk each.
            lock.unlock();
            poll([&] { return job.active.load(std::memory_order_acquire) == 0; }, kSubmitterPoll);
            lock.lock();
        }
        job_done_.wait(lock, [&] { return job.active.load(std::memory_order_acquire) == 0; });
        // The workers' writes happen before their release decrement of `active`.
    }

private:
    void unlink(Job* job) {
        Job* prev = nullptr;
        for (Job* j = head_; j; prev = j, j = j->later) {
            if (j != job) continue;
            (prev ? prev->later : head_) = j->later;
            if (tail_ == j) tail_ = prev;
            j->later = nullptr;
            return;
        }
    }

    [[noreturn]] void worker_loop(std::size_t index) {
        t_worker_index = index;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            while (head_ && head_->exhausted()) unlink(head_);
            if (!head_) {
                // A job posted meanwhile is in the queue when the lock is
                // taken again, so no notification can be missed.
                const std::uint64_t seen = posted_.load(std::memory_order_relaxed);
                lock.unlock();
                const bool posted = poll([&] { return posted_.load(std::memory_order_relaxed) != seen; }, kWorkerPoll);
                lock.lock();
                if (!posted && !head_) work_ready_.wait(lock);
                continue;
            }
            Job* job = head_;
            job->active.fetch_add(1, std::memory_order_relaxed);
            lock.unlock();
            job->work(index);
            lock.lock();
            // Nothing of the job is touched after this decrement.
            if (job->active.fetch_sub(1, std::memory_order_release) == 1) job_done_.notify_all();
        }
    }

    std::size_t threads_;
    std::mutex submitter_slot_;
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable job_done_;
    std::atomic<std::uint64_t> posted_{0};  // jobs ever queued, for polling workers
    Job* head_ = nullptr;
    Job* tail_ = nullptr;
};

// A positive decimal integer (an optional leading '+' as Rust's parser
// accepts), or 0 for anything else.
std::size_t positive_integer(const char* text) {
    if (!text) return 0;
    if (*text == '+') ++text;
    if (!*text) return 0;
    std::size_t value = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9') return 0;
        const std::size_t digit = static_cast<std::size_t>(*text - '0');
        if (value > (static_cast<std::size_t>(-1) - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}

std::size_t available_processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<std::size_t>(count);
    }
    const unsigned hw = std::thread::hardware_concurrency();
    return hw ? hw : 1;
}

std::size_t configured_threads() {
    if (std::size_t n = positive_integer(std::getenv("RAYON_NUM_THREADS"))) return n;
    if (std::size_t n = positive_integer(std::getenv("RAYON_RS_NUM_CPUS"))) return n;
    return available_processors();
}

// The pool is leaked on purpose: destroying it from a static destructor would
// race with workers still parked on its condition variable at process exit.
std::atomic<Pool*> g_pool{nullptr};
std::mutex g_create_mutex;

// fork() copies only the calling thread: the child must not use the parent's
// pool (its workers are gone and its mutex may be held). The creation mutex is
// held across fork so that the child never inherits it locked.
void before_fork() { g_create_mutex.lock(); }
void after_fork_parent() { g_create_mutex.unlock(); }
void after_fork_child() {
    g_pool.store(nullptr, std::memory_order_relaxed);
    g_create_mutex.unlock();
}

Pool& pool() {
    Pool* p = g_pool.load(std::memory_order_acquire);
    if (p) return *p;
    std::lock_guard<std::mutex> lock(g_create_mutex);
    p = g_pool.load(std::memory_order_acquire);
    if (p) return *p;
    static const bool registered = [] {
        pthread_atfork(before_fork, after_fork_parent, after_fork_child);
        return true;
    }();
    (void)registered;
    p = new Pool(configured_threads());
    p->start();
    g_pool.store(p, std::memory_order_release);
    return *p;
}

// The worker index of the submitting thread for one run_tasks call: its own
// index when it already has one (a pool thread, or a nested submission),
// otherwise the submitter slot, held until the call returns.
class SubmitterIndex {
public:
    explicit SubmitterIndex(Pool& p) : index_(t_worker_index) {
        if (index_ != kNoIndex) return;
        slot_ = &p.submitter_slot();
        slot_->lock();
        index_ = t_worker_index = kSubmitterIndex;
    }
    ~SubmitterIndex() {
        if (!slot_) return;
        t_worker_index = kNoIndex;
        slot_->unlock();
    }
    SubmitterIndex(const SubmitterIndex&) = delete;
    SubmitterIndex& operator=(const SubmitterIndex&) = delete;

    std::size_t index() const { return index_; }

private:
    std::size_t index_;
    std::mutex* slot_ = nullptr;
};

}  // namespace

std::size_t num_threads() { return pool().threads(); }

void run_tasks(std::size_t n_tasks, TaskRef task) {
    if (n_tasks == 0) return;
    Pool& p = pool();
    const SubmitterIndex submitter(p);
    if (n_tasks == 1 || p.threads() == 1) {
        for (std::size_t i = 0; i < n_tasks; ++i) task(i, submitter.index());
        return;
    }
    p.run(n_tasks, task, submitter.index());
}

}  // namespace boundwise
