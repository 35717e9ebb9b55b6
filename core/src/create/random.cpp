#include "boundwise/create/random.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>

#include "boundwise/error.hpp"
#include "boundwise/interval/rounding.hpp"
#include "boundwise/kernels/chunking.hpp"
#include "boundwise/runtime/pool.hpp"

namespace boundwise {

namespace {

constexpr double kTwoToMinus53 = 0x1p-53;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kSmallestNormal = 2.2250738585072014e-308;

struct Xoshiro256StarStar {
    GeneratorWords s;

    std::uint64_t next() {
        const std::uint64_t out = std::rotl(s[1] * 5, 7) * 9;
        const std::uint64_t t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = std::rotl(s[3], 45);
        return out;
    }

    double unit() { return static_cast<double>(next() >> 11) * kTwoToMinus53; }
};

struct GeneratorState {
    std::mutex lock;
    GeneratorWords words{};
    bool seeded = false;
};

constinit GeneratorState generator;

// Runs fill(g) on the process-wide generator under one hold of its lock; the
// generator starts from the default state if nothing seeded it.
template <class Fill>
void with_generator(Fill&& fill) {
    std::lock_guard hold(generator.lock);
    if (!generator.seeded) {
        generator.words = seeded_words(kGolden);
        generator.seeded = true;
    }
    Xoshiro256StarStar g{generator.words};  // a local copy keeps the state in registers
    fill(g);
    generator.words = g.s;
}

double uniform_value(const Uniform& d, double u) {
    const double width = d.high - d.low;
    // When the width overflows, low < 0 < high; the convex combination has
    // terms of opposite signs and cannot overflow (1 - u is exact for u in 2^-53 Z).
    const double x = is_finite(width) ? u * width + d.low : (1.0 - u) * d.low + u * d.high;
    // Rounding can reach high (u * 2 + 1 for u = 1 - 2^-53, or any u for 1e16 + [0, 2)).
    return x < d.high ? x : pred(d.high);
}

std::int64_t integer_value(const Integers& d, std::uint64_t x) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(d.low) + x % d.range);
}

// Box-Muller (Box and Muller, Ann. Math. Statist. 29, 1958), cosine branch only.
double normal_value(const Normal& d, double u1, double u2) {
    const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
    return z * d.scale + d.loc;
}

double first_normal_uniform(Xoshiro256StarStar& g) { return std::max(g.unit(), kSmallestNormal); }

// An array for a fill that writes every midpoint; radii zero.
Array exact_points(Shape shape) {
    Array a = Array::uninitialized(std::move(shape));
    if (a.size()) std::memset(a.rad_mut(), 0, static_cast<std::size_t>(a.size()) * sizeof(double));
    return a;
}

}  // namespace

void seed_generator(std::uint64_t value) {
    std::lock_guard hold(generator.lock);
    generator.words = seeded_words(value);
    generator.seeded = true;
}

Uniform::Uniform(double lo, double hi) : low(lo), high(hi) {
    if (!is_finite(low) || !is_finite(high)) throw value_error("low and high must be finite");
    if (low >= high) throw value_error("high must be greater than low");
}

Integers::Integers(std::int64_t lo, std::int64_t hi) : low(lo) {
    if (hi <= lo) throw value_error("high must be greater than low");
    range = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
}

Normal::Normal(double l, double s) : loc(l), scale(s) {
    if (scale < 0) throw value_error("scale must be >= 0");
    if (!is_finite(loc)) throw value_error("loc must be finite");
    if (!is_finite(scale)) throw value_error("scale must be finite");
}

double draw(UnitUniform) {
    double u = 0;
    with_generator([&](Xoshiro256StarStar& g) { u = g.unit(); });
    return u;
}

double draw(const Uniform& d) { return uniform_value(d, draw(UnitUniform{})); }

std::int64_t draw(const Integers& d) {
    std::uint64_t x = 0;
    with_generator([&](Xoshiro256StarStar& g) { x = g.next(); });
    return integer_value(d, x);
}

double draw(const Normal& d) {
    double u1 = 0, u2 = 0;
    with_generator([&](Xoshiro256StarStar& g) {
        u1 = first_normal_uniform(g);
        u2 = g.unit();
    });
    return normal_value(d, u1, u2);
}

Array random_array(Shape shape, UnitUniform) {
    Array a = exact_points(std::move(shape));
    double* m = a.mid_mut();
    with_generator([&](Xoshiro256StarStar& g) {
        for (std::uint64_t i = 0; i < a.size(); ++i) m[i] = g.unit();
    });
    return a;
}

Array random_array(Shape shape, const Uniform& d) {
    Array a = random_array(std::move(shape), UnitUniform{});
    double* m = a.mid_mut();
    for (std::uint64_t i = 0; i < a.size(); ++i) m[i] = uniform_value(d, m[i]);
    return a;
}

Array random_array(Shape shape, const Integers& d) {
    Array a = exact_points(std::move(shape));
    double* m = a.mid_mut();
    double* r = a.rad_mut();
    with_generator([&](Xoshiro256StarStar& g) {
        for (std::uint64_t i = 0; i < a.size(); ++i) {
            const std::int64_t v = integer_value(d, g.next());
            m[i] = static_cast<double>(v);  // nearest double
            // Beyond 2^53 the double may miss v by up to 2^10; the radius covers
            // the miss exactly, so the element still encloses the drawn integer.
            if (v > (std::int64_t{1} << 53) || v < -(std::int64_t{1} << 53)) {
                const __int128 miss = static_cast<__int128>(v) - static_cast<__int128>(m[i]);
                r[i] = static_cast<double>(miss < 0 ? -miss : miss);
            }
        }
    });
    return a;
}

Array random_array(Shape shape, const Normal& d) {
    Array a = Array::uninitialized(std::move(shape));
    double* m = a.mid_mut();
    double* r = a.rad_mut();
    const std::uint64_t n = a.size();
    // The two uniforms of element i wait in its midpoint and radius; the
    // transform then runs outside the lock and in parallel on large arrays.
    with_generator([&](Xoshiro256StarStar& g) {
        for (std::uint64_t i = 0; i < n; ++i) {
            m[i] = first_normal_uniform(g);
            r[i] = g.unit();
        }
    });
    for_each_chunk(n, kParallelThreshold, kUnaryChunk, [&](std::size_t begin, std::size_t end) noexcept {
        for (std::size_t i = begin; i < end; ++i) {
            m[i] = normal_value(d, m[i], r[i]);
            r[i] = 0.0;
        }
    });
    return a;
}

}  // namespace boundwise
