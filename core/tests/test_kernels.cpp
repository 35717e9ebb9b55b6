// Every kernel of every target against the scalar reference, bit for bit:
// all operand layouts, sizes around the widest vector and the chunk size,
// start offsets, chunked runs, and guard values around the written range
// that must stay untouched. Operands without elements have null pointers.
// The reference itself must enclose the exact result of its midpoints.
#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "kernels/targets.hpp"

#include "kernels/arithmetic-inl.hpp"  // the scalar reference: arithmetic_table<lanes::Scalar>

#include "boundwise/kernels/chunking.hpp"
#include "boundwise/arithmetic/arithmetic.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "exact.hpp"
#include "harness.hpp"
#include "values.hpp"

namespace {

using namespace boundwise;
using bwtest::bits;
using bwtest::kInf;
using bwtest::kNaN;

constexpr std::size_t kWidest = 8;  // lanes of the widest target
constexpr std::size_t kGuards = 8;
constexpr std::uint64_t kGuardBits = 0x7FF4DEADBEEF0001;  // a signalling NaN no kernel produces

const ArithmeticKernels& reference() { return arithmetic_table<lanes::Scalar>; }

std::vector<const ArithmeticKernels*> target_tables() {
    std::vector<const ArithmeticKernels*> tables;
    for (const Target t : kAllTargets)
        if (target_supported(t)) tables.push_back(&arithmetic_kernels(t));
    return tables;
}

std::vector<std::size_t> sizes(std::size_t chunk) {
    std::vector<std::size_t> all;
    for (std::size_t n = 0; n <= 2 * kWidest + 1; ++n) all.push_back(n);
    for (const std::size_t n : {chunk - 1, chunk, chunk + 1, 2 * chunk + 1}) all.push_back(n);
    return all;
}

// Divisor: excludes zero; Exact: radius 0 and a non-zero midpoint (the
// single exact number of the number-operand fast paths).
enum class Role { Any, Divisor, Exact };

struct Column {
    std::vector<double> mid;
    std::vector<double> rad;
    // Null for an empty column, as an empty array's buffer.
    const double* mid_data() const { return mid.empty() ? nullptr : mid.data(); }
    const double* rad_data() const { return rad.empty() ? nullptr : rad.data(); }
};

Column column(std::size_t n, std::uint64_t seed, Role role) {
    bwtest::Values v(seed);
    Column c;
    for (std::size_t i = 0; i < n; ++i) {
        double m = v.below(8) ? v.finite() : (v.below(3) ? kNaN : v.sign() * kInf);
        if (role == Role::Exact && !(m != 0 && m == m)) m = v.nonzero();
        const double radii[] = {0.0, -0.0, std::fabs(m) * 1e-10, v.unit(), 1e-300, 0x1p-1074, kInf, kNaN};
        double r = role == Role::Exact ? 0.0 : radii[v.below(8)];
        if (role == Role::Divisor && !(m - r > 0 || m + r < 0)) {
            m = 1.5 * v.sign();
            r = 0.25;
        }
        c.mid.push_back(m);
        c.rad.push_back(r);
    }
    return c;
}

// An output buffer with guard values before and after the n elements.
struct Output {
    std::vector<double> mid;
    std::vector<double> rad;
    explicit Output(std::size_t n)
        : mid(n + 2 * kGuards, bwtest::from_bits(kGuardBits)), rad(n + 2 * kGuards, bwtest::from_bits(kGuardBits)) {}
    KernelOutput view() { return {mid.data() + kGuards, rad.data() + kGuards}; }
};

// Elements [begin, end) of the output equal to the reference, guards elsewhere.
void check_output(const Output& got, const Output& want, std::size_t begin, std::size_t end, const char* what,
                  std::size_t n) {
    for (std::size_t i = 0; i < got.mid.size(); ++i) {
        const bool written = i >= kGuards + begin && i < kGuards + end;
        const std::uint64_t m = written ? bits(want.mid[i]) : kGuardBits;
        const std::uint64_t r = written ? bits(want.rad[i]) : kGuardBits;
        CHECK(bits(got.mid[i]) == m && bits(got.rad[i]) == r, what, "n", n, "begin", begin, "element",
              static_cast<long>(i) - static_cast<long>(kGuards));
    }
}

using bwtest::Exact;

// Whether [m - r, m + r] holds the exact am op bm (finite values only).
using Encloses = bool (*)(double am, double bm, double m, double r);

bool holds(const Exact& lo, const Exact& x, const Exact& hi) { return lo <= x && x <= hi; }

bool encloses_sum(double am, double bm, double m, double r) {
    return holds(Exact::of(m) - Exact::of(r), Exact::of(am) + Exact::of(bm), Exact::of(m) + Exact::of(r));
}
bool encloses_difference(double am, double bm, double m, double r) {
    return holds(Exact::of(m) - Exact::of(r), Exact::of(am) - Exact::of(bm), Exact::of(m) + Exact::of(r));
}
bool encloses_product(double am, double bm, double m, double r) {
    return holds(Exact::of(m) - Exact::of(r), Exact::product(am, bm), Exact::of(m) + Exact::of(r));
}
// am / bm = A / B with B = |bm| > 0, so m - r <= A / B <= m + r is m B - r B <= A <= m B + r B.
bool encloses_quotient(double am, double bm, double m, double r) {
    const double b = std::fabs(bm);
    const Exact a = Exact::of(bm < 0 ? -am : am);
    return holds(Exact::product(m, b) - Exact::product(r, b), a, Exact::product(m, b) + Exact::product(r, b));
}

struct Layout {
    bool a_single;
    bool b_single;
    Role b_role;
};

void check_reference(const Column& a, bool a_single, const Column& b, bool b_single, const Output& want,
                     std::size_t n, Encloses encloses, const char* what) {
    for (std::size_t i = 0; i < n; ++i) {
        const double am = a.mid[a_single ? 0 : i], ar = a.rad[a_single ? 0 : i];
        const double bm = b.mid[b_single ? 0 : i], br = b.rad[b_single ? 0 : i];
        const double m = want.mid[kGuards + i], r = want.rad[kGuards + i];
        if (!(std::isfinite(am) && std::isfinite(ar) && std::isfinite(bm) && std::isfinite(br) && std::isfinite(m) &&
              std::isfinite(r)))
            continue;
        CHECK(encloses(am, bm, m, r), what, am, bm, m, r);
    }
}

// b_role for a second operand of full length, single_role for a single one.
void check_binary(BinaryKernel ArithmeticKernels::*kernel, const char* what, Role b_role, Role single_role,
                  std::size_t chunk, Encloses encloses) {
    const std::vector<const ArithmeticKernels*> tables = target_tables();
    const Layout layouts[] = {{false, false, b_role}, {true, false, b_role}, {false, true, single_role},
                              {true, true, single_role}};
    for (const Layout& layout : layouts)
        for (const std::size_t n : sizes(chunk)) {
            const Column a = column(layout.a_single ? 1 : n, 10 + n, Role::Any);
            const Column b = column(layout.b_single ? 1 : n, 20 + n, layout.b_role);
            const KernelOperand x{a.mid_data(), a.rad_data(), layout.a_single};
            const KernelOperand y{b.mid_data(), b.rad_data(), layout.b_single};
            Output want(n);
            if (n) (reference().*kernel)(x, y, want.view(), 0, n);
            check_reference(a, layout.a_single, b, layout.b_single, want, n, encloses, what);
            for (const ArithmeticKernels* table : tables) {
                // The whole range, ranges starting inside it, and the chunks of a parallel run.
                for (const std::size_t begin : {std::size_t{0}, std::size_t{1}, std::size_t{3}, chunk}) {
                    if (begin > n) continue;
                    Output got(n);
                    (table->*kernel)(x, y, got.view(), begin, n);
                    check_output(got, want, begin, n, what, n);
                }
                Output chunked(n);
                for (std::size_t start = 0; start < n; start += chunk)
                    (table->*kernel)(x, y, chunked.view(), start, std::min(n, start + chunk));
                check_output(chunked, want, 0, n, what, n);
            }
        }
}

}  // namespace

BW_TEST(kernels, sums_match_the_reference) {
    check_binary(&ArithmeticKernels::add, "add", Role::Any, Role::Any, kArithmeticChunk, encloses_sum);
}

BW_TEST(kernels, differences_match_the_reference) {
    check_binary(&ArithmeticKernels::subtract, "subtract", Role::Any, Role::Any, kArithmeticChunk,
                 encloses_difference);
}

BW_TEST(kernels, products_match_the_reference) {
    check_binary(&ArithmeticKernels::multiply, "multiply", Role::Any, Role::Any, kArithmeticChunk, encloses_product);
    check_binary(&ArithmeticKernels::multiply, "multiply by an exact number", Role::Any, Role::Exact,
                 kArithmeticChunk, encloses_product);
}

BW_TEST(kernels, quotients_match_the_reference) {
    check_binary(&ArithmeticKernels::divide, "divide", Role::Divisor, Role::Divisor, kArithmeticChunk,
                 encloses_quotient);
    check_binary(&ArithmeticKernels::divide, "divide by an exact number", Role::Divisor, Role::Exact,
                 kArithmeticChunk, encloses_quotient);
}

// The running sums of a dot product over columns of every kind (NaN and
// infinite elements, tiny and huge products, signed zeros).
BW_TEST(kernels, dot_sums_match_the_reference) {
    for (const std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64}, std::size_t{999}}) {
        for (std::uint64_t seed = 0; seed < 40; ++seed) {
            const Column a = column(n, 1000 * n + seed, seed % 2 ? Role::Any : Role::Exact);
            const Column b = column(n, 2000 * n + seed, Role::Any);
            const DotSums want = reference().dot(a.mid.data(), a.rad.data(), b.mid.data(), b.rad.data(), n);
            for (const ArithmeticKernels* t : target_tables()) {
                const DotSums got = t->dot(a.mid.data(), a.rad.data(), b.mid.data(), b.rad.data(), n);
                // Any NaN reads as "no value" (the caller returns NaN ends), whatever its sign.
                const auto same = [](double x, double y) { return (x != x && y != y) || bits(x) == bits(y); };
                CHECK(same(got.s, want.s) && same(got.r, want.r), "n", n, "seed", seed, got.r, want.r);
            }
        }
    }
}

// c / a for numbers c of every kind, over elements of every kind (zero
// inside, NaN, infinite radius), in two chunks; the flag too.
BW_TEST(kernels, number_over_array_matches_the_reference) {
    bwtest::Values v(77);
    for (int k = 0; k < 60; ++k) {
        const double c = k < 6 ? std::vector<double>{0.0, -0.0, 1.0, -3.5, 1e-310, bwtest::kMax}[k] : v.finite();
        const std::size_t n = k % 7 == 0 ? 3 : 4 * kWidest + 1 + k;
        const Column a = column(n, 500 + k, k % 3 ? Role::Divisor : Role::Any);
        Output want(n);
        const bool want_zero = reference().point_divide(c, {a.mid.data(), a.rad.data(), false}, want.view(), 0, n);
        for (const ArithmeticKernels* t : target_tables()) {
            Output got(n);
            bool zero = false;
            for (const auto& [begin, end] : {std::pair{std::size_t{0}, n / 3}, std::pair{n / 3, n}})
                zero |= t->point_divide(c, {a.mid.data(), a.rad.data(), false}, got.view(), begin, end);
            CHECK(zero == want_zero, c, n);
            check_output(got, want, 0, n, "point_divide", n);
        }
    }
}

BW_TEST(kernels, negation_matches_the_reference) {
    for (const std::size_t n : sizes(kUnaryChunk)) {
        const Column a = column(n, 30 + n, Role::Any);
        Output want(n);
        if (n) reference().negate(a.mid_data(), a.rad_data(), want.view(), n);
        for (std::size_t i = 0; i < n; ++i)
            CHECK(bits(want.mid[kGuards + i]) == (bits(a.mid[i]) ^ (std::uint64_t{1} << 63)) &&
                      bits(want.rad[kGuards + i]) == bits(a.rad[i]),
                  "negate", a.mid[i]);
        for (const ArithmeticKernels* table : target_tables()) {
            Output got(n);
            table->negate(a.mid_data(), a.rad_data(), got.view(), n);
            check_output(got, want, 0, n, "negate", n);
        }
    }
}

namespace {

// The in-place forms against the plain kernels: a's elements (and b's, for
// a op= a) are the output buffer itself, each range written in place; every
// element outside the range keeps a's own value.
void check_in_place(BinaryKernel ArithmeticKernels::*plain, BinaryKernel ArithmeticKernels::*in_place,
                    const char* what, Role single_role, Role b_role = Role::Any) {
    struct Case {
        bool b_single;
        bool b_is_a;
    };
    for (const Case c : {Case{false, false}, Case{true, false}, Case{false, true}})
        for (const std::size_t n : sizes(kArithmeticChunk))
            for (const std::size_t begin : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
                if (begin > n) continue;
                const Column a = column(n, 60 + n, c.b_is_a ? b_role : Role::Any);
                const Column b = c.b_is_a ? a : column(c.b_single ? 1 : n, 70 + n, c.b_single ? single_role : b_role);
                const KernelOperand x{a.mid_data(), a.rad_data(), false};
                const KernelOperand y{b.mid_data(), b.rad_data(), c.b_single};
                Output want(n);
                std::copy(a.mid.begin(), a.mid.end(), want.mid.begin() + kGuards);
                std::copy(a.rad.begin(), a.rad.end(), want.rad.begin() + kGuards);
                if (n) (reference().*plain)(x, y, want.view(), begin, n);
                for (const ArithmeticKernels* table : target_tables()) {
                    Output got(n);
                    std::copy(a.mid.begin(), a.mid.end(), got.mid.begin() + kGuards);
                    std::copy(a.rad.begin(), a.rad.end(), got.rad.begin() + kGuards);
                    const KernelOutput o = got.view();
                    const KernelOperand self{o.mid, o.rad, false};
                    (table->*in_place)(self, c.b_is_a ? self : y, o, begin, n);
                    for (std::size_t i = 0; i < got.mid.size(); ++i)
                        CHECK(bits(got.mid[i]) == bits(want.mid[i]) && bits(got.rad[i]) == bits(want.rad[i]), what,
                              "n", n, "begin", begin, "b single", c.b_single, "b is a", c.b_is_a, "element", i);
                }
            }
}

}  // namespace

BW_TEST(kernels, in_place_forms_match_the_reference) {
    check_in_place(&ArithmeticKernels::add, &ArithmeticKernels::add_into, "add in place", Role::Any);
    check_in_place(&ArithmeticKernels::subtract, &ArithmeticKernels::subtract_into, "subtract in place", Role::Any);
    check_in_place(&ArithmeticKernels::multiply, &ArithmeticKernels::multiply_into, "multiply in place", Role::Any);
    check_in_place(&ArithmeticKernels::multiply, &ArithmeticKernels::multiply_into, "multiply in place by a number",
                   Role::Exact);
    check_in_place(&ArithmeticKernels::divide, &ArithmeticKernels::divide_into, "divide in place", Role::Divisor,
                   Role::Divisor);
    check_in_place(&ArithmeticKernels::divide, &ArithmeticKernels::divide_into, "divide in place by a number",
                   Role::Exact, Role::Divisor);
}

// The array operations split work at kParallelThreshold into chunks on the
// pool; the result equals one reference run over the whole range.
BW_TEST(kernels, array_operations_on_the_pool_match_the_reference) {
    for (const std::size_t n : {kParallelThreshold - 1, kParallelThreshold + 1, 4 * kArithmeticChunk + 3}) {
        const Column a = column(n, 40 + n, Role::Any);
        const Column b = column(n, 50 + n, Role::Divisor);
        const Array x = Array::from_parts(a.mid, a.rad, {n});
        const Array y = Array::from_parts(b.mid, b.rad, {n});
        const KernelOperand xa{a.mid.data(), a.rad.data(), false};
        const KernelOperand yb{b.mid.data(), b.rad.data(), false};
        const struct {
            const char* what;
            Array result;
            BinaryKernel kernel;
        } cases[] = {{"add", add(x, y, {n}), reference().add},
                     {"subtract", subtract(x, y, {n}), reference().subtract},
                     {"multiply", multiply(x, y, {n}), reference().multiply},
                     {"divide", divide(x, y, {n}).value, reference().divide}};
        for (const auto& c : cases) {
            Output want(n);
            c.kernel(xa, yb, want.view(), 0, n);
            Output got(n);
            std::copy_n(c.result.mid(), n, got.mid.begin() + kGuards);
            std::copy_n(c.result.rad(), n, got.rad.begin() + kGuards);
            check_output(got, want, 0, n, c.what, n);
        }
        CHECK(divide(x, y, {n}).flags == Status::None, n);
    }
}

// The zero test of division against its plain expression, alone and inside
// the quotient kernel (whose quotients, where it holds, are the reference's):
// divisors from every family (NaN, infinite and negative-zero radii,
// subnormals, huge values), with one zero-holding element placed at every
// position around the lane width and the scan block, on every range start.
BW_TEST(kernels, divisor_tests_match_the_plain_expression) {
    const auto excludes = [](double m, double r) { return (m - r > 0) || (m + r < 0); };
    const std::size_t n = 4 * 16 * kWidest + 7;
    const Column a = column(n, 59, Role::Any);
    const KernelOperand x{a.mid.data(), a.rad.data(), false};
    Column d = column(n, 60, Role::Divisor);
    std::vector<std::size_t> places{n};  // n: no zero-holding element
    for (std::size_t i = 0; i < n; i += 1 + i / 3) places.push_back(i);
    const std::pair<double, double> holding[] = {{0.0, 0.0}, {1.0, 1.0}, {-2.0, 2.0}, {bwtest::kNaN, 0.0}, {1.0, bwtest::kNaN},
                                                 {1e300, kInf}, {0x1p-1074, 0x1p-1074}, {-0.0, -0.0}};
    for (const ArithmeticKernels* table : target_tables())
        for (const std::size_t place : places)
            for (const auto& [m, r] : holding) {
                Column c = d;
                if (place < n) {
                    c.mid[place] = m;
                    c.rad[place] = r;
                }
                for (const std::size_t begin : {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{256}}) {
                    bool want = true;
                    for (std::size_t i = begin; i < n; ++i) want = want && excludes(c.mid[i], c.rad[i]);
                    const KernelOperand y{c.mid.data(), c.rad.data(), false};
                    CHECK(table->divisors_exclude_zero(y, begin, n) == want, place, begin, m, r);
                    Output got(n);
                    CHECK(table->divide_and_test(x, y, got.view(), begin, n) == want, place, begin, m, r);
                    if (!want) continue;
                    Output expected(n);
                    reference().divide(x, y, expected.view(), begin, n);
                    check_output(got, expected, begin, n, "divide_and_test", n);
                }
                CHECK(table->divisors_exclude_zero({&m, &r, true}, 0, n) == excludes(m, r), m, r);
                Output got(n);
                CHECK(table->divide_and_test(x, {&m, &r, true}, got.view(), 0, n) == excludes(m, r), m, r);
                CHECK(reference().divisors_exclude_zero({&m, &r, true}, 0, 1) == excludes(m, r), m, r);
            }
}

// One divisor holding zero, in the first, a middle or the last chunk of a
// pooled run (or of a run below the threshold), sends every element through
// endpoints: the corner quotients rounded outward, the entire line (NaN, +inf)
// where the divisor holds zero.
BW_TEST(kernels, a_divisor_holding_zero_sends_every_element_through_endpoints) {
    for (const std::size_t n : {std::size_t{1000}, 4 * kArithmeticChunk + 3}) {
        const Column a = column(n, 70 + n, Role::Any);
        for (const std::size_t place : {std::size_t{0}, n / 2, n - 1}) {
            Column b = column(n, 80 + n, Role::Divisor);
            b.mid[place] = 0.0;
            const Quotient q = divide(Array::from_parts(a.mid, a.rad, {n}), Array::from_parts(b.mid, b.rad, {n}), {n});
            CHECK(q.flags == Status::DividedByZero, n, place);
            for (std::size_t i = 0; i < n; ++i) {
                const Endpoints x = to_endpoints(a.mid[i], a.rad[i]);
                const Endpoints y = to_endpoints(b.mid[i], b.rad[i]);
                Interval want{bwtest::kNaN, kInf};
                if (y.lo > 0 || y.hi < 0) {
                    const Endpoints e = div_endpoints(x, y);
                    want = from_endpoints(e.lo, e.hi);
                }
                CHECK(bits(q.value.mid()[i]) == bits(want.mid) && bits(q.value.rad()[i]) == bits(want.rad), n, place, i);
            }
        }
    }
}

BW_TEST(dispatch, disabled_features_narrow_the_target) {
    for (const char* list : {(const char*)nullptr, "", "AVX", "avx2x", "AV X2", ",", "sse2,,sse3"}) {
        CHECK(choose_target(true, true, list) == Target::Avx512, list ? list : "null");
        CHECK(choose_target(true, false, list) == Target::Avx2, list ? list : "null");
        CHECK(choose_target(false, false, list) == Target::Baseline, list ? list : "null");
    }
    for (const char* list : {"AVX2", "avx2", "Avx2", "sse3,avx2", " sse3 , AVX2 ", "fma", "FMA3", "avx512f,fma"})
        CHECK(choose_target(true, true, list) == Target::Baseline, list);
    for (const char* list : {"avx512f", "AVX512DQ", " avx512 ", "sse3,AVX512VL"})
        CHECK(choose_target(true, true, list) == Target::Avx2, list);
}

// Run once with BOUNDWISE_DISABLE_CPU_FEATURES set and once without (see CMakeLists.txt).
BW_TEST(dispatch, the_environment_selects_the_target) {
    const char* disabled = std::getenv("BOUNDWISE_DISABLE_CPU_FEATURES");
    CHECK(selected_target() ==
          choose_target(target_supported(Target::Avx2), target_supported(Target::Avx512), disabled));
    CHECK(&arithmetic_kernels() == &arithmetic_kernels(selected_target()));
    if (disabled && std::string_view(disabled).find("AVX2") != std::string_view::npos)
        CHECK(selected_target() == Target::Baseline, disabled);
    CHECK(target_supported(Target::Baseline));
    CHECK(!target_supported(Target::Avx512) || target_supported(Target::Avx2));
    CHECK(std::string_view(target_name(Target::Avx512)) == "avx512");
    CHECK(std::string_view(target_name(Target::Avx2)) == "avx2" && std::string_view(target_name(Target::Baseline)) == "baseline");
}
