// Running an element kernel of the arithmetic family over a whole result:
// operands that meet it element for element, as one repeated element, or
// through a broadcast walk, and operands that are the output itself (in-place
// writes). Every output element is computed by the kernel from its own operand
// elements, so the bits do not depend on how the work is split.
#pragma once

#include <cstdint>

#include "boundwise/array/array.hpp"
#include "boundwise/kernels/arithmetic.hpp"
#include "boundwise/layout/broadcast_walk.hpp"

namespace boundwise {

// How one operand meets the result.
enum class Pairing {
    Flat,    // element i with result element i
    Single,  // its one element with every result element
    Walked,  // through the job's broadcast walk
};

struct JobOperand {
    const double* mid;
    const double* rad;
    Pairing pairing;
    // The operand is the output buffer itself (a op= b): each block of it is
    // read before the kernel writes there. Only a Flat operand can be.
    bool is_output = false;
};

struct BinaryJob {
    JobOperand a;
    JobOperand b;
    KernelOutput out;
    std::uint64_t n = 0;
    // Set when some operand is Walked.
    const BroadcastWalk* walk = nullptr;
};

// Where the job runs: on the pool (chunks of kArithmeticChunk from
// kParallelThreshold elements on) or on the calling thread.
enum class Schedule { Pool, CallingThread };

// An element kernel and, where it has one, its in-place form (a op= b with
// a's elements read from the output), used when operand a is the output.
// Without it, an operand that is the output is read into scratch block by
// block before the kernel writes the block.
struct KernelForms {
    KernelForms(BinaryKernel plain_form, BinaryKernel in_place_form = nullptr)  // NOLINT(google-explicit-constructor)
        : plain(plain_form), in_place(in_place_form) {}
    BinaryKernel plain;
    BinaryKernel in_place;
};

void run_binary(KernelForms kernel, const BinaryJob& job, Schedule schedule = Schedule::Pool);

// The pairing of x with a result of n > 0 elements to whose shape x broadcasts.
inline Pairing pairing_of(const Array& x, std::uint64_t n) {
    return x.size() == n ? Pairing::Flat : x.size() == 1 ? Pairing::Single : Pairing::Walked;
}

inline JobOperand job_operand(const Array& x, std::uint64_t n) { return {x.mid(), x.rad(), pairing_of(x, n)}; }

}  // namespace boundwise
