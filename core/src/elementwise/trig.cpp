// sin, cos and tan. Between consecutive multiples of pi/2 each is monotone, so
// the image of [lo, hi] is spanned by the values at the ends (library values
// moved four doubles outward) and the extreme values +-1 at the multiples of
// pi/2 strictly inside, or the whole line for tan when a pole lies inside.
//
// Which multiples lie inside is decided exactly: both ends are reduced as
// x = k pi/2 + t with pi/2 held to 163 bits, and the sign of t settles the
// quarter period of x. Forming the critical points as doubles fl(k pi) + pi/2
// instead would be wrong by up to k 2^-52 for large k. The reduction is only
// needed below 2^56: a non-point interval narrower than 2 pi cannot reach
// further, since doubles there are more than 2 pi apart.
#include <cmath>
#include <cstdint>

#include "boundwise/elementwise/hull.hpp"
#include "elementary_rules.hpp"

namespace boundwise::elementwise {

namespace {

// pi/2 = kHalfPi1 + kHalfPi2 + kHalfPi3 + d with |d| < 2^-163 (each part the
// double nearest to what the previous ones leave).
constexpr double kHalfPi1 = 0x1.921fb54442d18p+0;
constexpr double kHalfPi2 = 0x1.1a62633145c07p-54;
constexpr double kHalfPi3 = -0x1.f1976b7ed8fbcp-110;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kPi = 0x1.921fb54442d18p+1;
constexpr double kTwoPi = 0x1.921fb54442d18p+2;
constexpr double kReductionLimit = 0x1p56;
// Above any error of the reduced value t for |x| < 2^56 (bounded below).
constexpr double kUncertainty = 0x1p-80;

// Adds term to the unevaluated sum sum + err, keeping the exact TwoSum error.
void accumulate(double& sum, double& err, double term) {
    const double s = sum + term;
    err += sum_error(sum, term, s);
    sum = s;
}

// t = x - k pi/2 for an integer k (as a double): the products k * part are
// split exactly by fma (k times a 53-bit part is a multiple of 2^-52 or
// 2^-106, so no residual underflows) except the last, and summed with TwoSum.
// For |x| < 2^56 and |t| < 2^5 all partial sums stay below 2^6, so the five
// TwoSum errors are each below 2^-47 and their rounded sum is off by less than
// 2^-96; the last product's rounding (< 2^-105), k d (< 2^-106) and the final
// rounding (2^-53 |t|) keep the total error far below kUncertainty.
double reduced(double x, double k) {
    const double h1 = k * kHalfPi1;
    const double l1 = std::fma(k, kHalfPi1, -h1);
    const double h2 = k * kHalfPi2;
    const double l2 = std::fma(k, kHalfPi2, -h2);
    double sum = x;
    double err = 0.0;
    accumulate(sum, err, -h1);
    accumulate(sum, err, -l1);
    accumulate(sum, err, -h2);
    accumulate(sum, err, -l2);
    accumulate(sum, err, -(k * kHalfPi3));
    return sum + err;
}

// The quarter period of x: floor(x / (pi/2)) bounded from below and above.
// The bounds differ (by one) only when x lies within the reduction error of a
// multiple of pi/2. No non-zero double comes that close: the nearest of all
// lies about 2^-61 from one (Muller, Elementary Functions, ch. 11, the worst
// cases of argument reduction); x = 0 is such a multiple.
struct Quarter {
    std::int64_t low;
    std::int64_t high;
};

Quarter quarter(double x) {
    double k = std::nearbyint(x * kTwoOverPi);
    double t = reduced(x, k);
    // The first k may be off by up to 17 units where x * 2/pi is rounded to a
    // coarse grid; one correction from the reduced value puts |t| <= pi/4 (the
    // second pass only guards against a doubtful rounding of t * 2/pi).
    for (int pass = 0; pass < 2; ++pass) {
        const double step = std::nearbyint(t * kTwoOverPi);
        if (step == 0) break;
        k += step;
        t = reduced(x, k);
    }
    const auto n = static_cast<std::int64_t>(k);
    if (!(std::fabs(t) < 1.0)) return {n - 4, n + 4};  // not reached; a sound answer all the same
    if (t > kUncertainty) return {n, n};
    if (t < -kUncertainty) return {n - 1, n - 1};
    return {n - 1, n};
}

// Residue of a multiple b of pi/2 modulo 4: 0 at 2j pi, 1 at 2j pi + pi/2 and so on.
int residue(std::int64_t b) { return static_cast<int>(((b % 4) + 4) % 4); }

// Which of the residues occur among the multiples of pi/2 in (lo, hi] (bit r
// for residue r); every residue when there may be four or more of them.
unsigned multiples_inside(double lo, double hi) {
    const std::int64_t first = quarter(lo).low + 1;
    const std::int64_t last = quarter(hi).high;
    if (last - first >= 3) return 0xFu;
    unsigned found = 0;
    for (std::int64_t b = first; b <= last; ++b) found |= 1u << residue(b);
    return found;
}

// The library value at one point, four doubles outward.
Endpoints widened(double v) { return {pred4(v), succ4(v)}; }

// sin or cos: Max and Min are the residues of the multiples of pi/2 where the
// function is 1 and -1.
template <double (*F)(double), int Max, int Min>
Interval sine_like(double m, double r) {
    const Endpoints x = element_endpoints(m, r);
    if (std::isnan(x.lo)) return {kNaN, kNaN};
    if (!(x.hi - x.lo < kTwoPi)) return {0.0, 1.0};
    const double c = F(m);
    Endpoints y = widened(x.lo == m ? c : F(x.lo));
    if (x.hi != x.lo) {
        if (!(std::fabs(x.lo) < kReductionLimit && std::fabs(x.hi) < kReductionLimit)) return {0.0, 1.0};
        const Endpoints at_hi = widened(x.hi == m ? c : F(x.hi));
        y = {std::fmin(y.lo, at_hi.lo), std::fmax(y.hi, at_hi.hi)};
        const unsigned inside = multiples_inside(x.lo, x.hi);
        if (inside & (1u << Max)) y.hi = 1.0;
        if (inside & (1u << Min)) y.lo = -1.0;
    }
    return hull_with_midpoint(std::fmax(y.lo, -1.0), std::fmin(y.hi, 1.0), c);
}

double sine(double x) { return std::sin(x); }
double cosine(double x) { return std::cos(x); }

}  // namespace

Interval sin_rule(double m, double r, Status&) noexcept { return sine_like<sine, 1, 3>(m, r); }
Interval cos_rule(double m, double r, Status&) noexcept { return sine_like<cosine, 0, 2>(m, r); }

// tan is increasing between its poles at the odd multiples of pi/2; an
// interval of width pi or more always holds one.
Interval tan_rule(double m, double r, Status&) noexcept {
    constexpr Interval kWholeLine{0.0, kInfinity};
    const Endpoints x = element_endpoints(m, r);
    if (std::isnan(x.lo)) return {kNaN, kNaN};
    if (!(x.hi - x.lo < kPi)) return kWholeLine;
    const double c = std::tan(m);
    if (x.hi == x.lo) return hull_with_midpoint(pred4(c), succ4(c), c);
    if (!(std::fabs(x.lo) < kReductionLimit && std::fabs(x.hi) < kReductionLimit)) return kWholeLine;
    if (multiples_inside(x.lo, x.hi) & 0b1010u) return kWholeLine;
    const double at_lo = x.lo == m ? c : std::tan(x.lo);
    const double at_hi = x.hi == m ? c : std::tan(x.hi);
    return hull_with_midpoint(pred4(at_lo), succ4(at_hi), c);
}

}  // namespace boundwise::elementwise
