// The worker pool under concurrent and nested submission: every task runs
// exactly once, worker indices lie below num_threads(), and no two threads
// inside tasks hold the same index at the same time.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "boundwise/runtime/pool.hpp"
#include "harness.hpp"

namespace {

using namespace boundwise;

// Marks which worker indices are inside a task right now; entering an index
// that is already held is a collision.
class Occupancy {
public:
    Occupancy() : held_(num_threads()) {}
    bool enter(std::size_t worker) noexcept {
        if (worker >= held_.size()) return false;
        return held_[worker].fetch_add(1, std::memory_order_acq_rel) == 0;
    }
    void leave(std::size_t worker) noexcept {
        if (worker < held_.size()) held_[worker].fetch_sub(1, std::memory_order_acq_rel);
    }

private:
    std::vector<std::atomic<int>> held_;
};

// A little work, so that tasks overlap.
void spin() noexcept {
    volatile double x = 1.0;
    for (int i = 0; i < 200; ++i) x = x * 1.0000001;
}

struct Counts {
    explicit Counts(std::size_t n) : runs(n) {}
    std::vector<std::atomic<int>> runs;
    bool each_once() const {
        for (const auto& r : runs)
            if (r.load() != 1) return false;
        return true;
    }
};

}  // namespace

BW_TEST(pool, has_workers_to_test_with) {
    // CTest runs this group with RAYON_NUM_THREADS=4.
    CHECK(num_threads() == 4, num_threads());
}

BW_TEST(pool, concurrent_submitters_run_every_task_once_with_distinct_indices) {
    Occupancy occupancy;
    std::atomic<int> collisions{0};
    std::atomic<int> failed_jobs{0};
    constexpr int kSubmitters = 6;
    std::vector<std::thread> submitters;
    for (int s = 0; s < kSubmitters; ++s) {
        submitters.emplace_back([&, s] {
            for (int round = 0; round < 40; ++round) {
                const std::size_t n = std::size_t{1} + static_cast<std::size_t>((s * 37 + round * 11) % 300);
                Counts counts(n);
                auto task = [&](std::size_t i, std::size_t worker) noexcept {
                    if (!occupancy.enter(worker)) collisions.fetch_add(1);
                    spin();
                    counts.runs[i].fetch_add(1);
                    occupancy.leave(worker);
                };
                run_tasks(n, task);
                if (!counts.each_once()) failed_jobs.fetch_add(1);
            }
        });
    }
    for (std::thread& t : submitters) t.join();
    CHECK(collisions.load() == 0, collisions.load());
    CHECK(failed_jobs.load() == 0, failed_jobs.load());
}

BW_TEST(pool, nested_jobs_complete_and_keep_the_submitting_task_index) {
    constexpr std::size_t kOuter = 12;
    constexpr std::size_t kInner = 40;
    Counts outer_counts(kOuter);
    std::vector<std::unique_ptr<Counts>> inner_counts;
    for (std::size_t i = 0; i < kOuter; ++i) inner_counts.push_back(std::make_unique<Counts>(kInner));
    std::atomic<int> problems{0};
    auto outer = [&](std::size_t i, std::size_t worker) noexcept {
        outer_counts.runs[i].fetch_add(1);
        const std::thread::id self = std::this_thread::get_id();
        Occupancy inner_occupancy;  // indices are distinct within the inner job
        auto inner = [&](std::size_t j, std::size_t inner_worker) noexcept {
            if (inner_worker >= num_threads()) problems.fetch_add(1);
            if (std::this_thread::get_id() == self && inner_worker != worker) problems.fetch_add(1);
            if (!inner_occupancy.enter(inner_worker)) problems.fetch_add(1);
            spin();
            inner_counts[i]->runs[j].fetch_add(1);
            inner_occupancy.leave(inner_worker);
        };
        run_tasks(kInner, inner);
    };
    // Two outside threads nest at once.
    std::thread other([&] {
        Counts counts(kOuter);
        auto task = [&](std::size_t i, std::size_t) noexcept {
            Counts inner(kInner);
            auto add = [&](std::size_t j, std::size_t) noexcept { inner.runs[j].fetch_add(1); };
            run_tasks(kInner, add);
            if (!inner.each_once()) problems.fetch_add(1);
            counts.runs[i].fetch_add(1);
        };
        run_tasks(kOuter, task);
        if (!counts.each_once()) problems.fetch_add(1);
    });
    run_tasks(kOuter, outer);
    other.join();
    CHECK(outer_counts.each_once());
    for (std::size_t i = 0; i < kOuter; ++i) CHECK(inner_counts[i]->each_once(), i);
    CHECK(problems.load() == 0, problems.load());
}

BW_TEST(pool, chunks_cover_the_range_once) {
    constexpr std::size_t kThreshold = 1000;
    constexpr std::size_t kChunk = 64;
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, kChunk, kThreshold - 1, kThreshold, kThreshold + 1,
                                10 * kChunk + 1}) {
        Counts counts(n);
        std::atomic<int> calls{0};
        for_each_chunk(n, kThreshold, kChunk, [&](std::size_t begin, std::size_t end) noexcept {
            calls.fetch_add(1);
            for (std::size_t i = begin; i < end; ++i) counts.runs[i].fetch_add(1);
        });
        CHECK(counts.each_once(), n);
        const int expected = n == 0 ? 0 : (n < kThreshold ? 1 : static_cast<int>((n + kChunk - 1) / kChunk));
        CHECK(calls.load() == expected, n, calls.load());
    }
}
