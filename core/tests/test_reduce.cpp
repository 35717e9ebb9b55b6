// The block kernels of the reductions of every target against the steps they
// stand for, bit for bit: running sums from states at the edges of their
// binades over midpoints that tie, cross those edges, overflow or are NaN, and
// rounded extremes of ends with non-finite elements. A kernel may decline
// (take fewer elements), but what it takes must be exactly what the steps give;
// over well-behaved blocks it must take everything.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "kernels/targets.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "reduce/accumulate.hpp"

#include "harness.hpp"
#include "values.hpp"

namespace {

using namespace boundwise;
using bwtest::bits;
using bwtest::kInf;
using bwtest::kNaN;

std::vector<const ReduceKernels*> target_tables() {
    std::vector<const ReduceKernels*> tables;
    for (const Target t : kAllTargets)
        if (target_supported(t)) tables.push_back(&reduce_kernels(t));
    return tables;
}

// The same double; NaNs count as one (which NaN an addition of two NaNs
// returns depends on the order in which the compiler hands them over, and a
// NaN sum is reported as NaN whatever its bits).
bool same(double x, double y) { return bits(x) == bits(y) || (std::isnan(x) && std::isnan(y)); }

// Sizes around the vector widths, the 64-bit masks and the block length.
constexpr std::size_t kSizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 31, 32, 33, 63, 64, 65, 130};

// A running value near an edge of its binade, or anywhere in it.
double near_edge(bwtest::Values& v, int exponent) {
    const double low = std::ldexp(1.0, exponent);
    const double unit = std::ldexp(1.0, exponent - 52);
    switch (v.below(3)) {
        case 0: return low + static_cast<double>(v.below(40)) * unit;
        case 1: return 2 * low - static_cast<double>(1 + v.below(40)) * unit;
        default: return low * (1 + v.unit());
    }
}

struct Block {
    std::vector<double> mid;
    std::vector<double> rad;
};

// Midpoints on a lattice near that of s (ties included), at a scale where a
// few dozen of them move s across its binade, with specials now and then.
Block block_for(bwtest::Values& v, double s, std::size_t n, int scale, bool specials) {
    int exponent = 0;
    std::frexp(s, &exponent);
    const double unit = std::ldexp(1.0, exponent - 53);
    Block b;
    for (std::size_t i = 0; i < n; ++i) {
        double m = v.sign() * std::ldexp(static_cast<double>(v.below(1 << 12)), scale - 10) * unit;
        if (v.below(4) == 0) m += v.sign() * 0.5 * unit;  // a tie in the lattice of s
        if (specials && v.below(40) == 0) {
            const double odd[] = {kNaN, kInf, -kInf, bwtest::kMax, 0x1p-1074, -0.0, v.finite()};
            m = odd[v.below(7)];
        }
        const double radii[] = {0.0, -0.0, 1e-12, std::fabs(m) * 0x1p-40, 0x1p-1074, v.unit() * unit};
        double r = radii[v.below(6)];
        if (specials && v.below(40) == 0) r = v.below(2) ? kNaN : kInf;
        b.mid.push_back(m);
        b.rad.push_back(r);
    }
    return b;
}

BW_TEST(reduce, sum_blocks_take_exactly_the_steps) {
    // One block in four holds small midpoints (ties among them) from the middle
    // of a binade and radii far below the radius bound: nothing leaves the
    // binade, so the kernel must take all of it.
    for (const ReduceKernels* table : target_tables()) {
        bwtest::Values v(7);
        for (int trial = 0; trial < 6000; ++trial) {
            const bool inside = trial % 4 == 3;
            const bool specials = !inside && trial % 3 == 0;
            const int exponent = static_cast<int>(v.below(160)) - 100;  // inside: r below 2^52
            const double s = v.sign() * (inside ? std::ldexp(1.25 + v.unit() / 2, exponent)
                                                : near_edge(v, static_cast<int>(v.below(200)) - 100));
            const double r_states[] = {0.0, near_edge(v, -30), near_edge(v, static_cast<int>(v.below(80)) - 60),
                                       0x1p-1000, 0x1p60, kInf, kNaN};
            const double r = inside ? std::ldexp(1.25 + v.unit() / 2, exponent - 20 - static_cast<int>(v.below(20)))
                                    : r_states[v.below(7)];
            const std::size_t n = kSizes[inside ? 1 + v.below(std::size(kSizes) - 1) : v.below(std::size(kSizes))];
            Block b = block_for(v, s, n, static_cast<int>(v.below(inside ? 30 : 56)), specials);
            if (inside)
                for (double& x : b.rad) x = r * 0x1p-70 * v.unit();
            SumState state{s, r};
            const std::size_t in_lattice = table->add_to_sum(state, b.mid.data(), b.rad.data(), n);
            reduce::RunningSum steps{s, r};
            for (std::size_t i = 0; i < n; ++i) steps.add(b.mid[i], b.rad[i]);
            CHECK((inside ? in_lattice == n : in_lattice <= n) && same(state.s, steps.s) && same(state.r, steps.r),
                  "trial", trial, "s", s, "r", r, "n", n, in_lattice, state.s, steps.s, state.r, steps.r);
        }
    }
}

BW_TEST(reduce, sum_blocks_follow_long_random_walks) {
    // The running sum of uniform midpoints wanders across binades and ties
    // often once s is large; block after block against the steps.
    for (const ReduceKernels* table : target_tables()) {
        bwtest::Values v(11);
        reduce::RunningSum steps{1000.0, 0.0};
        SumState state{1000.0, 0.0};
        std::vector<double> mid(200000);
        std::vector<double> rad(mid.size());
        for (std::size_t i = 0; i < mid.size(); ++i) {
            mid[i] = std::ldexp(std::floor(v.unit() * 0x1p20), -19) - 1.0;
            rad[i] = i % 7 == 0 ? 0.0 : 1e-12;
        }
        std::size_t in_lattice = 0;
        for (std::size_t i = 0; i < mid.size(); i += 64) {
            const std::size_t n = std::min<std::size_t>(64, mid.size() - i);
            in_lattice += table->add_to_sum(state, &mid[i], &rad[i], n);
            for (std::size_t k = i; k < i + n; ++k) steps.add(mid[k], rad[k]);
            if (!same(state.s, steps.s) || !same(state.r, steps.r)) {
                CHECK(false, "block", i, state.s, steps.s, state.r, steps.r);
                break;
            }
        }
        CHECK(in_lattice * 10 > mid.size() * 9, "elements in lattices", in_lattice);
    }
}

// The reference of the rounded ends: m - r and m + r to nearest, extremes
// taken MAXPD-style (a NaN end is passed over), finiteness of everything.
template <bool kLargest>
bool reference_ends(RoundedEnds& ends, const std::vector<double>& m, const std::vector<double>& r) {
    bool finite = true;
    for (std::size_t i = 0; i < m.size(); ++i) {
        const double lo = m[i] - r[i];
        const double hi = m[i] + r[i];
        finite &= std::isfinite(lo) && std::isfinite(hi) && std::isfinite(m[i]) && std::isfinite(r[i]);
        if (kLargest ? lo > ends.lo : lo < ends.lo) ends.lo = lo;
        if (kLargest ? hi > ends.hi : hi < ends.hi) ends.hi = hi;
    }
    return finite;
}

BW_TEST(reduce, rounded_ends_and_midpoint_extremes) {
    for (const ReduceKernels* table : target_tables()) {
        bwtest::Values v(3);
        for (int trial = 0; trial < 3000; ++trial) {
            const std::size_t n = kSizes[v.below(std::size(kSizes))];
            std::vector<double> m(n);
            std::vector<double> r(n);
            for (std::size_t i = 0; i < n; ++i) {
                m[i] = v.below(30) ? v.finite() : (v.below(2) ? kNaN : v.sign() * kInf);
                r[i] = v.below(30) ? std::fabs(v.finite()) : (v.below(2) ? kNaN : kInf);
            }
            const double start = v.below(2) ? v.finite() : (trial % 2 ? -kInf : kInf);
            RoundedEnds got_max{start, start};
            RoundedEnds want_max{start, start};
            const bool finite = reference_ends<true>(want_max, m, r);
            // Widths summing past DBL_MAX may make a finite block decline too.
            const bool modest = std::all_of(m.begin(), m.end(), [](double x) { return std::fabs(x) < 0x1p1000; }) &&
                                std::all_of(r.begin(), r.end(), [](double x) { return x < 0x1p1000; });
            if (table->largest_ends(got_max, m.data(), r.data(), n)) {
                CHECK(finite && got_max.lo == want_max.lo && got_max.hi == want_max.hi, trial, n);
            } else {
                CHECK(!(finite && modest), trial, n);
            }
            RoundedEnds got_min{start, start};
            RoundedEnds want_min{start, start};
            reference_ends<false>(want_min, m, r);
            if (table->smallest_ends(got_min, m.data(), r.data(), n))
                CHECK(got_min.lo == want_min.lo && got_min.hi == want_min.hi, trial, n);
            double largest = start;
            double smallest = start;
            for (const double x : m) {
                largest = x > largest ? x : largest;
                smallest = x < smallest ? x : smallest;
            }
            CHECK(table->largest_midpoint(start, m.data(), n) == largest, trial, n);
            CHECK(table->smallest_midpoint(start, m.data(), n) == smallest, trial, n);
        }
    }
}

// The scalar steps the lane kernels stand for: EndpointSum::add of
// to_endpoints, and Extreme::add.
void add_ends_step(double m, double r, double& lo, double& hi) {
    const Endpoints x = to_endpoints(m, r);
    lo = add_down_clamped(lo, x.lo);
    hi = add_up_clamped(hi, x.hi);
}

template <bool kLargest>
void extreme_step(double m, double r, double& lo, double& hi) {
    if (std::isnan(r)) return;
    const Endpoints x = r == kInf ? Endpoints{-kInf, kInf} : to_endpoints(m, r);
    if (std::isnan(x.lo)) return;
    if (kLargest ? x.lo > lo : x.lo < lo) lo = x.lo;
    if (kLargest ? x.hi > hi : x.hi < hi) hi = x.hi;
}

BW_TEST(reduce, lane_folds_take_exactly_the_steps) {
    using Step = void (*)(double, double, double&, double&);
    for (const Target target : kAllTargets) {
        if (!target_supported(target)) continue;
        const ReduceKernels& table = reduce_kernels(target);
        const std::pair<LaneFoldKernel, Step> folds[] = {{table.add_lane_ends, add_ends_step},
                                                         {table.largest_lane_ends, extreme_step<true>},
                                                         {table.smallest_lane_ends, extreme_step<false>}};
        bwtest::Values v(13);
        for (int trial = 0; trial < 400; ++trial) {
            const std::size_t count = kSizes[v.below(std::size(kSizes))] % 40;  // two vectors of 8 lanes and more
            // Long lanes of clustered values: endpoint sums that go through lattices.
            const bool clustered = trial % 4 == 0;
            const std::size_t length = clustered ? 250 + v.below(300) : 1 + v.below(12);
            const bool contiguous_lanes = v.below(2) != 0;  // lanes side by side, or one after another
            const std::size_t step = contiguous_lanes ? count + v.below(3) : 1;
            const std::size_t lane_stride = contiguous_lanes ? 1 : length + v.below(3);
            const std::size_t size = count * lane_stride + length * step + 1;
            std::vector<double> m(size);
            std::vector<double> r(size);
            for (std::size_t i = 0; i < size; ++i) {
                m[i] = v.below(12) ? (clustered ? v.sign() * (1.0 + v.unit()) : v.finite())
                                   : (v.below(2) ? kNaN : v.sign() * kInf);
                const double radii[] = {0.0, -0.0, std::fabs(m[i]) * 0x1p-30, std::fabs(v.finite()), kInf, kNaN};
                r[i] = clustered && v.below(50) ? radii[v.below(3)] : radii[v.below(6)];
            }
            // Sums start finite (0 in use), extremes also from their infinite starts.
            const double starts[] = {0.0, v.finite(), -bwtest::kMax, -kInf, kInf};
            for (const auto& [fold, one_step] : folds) {
                const double start = starts[v.below(fold == table.add_lane_ends ? 3 : 5)];
                std::vector<double> lo(count, start);
                std::vector<double> hi(count, start);
                fold(lo.data(), hi.data(), m.data(), r.data(), count, lane_stride, length, step);
                for (std::size_t g = 0; g < count; ++g) {
                    double want_lo = start;
                    double want_hi = start;
                    for (std::size_t j = 0; j < length; ++j)
                        one_step(m[g * lane_stride + j * step], r[g * lane_stride + j * step], want_lo, want_hi);
                    CHECK(bits(lo[g]) == bits(want_lo) && bits(hi[g]) == bits(want_hi), target_name(target), trial,
                          "lane", g, lo[g], want_lo, hi[g], want_hi);
                }
            }
        }
    }
}

// The scalar steps of add_squares: the outward ends, their deviation from the
// mean, its square as the general endpoint product, and the directed sums.
void squares_steps(double& lo, double& hi, Endpoints mean, double m, double r) {
    const Endpoints x = to_endpoints(m, r);
    const Endpoints d{add_down_clamped(x.lo, -mean.hi), add_up_clamped(x.hi, -mean.lo)};
    const Endpoints q = mul_endpoints(d, d);
    lo = add_down_clamped(lo, q.lo);
    hi = add_up_clamped(hi, q.hi);
}

BW_TEST(reduce, squared_deviations_take_exactly_the_steps) {
    // Clustered data (sums that stay in their binades, deviations holding 0),
    // tiny deviations (products near the subnormals), overflow and specials,
    // over sizes around the vector width and the block of 256.
    constexpr std::size_t kLengths[] = {0, 1, 3, 4, 5, 255, 256, 257, 700};
    for (const ReduceKernels* table : target_tables()) {
        bwtest::Values v(17);
        for (int trial = 0; trial < 600; ++trial) {
            const std::size_t n = kLengths[v.below(std::size(kLengths))];
            const int kind = static_cast<int>(v.below(4));
            const double centre = kind == 2 ? 0x1p-500 : v.finite();
            std::vector<double> m(n);
            std::vector<double> r(n);
            for (std::size_t i = 0; i < n; ++i) {
                const double spread = kind == 0 ? 1.0 : std::ldexp(1.0, static_cast<int>(v.below(60)) - 30);
                m[i] = kind == 3 ? v.finite() : centre + std::fabs(centre) * spread * (v.unit() - 0.5) * 0x1p-20;
                r[i] = v.below(3) ? 0.0 : std::fabs(m[i]) * v.unit() * 0x1p-25;
                if (v.below(300) == 0) m[i] = v.below(2) ? kNaN : v.sign() * kInf;
                if (v.below(300) == 0) r[i] = v.below(2) ? kNaN : kInf;
                if (kind == 3 && v.below(10) == 0) m[i] = v.sign() * bwtest::kMax;
            }
            const double c = v.below(4) ? centre : 0.0;
            const Endpoints mean = c == 0.0 ? Endpoints{0.0, 0.0} : Endpoints{pred(c), c};
            double lo = 0.0;
            double hi = 0.0;
            table->add_squares(lo, hi, mean.lo, mean.hi, m.data(), r.data(), n);
            double want_lo = 0.0;
            double want_hi = 0.0;
            for (std::size_t i = 0; i < n; ++i) squares_steps(want_lo, want_hi, mean, m[i], r[i]);
            CHECK(same(lo, want_lo) && same(hi, want_hi), "trial", trial, "n", n, lo, want_lo, hi, want_hi);
            // The same elements as lanes side by side, each lane with a mean of its own.
            const std::size_t count = 1 + v.below(9);
            const std::size_t length = n / count;
            std::vector<double> means_lo(count);
            std::vector<double> means_hi(count);
            for (std::size_t g = 0; g < count; ++g) {
                const bool own = g < n && v.below(2);
                means_lo[g] = own ? m[g] - 1.0 : mean.lo;
                means_hi[g] = own ? m[g] : mean.hi;
                if (!(means_lo[g] <= means_hi[g])) means_lo[g] = means_hi[g] = 0.0;
            }
            std::vector<double> lane_lo(count, 0.0);
            std::vector<double> lane_hi(count, 0.0);
            table->add_lane_squares(lane_lo.data(), lane_hi.data(), means_lo.data(), means_hi.data(), m.data(),
                                    r.data(), count, length, count);
            for (std::size_t g = 0; g < count; ++g) {
                double l = 0.0;
                double h = 0.0;
                for (std::size_t j = 0; j < length; ++j)
                    squares_steps(l, h, {means_lo[g], means_hi[g]}, m[j * count + g], r[j * count + g]);
                CHECK(same(lane_lo[g], l) && same(lane_hi[g], h), "trial", trial, "lane", g, lane_lo[g], l);
            }
        }
    }
}

}  // namespace
