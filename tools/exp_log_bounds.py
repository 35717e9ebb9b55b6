"""Rigorous error bounds of the vectorised exp and ln (core/src/kernels/exp_log_lanes.hpp).

    python tools/exp_log_bounds.py          # read the constants from the header, print and check the bounds
    python tools/exp_log_bounds.py --fit    # fit the two polynomials again and print them as C++ constants

The bound of each function is the sum of three parts, each an upper bound:
- the approximation error of the polynomial, bounded on small subintervals by a
  Taylor model: g = f - P expanded at the centre c of [c - h, c + h] to the
  degree of P, whose next derivative is that of f alone and is bounded on the
  whole subinterval (the argument Sollya's supnorm makes, here with mpmath's
  interval arithmetic);
- the rounding errors of the evaluation, by a running error analysis in the
  standard model |fl(v) - v| <= ulp(v) / 2 <= u 2^floor(log2 |v|), u = 2^-53, plus 2^-1075
  for a product or quotient that may underflow (Higham, "Accuracy and Stability
  of Numerical Algorithms", 2nd ed., sections 2.2 and 3.3), with interval
  enclosures of every exact intermediate value over each subinterval;
- the error of the argument reduction (Muller, "Elementary Functions", 3rd ed.,
  chapter 11: Cody and Waite's reduction with constants of 42 bits, so that the
  products k C1 and k C2 are exact for |k| < 2^11).
All arithmetic on bounds is done in mpmath.iv (outward-rounded intervals), and
each bound is the upper end of an interval. The widening by two doubles in the
header is sound when the relative error is below 2^-52 / (1 + 2^-52), or when
the absolute error is below two spacings of the doubles at the smallest
magnitude the value can have (see the comment there); `check` asserts that.
"""

from __future__ import annotations

import argparse
import re
import sys
from pathlib import Path

import mpmath as mp
from mpmath import iv

HEADER = Path(__file__).resolve().parent.parent / "core" / "src" / "kernels" / "exp_log_lanes.hpp"
U = iv.mpf(2) ** -53
UNDERFLOW = iv.mpf(2) ** -1075
LIMIT = mp.mpf(2) ** -52 * (1 - mp.mpf(2) ** -50)  # what the two-step widening needs, with a margin
mp.mp.prec = iv.prec = 200


def upper(x) -> mp.mpf:
    """The upper end of |x| for an interval or number."""
    x = iv.mpf(x)
    return max(mp.mpf(abs(x.a)), mp.mpf(abs(x.b)))


def half_ulp(x) -> mp.mpf:
    """Half an ulp of the binade of x > 0: the largest rounding error of a normal result of magnitude <= x."""
    if x == 0:
        return mp.mpf(0)
    _, exponent = mp.frexp(x)  # x = m 2^exponent, 1/2 <= m < 1
    return mp.mpf(2) ** (exponent - 1 - 53)


# ---------------------------------------------------------------------------
# Running error analysis: each quantity is (interval of its exact value over the
# subinterval, upper bound of |computed - exact|). A rounding adds at most half
# an ulp of the largest magnitude the computed value can have.
# ---------------------------------------------------------------------------

class Quantity:
    def __init__(self, value, error=0):
        self.value = iv.mpf(value)
        self.error = mp.mpf(error)

    def _rounded(self, value, propagated, may_underflow: bool) -> "Quantity":
        bound = iv.mpf(propagated) + half_ulp(upper(iv.mpf(upper(value)) + propagated))
        if may_underflow:
            bound += UNDERFLOW
        return Quantity(value, upper(bound))

    def __add__(self, other):
        other = other if isinstance(other, Quantity) else Quantity(other)
        return self._rounded(self.value + other.value, iv.mpf(self.error) + other.error, False)

    def __sub__(self, other):
        other = other if isinstance(other, Quantity) else Quantity(other)
        return self._rounded(self.value - other.value, iv.mpf(self.error) + other.error, False)

    def __mul__(self, other):
        other = other if isinstance(other, Quantity) else Quantity(other)
        propagated = (iv.mpf(upper(self.value)) * other.error + iv.mpf(upper(other.value)) * self.error
                      + iv.mpf(self.error) * other.error)
        return self._rounded(self.value * other.value, propagated, True)

    def __truediv__(self, other):
        a, b = mp.mpf(other.value.a), mp.mpf(other.value.b)
        low = min(abs(a), abs(b)) if not (a <= 0 <= b) else 0
        assert low > other.error, "divisor may vanish"
        quotient = self.value / other.value
        propagated = (iv.mpf(self.error) + iv.mpf(upper(quotient)) * other.error) / (iv.mpf(low) - other.error)
        return self._rounded(quotient, propagated, True)


def exact_product(q: Quantity, c: float) -> Quantity:
    """A product known to be exact (a power of two, or k C1 with few bits)."""
    return Quantity(q.value * c, upper(iv.mpf(q.error) * abs(c)))


# ---------------------------------------------------------------------------
# Constants of the header
# ---------------------------------------------------------------------------

def read_constants(text: str) -> dict[str, list[float]]:
    """Every `inline constexpr double kName = ...;` or `... kName[] = {...};` of the header."""
    found = {}
    for name, body in re.findall(r"constexpr double (k\w+)(?:\[\])?\s*=\s*\{?([^;]*?)\}?;", text):
        found[name] = [float.fromhex(v.strip()) if "0x" in v else float(v) for v in body.split(",") if v.strip()]
    return found


def fit(degree_exp: int, degree_log: int) -> None:
    """Chebyshev fits close to the minimax polynomials, printed as hexadecimal doubles."""
    r_max = reduced_bound()
    with mp.workprec(300):
        def q(r):
            return mp.mpf(0.5) if r == 0 else (mp.expm1(r) - r) / r**2
        coeffs, err = mp.chebyfit(q, [-r_max, r_max], degree_exp + 1, error=True)
        print("exp Q, degree", degree_exp, "fit error", mp.nstr(err, 5))
        print("    " + ", ".join(float(c).hex() for c in reversed(coeffs)))
        z_max = float(log_z_max())

        def t(z):
            s = mp.sqrt(z)
            return mp.mpf(2) / 3 if z == 0 else (2 * mp.atanh(s) / s - 2) / z
        coeffs, err = mp.chebyfit(t, [0, z_max], degree_log + 1, error=True)
        print("log R, degree", degree_log, "fit error", mp.nstr(err, 5))
        print("    " + ", ".join(float(c).hex() for c in reversed(coeffs)))


# ---------------------------------------------------------------------------
# exp
# ---------------------------------------------------------------------------

LARGEST_REDUCED_ARGUMENT = 745.2  # |x| of every argument reduced (the header's slow range ends there)


def reduced_bound(c: dict | None = None) -> mp.mpf:
    """Upper bound of |r| for the computed r = fl(fl(x - k C1) - k C2).

    k is fl(x L) rounded to an integer (L = fl(log2 e)), so |x log2 e - k| <= 1/2 + |x| |L - log2 e| + u |x L|,
    and r_true = x - k ln 2 is at most ln 2 times that; the computed r adds u |r| and |k| |ln 2 - C1 - C2|."""
    x = iv.mpf(LARGEST_REDUCED_ARGUMENT)
    log2e = 1 / iv.log(2)
    slack = x * (2 * U) * log2e * 2  # |L - log2 e| <= u log2 e, and the rounding of x L
    r_true = iv.log(2) * (iv.mpf(0.5) + slack)
    tail = iv.mpf(1100) * (iv.mpf(2) ** -84)
    return upper(r_true * (1 + U) + tail)


def reduction_error(c: dict) -> mp.mpf:
    """Relative error exp(r + r_l - r_true) - 1 of the reduced argument r + r_l.

    r + r_l = fl(x - k C1) - k C2 exactly when |fl(x - k C1)| >= |k C2| (Fast2Sum); otherwise both are below
    |k C2| < 2^-31 and the sum is off by at most u 2^-30. What remains is k (ln 2 - C1 - C2)."""
    ln2 = iv.log(2)
    c1, c2 = c["kLn2Part1"][0], c["kLn2Part2"][0]
    assert mp.mpf(c1) * 2**42 == int(mp.mpf(c1) * 2**42) and abs(c1) < 1, "C1 must have at most 42 bits below 2^0"
    assert abs(mp.mpf(c2)) < mp.mpf(2) ** -42 and (mp.mpf(c2) * 2**84) == int(mp.mpf(c2) * 2**84)
    tail = upper((ln2 - c1 - c2) * 1100)
    shift = iv.mpf(tail) + U * iv.mpf(2) ** -30
    return upper(iv.exp(shift) - 1)


def low_part_bound() -> mp.mpf:
    """|r_l| <= u |r| (the rounding error of r) plus the slack of the non-Fast2Sum case."""
    return upper(U * reduced_bound() + U * iv.mpf(2) ** -30)


def exp_polynomial_error(q_coeffs: list[float], lo, hi) -> mp.mpf:
    """sup |exp(r) - P(r)| / exp(r) on [lo, hi] for P = 1 + r + r^2 Q(r), by a Taylor model."""
    p = [1.0, 1.0] + list(q_coeffs)  # coefficients of P, lowest first
    degree = len(p) - 1
    c, h = (iv.mpf(lo) + iv.mpf(hi)) / 2, (iv.mpf(hi) - iv.mpf(lo)) / 2
    c = iv.mpf(c.mid)
    bound = iv.mpf(0)
    for j in range(degree + 1):
        derivative = sum(iv.mpf(p[i]) * mp.ff(i, j) * c ** (i - j) for i in range(j, degree + 1))
        bound += abs(iv.exp(c) - derivative) * h**j / mp.factorial(j)
    bound += iv.exp(c + h) * h ** (degree + 1) / mp.factorial(degree + 1)
    return upper(bound / iv.exp(c - h))


def exp_evaluation_error(q_coeffs: list[float], lo, hi) -> mp.mpf:
    """|computed p - e^(r + r_l)| / e^(r + r_l) on r in [lo, hi], for p = h + (l + ((r r) q + (r_l r + r_l))),
    q by Estrin's scheme as in the header and h + l = 1 + r exactly (Fast2Sum, |r| < 1, so |l| <= 2^-53): the rounding errors, and the
    first-order model e^(r + r_l) ~ e^r (1 + r_l) with e^r (1 + r_l) - (e^r + r_l (1 + r)) =
    r_l (e^r - 1 - r) (the approximation of e^r itself is bounded separately)."""
    r = Quantity(iv.mpf([lo, hi]))
    low_bound = low_part_bound()
    r_low = Quantity(iv.mpf([-low_bound, low_bound]))
    c = [Quantity(v) for v in q_coeffs]
    assert len(c) == 10
    r2 = r * r
    r4 = r2 * r2
    low_half = (c[0] + c[1] * r) + (c[2] + c[3] * r) * r2
    high_half = (c[4] + c[5] * r) + (c[6] + c[7] * r) * r2
    q = (low_half + high_half * r4) + (c[8] + c[9] * r) * (r4 * r4)
    t = r2 * q + (r_low * r + r_low)
    inner = iv.mpf(t.error) + half_ulp(upper(U + iv.mpf(upper(t.value)) + t.error))  # fl(l + t) against l + t
    p = 1 + r.value + t.value
    error = inner + half_ulp(upper(iv.mpf(upper(p)) + inner))
    model = iv.mpf(low_bound) * iv.mpf(upper(iv.exp(r.value) - 1 - r.value))
    model += iv.exp(r.value.b) * (iv.exp(iv.mpf(low_bound)) - 1 - low_bound)
    return upper((error + model) / iv.exp(iv.mpf(lo) - low_bound))


def exp_bound(c: dict, pieces: int) -> dict:
    r_max = reduced_bound()
    q = c["kExpPolynomial"]
    worst_poly = worst_eval = mp.mpf(0)
    for i in range(pieces):
        lo = -r_max + 2 * r_max * mp.mpf(i) / pieces
        hi = -r_max + 2 * r_max * mp.mpf(i + 1) / pieces
        worst_poly = max(worst_poly, exp_polynomial_error(q, lo, hi))
        worst_eval = max(worst_eval, exp_evaluation_error(q, lo, hi))
    red = reduction_error(c)
    total = upper((1 + iv.mpf(worst_poly) + worst_eval) * (1 + iv.mpf(red)) - 1)
    return {"reduced |r| <=": r_max, "approximation": worst_poly, "evaluation": worst_eval, "reduction": red,
            "total": total}


# ---------------------------------------------------------------------------
# ln
# ---------------------------------------------------------------------------

F_LO, F_HI = -0.29289321881345254, 0.41421356237309515  # f = m' - 1 for m' in [sqrt(2)/2, sqrt(2)]


def log_z_max() -> mp.mpf:
    s = iv.mpf(F_HI) / (2 + iv.mpf(F_HI))  # |s| is largest at the upper end of f
    return upper(s * s * (1 + 4 * U))


def atanh_tail_derivative(n: int, z) -> mp.mpf:
    """Upper bound of the n-th derivative of W(z) = sum_{j>=0} 2 z^j / (2j + 3) at 0 <= z <= 0.03, where
    2 atanh(s) = 2s + s z W(z) for z = s^2."""
    z = mp.mpf(z)
    total = mp.mpf(0)
    for j in range(n, n + 120):
        total += 2 * mp.ff(j, n) * z ** (j - n) / (2 * j + 3)
    # The terms after the 120th shrink by a factor below 1/10 each (z <= 0.03), so the tail is below 2^-190
    # of the sum; the sum itself is rounded at 200 bits.
    return total * (1 + mp.mpf(2) ** -185)


def log_polynomial_error(r_coeffs: list[float], lo, hi) -> mp.mpf:
    """sup |W(z) - w(z)| on [lo, hi] (W as above, w the polynomial), by a Taylor model."""
    degree = len(r_coeffs) - 1
    c = (mp.mpf(lo) + mp.mpf(hi)) / 2
    h = (mp.mpf(hi) - mp.mpf(lo)) / 2
    bound = iv.mpf(0)
    for j in range(degree + 1):
        derivative = sum(iv.mpf(r_coeffs[i]) * mp.ff(i, j) * iv.mpf(c) ** (i - j) for i in range(j, degree + 1))
        value = atanh_tail_derivative(j, c)
        exact = iv.mpf([value * (1 - mp.mpf(2) ** -180), value * (1 + mp.mpf(2) ** -180)])
        bound += abs(exact - derivative) * iv.mpf(h) ** j / mp.factorial(j)
    bound += iv.mpf(atanh_tail_derivative(degree + 1, c + h)) * iv.mpf(h) ** (degree + 1) / mp.factorial(degree + 1)
    return upper(bound)


def log_evaluation(c: dict, e: int, lo, hi) -> tuple[mp.mpf, iv.mpf]:
    """(rounding error bound, enclosure of s) of the header's formula for f in [lo, hi] and exponent e."""
    f = Quantity(iv.mpf([lo, hi]))
    s = f / (Quantity(2.0) + f)
    z = s * s
    k = [Quantity(v) for v in c["kLogPolynomial"]]
    assert len(k) == 7
    z2 = z * z
    w = ((k[0] + k[1] * z) + (k[2] + k[3] * z) * z2) + ((k[4] + k[5] * z) + k[6] * z2) * (z2 * z2)
    big_r = z * w
    hfsq = exact_product(f, 0.5) * f
    ed = Quantity(float(e))
    inner = (hfsq - (s * (hfsq + big_r) + ed * c["kLn2Low"][0])) - f
    if e == 0:  # 0 H - inner is exact
        return inner.error, s.value
    result = exact_product(ed, c["kLn2High"][0]) - inner
    return result.error, s.value


def log_bound(c: dict, pieces: int, octave_parts: int, exponents) -> dict:
    hi_c, lo_c = c["kLn2High"][0], c["kLn2Low"][0]
    assert mp.mpf(hi_c) * 2**42 == int(mp.mpf(hi_c) * 2**42), "ln2 high part must have at most 42 bits"
    ln2_tail = upper(iv.log(2) - hi_c - lo_c)
    z_max = log_z_max()
    worst_poly = max(log_polynomial_error(c["kLogPolynomial"], z_max * i / pieces, z_max * (i + 1) / pieces)
                     for i in range(pieces))
    # f in pieces: eighths of octaves near 0 (|f| >= 2^-53 or f = 0, where the result is exact), uniform
    # further out.
    geometric = {mp.mpf(2) ** (-mp.mpf(j) / octave_parts) for j in range(4 * octave_parts, 53 * octave_parts + 1)}
    intervals = []
    for end, sign in ((mp.mpf(F_HI), 1), (-mp.mpf(F_LO), -1)):
        cuts = sorted(geometric | {end * i / pieces for i in range(1, pieces + 1)})
        cuts = [x for x in cuts if x <= end]
        intervals += [(a, b) if sign > 0 else (-b, -a) for a, b in zip(cuts, cuts[1:])]
    worst = mp.mpf(0)
    # The e-dependent terms are u |e| |L| and |e| |ln 2 - H - L|, far below the growth of |ln x| with |e|:
    # the smallest |e| are the hardest, and the extremes show the growth is harmless.
    for e in exponents:
        for a, b in intervals:
            error, s = log_evaluation(c, e, a, b)
            exact = iv.mpf(e) * iv.log(2) + iv.log(1 + iv.mpf([a, b]))
            smallest = min(abs(exact.a), abs(exact.b)) if not (exact.a <= 0 <= exact.b) else None
            assert smallest, (e, a, b)
            total = upper(iv.mpf(error) + upper(s) ** 3 * worst_poly + abs(e) * ln2_tail)
            # Every double between the computed value and ln x has magnitude >= smallest - total, where
            # the spacing of the doubles is at least twice the half ulp there: two steps cover `total`.
            reach = 4 * half_ulp(mp.mpf(smallest) - total)
            worst = max(worst, total / reach)
    return {"z <=": z_max, "approximation (absolute, in W)": worst_poly,
            "error / reach of two steps": worst}


def check(pieces: int = 64, octave_parts: int = 8, exponents=(0, 1, -1, 2, -2, 3, -3, 1024, -1075)) -> dict:
    """The bounds of both functions for the header's constants; raises AssertionError if one is too large."""
    c = read_constants(HEADER.read_text())
    exp = exp_bound(c, pieces)
    log = log_bound(c, pieces, octave_parts, exponents)
    assert exp["total"] < LIMIT, f"exp: relative error bound {mp.nstr(exp['total'], 6)} is not below 2^-52"
    assert log["error / reach of two steps"] < 1 - mp.mpf(2) ** -10, "ln: two steps do not cover the error"
    return {"exp": exp, "ln": log}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--fit", action="store_true", help="fit the polynomials and print them")
    parser.add_argument("--pieces", type=int, default=256, help="subintervals of each domain")
    options = parser.parse_args()
    if options.fit:
        fit(10, 6)
        return
    for name, parts in check(options.pieces).items():
        print(name)
        for key, value in parts.items():
            print(f"  {key:<32} {mp.nstr(value, 6):>14}  (2^{mp.nstr(mp.log(value, 2), 5)})")
    print("within reach: the two-step widening encloses")


if __name__ == "__main__":
    sys.exit(main())
