"""The enclosure promise of + - * / against exact rational arithmetic: every
result element contains the exact result for every choice of reals in the operands."""

from __future__ import annotations

import json
import math
import operator
import warnings
from fractions import Fraction

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import boundwise as bw
from conftest import (DATA, DBL_MAX, DIVIDE_WARNING, ETA, INF, bits, encloses, exact_ends, exact_range,
                      finite_doubles, finite_intervals, intervals, is_wide, itf1788_cases, itf1788_path, only,
                      snapshot, tightest_element)

OPS = {"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}
IN_PLACE = {"+": operator.iadd, "-": operator.isub, "*": operator.imul, "/": operator.itruediv}
# Results whose operands and exact range stay this far inside the doubles must come back finite.
MODERATE = Fraction(DBL_MAX) / 4
HYPOTHESIS = settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def raw(elements, shape=None) -> bw.IntervalArray:
    return bw.from_raw_parts([m for m, _ in elements], [r for _, r in elements],
                             shape if shape is not None else [len(elements)])


def elements_of(a):
    return list(zip(a.values(), a.radii()))


def quietly(fn, *args):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        return fn(*args)


def warned(call):
    """The result of call() and the messages of the RuntimeWarnings it issued."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    return result, [str(w.message) for w in caught if w.category is RuntimeWarning]


def check_element(op, x, y, result) -> None:
    """result encloses x op y. A NaN midpoint or infinite radius operand gives a
    wide result; a point at infinity (not a real) need only not crash."""
    mid, rad = result
    context = f"{x} {op} {y} gave {result}"
    if any(math.isnan(m) or r == INF for m, r in (x, y)):
        assert is_wide(mid, rad), context
        return
    ex, ey = exact_ends(*x), exact_ends(*y)
    if ex is None or ey is None:
        return
    exact = exact_range(op, ex, ey)
    if exact is None:  # a divisor containing zero
        assert is_wide(mid, rad), context
        return
    assert encloses(mid, rad, *exact), context
    if all(-MODERATE < v < MODERATE for v in (*ex, *ey, *exact)):
        # Rounding alone never makes a moderate result wide (near DBL_MAX an
        # upward-rounded intermediate may overflow).
        assert not is_wide(mid, rad) and rad >= 0, context


def check_pairs(op, pairs, result) -> None:
    got = elements_of(result)
    assert len(got) == len(pairs)
    for (x, y), r in zip(pairs, got):
        check_element(op, x, y, r)


def layout_operands(layout, xs, ys):
    """Operands for a layout and, in result order, the element pairs that meet."""
    n, k = len(xs), len(ys)
    if layout == "same_shape":
        ys = (ys * n)[:n]
        return raw(xs), raw(ys), list(zip(xs, ys)), (n,)
    if layout == "single_left":
        return raw(xs[:1]), raw(ys), [(xs[0], y) for y in ys], (k,)
    if layout == "single_right":
        return raw(xs), raw(ys[:1]), [(x, ys[0]) for x in xs], (n,)
    if layout == "outer_2d":  # (n, 1) with (k,) gives (n, k)
        return raw(xs, [n, 1]), raw(ys), [(x, y) for x in xs for y in ys], (n, k)
    rows = (xs * 2 * k)[: 2 * k]  # row_broadcast: (2, k) with (k,)
    return raw(rows, [2, k]), raw(ys), [(rows[i * k + j], ys[j]) for i in range(2) for j in range(k)], (2, k)


@pytest.mark.parametrize("layout", ["same_shape", "single_left", "single_right", "outer_2d", "row_broadcast"])
@pytest.mark.parametrize("op", list(OPS))
@HYPOTHESIS
@given(xs=st.lists(intervals(), min_size=1, max_size=6), ys=st.lists(intervals(), min_size=1, max_size=6))
def test_array_with_array_encloses_exact_result(op, layout, xs, ys):
    a, b, pairs, shape = layout_operands(layout, xs, ys)
    before = snapshot(a), snapshot(b)
    result = quietly(OPS[op], a, b)
    assert result.shape == shape
    check_pairs(op, pairs, result)
    assert (snapshot(a), snapshot(b)) == before


@pytest.mark.parametrize("op", list(OPS))
@HYPOTHESIS
@given(xs=st.lists(finite_intervals(), min_size=1, max_size=8), y=finite_intervals())
def test_single_element_operand_equals_materialised_copy(op, xs, y):
    # A one-element operand is paired with every element without a copy; the
    # result must be the same doubles as with the element repeated.
    a = raw(xs)
    repeated = snapshot(quietly(OPS[op], a, raw([y] * len(xs))))
    assert snapshot(quietly(OPS[op], a, raw([y]))) == repeated
    assert snapshot(quietly(OPS[op], a, raw([y], [1, 1])).reshape([len(xs)])) == repeated


@pytest.mark.parametrize("op", list(OPS))
@HYPOTHESIS
@given(xs=st.lists(intervals(), min_size=1, max_size=6), ys=st.lists(intervals(), min_size=1, max_size=6))
def test_in_place_with_array_encloses_exact_result(op, xs, ys):
    ys = (ys * len(xs))[: len(xs)]
    for right, pairs in ((raw(ys), list(zip(xs, ys))), (raw(ys[:1]), [(x, ys[0]) for x in xs])):
        a = alias = raw(xs)
        a = quietly(IN_PLACE[op], a, right)
        assert a is alias
        check_pairs(op, pairs, a)


@pytest.mark.parametrize("op", list(OPS))
@HYPOTHESIS
@given(xs=st.lists(intervals(), min_size=1, max_size=6),
       x=st.one_of(finite_doubles(), st.sampled_from([math.nan, INF, -INF])))
def test_array_with_number_encloses_exact_result(op, xs, x):
    a = raw(xs)
    before = snapshot(a)
    c = (x, 0.0) if math.isfinite(x) else (math.nan, INF)
    check_pairs(op, [(e, c) for e in xs], quietly(OPS[op], a, x))
    check_pairs(op, [(c, e) for e in xs], quietly(OPS[op], x, a))
    check_pairs(op, [(e, c) for e in xs], quietly(IN_PLACE[op], raw(xs), x))
    assert snapshot(a) == before


@HYPOTHESIS
@given(xs=st.lists(intervals(), min_size=0, max_size=8))
def test_negation_flips_sign_bits_and_keeps_radii(xs):
    a = raw(xs)
    n = -a
    assert bits(n.values()) == [b ^ (1 << 63) for b in bits(m for m, _ in xs)]
    assert bits(n.radii()) == bits(r for _, r in xs)
    assert snapshot(-n) == snapshot(a)
    p = +a
    assert p is not a and snapshot(p) == snapshot(a)
    assert (-raw(xs * 2, [2, len(xs)])).shape == (2, len(xs))


@HYPOTHESIS
@given(xs=st.lists(finite_intervals(), min_size=1, max_size=6), x=finite_doubles())
def test_reflected_and_scalar_forms_are_the_documented_identities(xs, x):
    a = raw(xs)
    assert snapshot(x - a) == snapshot((-a) + x)
    assert snapshot(a - x) == snapshot(a + (-x))
    assert snapshot(x + a) == snapshot(a + x)
    assert snapshot(x * a) == snapshot(a * x)
    assert snapshot(a.scale(x)) == snapshot(a * x)


# ---------------------------------------------------------------------------
# Worked examples
# ---------------------------------------------------------------------------


def test_exact_sum_is_exact():
    assert only(bw.array([1.0]) + bw.array([2.0])) == (3.0, 0.0)
    assert only(bw.array([3.0]) - bw.array([1.0])) == (2.0, 0.0)
    x = bw.array([0.1])
    assert only(x - x) == (0.0, 0.0)


@pytest.mark.parametrize("compute", [lambda: bw.array([0.1]) + bw.array([0.2]), lambda: bw.array([0.1]) + 0.2,
                                     lambda: 0.2 + bw.array([0.1]), lambda: bw.array([0.1]) - (-0.2)])
def test_rounded_sum_radius_is_its_exact_rounding_error(compute):
    m, r = only(compute())
    assert m == 0.1 + 0.2
    error = abs(Fraction(0.1) + Fraction(0.2) - Fraction(m))
    assert error != 0 and Fraction(r) == error  # 2^-55, representable, so bounded exactly


def form(kind, x, op, y):
    """x op y with each side an array ("a") or a plain number ("n")."""
    return OPS[op](bw.array([x]) if kind[0] == "a" else x, bw.array([y]) if kind[1] == "a" else y)


@pytest.mark.parametrize(
    "kind, x, op, y",
    [("aa", 1e308, "*", 10.0), ("an", 1e308, "*", 10), ("na", 10, "*", -1e308), ("aa", 1e308, "+", 1e308),
     ("an", 1e308, "+", 1e308), ("aa", -1e308, "-", 1e308), ("na", 1e308, "-", -1e308),
     ("aa", DBL_MAX, "+", DBL_MAX / 2**52)],
)
def test_overflow_gives_infinite_radius_not_nan(kind, x, op, y):
    m, r = only(form(kind, x, op, y))
    assert m == math.copysign(INF, float(x) * float(y) if op == "*" else x) and r == INF


# x + DBL_MAX whose TwoSum intermediate s - x rounds to infinity: a tie at the
# top of the range, where the sum itself is finite and its error exact.
NEAR_TOP = -8.2710850020089487e307


@pytest.mark.parametrize("kind", ["aa", "an", "na"])
@pytest.mark.parametrize("x, op, y", [(NEAR_TOP, "+", DBL_MAX), (-NEAR_TOP, "+", -DBL_MAX), (NEAR_TOP, "-", -DBL_MAX),
                                      (-NEAR_TOP, "-", DBL_MAX), (DBL_MAX, "+", NEAR_TOP)])
def test_sum_beside_the_largest_double_keeps_its_exact_error_as_radius(kind, x, op, y):
    m, r = only(form(kind, x, op, y))
    exact = Fraction(x) + Fraction(y) if op == "+" else Fraction(x) - Fraction(y)
    assert Fraction(r) == abs(exact - Fraction(m)) != 0


def test_division_fast_path_bound():
    # [1 +- 0.5] / [2 +- 0.5]: numerator 0.5 + 0.25 over denominator 1.5.
    m, r = only(bw.array([(1.0, 0.5)]) / bw.array([(2.0, 0.5)]))
    assert (m, r) == (0.5, 0.5)


def test_divisor_containing_zero_takes_slow_path_for_all_elements():
    q, messages = warned(lambda: bw.array([1.0, 2.0, 3.0]) / bw.array([(1.0, 0.0), (0.0, 1.0), (1.0, 0.0)]))
    assert messages == [DIVIDE_WARNING]
    (m0, m1, m2), (r0, r1, r2) = q.values(), q.radii()
    assert math.isnan(m1) and r1 == INF
    assert encloses(m0, r0, Fraction(1), Fraction(1)) and not is_wide(m0, r0)
    assert encloses(m2, r2, Fraction(3), Fraction(3)) and not is_wide(m2, r2)


@pytest.mark.parametrize("zero", [0.0, -0.0, 0])
def test_division_by_scalar_zero_is_zero_plus_minus_infinity(zero):
    q, messages = warned(lambda: bw.array([[1.0, -2.0], [math.nan, 0.0]]) / zero)
    assert messages == [DIVIDE_WARNING]
    assert q.shape == (2, 2) and q.values() == [0.0] * 4 and q.radii() == [INF] * 4


def test_number_divided_by_interval_containing_zero():
    q, messages = warned(lambda: 1.0 / bw.array([(2.0, 0.5), (0.0, 1.0), (-1.0, 2.0)]))
    assert messages == [DIVIDE_WARNING]
    assert q.values()[1:] == [0.0, 0.0] and q.radii()[1:] == [INF, INF]
    assert encloses(q.values()[0], q.radii()[0], Fraction(2, 5), Fraction(2, 3))


# ---------------------------------------------------------------------------
# Regressions: division by a number, huge points, underflow
# ---------------------------------------------------------------------------


@pytest.mark.parametrize("numerator", [1.0, 2.0, 0.1, 1e300, 7e-310])
@pytest.mark.parametrize("divisor", [3.0, -3.0, 10.0, 0.1, 49.0, 1e-300, 3e-320])
def test_division_by_number_encloses_quotient(numerator, divisor):
    # fl(1/c) treated as exact would miss n/c for most c.
    exact = Fraction(numerator) / Fraction(divisor)
    for result in (bw.array([numerator]) / divisor, bw.array([numerator]) / bw.array([divisor]),
                   numerator / bw.array([divisor])):
        assert encloses(*only(result), exact, exact)


def test_one_third_encloses_tightly():
    third = Fraction(1, 3)
    for result in (bw.array([1.0]) / 3, 1 / bw.array([3.0]), bw.array([1.0]) / bw.array([3.0])):
        m, r = only(result)
        assert encloses(m, r, third, third) and 0 < r < 1e-15


@pytest.mark.parametrize("x", [1e308, -1e308, DBL_MAX, -DBL_MAX, DBL_MAX / 2 + 2.0**970])
def test_huge_number_as_exact_scalar_stays_that_number(x):
    for result in (bw.array([0.0]) + x, x + bw.array([0.0]), bw.array([1.0]) * x, x * bw.array([1.0]),
                   x - bw.array([0.0]), bw.array([x]) / 1.0):
        assert only(result) == (x, 0.0)


@pytest.mark.parametrize(
    "kind, x, op, y",
    [("aa", 1e-200, "*", 1e-200), ("an", 1e-200, "*", 1e-200), ("na", 1e-200, "*", -1e-200), ("aa", ETA, "*", 0.5),
     ("an", 3 * ETA, "*", 0.5), ("aa", 2.0**-1022 + ETA, "*", 1 - 2.0**-53), ("aa", 1e-300, "/", 1e300),
     ("an", 1e-300, "/", 1e300), ("an", ETA, "/", 2), ("aa", ETA, "/", 1.5), ("na", 1e-300, "/", 1e300),
     ("na", ETA, "/", 3.0)],
)
def test_underflowing_results_are_not_exact(kind, x, op, y):
    exact = exact_range(op, (Fraction(x),) * 2, (Fraction(y),) * 2)[0]
    m, r = only(form(kind, x, op, y))
    assert Fraction(m) != exact and r > 0 and encloses(m, r, exact, exact)


@pytest.mark.parametrize(
    "kind, x, op, y",
    [("aa", 2.0**-500, "*", 2.0**-500), ("an", 2.0**-537, "*", 2.0**-537), ("aa", 0.0, "*", 1e-300),
     ("an", 1e-300, "*", 0.0), ("aa", 0.0, "/", 1e-300), ("an", 0.0, "/", 3.0), ("na", 0.0, "/", 1e300),
     ("aa", 2.0**-1000, "/", 2.0**70), ("an", 4 * ETA, "/", 2), ("aa", 3 * ETA, "*", 1.0)],
)
def test_exact_tiny_results_stay_exact(kind, x, op, y):
    # Underflow handling widens only when some error was really lost.
    assert only(form(kind, x, op, y))[1] == 0.0


@pytest.mark.parametrize("op", list(OPS))
def test_nan_midpoint_propagates(op):
    result = quietly(OPS[op], bw.array([math.nan, 1.0]), bw.array([2.0, 3.0]))
    m, r = result.values()[0], result.radii()[0]
    assert math.isnan(m)
    assert math.isnan(r) if op in "+-" else r == INF


# ---------------------------------------------------------------------------
# ITF1788 conformance vectors for add, sub, mul and div
# ---------------------------------------------------------------------------

ITL_OPS = {"add": "+", "sub": "-", "mul": "*", "div": "/"}


@pytest.mark.parametrize("itl_op", list(ITL_OPS))
def test_itf1788_results_enclose_exact_range(itl_op):
    op = ITL_OPS[itl_op]
    checked = below_hull = 0
    violations = []
    for case in itf1788_cases({itl_op}):
        (alo, ahi), (blo, bhi) = case["args"]
        try:
            x, y = tightest_element(alo, ahi), tightest_element(blo, bhi)
        except ValueError:
            continue  # half-bounded: not storable in midpoint-radius form
        result = only(quietly(OPS[op], raw([x]), raw([y])))
        checked += 1
        expected = case["expected"]
        if expected == "empty" or not all(math.isfinite(v) for v in (alo, ahi, blo, bhi)):
            if not is_wide(*result):
                violations.append((case, result))
            continue
        exact = exact_range(op, (Fraction(alo), Fraction(ahi)), (Fraction(blo), Fraction(bhi)))
        if exact is None:
            ok = is_wide(*result)
        else:
            ok = encloses(*result, *exact)
            lo, hi = expected
            if ok and math.isfinite(lo) and math.isfinite(hi):
                if not is_wide(*result) and not encloses(*result, Fraction(lo), Fraction(hi)):
                    below_hull += 1  # encloses the exact range, misses the double hull by rounding
                # The stored divisor may have to cross zero: [4.5, 9e62] has no
                # midpoint-radius enclosure that excludes it.
                stored = exact_ends(*y)
                divisor_crosses_zero = op == "/" and stored is not None and stored[0] <= 0 <= stored[1]
                if max(abs(lo), abs(hi)) < 1e300 and not divisor_crosses_zero:
                    ok = not is_wide(*result)
        if not ok:
            violations.append((case, result))
    assert checked > 0, f"no {itl_op} cases in {itf1788_path()}"
    assert not violations, violations[:5]
    assert below_hull <= checked // 4


def test_bundled_conformance_subset_is_apache_licensed():
    assert (DATA / "itf1788-LICENSE").is_file() and (DATA / "itf1788-NOTICE").is_file()
    with (DATA / "itf1788_apache.jsonl").open(encoding="utf-8") as f:
        assert {json.loads(line)["source"] for line in f} == {"libieeep1788_elem.itl"}
