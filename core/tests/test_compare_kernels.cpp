// The comparison kernels of every target against the scalar reference, byte
// for byte, over operands whose ends touch, overlap or lie a few doubles
// apart (the cases the vector fast path must leave to the exact test): sizes
// around the block and the chunk, start offsets, chunked runs, and guard
// bytes that must stay untouched. The reference itself must agree with the
// table applied to to_endpoints.
#include <cmath>
#include <vector>

#include "kernels/targets.hpp"

#include "kernels/compare-inl.hpp"  // the scalar reference: compare_table<lanes::Scalar>

#include "boundwise/compare/compare.hpp"
#include "boundwise/interval/endpoints.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "harness.hpp"
#include "values.hpp"

namespace {

using namespace boundwise;
using bwtest::kInf;
using bwtest::kMax;

constexpr std::size_t kGuards = 8;
constexpr std::uint8_t kGuardByte = 0xA5;

const CompareKernels& reference() { return compare_table<lanes::Scalar>; }

std::vector<const CompareKernels*> target_tables() {
    std::vector<const CompareKernels*> tables;
    for (const Target t : kAllTargets)
        if (target_supported(t)) tables.push_back(&compare_kernels(t));
    return tables;
}

struct Column {
    std::vector<double> mid;
    std::vector<double> rad;
};

double step(double x, int steps) {
    for (; steps > 0; --steps) x = std::nextafter(x, kInf);
    for (; steps < 0; ++steps) x = std::nextafter(x, -kInf);
    return x;
}

// Elements of the hard families, or (with `near`) elements whose lower or
// upper end lies within three doubles of an end of `other`'s element.
Column column(std::size_t n, std::uint64_t seed, const Column* near = nullptr) {
    bwtest::Values v(seed);
    Column c;
    for (std::size_t i = 0; i < n; ++i) {
        double m = v.below(10) ? v.finite() : (v.below(3) ? kNaN : v.sign() * kInf);
        const double radii[] = {0.0, std::fabs(m) * 0x1p-52, std::fabs(m) * 1e-10, v.unit(), 0x1p-1074, kInf, kNaN};
        double r = radii[v.below(7)];
        if (near && v.below(4)) {
            const Endpoints e = to_endpoints(near->mid[i], near->rad[i]);
            r = v.below(2) ? 0.0 : std::fabs(e.hi) * 0x1p-52 * static_cast<double>(v.below(4));
            if (!(r <= kMax)) r = 0.0;
            const double end = v.below(2) ? e.hi + r : e.lo - r;
            m = step(end, static_cast<int>(v.below(7)) - 3);
        }
        c.mid.push_back(m);
        c.rad.push_back(r);
    }
    return c;
}

std::vector<std::size_t> sizes() {
    std::vector<std::size_t> all;
    for (std::size_t n = 0; n <= 2 * kCompareBlock + 1; ++n) all.push_back(n);
    for (const std::size_t n : {kCompareChunk - 1, kCompareChunk, kCompareChunk + 1}) all.push_back(n);
    return all;
}

struct Bytes {
    std::vector<std::uint8_t> data;
    explicit Bytes(std::size_t n) : data(n + 2 * kGuards, kGuardByte) {}
    std::uint8_t* out() { return data.data() + kGuards; }
};

// Bytes [begin, end) equal to the reference, guards elsewhere.
void check_bytes(const Bytes& got, const Bytes& want, std::size_t begin, std::size_t end, const char* what, int op,
                 std::size_t n) {
    for (std::size_t i = 0; i < got.data.size(); ++i) {
        const bool written = i >= kGuards + begin && i < kGuards + end;
        CHECK(got.data[i] == (written ? want.data[i] : kGuardByte), what, "op", op, "n", n, "begin", begin,
              "element", static_cast<long>(i) - static_cast<long>(kGuards));
    }
}

template <class Kernel>
Kernel kernel_of(const CompareOpKernels<Kernel>& k, int op) {
    const Kernel all[] = {k.less, k.less_equal, k.equal, k.not_equal, k.greater, k.greater_equal};
    return all[op];
}

// The table of the comparisons on ends from to_endpoints.
bool table_holds(int op, Endpoints a, CompareEnds b) {
    switch (op) {
        case 0: return a.hi < b.lo;
        case 1: return a.hi <= b.lo;
        case 2: return a.lo <= b.hi && b.lo <= a.hi;
        case 3: return a.lo > b.hi || b.lo > a.hi;
        case 4: return a.lo > b.hi;
        default: return a.lo >= b.hi;
    }
}

// run(table, out, begin, end) calls one kernel; expected(i) is the byte the
// table gives for element i.
template <class Run, class Expected>
void check_kernel(std::size_t n, const char* what, int op, Run&& run, Expected&& expected) {
    Bytes want(n);
    run(reference(), want.out(), 0, n);
    for (std::size_t i = 0; i < n; ++i) CHECK(want.out()[i] == expected(i), what, "op", op, "reference element", i);
    for (const CompareKernels* table : target_tables()) {
        for (const std::size_t begin : {std::size_t{0}, std::size_t{1}, std::size_t{3}, kCompareBlock + 1}) {
            if (begin > n) continue;
            Bytes got(n);
            run(*table, got.out(), begin, n);
            check_bytes(got, want, begin, n, what, op, n);
        }
        Bytes chunked(n);
        for (std::size_t start = 0; start < n; start += kCompareBlock + 3)
            run(*table, chunked.out(), start, std::min(n, start + kCompareBlock + 3));
        check_bytes(chunked, want, 0, n, what, op, n);
    }
}

}  // namespace

BW_TEST(kernels, array_comparisons_match_the_reference) {
    for (const std::size_t n : sizes()) {
        const Column a = column(n, 100 + n);
        const Column b = column(n, 200 + n, &a);
        for (int op = 0; op < 6; ++op)
            check_kernel(
                n, "arrays", op,
                [&](const CompareKernels& k, std::uint8_t* out, std::size_t begin, std::size_t end) {
                    kernel_of(k.arrays, op)(a.mid.data(), a.rad.data(), b.mid.data(), b.rad.data(), out, begin, end);
                },
                [&](std::size_t i) {
                    const Endpoints e = to_endpoints(b.mid[i], b.rad[i]);
                    return table_holds(op, to_endpoints(a.mid[i], a.rad[i]), {e.lo, e.hi});
                });
    }
}

BW_TEST(kernels, comparisons_with_fixed_ends_match_the_reference) {
    for (const std::size_t n : sizes()) {
        const Column a = column(n, 300 + n);
        std::vector<CompareEnds> ends = {{1.5, 1.5}, {0.0, 0.0}, {-0.0, -0.0}, {kInf, kInf}, {-kInf, -kInf},
                                         {kNaN, kNaN}, {kMax, kInf}, {-kInf, -kMax}, {0x1p-1074, 0x1p-1074},
                                         {-kInf, kInf}, {1.0, 2.0}};
        for (std::size_t i = 0; i < std::min<std::size_t>(n, 4); ++i) {
            // Points at and next to the ends of elements of a, and an integer between two doubles.
            const Endpoints e = to_endpoints(a.mid[i], a.rad[i]);
            for (const double x : {e.lo, e.hi, step(e.hi, 1), step(e.lo, -1)}) ends.push_back({x, x});
            ends.push_back({e.hi, step(e.hi, 1)});
        }
        for (const CompareEnds& b : ends)
            for (int op = 0; op < 6; ++op)
                check_kernel(
                    n, "ends", op,
                    [&](const CompareKernels& k, std::uint8_t* out, std::size_t begin, std::size_t end) {
                        kernel_of(k.ends, op)(a.mid.data(), a.rad.data(), b, out, begin, end);
                    },
                    [&](std::size_t i) { return table_holds(op, to_endpoints(a.mid[i], a.rad[i]), b); });
    }
}

// From kParallelThreshold on the comparisons run in chunks on the pool; the
// mask equals one reference run over the whole range.
BW_TEST(kernels, comparisons_on_the_pool_match_the_reference) {
    for (const std::size_t n : {kParallelThreshold - 1, kParallelThreshold, 3 * kCompareChunk + 5}) {
        const Column a = column(n, 400 + n);
        const Column b = column(n, 500 + n, &a);
        const Array x = Array::from_parts(a.mid, a.rad, {n});
        const Array y = Array::from_parts(b.mid, b.rad, {n});
        const CompareOp ops[] = {CompareOp::Less, CompareOp::LessEqual, CompareOp::Equal,
                                 CompareOp::NotEqual, CompareOp::Greater, CompareOp::GreaterEqual};
        for (int op = 0; op < 6; ++op) {
            Bytes want(n);
            kernel_of(reference().arrays, op)(a.mid.data(), a.rad.data(), b.mid.data(), b.rad.data(), want.out(), 0, n);
            const BoolMask got = compare(x, y, ops[op]);
            CHECK(got.size() == n, n);
            for (std::size_t i = 0; i < n && i < got.size(); ++i) CHECK(got[i] == (want.out()[i] != 0), op, n, i);
            const double point = a.mid[n / 2];
            kernel_of(reference().ends, op)(a.mid.data(), a.rad.data(), {point, point}, want.out(), 0, n);
            const BoolMask against_point = compare(x, point, ops[op]);
            for (std::size_t i = 0; i < n; ++i) CHECK(against_point[i] == (want.out()[i] != 0), op, n, i);
        }
    }
}
