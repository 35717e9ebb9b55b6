// The transpose: a 1-D array as it is, a 2-D array copied into the transposed
// layout with every element passed through the endpoint round trip.
//
// The copy goes tile by tile: a kTile x kTile tile of the input is read as row
// segments into a buffer that stays in the first-level cache, and written out
// from there, through the vectorised round trip, as row segments of the
// output. Both the reads and the writes then use whole cache lines, where the
// plain double loop touches a new line (and often a new page) for every
// element it writes. A result too large for the cache goes out with
// non-temporal stores, so its lines are not read in before they are
// overwritten; a store fence ends each region before the pool reports its
// task done. Every element is computed alone, from its own midpoint
// and radius, so neither the tiling nor the pool changes any bit.
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstddef>
#include <string>

#include "boundwise/array/array.hpp"
#include "boundwise/error.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/kernels/layout.hpp"
#include "boundwise/kernels/streaming.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

namespace {

// Two planes of 32 x 32 doubles: a 16 KiB buffer.
constexpr std::size_t kTile = 32;
constexpr std::size_t kLineDoubles = 8;  // a 64-byte cache line
// Output rows per pool task (whole tiles), and about kRegion elements per
// task: a task moves some 2 MiB in and out.
constexpr std::size_t kBandRows = 4 * kTile;
constexpr std::size_t kRegion = 65536;
// Elements per task where the layout does not change (one row or one column).
constexpr std::size_t kRoundTripChunk = 16384;

struct Matrix {
    const double* mid;
    const double* rad;
    std::size_t rows;
    std::size_t cols;
};

// n doubles to `to` with non-temporal stores (no read of the lines first),
// the element before a 16-byte boundary with a plain one.
void stream_out(double* to, const double* from, std::size_t n) noexcept {
    std::size_t k = 0;
    if (n && (reinterpret_cast<std::uintptr_t>(to) & 15) != 0) {
        to[0] = from[0];
        k = 1;
    }
    for (; k + 2 <= n; k += 2) _mm_stream_pd(to + k, _mm_loadu_pd(from + k));
    if (k < n) to[k] = from[k];
}

// Output rows [j_begin, j_end) and output columns [i_begin, i_end) of the
// transpose of `a` into tm and tr (a.cols x a.rows), tile by tile down each
// band of kTile input columns. A tile is copied into the buffer by columns
// and round-tripped from there into kTile output row segments; the input
// rows of the next tile down are fetched meanwhile (the hardware prefetcher
// does not follow 64 short streams at once).
void transpose_region(const Matrix& a, double* tm, double* tr, std::size_t j_begin, std::size_t j_end,
                      std::size_t i_begin, std::size_t i_end, bool stream) noexcept {
    const RoundTripKernel round_trip = layout_kernels().round_trip;
    alignas(64) double buf_m[kTile * kTile];
    alignas(64) double buf_r[kTile * kTile];
    alignas(64) double seg_m[kTile];
    alignas(64) double seg_r[kTile];
    for (std::size_t j0 = j_begin; j0 < j_end; j0 += kTile) {
        const std::size_t nj = std::min(kTile, j_end - j0);
        for (std::size_t i0 = i_begin; i0 < i_end; i0 += kTile) {
            const std::size_t ni = std::min(kTile, i_end - i0);
            for (std::size_t ii = 0; ii < ni; ++ii) {
                const double* __restrict im = a.mid + (i0 + ii) * a.cols + j0;
                const double* __restrict ir = a.rad + (i0 + ii) * a.cols + j0;
                if (i0 + kTile + ii < i_end) {
                    for (std::size_t k = 0; k < nj; k += kLineDoubles) {
                        __builtin_prefetch(im + kTile * a.cols + k);
                        __builtin_prefetch(ir + kTile * a.cols + k);
                    }
                }
                for (std::size_t jj = 0; jj < nj; ++jj) {
                    buf_m[jj * kTile + ii] = im[jj];
                    buf_r[jj * kTile + ii] = ir[jj];
                }
            }
            for (std::size_t jj = 0; jj < nj; ++jj) {
                const std::size_t at = (j0 + jj) * a.rows + i0;
                if (!stream) {
                    round_trip(buf_m + jj * kTile, buf_r + jj * kTile, tm + at, tr + at, ni);
                    continue;
                }
                round_trip(buf_m + jj * kTile, buf_r + jj * kTile, seg_m, seg_r, ni);
                stream_out(tm + at, seg_m, ni);
                stream_out(tr + at, seg_r, ni);
            }
        }
    }
    if (stream) _mm_sfence();
}

// The whole transpose, over the pool from kParallelThreshold elements on: a
// grid of regions of kBandRows output rows by whole tiles of output columns.
void transpose_matrix(const Matrix& a, double* tm, double* tr) {
    const std::size_t size = a.rows * a.cols;
    const bool stream = streams_results(size);
    if (size < kParallelThreshold) {
        transpose_region(a, tm, tr, 0, a.cols, 0, a.rows, stream);
        return;
    }
    const std::size_t band = std::min(kBandRows, a.cols);
    const std::size_t block = std::max(kTile, (kRegion / band + kTile - 1) / kTile * kTile);
    const std::size_t bands = (a.cols + band - 1) / band;
    const std::size_t blocks = (a.rows + block - 1) / block;
    auto task = [&](std::size_t t, std::size_t) noexcept {
        const std::size_t j = t / blocks * band;
        const std::size_t i = t % blocks * block;
        transpose_region(a, tm, tr, j, std::min(a.cols, j + band), i, std::min(a.rows, i + block), stream);
    };
    run_tasks(bands * blocks, task);
}

}  // namespace

Array transpose(const Array& a) {
    if (a.ndim() == 1) return a;
    if (a.ndim() != 2)
        throw value_error(".transpose only supports 1D and 2D arrays, got " + std::to_string(a.ndim()) + "D");
    const std::uint64_t rows = a.shape()[0], cols = a.shape()[1];
    Array t = Array::uninitialized({cols, rows});
    if (t.size() == 0) return t;  // never walk the other dimension of an empty array
    if (rows == 1 || cols == 1) {  // the same order of elements
        const RoundTripKernel round_trip = layout_kernels().round_trip;
        const double* m = a.mid();
        const double* r = a.rad();
        double* tm = t.mid_mut();
        double* tr = t.rad_mut();
        for_each_chunk(t.size(), kParallelThreshold, kRoundTripChunk,
                       [&](std::size_t begin, std::size_t end) noexcept {
                           round_trip(m + begin, r + begin, tm + begin, tr + begin, end - begin);
                       });
        return t;
    }
    transpose_matrix({a.mid(), a.rad(), rows, cols}, t.mid_mut(), t.rad_mut());
    return t;
}

}  // namespace boundwise
