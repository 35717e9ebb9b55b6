// The layout family against endpoint_round_trip, bit for bit: the round-trip
// kernel of every target on runs of elements that take each vector form
// (narrow, ordinary, redone one by one), out of place with guard values and in
// place; and the tiled, pooled transpose against the plain double loop, for
// shapes around the tile and the pooled regions.
#include <vector>

#include "kernels/targets.hpp"

#include "boundwise/array/array.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/kernels/layout.hpp"
#include "harness.hpp"
#include "values.hpp"

namespace {

using namespace boundwise;
using bwtest::bits;
using bwtest::kInf;
using bwtest::kMax;
using bwtest::kNaN;

constexpr std::size_t kGuards = 8;
constexpr std::uint64_t kGuardBits = 0x7FF4DEADBEEF0001;  // a signalling NaN no kernel produces

struct Parts {
    std::vector<double> mid;
    std::vector<double> rad;
};

// Runs of 1 to 12 elements from one family: narrow (0 <= r <= |m|/4, below
// 2^1020), ordinary (below 2^1021, any radius) or special (NaN, infinities,
// ends that overflow).
Parts runs(std::size_t n, std::uint64_t seed) {
    bwtest::Values v(seed);
    Parts p;
    while (p.mid.size() < n) {
        const std::uint64_t family = v.below(4);
        for (std::uint64_t k = 1 + v.below(12); k > 0 && p.mid.size() < n; --k) {
            double m = v.finite();
            while (std::fabs(m) >= 0x1p1020) m *= 0x1p-8;
            double r = 0;
            if (family <= 1) {
                const double narrow[] = {0.0, -0.0, std::fabs(m) * 0.25, std::fabs(m) * 0.25 * v.unit(),
                                         std::fabs(m) * 0x1p-40, 0x1p-1074};
                r = narrow[v.below(6)];
            } else if (family == 2) {
                const double wide[] = {std::fabs(m), std::fabs(m) * 0.25 * (1 + 0x1p-52), v.unit(), 0x1p1020};
                r = wide[v.below(4)];
                if (v.below(4) == 0) m = v.below(2) ? 0x1p1020 : -0x1p1021 + 0x1p968;
            } else {
                const double ms[] = {kNaN, m, kInf, -kInf, kMax, -kMax, 0x1p1021, m};
                const double rs[] = {0.0, kNaN, 0.0, 1.0, 1e292, kMax, 1.0, kInf};
                const std::uint64_t pick = v.below(8);
                m = ms[pick];
                r = rs[pick];
            }
            p.mid.push_back(m);
            p.rad.push_back(r);
        }
    }
    return p;
}

std::vector<const LayoutKernels*> target_tables() {
    std::vector<const LayoutKernels*> tables;
    for (const Target t : kAllTargets)
        if (target_supported(t)) tables.push_back(&layout_kernels(t));
    return tables;
}

void check_element(double got_m, double got_r, double m, double r, const std::string& where) {
    const Interval want = endpoint_round_trip(m, r);
    CHECK(bits(got_m) == bits(want.mid) && bits(got_r) == bits(want.rad), where, "m", m, "r", r, "got", got_m,
          got_r, "want", want.mid, want.rad);
}

BW_TEST(layout, round_trip_kernels_match_the_reference) {
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 9; ++n) sizes.push_back(n);
    for (const std::size_t n : {31, 32, 33, 4096}) sizes.push_back(n);
    for (const LayoutKernels* table : target_tables()) {
        for (const std::size_t n : sizes) {
            const Parts in = runs(n, 100 + n);
            std::vector<double> om(n + 2 * kGuards, bwtest::from_bits(kGuardBits));
            std::vector<double> orad = om;
            table->round_trip(in.mid.data(), in.rad.data(), om.data() + kGuards, orad.data() + kGuards, n);
            Parts same = in;  // in place: the output is the input
            table->round_trip(same.mid.data(), same.rad.data(), same.mid.data(), same.rad.data(), n);
            for (std::size_t i = 0; i < n; ++i) {
                check_element(om[kGuards + i], orad[kGuards + i], in.mid[i], in.rad[i], bwtest::describe("n", n, "i", i));
                check_element(same.mid[i], same.rad[i], in.mid[i], in.rad[i], bwtest::describe("in place n", n, "i", i));
            }
            for (std::size_t g = 0; g < kGuards; ++g) {
                CHECK(bits(om[g]) == kGuardBits && bits(om[kGuards + n + g]) == kGuardBits, "mid guard", n, g);
                CHECK(bits(orad[g]) == kGuardBits && bits(orad[kGuards + n + g]) == kGuardBits, "rad guard", n, g);
            }
        }
    }
}

BW_TEST(layout, transpose_matches_the_plain_loop) {
    const std::uint64_t shapes[][2] = {{1, 1},   {1, 33},  {33, 1},    {2, 3},   {31, 31}, {32, 32}, {33, 33},
                                       {31, 65}, {64, 33}, {520, 130}, {0, 5},   {5, 0},   {1, 40000}};
    for (const auto& [rows, cols] : shapes) {
        // The input's columns hold the runs: they become the rows that the kernel meets.
        const Parts runs_t = runs(rows * cols, rows * 7 + cols);
        Parts in{std::vector<double>(rows * cols), std::vector<double>(rows * cols)};
        for (std::uint64_t i = 0; i < rows; ++i) {
            for (std::uint64_t j = 0; j < cols; ++j) {
                in.mid[i * cols + j] = runs_t.mid[j * rows + i];
                in.rad[i * cols + j] = runs_t.rad[j * rows + i];
            }
        }
        const Array a = Array::from_parts(in.mid, in.rad, {rows, cols});
        const Array t = transpose(a);
        CHECK(t.shape() == Shape({cols, rows}), rows, cols);
        for (std::uint64_t i = 0; i < rows; ++i) {
            for (std::uint64_t j = 0; j < cols; ++j) {
                check_element(t.mid()[j * rows + i], t.rad()[j * rows + i], in.mid[i * cols + j],
                              in.rad[i * cols + j], bwtest::describe("shape", rows, cols, "at", i, j));
            }
        }
    }
}

}  // namespace
