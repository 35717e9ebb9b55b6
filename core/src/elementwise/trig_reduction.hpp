// Argument reduction modulo pi/2 with a rigorous error bound, for the
// enclosures of sin, cos and tan.
#pragma once

#include <cstdint>

namespace boundwise::elementwise {

// x = k pi/2 + t + e exactly for some integer k congruent to `k` modulo 4,
// with |e| <= delta and |t| <= pi/4 (to within rounding).
struct Reduction {
    std::int64_t k;
    double t;
    double delta;
};

// x finite.
Reduction reduce_half_pi(double x);

}  // namespace boundwise::elementwise
