"""Reductions against exact rational oracles and plain-Python models: sums,
means, products, variances and norms enclose the exact results for every
choice of reals in the elements; extremes, ordering and predicates follow
their definitions, along every axis and over the whole array."""

from __future__ import annotations

import itertools
import math
import random
from fractions import Fraction

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import boundwise as bw
from oracles import (DBL_MAX, ETA, INF, NAN, bits, encloses, exact_ends, from_pairs, intervals, is_wide, pairs, raises,
                     snapshot)

HYPOTHESIS = settings(max_examples=80, deadline=None, suppress_health_check=[HealthCheck.too_slow])
ENTIRE = (NAN, INF)


def claims_nothing(mid, rad):
    """The entire line: an infinite radius, never a NaN one."""
    return rad == INF


def bounded(xs):
    """Exact ends of every element, or None when some element is not a bounded interval."""
    ends = [exact_ends(m, r) for m, r in xs]
    return None if any(e is None for e in ends) else ends


def square_range(lo, hi):
    corners = (lo * lo, hi * hi)
    return (Fraction(0) if lo <= 0 <= hi else min(corners)), max(corners)


def product_range(ends):
    lo = hi = Fraction(1)
    for a, b in ends:
        corners = [lo * a, lo * b, hi * a, hi * b]
        lo, hi = min(corners), max(corners)
    return lo, hi


def variance_of(points):
    mean = sum(points, Fraction(0)) / len(points)
    return sum(((p - mean) ** 2 for p in points), Fraction(0)) / len(points)


def encloses_root(result, lo, hi):
    """result encloses [sqrt(lo), sqrt(hi)] (lo, hi >= 0), decided exactly on squares."""
    ends = exact_ends(*result)
    if ends is None:
        return is_wide(*result)
    return (ends[0] <= 0 or ends[0] ** 2 <= lo) and ends[1] >= 0 and hi <= ends[1] ** 2


def corner_choices(ends, count=6):
    """Some points of the box: all lower ends, all upper ends, the centres and random corners."""
    rng = random.Random(len(ends))
    yield [a for a, _ in ends]
    yield [b for _, b in ends]
    yield [(a + b) / 2 for a, b in ends]
    for _ in range(count):
        yield [rng.choice(e) for e in ends]


def check_sums(xs, result_sum, result_mean, cumsum_elements, result_var, result_std, result_prod, result_norm=None):
    """Every result against its exact oracle; elements that are not bounded make the results claim nothing."""
    ends = bounded(xs)
    results = [result_sum, result_mean, result_var, result_std, result_prod] + [result_norm] * (result_norm is not None)
    if ends is None:
        if any(math.isnan(m) or r == INF for m, r in xs):
            assert claims_nothing(*result_sum) and claims_nothing(*result_mean) and claims_nothing(*result_var)
        assert not any(math.isnan(r) for _, r in results)
        assert all(not math.isnan(r) for _, r in cumsum_elements)
        return
    n = len(ends)
    lo, hi = sum((a for a, _ in ends), Fraction(0)), sum((b for _, b in ends), Fraction(0))
    assert encloses(*result_sum, lo, hi)
    assert encloses(*result_prod, *product_range(ends))
    squares = [square_range(a, b) for a, b in ends]
    low_squares, high_squares = sum((s for s, _ in squares), Fraction(0)), sum((t for _, t in squares), Fraction(0))
    assert result_norm is None or encloses_root(result_norm, low_squares, high_squares)
    for k, element in enumerate(cumsum_elements, 1):
        assert not math.isnan(element[1])
        assert encloses(*element, sum((a for a, _ in ends[:k]), Fraction(0)), sum((b for _, b in ends[:k]), Fraction(0)))
    if n == 0:
        assert result_sum == (0.0, 0.0) and result_prod == (1.0, 0.0) and result_norm in (None, (0.0, 0.0))
        assert math.isnan(result_mean[0]) and math.isnan(result_var[0]) and math.isnan(result_std[0])
        return
    assert encloses(*result_mean, lo / n, hi / n)
    for points in corner_choices(ends):
        v = variance_of(points)
        assert encloses(*result_var, v, v) and encloses_root(result_std, v, v)
    var_ends = exact_ends(*result_var)
    assert var_ends is None or var_ends[1] >= 0


def check_whole_array(xs):
    a = from_pairs(xs)
    before = snapshot(a)
    check_sums(xs, a.sum(), a.mean(), pairs(a.cumsum()), a.var(), a.std(), a.prod(), a.norm())
    assert snapshot(a) == before


@HYPOTHESIS
@given(st.lists(intervals(), max_size=10))
def test_whole_array_results_enclose_exact_results(xs):
    check_whole_array(xs)


CASES = {
    "cancellation": [(1e16, 0.0), (1.0, 0.0), (-1e16, 0.0), (3.0, 0.5)],
    "rounding": [(0.1, 0.0), (0.2, 0.0), (0.3, 0.0)],
    "overflow": [(DBL_MAX, 0.0), (DBL_MAX, 0.0), (-DBL_MAX, 0.0)],
    "huge radius": [(1.0, DBL_MAX), (1.0, DBL_MAX)],
    "underflow": [(ETA, ETA), (3 * ETA, 0.0), (2.0**-1022, ETA), (-ETA, 0.0)],
    "subnormal squares": [(1e-200, 1e-300), (-1e-170, 0.0)],
    "entire line": [(3.0, 0.0), ENTIRE],
    "infinite radius": [(1.0, INF), (2.0, 0.0)],
    "nan": [(1.0, 0.0), (NAN, 0.0)],
    "infinite point": [(INF, 0.0), (1.0, 0.0)],
    "opposite infinities": [(INF, 0.0), (-INF, 0.0)],
    "zero width": [(2.0, 0.0)] * 5,
    "empty": [],
}


@pytest.mark.parametrize("xs", CASES.values(), ids=CASES.keys())
def test_adversarial_sums_enclose_exact_results(xs):
    check_whole_array(xs)


@pytest.mark.parametrize("n", [255, 256, 257, 1000])
@pytest.mark.parametrize("special", [None, 0, "middle", -1])
def test_long_moments_enclose_the_point_moments(n, special):
    # long enough for the blocks of the squared deviations to sum in lattices; a NaN anywhere claims nothing
    rng = random.Random(n)
    xs = [(1000.0 + rng.uniform(-1, 1), rng.choice([0.0, 1e-9])) for _ in range(n)]
    if special is not None:
        xs[n // 2 if special == "middle" else special] = (NAN, 0.0)
    a = from_pairs(xs)
    rows = from_pairs(xs[: n // 5 * 5], (5, n // 5))
    results = [a.var(), a.norm()] + [e for axis in (0, 1) for e in pairs(rows.var(axis=axis))]
    if special is not None:
        assert all(claims_nothing(*r) for r in results[:2])
        return
    points = [Fraction(m) for m, _ in xs]
    assert encloses(*results[0], variance_of(points), variance_of(points))
    assert encloses_root(results[1], sum(p * p for p in points), sum(p * p for p in points))
    grid = [points[i * (n // 5):(i + 1) * (n // 5)] for i in range(5)]
    lanes_ = [list(col) for col in zip(*grid)] + grid
    assert all(encloses(*r, variance_of(lane), variance_of(lane)) for r, lane in zip(results[2:], lanes_))


def point(expected):
    return lambda m, r: bits((m, r)) == bits(expected)


def holds_range(lo, hi):
    return lambda m, r: encloses(m, r, Fraction(lo), Fraction(hi))


@pytest.mark.parametrize("xs, method, expected", [
    (CASES["rounding"], "sum", lambda m, r: m == (0.1 + 0.2) + 0.3 and r > 0),  # the double sum stays the midpoint
    ([(1.0, 1.0)], "var", point((2.0, 2.0))),  # the deviation is squared as an interval
    ([(2.0, 2.0), (1.5, 0.5)], "max", holds_range(1, 4)),  # [[0, 4], [1, 2]]: max is [1, 4]
    ([(NAN, 0.0), (1.0, 0.0), (2.0, NAN)], "max", holds_range(1, 1)),  # NaN elements are skipped
    ([(5.0, 0.0), (INF, 0.0)], "max", holds_range(DBL_MAX, DBL_MAX)),
    *[(xs, which, claims_nothing) for xs in ([ENTIRE, (3.0, 0.0)], [(3.0, INF), (3.0, 0.0)])
      for which in ("max", "min", "min_val")],  # the entire line counts
    ([(NAN, 0.0), (NAN, 1.0)], "max", point((-INF, 0.0))),
    ([(2.0, 0.0), (NAN, NAN)], "min", point((2.0, 0.0))),
    # an overflowing sum claims nothing, even where the exact mean or variance is a double
    *[([(DBL_MAX, 0.0)] * 2, method, claims_nothing) for method in ["sum", "mean", "var", "std", "norm", "cumsum"]],
])
def test_documented_whole_array_results(xs, method, expected):
    a = from_pairs(xs)
    result = getattr(a, method)()
    result = pairs(result)[-1] if method == "cumsum" else result
    assert expected(*result), result
    if method in ("max", "min"):
        assert bits(result) == bits(getattr(a, method + "_val")())


def random_array(rng, shape, special=False):
    pool = [(0.0, 0.0), (1.0, 0.0), (-2.5, 0.25), (3.0, 1.0), (0.0, 0.5)]
    if special:
        pool += [ENTIRE, (NAN, 0.0), (2.0, NAN), (1.0, INF)]
    n = math.prod(shape)
    xs = [rng.choice(pool) if rng.random() < 0.5 else (rng.uniform(-4, 4), rng.choice([0.0, 0.5])) for _ in range(n)]
    return xs, from_pairs(xs, shape)


def lanes(xs, shape, axis):
    """The lanes along `axis` in result order, each a list of (flat index, element)."""
    strides = [math.prod(shape[d + 1:]) for d in range(len(shape))]
    rest = [range(n) for d, n in enumerate(shape) if d != axis]
    out = []
    for position in itertools.product(*rest):
        base = sum(p * strides[d] for p, d in zip(position, [d for d in range(len(shape)) if d != axis]))
        out.append([(base + j * strides[axis], xs[base + j * strides[axis]]) for j in range(shape[axis])])
    return out


def python_arg(elements, larger):
    best = 0
    for i, (m, r) in enumerate(elements):
        (bm, br), before = elements[best], (lambda x, y: x > y) if larger else (lambda x, y: x < y)
        if before(m, bm) or (m == bm and before(r, br)):
            best = i
    return best


def is_zero(x):
    return x[0] == 0 and x[1] == 0


SHAPES = [(4,), (0,), (3, 4), (2, 0), (0, 3), (2, 3, 4), (1, 5, 1), (3, 1, 0, 2)]


@pytest.mark.parametrize("shape", SHAPES, ids=str)
def test_axis_reductions_follow_their_lanes(shape):
    rng = random.Random(str(shape))
    xs, a = random_array(rng, shape)
    for axis in range(len(shape)):
        reduced = shape[:axis] + shape[axis + 1:]
        lane_list = lanes(xs, shape, axis)
        results = {name: getattr(a, name)(axis=axis) for name in ["sum", "mean", "prod", "var", "std"]}
        assert all(r.shape == reduced for r in results.values())
        running = pairs(a.cumsum(axis=axis))
        for k, lane in enumerate(lane_list):
            elements = [x for _, x in lane]
            got = {name: pairs(r)[k] for name, r in results.items()}
            check_sums(elements, got["sum"], got["mean"], [running[i] for i, _ in lane], got["var"], got["std"],
                       got["prod"])
        flags_all, flags_any = a.all(axis=axis), a.any(axis=axis)
        expect_all = [all(not is_zero(x) for _, x in lane) for lane in lane_list]
        expect_any = [any(not is_zero(x) for _, x in lane) for lane in lane_list]
        if len(lane_list) == 1:
            assert (flags_all, flags_any) == (expect_all[0], expect_any[0])
        else:
            assert (flags_all.tolist(), flags_any.tolist()) == (expect_all, expect_any)
        if shape[axis] == 0 and lane_list:
            raises(ValueError, "max of an empty array has no value", lambda: a.max(axis=axis))
            raises(ValueError, "min of an empty array has no value", lambda: a.min(axis=axis))
            continue
        maxima, minima = pairs(a.max(axis=axis)), pairs(a.min(axis=axis))
        assert a.max(axis=axis).shape == reduced
        for k, lane in enumerate(lane_list):
            ends = [exact_ends(*x) for _, x in lane]
            assert encloses(*maxima[k], max(e[0] for e in ends), max(e[1] for e in ends))
            assert encloses(*minima[k], min(e[0] for e in ends), min(e[1] for e in ends))
        if a.size:
            assert a.argmax(axis=axis) == [python_arg([x for _, x in lane], True) for lane in lane_list]
            assert a.argmin(axis=axis) == [python_arg([x for _, x in lane], False) for lane in lane_list]


def python_sort_key(x):
    m, r = x
    return (math.isnan(m), 0.0 if math.isnan(m) else m, math.isnan(r), 0.0 if math.isnan(r) else r)


@pytest.mark.parametrize("n", [0, 1, 7, 20, 21, 300, 5000])
@pytest.mark.parametrize("special", [False, True])
def test_ordering_and_arg_functions_follow_the_python_model(n, special):
    rng = random.Random(n)
    xs, a = random_array(rng, (n,), special)
    order = sorted(range(n), key=lambda i: python_sort_key(xs[i]))  # Python's sort is stable
    assert a.argsort() == order
    s = a.sort()
    assert s.shape == (n,) and snapshot(s)[1:] == (bits([xs[i][0] for i in order]), bits([xs[i][1] for i in order]))
    expected_nonzero = [i for i, x in enumerate(xs) if not is_zero(x)]
    assert a.nonzero() == (expected_nonzero,)
    assert (a.all(), a.any()) == (len(expected_nonzero) == n, bool(expected_nonzero))
    if n:
        assert (a.argmax(), a.argmin()) == (python_arg(xs, True), python_arg(xs, False))
        row = a.reshape(1, n)  # the lane scan, element by element, against the whole-array kernels
        assert (row.argmax(axis=1), row.argmin(axis=1)) == ([a.argmax()], [a.argmin()])
        for whole, lane in [(a.max(), row.max(axis=1)), (a.min(), row.min(axis=1))]:
            assert bits(whole) == bits(pairs(lane)[0])
        if not special:
            ends = [exact_ends(*x) for x in xs]
            assert encloses(*a.max(), max(e[0] for e in ends), max(e[1] for e in ends))
            assert encloses(*a.min(), min(e[0] for e in ends), min(e[1] for e in ends))
        elif any(r == INF for _, r in xs):
            assert claims_nothing(*a.max()) and claims_nothing(*a.min())


def test_sort_order_is_total_with_nan():
    cycle = [(2.0, 0.0), (NAN, 0.5), (1.0, 1.0)]  # the midpoint-then-radius rule alone is not transitive here
    for perm in itertools.permutations(cycle):
        got = from_pairs(list(perm)).sort()
        assert [str(x) for x in pairs(got)] == [str(x) for x in [(1.0, 1.0), (2.0, 0.0), (NAN, 0.5)]]
    ties = [(1.0, 0.5), (-0.0, 0.0), (1.0, 0.25), (0.0, 0.0), (1.0, 0.5), (NAN, NAN), (NAN, 1.0)]
    assert from_pairs(ties).argsort() == [1, 3, 2, 0, 4, 6, 5]


@pytest.mark.parametrize("mids, rads, amax, amin", [
    ([1, 3, 3], [0, 0.1, 0.2], 2, 0), ([1, 3, 3], [0, 0.2, 0.2], 1, 0), ([2, 1, 1], [0, 0.2, 0.1], 0, 2),
    ([NAN, 5, -5], [0, 0, 0], 0, 0), ([1, NAN, 5, NAN, -5], [0, 0, 0, 0, 0], 2, 4), ([2, 2], [NAN, 1], 0, 0),
])
def test_arg_functions_ties_and_nan(mids, rads, amax, amin):
    a = bw.from_raw_parts(mids, rads, [len(mids)])
    assert (a.argmax(), a.argmin()) == (amax, amin)


@pytest.mark.parametrize("xs, relative, widest, exact", [
    ([(2.0, 0.1), (0.0, 0.0)], 0.05, 0.1, False),
    ([(2.0, 0.1), (0.0, 0.1)], INF, 0.1, False),
    ([(2.0, NAN)], INF, INF, False),  # what [1 +- inf] * [2 +- 0] stores under the product rule
    ([(INF, INF)], INF, INF, False),  # an overflowed sum
    ([(NAN, 0.0)], INF, INF, False),
    ([(INF, 0.0), (-3.0, 0.0)], 0.0, 0.0, True),
    ([], 0.0, 0.0, True),
])
def test_error_measures_report_unbounded_elements(xs, relative, widest, exact):
    a = from_pairs(xs)
    assert (a.max_relative_error(), a.max_radius(), a.is_exact(), a.is_empty()) == (relative, widest, exact, not xs)


def test_nonzero_and_predicates_in_several_dimensions():
    a = from_pairs([(0.0, 0.0), (0.0, 0.0), (1.0, 0.0), (0.0, 0.0)], (2, 2))
    assert a.nonzero() == ([1], [0])
    assert from_pairs([(0.0, 0.5), (0.0, 0.0)], (1, 2)).nonzero() == ([0], [0])
    empty = from_pairs([], (0, 3))
    assert empty.is_empty() and empty.all() and not empty.any()
    assert empty.all(axis=0).tolist() == [True] * 3 and empty.any(axis=1).tolist() == []


AXIS_METHODS = ["sum", "mean", "prod", "var", "std", "cumsum", "max", "min", "argmax", "argmin", "all", "any"]


@pytest.mark.parametrize("method", AXIS_METHODS)
def test_axis_errors(method):
    a = from_pairs([(1.0, 0.0)] * 6, (2, 3))
    before = snapshot(a)
    raises(ValueError, "axis 2 is out of bounds for array of dimension 2", lambda: getattr(a, method)(axis=2))
    raises(ValueError, "axis 18446744073709551615 is out of bounds for array of dimension 2",
           lambda: getattr(a, method)(2**64 - 1))
    raises(TypeError, "argument 'axis': 'float' object cannot be interpreted as an integer",
           lambda: getattr(a, method)(1.5))
    with pytest.raises(OverflowError):
        getattr(a, method)(axis=-1)
    assert snapshot(a) == before
    whole, default = getattr(a, method)(axis=None), getattr(a, method)()
    assert snapshot(whole) == snapshot(default) if isinstance(whole, bw.IntervalArray) else whole == default


@pytest.mark.parametrize("call, message", [
    (lambda a: a.max(), "max of an empty array has no value"),
    (lambda a: a.max_val(), "max of an empty array has no value"),
    (lambda a: a.min(), "min of an empty array has no value"),
    (lambda a: a.min_val(), "min of an empty array has no value"),
    (lambda a: a.argmax(), "attempt to get argmax of an empty array"),
    (lambda a: a.argmin(axis=1), "attempt to get argmin of an empty array"),
    (lambda a: a.argmax(axis=7), "attempt to get argmax of an empty array"),  # before the axis test
])
def test_empty_array_errors(call, message):
    raises(ValueError, message, lambda: call(from_pairs([], (0, 3))))


def test_empty_lanes():
    a = from_pairs([], (2, 0))
    assert pairs(a.sum(axis=1)) == [(0.0, 0.0)] * 2 and pairs(a.prod(axis=1)) == [(1.0, 0.0)] * 2
    assert all(math.isnan(m) for m, _ in pairs(a.mean(axis=1)) + pairs(a.var(axis=1)))
    assert a.max(axis=0).shape == (0,) and a.cumsum(axis=1).shape == (2, 0)


def walk(rng, n, start, step_bits, radii):
    """A running sum from the element `start` over midpoints on the lattice 2^-step_bits in [-1, 1]: with
    step_bits beyond the spacing of the running sum about half the additions are ties, small starts cross
    binades, and the radius bound crosses its own binades unless the start's radius dwarfs the others."""
    scale = 2.0**step_bits
    return [start] + [(rng.randrange(-int(scale), int(scale)) / scale, rng.choice(radii)) for _ in range(n - 1)]


SUM_WALKS = {
    "ties near 700": ((700.0, 1e-6), 44, [0.0, 1e-12]),
    "crossing 1024": ((1023.5, 1e-9), 20, [0.0, 2.0**-70, 1e-12]),
    "around zero": ((0.0, 1e-250), 30, [0.0, 1e-300]),
    "growing radius bound": ((4.0, 0.0), 10, [0.0, 1.0, 2.0**-50]),
}


@pytest.mark.parametrize("n", [63, 64, 65, 129, 4099])
@pytest.mark.parametrize("family", SUM_WALKS.values(), ids=SUM_WALKS.keys())
def test_whole_array_sum_is_the_running_sum_bit_for_bit(family, n):
    # cumsum takes the elements one at a time; its last running sum, summed alone, is the whole-array sum
    xs = walk(random.Random(n), n, *family)
    a = from_pairs(xs)
    running = from_pairs([pairs(a.cumsum())[-1]])
    assert bits(a.sum()) == bits(running.sum())
    ends = bounded(xs)
    assert encloses(*a.mean(), sum((lo for lo, _ in ends), Fraction(0)) / n, sum((hi for _, hi in ends), Fraction(0)) / n)


@pytest.mark.parametrize("shape", [(9, 70), (70, 9), (3, 5, 67), (257, 3), (2, 300), (1, 1)], ids=str)
def test_axis_sums_and_extremes_match_the_element_steps(shape):
    rng = random.Random(str(shape))
    xs, a = random_array(rng, shape, special=True)
    for axis in range(len(shape)):
        lane_list = lanes(xs, shape, axis)
        running = pairs(a.cumsum(axis=axis))  # endpoint sums element by element
        assert bits(v for e in pairs(a.sum(axis=axis)) for v in e) == bits(
            v for lane in lane_list for v in running[lane[-1][0]])
        maxima, minima = pairs(a.max(axis=axis)), pairs(a.min(axis=axis))
        for k, lane in enumerate(lane_list):
            alone = from_pairs([x for _, x in lane])
            assert (bits(maxima[k]), bits(minima[k])) == (bits(alone.max()), bits(alone.min()))
