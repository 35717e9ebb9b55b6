// Random arrays from one process-wide xoshiro256** generator (Blackman and
// Vigna, "Scrambled linear pseudorandom number generators", ACM TOMS 47(4),
// 2021), seeded through the SplitMix64 finaliser. Every element is an exact
// point: midpoint the drawn value, radius 0 (integers beyond 2^53 excepted,
// whose radius covers the rounding to a double).
//
// The state sits behind a mutex. Each call takes it once: the draws of one
// call are a contiguous run of the sequence whatever other threads do. A
// generator that was never seeded starts from the state of seed(kGolden), so
// every process draws the same sequence until it seeds.
//
// The parameter checks run in the distributions' constructors, before any
// shape is read and before any draw, so a refused call leaves the state as it was.
#pragma once

#include <array>
#include <cstdint>

#include "boundwise/array/array.hpp"

namespace boundwise {

// 2^64 / golden ratio: the SplitMix64 increment.
inline constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

using GeneratorWords = std::array<std::uint64_t, 4>;

// SplitMix64's output function (Steele, Lea and Flood, "Fast splittable
// pseudorandom number generators", OOPSLA 2014, with Vigna's constants).
constexpr std::uint64_t split_mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// The state seed(value) sets: word k is split_mix(value + (k + 1) * kGolden).
constexpr GeneratorWords seeded_words(std::uint64_t value) {
    GeneratorWords s{};
    for (std::uint64_t k = 0; k < 4; ++k) s[k] = split_mix(value + (k + 1) * kGolden);
    return s;
}

static_assert(seeded_words(kGolden) ==
              GeneratorWords{0x6E789E6AA1B965F4ULL, 0x06C45D188009454FULL, 0xF88BB8A8724C81ECULL,
                             0x1B39896A51A8749BULL});

void seed_generator(std::uint64_t value);

// Uniform on [0, 1): the top 53 bits of one output times 2^-53.
struct UnitUniform {};

// Uniform on [low, high) for finite low < high. ValueError "low and high must
// be finite", then "high must be greater than low".
struct Uniform {
    Uniform(double low, double high);
    double low;
    double high;
};

// Integers low <= v < high: low + (output mod (high - low)), the difference
// unsigned, so ranges of 2^63 and more are covered too. ValueError "high must
// be greater than low".
struct Integers {
    Integers(std::int64_t low, std::int64_t high);
    std::int64_t low;
    std::uint64_t range;
};

// loc + scale * z, z standard normal by the Box-Muller cosine branch on two
// outputs. ValueError "scale must be >= 0", then "loc must be finite" or
// "scale must be finite" (NaN or infinite parameters give no samples).
struct Normal {
    Normal(double loc = 0.0, double scale = 1.0);
    double loc;
    double scale;
};

// One value (one hold of the lock).
double draw(UnitUniform);
double draw(const Uniform& d);
std::int64_t draw(const Integers& d);
double draw(const Normal& d);

// An array of the given shape filled in row-major order, one value per element.
Array random_array(Shape shape, UnitUniform);
Array random_array(Shape shape, const Uniform& d);
Array random_array(Shape shape, const Integers& d);
Array random_array(Shape shape, const Normal& d);

}  // namespace boundwise
