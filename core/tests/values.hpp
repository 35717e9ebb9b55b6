// Adversarial doubles for the core tests: ordinary and rounding-prone numbers,
// ties, huge and tiny magnitudes, subnormals, signed zeros, and factors whose
// products fall where fma residuals underflow.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "harness.hpp"

namespace bwtest {

inline constexpr double kMax = std::numeric_limits<double>::max();
inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class Values {
public:
    explicit Values(std::uint64_t seed) : rng_(seed) {}

    std::uint64_t below(std::uint64_t n) { return rng_() % n; }
    double unit() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_); }
    double sign() { return below(2) ? -1.0 : 1.0; }

    // A finite double from one of the hard families.
    double finite() {
        switch (below(9)) {
            case 0: {  // any finite bit pattern: every exponent equally likely
                double x;
                do x = from_bits(rng_()); while (!std::isfinite(x));
                return x;
            }
            case 1: return from_bits((rng_() & 0x800FFFFFFFFFFFFFULL));  // subnormal or zero
            case 2: return sign() * (1.0 + static_cast<double>(below(16)) * 0x1p-52);
            case 3: return sign() * std::ldexp(static_cast<double>(2 * below(1 << 20) + 1), static_cast<int>(below(2000)) - 1100);
            case 4: return below(2) ? -0.0 : 0.0;
            case 5: return sign() * (below(4) ? std::ldexp(1.0 + unit(), 1023 - static_cast<int>(below(3))) : kMax);
            case 6: return sign() * std::ldexp(1.0 + unit(), static_cast<int>(below(120)) - 540);  // pairs reach 2^-1080..2^-960
            case 7: return sign() * std::ldexp(1.0 + unit(), -1022 + static_cast<int>(below(3)) - 1);
            default: return sign() * std::ldexp(unit(), static_cast<int>(below(60)) - 30);
        }
    }

    // A finite non-zero double.
    double nonzero() {
        double x;
        do x = finite(); while (x == 0);
        return x;
    }

private:
    std::mt19937_64 rng_;
};

}  // namespace bwtest
