// The loops of the element-wise functions: a scalar element rule applied to
// every element, on the calling thread or in fixed chunks on the pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <type_traits>


#include "boundwise/array/array.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/kernels/element_functions.hpp"
#include "boundwise/kernels/streaming.hpp"
#include "boundwise/layout/broadcast.hpp"
#include "boundwise/runtime/pool.hpp"
#include "boundwise/status.hpp"

namespace boundwise::elementwise {

enum class Dispatch { Here, Pool };

// Runs chunk(begin, end) -> Status over [0, n): with Dispatch::Pool in chunks
// of kUnaryChunk from kParallelThreshold elements on, else on the calling
// thread. Returns the flags of all chunks merged.
template <class Chunk>
Status run_chunks(std::uint64_t n, Dispatch dispatch, Chunk chunk) {
    std::atomic<std::uint32_t> merged{0};
    auto task = [&](std::size_t begin, std::size_t end) noexcept {
        const Status flags = chunk(begin, end);
        if (flags != Status::None) merged.fetch_or(static_cast<std::uint32_t>(flags), std::memory_order_relaxed);
    };
    if (dispatch == Dispatch::Pool) {
        for_each_chunk(n, kParallelThreshold, kUnaryChunk, task);
    } else if (n) {
        task(0, n);
    }
    return static_cast<Status>(merged.load(std::memory_order_relaxed));
}

// Applies rule(m, r, flags) -> Interval to every element of a. With
// Dispatch::Pool, arrays from kParallelThreshold elements on run in chunks of
// kUnaryChunk; every element depends on its own input only, so the result is
// the same for any number of threads. Flags set by any element are merged.
template <class Rule>
Result<Array> map_elements(const Array& a, Rule rule, Dispatch dispatch) {
    static_assert(std::is_nothrow_invocable_r_v<Interval, Rule&, double, double, Status&>,
                  "element rules run on pool workers and must not throw");
    Array out = Array::uninitialized(a.shape());
    const std::uint64_t n = a.size();
    const double* am = a.mid();
    const double* ar = a.rad();
    double* om = out.mid_mut();
    double* orad = out.rad_mut();
    const Status flags = run_chunks(n, dispatch, [&](std::size_t begin, std::size_t end) noexcept {
        Status found = Status::None;
        for (std::size_t i = begin; i < end; ++i) {
            const Interval v = rule(am[i], ar[i], found);
            om[i] = v.mid;
            orad[i] = v.rad;
        }
        return found;
    });
    return {std::move(out), flags};
}

// Runs kernel(mid, rad, out, n) -> Status over the elements of a in chunks,
// as map_elements does with a rule.
template <class Kernel>
Result<Array> map_chunks(const Array& a, Dispatch dispatch, Kernel kernel) {
    Array out = Array::uninitialized(a.shape());
    const double* am = a.mid();
    const double* ar = a.rad();
    double* om = out.mid_mut();
    double* orad = out.rad_mut();
    const Status flags = run_chunks(a.size(), dispatch, [&](std::size_t begin, std::size_t end) noexcept {
        return kernel(am + begin, ar + begin, KernelOutput{om + begin, orad + begin}, end - begin);
    });
    return {std::move(out), flags};
}

// Runs the element kernel `kernel` of the selected table over a, like
// map_elements: with Dispatch::Pool in chunks of kUnaryChunk from
// kParallelThreshold elements on.
inline Result<Array> map_kernel(const Array& a, ElementKernel ElementKernels::*kernel, Dispatch dispatch) {
    const ElementKernels& table = element_kernels();
    return map_chunks(a, dispatch, (streams_results(a.size()) ? *table.streaming : table).*kernel);
}

// Applies rule(am, ar, bm, br, flags) -> Interval to the element pairs of a and
// b, broadcast to `out` (each operand has product(out) elements or exactly
// one, which is repeated), in chunks on the pool like map_elements.
template <class Rule>
Result<Array> map_pairs(const Array& a, const Array& b, const Shape& out, Rule rule) {
    static_assert(std::is_nothrow_invocable_r_v<Interval, Rule&, double, double, double, double, Status&>,
                  "element rules run on pool workers and must not throw");
    Array r = Array::uninitialized(out);
    const std::uint64_t step_a = a.size() == 1 ? 0 : 1;
    const std::uint64_t step_b = b.size() == 1 ? 0 : 1;
    const double* am = a.mid();
    const double* ar = a.rad();
    const double* bm = b.mid();
    const double* br = b.rad();
    double* om = r.mid_mut();
    double* orad = r.rad_mut();
    const Status flags = run_chunks(r.size(), Dispatch::Pool, [&](std::size_t begin, std::size_t end) noexcept {
        Status found = Status::None;
        for (std::size_t i = begin; i < end; ++i) {
            const Interval v = rule(am[i * step_a], ar[i * step_a], bm[i * step_b], br[i * step_b], found);
            om[i] = v.mid;
            orad[i] = v.rad;
        }
        return found;
    });
    return {std::move(r), flags};
}

// map_pairs over a and b broadcast together (ValueError for incompatible
// shapes); only an operand that cannot be paired as it is gets expanded.
template <class Rule>
Result<Array> map_broadcast(const Array& a, const Array& b, Rule rule) {
    const Shape out = broadcast_result_shape(a, b);
    const std::uint64_t count = element_count(out);
    std::optional<Array> expanded_a, expanded_b;
    const Array& x = is_kernel_operand(a, count) ? a : expanded_a.emplace(broadcast_to(a, out));
    const Array& y = is_kernel_operand(b, count) ? b : expanded_b.emplace(broadcast_to(b, out));
    return map_pairs(x, y, out, rule);
}

// The pair kernel `kernel` of the selected table over a and b broadcast
// together, like map_broadcast.
inline Result<Array> map_pair_kernel(const Array& a, const Array& b, PairElementKernel ElementKernels::*kernel) {
    const Shape out = broadcast_result_shape(a, b);
    const std::uint64_t count = element_count(out);
    std::optional<Array> expanded_a, expanded_b;
    const Array& x = is_kernel_operand(a, count) ? a : expanded_a.emplace(broadcast_to(a, out));
    const Array& y = is_kernel_operand(b, count) ? b : expanded_b.emplace(broadcast_to(b, out));
    const PairElementKernel run = element_kernels().*kernel;
    Array r = Array::uninitialized(out);
    const KernelOperand kx{x.mid(), x.rad(), x.size() == 1};
    const KernelOperand ky{y.mid(), y.rad(), y.size() == 1};
    const KernelOutput ko{r.mid_mut(), r.rad_mut()};
    const Status flags = run_chunks(r.size(), Dispatch::Pool, [&](std::size_t begin, std::size_t end) noexcept {
        return run(kx, ky, ko, begin, end);
    });
    return {std::move(r), flags};
}

}  // namespace boundwise::elementwise
