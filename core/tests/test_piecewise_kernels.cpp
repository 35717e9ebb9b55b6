// The endpoint kernels of the element family (maximum, minimum, clip, integer
// powers) of every target against their element rules, bit for bit and with
// the same status flags: every operand layout of the pair kernels, sizes
// around the widest vector, and elements of every kind (signed zeros and ends
// that meet at zero, tiny factors, the edges of the ordinary range, NaN and
// infinite radii).
#include <cmath>
#include <vector>

#include "kernels/targets.hpp"

#include "boundwise/elementwise/rules.hpp"
#include "boundwise/kernels/element_functions.hpp"
#include "harness.hpp"
#include "values.hpp"

namespace {

using namespace boundwise;
using bwtest::bits;
using bwtest::kInf;
using bwtest::kNaN;

struct Column {
    std::vector<double> mid;
    std::vector<double> rad;
};

// Mostly ordinary elements (the vector lanes), one in eight of another kind,
// so that both whole vector groups and redone groups occur.
Column column(std::size_t n, std::uint64_t seed) {
    bwtest::Values v(seed);
    Column c;
    for (std::size_t i = 0; i < n; ++i) {
        double m = v.sign() * std::ldexp(0.5 + v.unit(), static_cast<int>(v.below(40)) - 20);
        double r = std::fabs(m) * (v.below(2) ? 0.25 * v.unit() : 2 * v.unit());
        switch (v.below(16)) {
            case 0: m = v.below(2) ? 0.0 : -0.0; r = v.below(2) ? 0.0 : -0.0; break;
            case 1: r = std::fabs(m); break;  // an end at zero
            case 2: m = v.sign() * std::ldexp(1.0 + v.unit(), static_cast<int>(v.below(8)) - 487); break;
            case 3: m = v.sign() * std::ldexp(1.0 + v.unit(), 1020 - static_cast<int>(v.below(2))); break;
            case 4: r = v.below(2) ? kInf : kNaN; break;
            case 5: m = v.below(2) ? kNaN : v.sign() * kInf; break;
            case 6: m = v.finite(); r = 0.0; break;
            default: break;
        }
        c.mid.push_back(m);
        c.rad.push_back(r);
    }
    return c;
}

template <class Rule>
void check_column(const char* what, std::size_t n, const std::vector<double>& got_mid,
                  const std::vector<double>& got_rad, Status got_flags, Rule rule) {
    Status want_flags = Status::None;
    for (std::size_t i = 0; i < n; ++i) {
        const Interval want = rule(i, want_flags);
        CHECK(bits(got_mid[i]) == bits(want.mid) && bits(got_rad[i]) == bits(want.rad), what, "n", n, "element", i,
              got_mid[i], want.mid, got_rad[i], want.rad);
    }
    CHECK(got_flags == want_flags, what, n);
}

const std::vector<std::size_t> kSizes = {0, 1, 3, 4, 5, 8, 9, 17, 64, 1000};

BW_TEST(kernels, maximum_and_minimum_match_their_rules) {
    struct Pair {
        const char* what;
        PairElementKernel ElementKernels::*kernel;
        Interval (*rule)(double, double, double, double, Status&) noexcept;
    };
    const Pair pairs[] = {{"maximum", &ElementKernels::maximum, elementwise::maximum_rule},
                          {"minimum", &ElementKernels::minimum, elementwise::minimum_rule}};
    for (const Target t : kAllTargets) {
        if (!target_supported(t)) continue;
        for (const Pair& p : pairs)
            for (const std::size_t n : kSizes)
                for (int layout = 0; layout < 4; ++layout) {
                    const bool a_single = layout & 1;
                    const bool b_single = layout & 2;
                    const Column a = column(a_single ? 1 : n, 7 * n + 1);
                    const Column b = column(b_single ? 1 : n, 7 * n + 2);
                    if (n == 0 && (a_single || b_single)) continue;
                    std::vector<double> mid(n), rad(n);
                    const std::size_t half = n / 2;  // two calls: the second starts inside the arrays
                    Status flags = Status::None;
                    for (const auto& [begin, end] : {std::pair{std::size_t{0}, half}, std::pair{half, n}})
                        flags |= (element_kernels(t).*p.kernel)({a.mid.data(), a.rad.data(), a_single},
                                                                {b.mid.data(), b.rad.data(), b_single},
                                                                {mid.data(), rad.data()}, begin, end);
                    check_column(p.what, n, mid, rad, flags, [&](std::size_t i, Status& f) {
                        const std::size_t ia = a_single ? 0 : i;
                        const std::size_t ib = b_single ? 0 : i;
                        return p.rule(a.mid[ia], a.rad[ia], b.mid[ib], b.rad[ib], f);
                    });
                }
    }
}

BW_TEST(kernels, clip_matches_its_rule) {
    const double bounds[][2] = {{0.75, 1.5},    {-1.0, 1.0},   {-0.0, 0.0},      {0.0, 0.0},  {-kInf, 0.0},
                                {0.0, kInf},    {-kInf, kInf}, {2.0, 2.0},       {1e300, 1.7e308},
                                {-bwtest::kMax, bwtest::kMax}, {kNaN, 1.0},      {-1.0, kNaN}};
    for (const Target t : kAllTargets) {
        if (!target_supported(t)) continue;
        for (const auto& [lo, hi] : bounds)
            for (const std::size_t n : kSizes) {
                const Column a = column(n, 11 * n + 3);
                std::vector<double> mid(n), rad(n);
                const Status flags = element_kernels(t).clip(a.mid.data(), a.rad.data(), {mid.data(), rad.data()}, n,
                                                             lo, hi);
                check_column("clip", n, mid, rad, flags, [&](std::size_t i, Status&) {
                    return elementwise::clip_rule(a.mid[i], a.rad[i], lo, hi);
                });
            }
    }
}

BW_TEST(kernels, integer_powers_match_their_rule) {
    const double exponents[] = {1, 2, 3, 4, 5, 6, 7, 8, 11, 16, 31, 64, 101, 1024, 0x1p52 + 1, -1, -2, -3, -8, -101};
    for (const Target t : kAllTargets) {
        if (!target_supported(t)) continue;
        for (const double k : exponents)
            for (const std::size_t n : kSizes) {
                Column a = column(n, 13 * n + 5);
                // Bases near 1 keep high powers inside the range, so the vector lanes are taken.
                for (std::size_t i = 0; i < n; i += 3) a.mid[i] = std::copysign(1.0 + a.rad[i] * 1e-3, a.mid[i]);
                std::vector<double> mid(n), rad(n);
                const Status flags =
                    element_kernels(t).integer_power(a.mid.data(), a.rad.data(), {mid.data(), rad.data()}, n, k);
                check_column("power", n, mid, rad, flags, [&](std::size_t i, Status& f) {
                    return elementwise::power_rule(a.mid[i], a.rad[i], k, f);
                });
            }
    }
}

}  // namespace
