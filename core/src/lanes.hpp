// Lane types for the element kernels: one double, or a vector of 2 or 4
// doubles (GCC vector extensions). The same element code is instantiated for
// every lane type, so the vector loops compute exactly what the scalar
// reference computes: the same IEEE operations in the same order, with the
// branches of the directed-rounding step replaced by compare masks and blends.
//
// Everything here is force-inlined into the kernels of one instruction-set
// file (which sets the compilation target); no function with a vector
// parameter is ever called out of line.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

#include "boundwise/rounding.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace boundwise {
namespace {  // internal linkage: each instruction-set file compiles its own copy
namespace lanes {

typedef double V2 __attribute__((vector_size(16)));
typedef std::int64_t M2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef std::int64_t M4 __attribute__((vector_size(32)));

template <class V>
struct Traits;

template <>
struct Traits<double> {
    using Mask = bool;
    using Bits = std::uint64_t;
    static constexpr std::size_t width = 1;
};
template <>
struct Traits<V2> {
    using Mask = M2;
    using Bits = M2;
    static constexpr std::size_t width = 2;
};
template <>
struct Traits<V4> {
    using Mask = M4;
    using Bits = M4;
    static constexpr std::size_t width = 4;
};

template <class V>
using Mask = typename Traits<V>::Mask;
template <class V>
using Bits = typename Traits<V>::Bits;

template <class V>
[[gnu::always_inline]] inline V load(const double* p) {
    V v;
    std::memcpy(&v, p, sizeof(V));
    return v;
}

template <class V>
[[gnu::always_inline]] inline void store(double* p, const V& v) {
    std::memcpy(p, &v, sizeof(V));
}

template <class V>
[[gnu::always_inline]] inline V splat(double x) {
    if constexpr (Traits<V>::width == 1) {
        return x;
    } else if constexpr (Traits<V>::width == 2) {
        return V{x, x};
    } else {
        return V{x, x, x, x};
    }
}

template <class V>
[[gnu::always_inline]] inline Bits<V> to_bits(const V& v) {
    if constexpr (Traits<V>::width == 1) {
        return std::bit_cast<std::uint64_t>(v);
    } else {
        return (Bits<V>)v;
    }
}

template <class V>
[[gnu::always_inline]] inline V from_bits(const Bits<V>& b) {
    if constexpr (Traits<V>::width == 1) {
        return std::bit_cast<double>(b);
    } else {
        return (V)b;
    }
}

template <class V>
[[gnu::always_inline]] inline V select(const Mask<V>& m, const V& yes, const V& no) {
    return m ? yes : no;
}

template <class V>
[[gnu::always_inline]] inline Mask<V> both(const Mask<V>& a, const Mask<V>& b) {
    if constexpr (Traits<V>::width == 1) {
        return a && b;
    } else {
        return a & b;
    }
}

// Sign bit cleared, NaN included (as fabs).
template <class V>
[[gnu::always_inline]] inline V abs(const V& v) {
    if constexpr (Traits<V>::width == 1) {
        return std::fabs(v);
    } else {
        return from_bits<V>(to_bits(v) & static_cast<std::int64_t>(0x7FFFFFFFFFFFFFFFLL));
    }
}

template <class V>
[[gnu::always_inline]] inline Mask<V> finite(const V& v) {
    return abs(v) <= splat<V>(kDoubleMax);
}

template <class V>
[[gnu::always_inline]] inline Mask<V> infinite(const V& v) {
    return abs(v) == splat<V>(kInfinity);
}

// succ for finite x: +-0 gives eta, otherwise one step of the bit pattern
// away from or towards zero.
template <class V>
[[gnu::always_inline]] inline V succ_finite(const V& x) {
    const Bits<V> bits = to_bits(x);
    const V stepped = select<V>(x > splat<V>(0.0), from_bits<V>(bits + 1), from_bits<V>(bits - 1));
    return select<V>(x == splat<V>(0.0), splat<V>(kMinSubnormal), stepped);
}

template <class V>
[[gnu::always_inline]] inline V sum_error(const V& x, const V& y, const V& s) {
    const V b = s - x;
    return (x - (s - b)) + (y - b);
}

// add_up of rounding.hpp, lane by lane.
template <class V>
[[gnu::always_inline]] inline V add_up(const V& x, const V& y) {
    const V s = x + y;
    return select<V>(both<V>(finite(s), sum_error(x, y, s) > splat<V>(0.0)), succ_finite(s), s);
}

// add_down of rounding.hpp, lane by lane.
template <class V>
[[gnu::always_inline]] inline V add_down(const V& x, const V& y) {
    const V s = x + y;
    return select<V>(both<V>(finite(s), sum_error(x, y, s) < splat<V>(0.0)), -succ_finite<V>(-s), s);
}

template <class V>
[[gnu::always_inline]] inline Mask<V> either(const Mask<V>& a, const Mask<V>& b) {
    if constexpr (Traits<V>::width == 1) {
        return a || b;
    } else {
        return a | b;
    }
}

// a * b + c with one rounding. The four-lane form needs an fma target at the
// point where it is inlined.
template <class V>
[[gnu::always_inline]] inline V fused(const V& a, const V& b, const V& c) {
    if constexpr (Traits<V>::width == 1) {
        return std::fma(a, b, c);
    } else {
        static_assert(Traits<V>::width == 4, "fused is provided for one and four lanes");
        return _mm256_fmadd_pd(a, b, c);
    }
}

template <class V>
[[gnu::always_inline]] inline bool any(const Mask<V>& m) {
    if constexpr (Traits<V>::width == 1) {
        return m;
    } else {
        static_assert(Traits<V>::width == 4, "any is provided for one and four lanes");
        return _mm256_movemask_pd((V)m) != 0;
    }
}

// Lanes where an fma residual may have lost a non-zero error to underflow
// (product_residual / product_error of rounding.hpp would take their scaled
// path): the vector kernels hand such groups to the scalar reference.
template <class V>
[[gnu::always_inline]] inline Mask<V> tiny_product(const V& p, const V& x, const V& y) {
    return both<V>(both<V>(abs(p) < splat<V>(kProductResidualLimit), x != splat<V>(0.0)), y != splat<V>(0.0));
}

template <class V>
[[gnu::always_inline]] inline Mask<V> tiny_quotient(const V& n, const V& q) {
    return both<V>(both<V>(abs(n) < splat<V>(kQuotientResidualLimit), n != splat<V>(0.0)), q != splat<V>(0.0));
}

// mul_up of rounding.hpp for lanes where tiny_product is false.
template <class V>
[[gnu::always_inline]] inline V mul_up(const V& x, const V& y, Mask<V>& defer) {
    const V p = x * y;
    const V t = fused(x, y, -p);
    defer = either<V>(defer, tiny_product(p, x, y));
    const V r = select<V>(both<V>(finite(p), t > splat<V>(0.0)), succ_finite(p), p);
    return select<V>(p == splat<V>(-kInfinity), splat<V>(-kDoubleMax), r);
}

// div_up of rounding.hpp for lanes where tiny_quotient is false.
template <class V>
[[gnu::always_inline]] inline V div_up(const V& n, const V& d, Mask<V>& defer) {
    const V q = n / d;
    const V t = fused(d, q, -n);
    defer = either<V>(defer, tiny_quotient(n, q));
    const Mask<V> below = both<V>(t != splat<V>(0.0), (d > splat<V>(0.0)) ^ (t > splat<V>(0.0)));
    const V r = select<V>(both<V>(finite(q), below), succ_finite(q), q);
    return select<V>(q == splat<V>(-kInfinity), splat<V>(-kDoubleMax), r);
}

}  // namespace lanes
}  // namespace
}  // namespace boundwise

#pragma GCC diagnostic pop
