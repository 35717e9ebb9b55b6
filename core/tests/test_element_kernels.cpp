// The element-function kernels of every target against the scalar reference,
// bit for bit: sizes around the widest vector and the chunk size, start
// offsets, groups that take each vector form (narrow, general, redone), and
// guard values around the written range, for the cached and the streamed
// table of every target. The reference of the rule-based entries is the
// element rule itself; the direct sin, cos and tan lanes are also checked
// against their library-based rules.
#include <cmath>
#include <vector>

#include "kernels/targets.hpp"

#include "kernels/element-inl.hpp"  // the scalar reference: element_table<lanes::Scalar>

#include "boundwise/elementwise/rules.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "harness.hpp"
#include "values.hpp"

namespace {

using namespace boundwise;
using bwtest::bits;

constexpr std::size_t kGuards = 8;
constexpr std::uint64_t kGuardBits = 0x7FF4DEADBEEF0001;  // a signalling NaN no kernel produces

using Rule = Interval (*)(double, double, Status&) noexcept;

struct Entry {
    const char* what;
    ElementKernel ElementKernels::*kernel;
    Rule rule;  // null where the reference table is the rule (exp, ln)
};

constexpr Entry kEntries[] = {
    {"abs", &ElementKernels::absolute, elementwise::absolute_rule},
    {"floor", &ElementKernels::floor, elementwise::floor_rule},
    {"ceil", &ElementKernels::ceil, elementwise::ceil_rule},
    {"trunc", &ElementKernels::trunc, elementwise::trunc_rule},
    {"round", &ElementKernels::round_half_even, elementwise::round_half_even_rule},
    {"sign", &ElementKernels::sign, elementwise::sign_rule},
    {"nan_to_num", &ElementKernels::nan_to_num, elementwise::nan_to_num_rule},
    {"sqrt", &ElementKernels::sqrt, elementwise::sqrt_rule},
    {"exp", &ElementKernels::exp, nullptr},
    {"ln", &ElementKernels::ln, nullptr},
    {"sin", &ElementKernels::sin, nullptr},
    {"cos", &ElementKernels::cos, nullptr},
    {"tan", &ElementKernels::tan, nullptr},
};

// Groups of four of one kind: narrow (0 <= r <= |m|/4), wide, points, and
// adversarial values of every magnitude with NaN and infinite radii.
void fill(std::size_t n, std::uint64_t seed, std::vector<double>& mid, std::vector<double>& rad) {
    bwtest::Values v(seed);
    while (mid.size() < n) {
        const std::uint64_t kind = v.below(4);
        const double sign = v.below(2) ? 1.0 : v.sign();
        for (int j = 0; j < 4; ++j) {
            double m = sign * (v.below(2) ? std::ldexp(0.5 + v.unit(), static_cast<int>(v.below(120)) - 60)
                                          : std::fabs(v.finite()));
            double r = 0.0;
            if (kind == 0) r = std::fabs(m) * (v.below(3) ? 0.25 * v.unit() : 0.25);
            if (kind == 1) r = std::fabs(m) * (0.3 + 3 * v.unit());
            if (kind == 3) {
                const double radii[] = {0.0, -0.0, v.unit(), 1e-300, 0x1p-1074, bwtest::kInf, bwtest::kNaN};
                m = v.below(6) ? v.finite() : (v.below(2) ? bwtest::kNaN : v.sign() * bwtest::kInf);
                r = radii[v.below(7)];
            }
            mid.push_back(m);
            rad.push_back(r);
        }
    }
    mid.resize(n);
    rad.resize(n);
}

BW_TEST(kernels, element_functions_match_the_reference) {
    const std::vector<std::size_t> sizes = {0, 1, 2, 3, 4, 5, 7, 8, 9, 63, kUnaryChunk - 1, kUnaryChunk,
                                            kUnaryChunk + 1};
    for (const Entry& e : kEntries)
        for (const std::size_t n : sizes) {
            std::vector<double> mid, rad;
            fill(n, 100 + n, mid, rad);
            std::vector<double> want_mid(n), want_rad(n);
            const Status want_flags = (element_table<lanes::Scalar>.*e.kernel)(mid.data(), rad.data(),
                                                                              {want_mid.data(), want_rad.data()}, n);
            Status rule_flags = Status::None;
            for (std::size_t i = 0; e.rule && i < n; ++i) {
                const Interval v = e.rule(mid[i], rad[i], rule_flags);
                CHECK(bits(v.mid) == bits(want_mid[i]) && bits(v.rad) == bits(want_rad[i]), e.what, mid[i], rad[i]);
            }
            CHECK(!e.rule || rule_flags == want_flags, e.what, n);
            for (const Target t : kAllTargets) {
                if (!target_supported(t)) continue;
                // The cached table and its twin with streamed results, which peels elements up to an
                // aligned midpoint: start offsets and output shifts move both alignments.
                for (const ElementKernels* table : {&element_kernels(t), element_kernels(t).streaming})
                    for (const std::size_t begin : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
                        if (begin > n) continue;
                        const std::size_t shift = kGuards + (n + begin) % 4;
                        std::vector<double> got_mid(n + 2 * kGuards + 4, bwtest::from_bits(kGuardBits));
                        std::vector<double> got_rad(got_mid.size() + begin, got_mid.front());
                        (table->*e.kernel)(mid.data() + begin, rad.data() + begin,
                                           {got_mid.data() + shift, got_rad.data() + shift + begin}, n - begin);
                        for (std::size_t i = 0; i < got_mid.size(); ++i) {
                            const bool written = i >= shift && i < shift + n - begin;
                            const std::size_t k = i - shift + begin;
                            CHECK(bits(got_mid[i]) == (written ? bits(want_mid[k]) : kGuardBits) &&
                                      bits(got_rad[i + begin]) == (written ? bits(want_rad[k]) : kGuardBits),
                                  e.what, target_name(t), table == &element_kernels(t) ? "cached" : "streamed", "n",
                                  n, "begin", begin, "element", i);
                        }
                    }
            }
        }
}

// Arguments near k pi/2 and (2k+1) pi/4 at every scale of the direct range
// and beyond it (2^23), with radii from 0 to past the 2 pi and pi cut-offs.
// Every target gives the reference's bits; each point enclosure of the direct
// lanes overlaps that of the library-based rule (both hold f(x)).
BW_TEST(kernels, trig_lanes_match_across_targets_and_agree_with_the_rules) {
    const Entry functions[] = {{"sin", &ElementKernels::sin, elementwise::sin_rule},
                              {"cos", &ElementKernels::cos, elementwise::cos_rule},
                              {"tan", &ElementKernels::tan, elementwise::tan_rule}};
    bwtest::Values v(2024);
    std::vector<double> mid, rad;
    const double radii[] = {0.0, 0x1p-52, 1e-9, 0.5, 1.5707963267948966, 3.2, 6.3, bwtest::kInf};
    for (int i = 0; i < 4096; ++i) {
        const double k = std::floor(std::ldexp(v.unit(), static_cast<int>(v.below(26))));
        const double near = v.below(2) ? k * 1.5707963267948966 : (k + 0.5) * 1.5707963267948966;
        const double x = v.sign() * (v.below(4) ? near + (v.unit() - 0.5) * std::ldexp(1.0, -static_cast<int>(v.below(60)))
                                                : near);
        mid.push_back(x);
        rad.push_back(v.below(2) ? 0.0 : radii[v.below(8)]);
    }
    const std::size_t n = mid.size();
    for (const Entry& f : functions) {
        std::vector<double> want_mid(n), want_rad(n);
        (element_table<lanes::Scalar>.*f.kernel)(mid.data(), rad.data(), {want_mid.data(), want_rad.data()}, n);
        for (std::size_t i = 0; i < n; ++i) {
            if (rad[i] != 0.0) continue;
            Status flags = Status::None;
            const Interval old = f.rule(mid[i], 0.0, flags);
            const bool whole = old.rad == bwtest::kInf || want_rad[i] == bwtest::kInf;
            CHECK(whole || std::fabs(old.mid - want_mid[i]) <= old.rad + want_rad[i], f.what, mid[i], want_mid[i]);
        }
        for (const Target t : kAllTargets) {
            if (!target_supported(t)) continue;
            std::vector<double> got_mid(n), got_rad(n);
            (element_kernels(t).*f.kernel)(mid.data(), rad.data(), {got_mid.data(), got_rad.data()}, n);
            for (std::size_t i = 0; i < n; ++i)
                CHECK(bits(got_mid[i]) == bits(want_mid[i]) && bits(got_rad[i]) == bits(want_rad[i]), f.what,
                      target_name(t), mid[i], rad[i]);
        }
    }
}

}  // namespace
