#include "binary_runner.hpp"

#include <algorithm>
#include <cstring>

#include "boundwise/error.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

namespace {

// Elements of one scratch block: 4 KiB of midpoints and radii per operand,
// so a block and its output stay in the first-level cache.
constexpr std::uint64_t kBlock = 256;
// Rows shorter than this are gathered into blocks: below it the call per row
// and the scalar tail of each row cost more than copying the operand.
constexpr std::uint64_t kShortRow = 64;

struct Scratch {
    alignas(64) double mid[kBlock];
    alignas(64) double rad[kBlock];
};

KernelOperand shifted(KernelOperand x, std::uint64_t by) {
    return x.single ? x : KernelOperand{x.mid + by, x.rad + by, false};
}

KernelOutput shifted(KernelOutput o, std::uint64_t by) { return {o.mid + by, o.rad + by}; }

// Four doubles per step: a variable-length memcpy of a block this short is
// expanded into a string move, which is slower than plain vector moves.
void copy_doubles(double* to, const double* from, std::uint64_t count) {
    std::uint64_t i = 0;
    for (; i + 4 <= count; i += 4) std::memcpy(to + i, from + i, 4 * sizeof(double));
    for (; i < count; ++i) to[i] = from[i];
}

// Elements [begin, begin + count) of x copied into the scratch block.
KernelOperand copied(KernelOperand x, std::uint64_t begin, std::uint64_t count, Scratch& scratch) {
    copy_doubles(scratch.mid, x.mid + begin, count);
    copy_doubles(scratch.rad, x.rad + begin, count);
    return {scratch.mid, scratch.rad, false};
}

// The kernel over `count` output elements. The plain kernels take restrict
// pointers, so an operand that is the output goes to the in-place form or,
// for a kernel without one, is read block by block into scratch before the
// kernel writes the block.
void run_segment(KernelForms kernel, KernelOperand x, bool x_is_output, KernelOperand y, bool y_is_output,
                 KernelOutput out, std::uint64_t count) noexcept {
    if (!x_is_output && !y_is_output) {
        kernel.plain(x, y, out, 0, count);
        return;
    }
    if (x_is_output && kernel.in_place) {
        kernel.in_place(x, y, out, 0, count);
        return;
    }
    Scratch sx, sy;
    for (std::uint64_t s = 0; s < count; s += kBlock) {
        const std::uint64_t m = std::min(kBlock, count - s);
        const KernelOperand bx = x_is_output ? copied(x, s, m, sx) : shifted(x, s);
        const KernelOperand by = y_is_output ? copied(y, s, m, sy) : shifted(y, s);
        kernel.plain(bx, by, shifted(out, s), 0, m);
    }
}

KernelOperand whole(const JobOperand& x) { return {x.mid, x.rad, x.pairing == Pairing::Single}; }

// Operand x for the row piece at output offset o and walk offset at.
KernelOperand in_row(const JobOperand& x, std::uint64_t o, std::uint64_t at, bool repeats) {
    switch (x.pairing) {
        case Pairing::Flat: return {x.mid + o, x.rad + o, false};
        case Pairing::Single: return {x.mid, x.rad, true};
        case Pairing::Walked: break;
    }
    return {x.mid + at, x.rad + at, repeats};
}

// Block [s, s + count) of x as the kernel reads it: a walked operand gathered
// row piece by row piece, an operand that is the output copied unless the
// kernel reads it in place.
KernelOperand gathered(const JobOperand& x, bool first, const BroadcastWalk& w, std::uint64_t s,
                       std::uint64_t count, bool in_place, Scratch& scratch) {
    if (x.pairing == Pairing::Single) return whole(x);
    if (x.pairing == Pairing::Flat)
        return x.is_output && !in_place ? copied(whole(x), s, count, scratch) : shifted(whole(x), s);
    const bool repeats = first ? w.a_repeats_in_row() : w.b_repeats_in_row();
    for_each_row(w, s, s + count, [&](std::uint64_t o, std::uint64_t ia, std::uint64_t ib, std::uint64_t length) {
        const std::uint64_t at = first ? ia : ib;
        double* m = scratch.mid + (o - s);
        double* r = scratch.rad + (o - s);
        if (repeats) {
            std::fill_n(m, length, x.mid[at]);
            std::fill_n(r, length, x.rad[at]);
        } else {
            copy_doubles(m, x.mid + at, length);
            copy_doubles(r, x.rad + at, length);
        }
    });
    return {scratch.mid, scratch.rad, false};
}

void run_gathered(KernelForms kernel, const BinaryJob& job, std::uint64_t begin, std::uint64_t end) noexcept {
    const bool in_place = job.a.is_output && kernel.in_place;
    Scratch sa, sb;
    for (std::uint64_t s = begin; s < end; s += kBlock) {
        const std::uint64_t count = std::min(kBlock, end - s);
        const KernelOperand x = gathered(job.a, true, *job.walk, s, count, in_place, sa);
        const KernelOperand y = gathered(job.b, false, *job.walk, s, count, in_place, sb);
        (in_place ? kernel.in_place : kernel.plain)(x, y, shifted(job.out, s), 0, count);
    }
}

// Output elements [begin, end): one kernel call for a flat job, one per row
// piece for long rows, gathered blocks for short ones.
void run_range(KernelForms kernel, const BinaryJob& job, std::uint64_t begin, std::uint64_t end) noexcept {
    const BroadcastWalk* w = job.walk;
    if (w == nullptr) {
        run_segment(kernel, shifted(whole(job.a), begin), job.a.is_output, shifted(whole(job.b), begin),
                    job.b.is_output, shifted(job.out, begin), end - begin);
    } else if (w->row() >= kShortRow) {
        for_each_row(*w, begin, end, [&](std::uint64_t o, std::uint64_t ia, std::uint64_t ib, std::uint64_t length) {
            run_segment(kernel, in_row(job.a, o, ia, w->a_repeats_in_row()), job.a.is_output,
                        in_row(job.b, o, ib, w->b_repeats_in_row()), job.b.is_output, shifted(job.out, o), length);
        });
    } else {
        run_gathered(kernel, job, begin, end);
    }
}

}  // namespace

void run_binary(KernelForms kernel, const BinaryJob& job, Schedule schedule) {
    if (job.n == 0) return;
    check_internal(job.walk != nullptr || (job.a.pairing != Pairing::Walked && job.b.pairing != Pairing::Walked),
                   "a walked operand without a broadcast walk");
    check_internal(!(job.a.is_output && job.a.pairing != Pairing::Flat) &&
                       !(job.b.is_output && job.b.pairing != Pairing::Flat),
                   "only an operand paired element for element can be the output");
    if (schedule == Schedule::CallingThread) {
        run_range(kernel, job, 0, job.n);
        return;
    }
    for_each_chunk(job.n, kParallelThreshold, kArithmeticChunk,
                   [&](std::size_t begin, std::size_t end) noexcept { run_range(kernel, job, begin, end); });
}

}  // namespace boundwise
