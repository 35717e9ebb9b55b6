"""Rigorous error bounds of the vectorised sin, cos and tan (core/src/kernels/trig_lanes.hpp).

    python tools/trig_bounds.py             # read the constants from the header, print and check the bounds
    python tools/trig_bounds.py --fit       # fit the two polynomials again and print them as C++ constants

The relative error of each computed value is bounded by the sum of three parts, as for exp and ln
(tools/exp_log_bounds.py, whose running error analysis and interval helpers are reused):
- the approximation error of S and C, by Taylor models on subintervals of [0, z_max] (the derivatives
  of the exact S and C are bounded through their power series, whose terms are known exactly);
- the rounding errors of the evaluation, by a running error analysis in the standard model
  (Higham, "Accuracy and Stability of Numerical Algorithms", 2nd ed., 2.2 and 3.3) over pieces of
  y: octaves from 2^-500 (the smallest argument not deferred) and uniform pieces further out, with
  y_l bounded by half an ulp of |y| and the first-order model of sin(y + y_l) and cos(y + y_l);
- the error of the reduction: |x - k pi/2 - (y + y_l)| <= E for |x| <= 2^23, which moves a value f(t)
  by at most E / (0.63 |t|) relatively, since |f'/f| <= 1 / |sin t cos t| for f in sin, cos, tan, cot
  (and |sin 2t| >= 0.63 * 2 |t| for |t| <= 0.7854); non-zero k are taken only for |y| >= 2^-26, and
  k = 0 is exact.
n steps from the computed value towards the exact one cover a relative error below
n 2^-53 / (1 + n 2^-53) (the spacing of the doubles at magnitude a is at least a 2^-53);
`check` asserts that for the step counts of the header.
"""

from __future__ import annotations

import argparse
import importlib.util
import re
import sys
from pathlib import Path

import mpmath as mp
from mpmath import iv

TOOLS = Path(__file__).resolve().parent
HEADER = TOOLS.parent / "core" / "src" / "kernels" / "trig_lanes.hpp"
_spec = importlib.util.spec_from_file_location("exp_log_bounds", TOOLS / "exp_log_bounds.py")
elb = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(elb)
Quantity, upper, half_ulp, U = elb.Quantity, elb.upper, elb.half_ulp, elb.U

Y_MAX = mp.mpf("0.7854")
Y_MIN_EXPONENT = -500  # |x| >= 2^-500 or x = 0 (exact 0) in the fast lanes
NEAR_MULTIPLE = mp.mpf(2) ** -26
FAST_LIMIT = mp.mpf(2) ** 23


def series_derivative(kind: str, n: int, z) -> mp.mpf:
    """Upper bound of |d^n/dz^n| of S(z) = sum (-1)^(j+1) z^j / (2j+3)! or C(z) = sum (-1)^j z^j / (2j+4)!
    at 0 <= z <= 1 (terms taken in absolute value; the terms after 60 are below 2^-400)."""
    z = mp.mpf(z)
    offset = 3 if kind == "sin" else 4
    return sum(mp.ff(j, n) * z ** (j - n) / mp.factorial(2 * j + offset) for j in range(n, n + 60)) + mp.mpf(2) ** -390


def series_value(kind: str, z) -> iv.mpf:
    offset, sign = (3, -1) if kind == "sin" else (4, 1)
    total = iv.mpf(0)
    for j in range(60):
        total += iv.mpf(sign * (-1) ** j) * iv.mpf(z) ** j / mp.factorial(2 * j + offset)
    return total + iv.mpf([-mp.mpf(2) ** -390, mp.mpf(2) ** -390])


def polynomial_error(kind: str, coeffs: list[float], lo, hi) -> mp.mpf:
    """sup |exact - polynomial| on [lo, hi] in z, by a Taylor model at the centre."""
    degree = len(coeffs) - 1
    c = (mp.mpf(lo) + mp.mpf(hi)) / 2
    h = (mp.mpf(hi) - mp.mpf(lo)) / 2
    bound = iv.mpf(0)
    for j in range(degree + 1):
        poly = sum(iv.mpf(coeffs[i]) * mp.ff(i, j) * iv.mpf(c) ** (i - j) for i in range(j, degree + 1))
        exact = series_value(kind, c) if j == 0 else None
        if exact is None:  # the j-th derivative of the series at c, enclosed from its terms
            offset, sign = (3, -1) if kind == "sin" else (4, 1)
            exact = sum(iv.mpf(sign * (-1) ** i) * mp.ff(i, j) * iv.mpf(c) ** (i - j) / mp.factorial(2 * i + offset)
                        for i in range(j, j + 60)) + iv.mpf([-mp.mpf(2) ** -390, mp.mpf(2) ** -390])
        bound += abs(exact - poly) * iv.mpf(h) ** j / mp.factorial(j)
    bound += iv.mpf(series_derivative(kind, degree + 1, mp.mpf(hi))) * iv.mpf(h) ** (degree + 1) / mp.factorial(
        degree + 1)
    return upper(bound)


def approximation_errors(c: dict, pieces: int) -> dict:
    """Relative errors of y + y^3 S and 1 - z/2 + z^2 C against sin y and cos y for |y| <= Y_MAX:
    y^3 |dS| / |sin y| <= z |dS| / 0.9 and z^2 |dC| / cos y <= z^2 |dC| / 0.7."""
    z_max = Y_MAX**2
    sin_worst = cos_worst = mp.mpf(0)
    for i in range(pieces):
        lo, hi = z_max * i / pieces, z_max * (i + 1) / pieces
        sin_worst = max(sin_worst, hi * polynomial_error("sin", c["kSinPolynomial"], lo, hi) / mp.mpf("0.9"))
        cos_worst = max(cos_worst, hi**2 * polynomial_error("cos", c["kCosPolynomial"], lo, hi) / mp.mpf("0.7"))
    return {"sin": sin_worst, "cos": cos_worst}


def reduction_error(c: dict) -> tuple[mp.mpf, mp.mpf]:
    """(E, |k| bound): |x - k pi/2 - (y + y_l)| <= E for |x| <= 2^23."""
    p1, p2, p3 = c["kHalfPiPart1"][0], c["kHalfPiPart2"][0], c["kHalfPiPart3"][0]
    k_max = int(mp.floor(FAST_LIMIT * 2 / mp.pi * (1 + 4 * 2.0**-53))) + 1
    assert k_max < 2**23
    for p in (p1, p2):  # 30 significant bits: k p exact for |k| < 2^23
        mantissa, _ = mp.frexp(mp.mpf(p))
        assert mantissa * 2**30 == int(mantissa * 2**30), p
    tail = upper(iv.pi / 2 - p1 - p2 - p3)
    p3_max = k_max * abs(mp.mpf(p3))
    t2_max = mp.mpf(1)  # |x - k P1 - k P2| <= pi/4 + 2^-28 + |k (pi/2 - P1 - P2)|
    e2_max = 2 * half_ulp(t2_max)
    # k (pi/2 - P1 - P2 - P3), the rounding of k P3, the rounding of e2 - fl(k P3); y + y_l is exact.
    error = k_max * tail + half_ulp(p3_max) + half_ulp(e2_max + p3_max)
    return upper(iv.mpf(error)), mp.mpf(k_max)


def reduced_bound(c: dict, error: mp.mpf) -> mp.mpf:
    """Upper bound of |y| for |x| <= 2^23: k is fl(x L) rounded to the nearest integer, L = fl(2/pi), so
    |x 2/pi - k| <= 1/2 + |x| |L - 2/pi| + ulp(2^23) / 2, and |y| <= |x - k pi/2| + E + ulp(1) / 2."""
    slack = iv.mpf(FAST_LIMIT) * abs(iv.mpf(c["kTwoOverPi"][0]) - 2 / iv.pi) + mp.mpf(2) ** -30
    return upper(iv.pi / 2 * (iv.mpf(0.5) + slack) + error + U)


def y_pieces(uniform: int) -> list[tuple[mp.mpf, mp.mpf]]:
    """Octaves of |y| from 2^-500 to 1/2, then uniform pieces. Each octave is moved down by 2^-45 of
    itself, so that its values with y_l added stay below the next power of two, whose ulp is twice as
    large (the running error analysis takes the ulp at the largest magnitude)."""
    pieces = []
    shift = 1 - mp.mpf(2) ** -45
    for e in range(Y_MIN_EXPONENT, -1):
        pieces.append((mp.mpf(2) ** e * (shift if e > Y_MIN_EXPONENT else 1), mp.mpf(2) ** (e + 1) * shift))
    for i in range(uniform):
        a = mp.mpf(0.5) * shift + (Y_MAX - mp.mpf(0.5) * shift) * i / uniform
        b = mp.mpf(0.5) * shift + (Y_MAX - mp.mpf(0.5) * shift) * (i + 1) / uniform
        pieces.append((a, b))
    return pieces


def evaluation_errors(c: dict, lo, hi, y_low_bound) -> tuple[mp.mpf, mp.mpf]:
    """Relative rounding and model errors of the header's sin and cos formulas for y in [lo, hi] > 0
    (both formulas are odd and even in (y, y_l), so negative y give the same bounds)."""
    y = Quantity(iv.mpf([lo, hi]))
    yl = Quantity(iv.mpf([-y_low_bound, y_low_bound]))
    s = [Quantity(v) for v in c["kSinPolynomial"]]
    k = [Quantity(v) for v in c["kCosPolynomial"]]
    z = y * y
    z2 = z * z
    z4 = z2 * z2
    big_s = ((s[0] + s[1] * z) + (s[2] + s[3] * z) * z2) + ((s[4] + s[5] * z) + s[6] * z2) * z4
    big_c = ((k[0] + k[1] * z) + (k[2] + k[3] * z) * z2) + (k[4] + k[5] * z) * z4
    half_z = elb.exact_product(z, 0.5)
    tail = (y * z) * big_s + (yl - half_z * yl)
    sine = y + tail
    # cos: w + ((1 - w) - z/2) = 1 - fl(z)/2 exactly, so only fl(z)'s error and the rest are rounded.
    rest = z2 * big_c - y * yl
    one_minus = Quantity(1 - half_z.value, half_z.error)
    inner = Quantity(iv.mpf([-U, U]), 0) + rest  # (1 - w) - z/2, exact, of magnitude <= ulp(1)/2
    cosine = one_minus + inner
    # Model: sin(y + y_l) - sin y - y_l (1 - z/2) and cos(y + y_l) - cos y + y y_l, first and second order.
    ylb = iv.mpf(y_low_bound)
    yv = iv.mpf(hi)
    sin_model = ylb * yv**4 / 24 + ylb**2 / 2
    cos_model = ylb * yv**3 / 6 + ylb**2 / 2
    sin_exact_low = iv.sin(iv.mpf(lo))
    cos_exact_low = iv.cos(iv.mpf(hi))
    return (upper((iv.mpf(sine.error) + sin_model) / sin_exact_low),
            upper((iv.mpf(cosine.error) + cos_model) / cos_exact_low))


def check(uniform: int = 64, pieces: int = 32) -> dict:
    """The bounds for the header's constants; raises AssertionError if its step counts do not cover them."""
    text = HEADER.read_text()
    c = elb.read_constants(text)
    steps = {name: int(re.search(rf"constexpr int {name} = (\d+);", text).group(1))
             for name in ("kSinCosSteps", "kTanSteps")}
    approx = approximation_errors(c, pieces)
    red, _ = reduction_error(c)
    assert reduced_bound(c, red) <= Y_MAX, "the reduced argument may leave the range of the polynomials"
    t_min = NEAR_MULTIPLE * (1 - mp.mpf(2) ** -40) - red
    reduction = upper(iv.mpf(red) / (mp.mpf("0.63") * t_min))
    worst_sin = worst_cos = mp.mpf(0)
    for lo, hi in y_pieces(uniform):
        y_low_bound = half_ulp(hi)
        es, ec = evaluation_errors(c, lo, hi, y_low_bound)
        # relative to sin(y + y_l), cos(y + y_l) rather than at y: a factor 1 + 2^-50 covers it
        worst_sin, worst_cos = max(worst_sin, es * (1 + 2.0**-50)), max(worst_cos, ec * (1 + 2.0**-50))
    total_sin = upper((1 + iv.mpf(approx["sin"]) + worst_sin) * (1 + iv.mpf(reduction)) - 1)
    total_cos = upper((1 + iv.mpf(approx["cos"]) + worst_cos) * (1 + iv.mpf(reduction)) - 1)
    # tan = s / c or -c / s, the quotient rounded once: (1 + a) / (1 - b) (1 + u) - 1.
    total_tan = max(upper((1 + iv.mpf(a)) / (1 - iv.mpf(b)) * (1 + U) - 1)
                    for a, b in ((total_sin, total_cos), (total_cos, total_sin)))
    result = {
        "reduction |x - k pi/2 - y - y_l| <=": red,
        "reduction (relative)": reduction,
        "approximation sin": approx["sin"], "approximation cos": approx["cos"],
        "evaluation sin": worst_sin, "evaluation cos": worst_cos,
        "total sin": total_sin, "total cos": total_cos, "total tan": total_tan,
    }
    for name, total, n in (("sin/cos", max(total_sin, total_cos), steps["kSinCosSteps"]),
                           ("tan", total_tan, steps["kTanSteps"])):
        reach = n * mp.mpf(2) ** -53 / (1 + n * mp.mpf(2) ** -53)
        assert total < reach, f"{name}: relative error bound {mp.nstr(total, 6)} needs more than {n} steps"
    return result


def fit() -> None:
    z_max = float(Y_MAX**2)
    with mp.workprec(300):
        for kind, degree in (("sin", 6), ("cos", 5)):
            co = mp.chebyfit(lambda z: series_value(kind, z).mid, [0, z_max], degree + 1)
            print(kind, ", ".join(float(v).hex() for v in reversed(co)))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--fit", action="store_true", help="fit the polynomials and print them")
    options = parser.parse_args()
    if options.fit:
        fit()
        return
    for key, value in check().items():
        print(f"  {key:<40} {mp.nstr(value, 6):>14}  (2^{mp.nstr(mp.log(value, 2), 5)})")
    print("within reach: two steps enclose sin and cos, four enclose tan")


if __name__ == "__main__":
    sys.exit(main())
