"""Interval comparisons (certainly / possibly) against exact endpoint oracles,
isnan / isinf / isfinite, and the BoolArray mask class."""

from __future__ import annotations

import hashlib
import math
import operator
import random
from fractions import Fraction
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import boundwise as bw
from oracles import (DBL_MAX, INF, NAN, Number, Raising, finite_doubles, from_pairs, intervals, raises, run_python,
                     snapshot)

TESTS = str(Path(__file__).resolve().parent)
OPS = {"<": operator.lt, "<=": operator.le, "==": operator.eq, "!=": operator.ne, ">": operator.gt, ">=": operator.ge}

# The table on exact ends; Python compares floats and ints exactly, and any
# NaN end makes every test false.
TABLE = {
    "<": lambda alo, ahi, blo, bhi: ahi < blo,
    "<=": lambda alo, ahi, blo, bhi: ahi <= blo,
    "==": lambda alo, ahi, blo, bhi: alo <= bhi and blo <= ahi,
    "!=": lambda alo, ahi, blo, bhi: alo > bhi or blo > ahi,
    ">": lambda alo, ahi, blo, bhi: alo > bhi,
    ">=": lambda alo, ahi, blo, bhi: alo >= bhi,
}


def down(q: Fraction) -> float:
    """The largest double <= q (-inf below the range)."""
    try:
        f = float(q)
    except OverflowError:
        return DBL_MAX if q > 0 else -INF
    return math.nextafter(f, -INF) if Fraction(f) > q else f


def ends(m: float, r: float) -> tuple[float, float]:
    """The outward-rounded ends of (m, r), computed exactly."""
    if math.isnan(m) or math.isnan(r):
        return NAN, NAN
    if r == INF:
        return -INF, INF
    if math.isinf(m):
        return (DBL_MAX, INF) if m > 0 else (-INF, -DBL_MAX)
    return down(Fraction(m) - Fraction(r)), -down(-(Fraction(m) + Fraction(r)))


# Touching, overlapping, disjoint, NaN, infinite and rounding-prone pairs; the
# lists cross the 8-element blocks of the fast path and its tail.
EDGE = [(0.0, 0.0), (1.0, 1.0), (2.0, 1.0), (1.5, 0.5), (0.1, 0.1), (0.3, 0.0), (NAN, 1.0), (1.0, NAN),
        (1.0, INF), (NAN, INF), (INF, 0.0), (-INF, 0.0), (INF, 1.0), (DBL_MAX, DBL_MAX), (-DBL_MAX, 1e300),
        (2.0**53, 1.0), (5e-324, 5e-324), (-0.0, 0.0), (1.0 + 2.0**-52, 2.0**-53), (1.0, 2.0**-53)]
POINTS = [0.0, -0.0, 1.0, 2.0, 0.3, 1e308, -1e308, INF, -INF, NAN, 5e-324, 2**53 + 1, 2**53 + 3, -(2**53 + 3),
          10**400, -10**400, 2**1024 - 2**970 - 1, True, Fraction(1, 2)]


class TestIntervalComparisons:
    @settings(max_examples=150, deadline=None)
    @given(st.lists(st.tuples(intervals(), intervals()), max_size=40), st.sampled_from(sorted(OPS)))
    def test_arrays_against_exact_ends(self, pairs, op):
        a, b = from_pairs([p for p, _ in pairs]), from_pairs([q for _, q in pairs])
        expected = [TABLE[op](*ends(*p), *ends(*q)) for p, q in pairs]
        assert OPS[op](a, b).tolist() == expected

    @pytest.mark.parametrize("op", sorted(OPS))
    def test_every_edge_pair(self, op):
        pairs = [(p, q) for p in EDGE for q in EDGE]
        a, b = from_pairs([p for p, _ in pairs]), from_pairs([q for _, q in pairs])
        assert OPS[op](a, b).tolist() == [TABLE[op](*ends(*p), *ends(*q)) for p, q in pairs]

    @pytest.mark.parametrize("op", sorted(OPS))
    @pytest.mark.parametrize("x", POINTS, ids=repr)
    def test_numbers_are_exact_points(self, op, x):
        a = from_pairs(EDGE + [(float(2**53 + 4), 0.0), (float(2**53 + 2), 0.0), (DBL_MAX, 0.0)])
        expected = [TABLE[op](*ends(m, r), x, x) for m, r in zip(a.values(), a.radii())]
        assert OPS[op](a, x).tolist() == expected

    @settings(max_examples=100, deadline=None)
    @given(st.lists(intervals(), min_size=1, max_size=20), st.one_of(st.floats(), st.integers(-2**1100, 2**1100)),
           st.sampled_from(sorted(OPS)))
    def test_random_numbers(self, elems, x, op):
        expected = [TABLE[op](*ends(*p), x, x) for p in elems]
        assert OPS[op](from_pairs(elems), x).tolist() == expected

    @settings(max_examples=300, deadline=None)
    @given(finite_doubles(), st.integers(-4, 4), st.sampled_from([0.0, 0.25, 0.5, 0.75, 1.0, 1.5]),
           st.sampled_from([0.0, 0.25, 0.5, 1.0]), st.sampled_from(sorted(OPS)))
    def test_ends_a_few_doubles_apart(self, x, k, ka, kb, op):
        # Ends within a few doubles of each other, whose rounding decides the answer.
        y = x
        for _ in range(abs(k)):
            y = math.nextafter(y, math.copysign(INF, k))
        a, b = (x, ka * math.ulp(x)), (y, kb * math.ulp(y))
        pairs = [(a, b), (b, a)] * 5  # a whole block and a tail
        left, right = from_pairs([p for p, _ in pairs]), from_pairs([q for _, q in pairs])
        assert OPS[op](left, right).tolist() == [TABLE[op](*ends(*p), *ends(*q)) for p, q in pairs]
        assert OPS[op](left, y).tolist() == [TABLE[op](*ends(*p), y, y) for p, _ in pairs]

    @pytest.mark.parametrize(
        "left, right, op, expected",
        [((0.0, 2.0), (1.0, 3.0), "==", True), ((0.0, 2.0), (1.0, 3.0), "!=", False),
         ((0.0, 2.0), (1.0, 3.0), "<=", False), ((0.5, 0.5), (1.5, 0.5), "<=", True),
         ((0.5, 0.5), (1.5, 0.5), "<", False), ((0.5, 0.5), (1.5, 0.5), "==", True),
         ((NAN, 1.0), (NAN, 1.0), "!=", False), ((NAN, 1.0), (NAN, 1.0), "==", False)],
    )
    def test_certain_and_possible(self, left, right, op, expected):
        assert OPS[op](from_pairs([left]), from_pairs([right])).tolist() == [expected]

    def test_not_equal_is_not_the_negation_of_equal(self):
        a = from_pairs([(NAN, 0.0), (1.0, NAN), (0.0, 1.0)])
        b = from_pairs([(0.0, 0.0), (0.0, 0.0), (0.5, 0.0)])
        assert (a == b).tolist() == [False, False, True]
        assert (a != b).tolist() == [False, False, False]

    def test_infinite_midpoint(self):
        a = from_pairs([(INF, 1.0)])
        assert (a > 1e308).tolist() == [True] and (a == INF).tolist() == [True]

    def test_reflected_number(self):
        a = from_pairs(EDGE)
        assert (3 < a).tolist() == (a > 3).tolist() and (0.5 >= a).tolist() == (a <= 0.5).tolist()

    @pytest.mark.parametrize("shape_a, shape_b", [((2, 3), (3,)), ((3,), (2, 1)), ((1,), (4,)), ((4,), ()),
                                                  ((0,), (1,)), ((2, 1), (1,)), ((1, 1), (2, 2))])
    @pytest.mark.parametrize("op", ["<", "==", ">="])
    def test_broadcasting(self, shape_a, shape_b, op):
        np = pytest.importorskip("numpy")
        xa = np.arange(math.prod(shape_a), dtype=float).reshape(shape_a)
        xb = 1.0 + np.arange(math.prod(shape_b), dtype=float).reshape(shape_b)
        a = bw.from_raw_parts(xa.ravel().tolist(), [0.5] * xa.size, list(shape_a))
        b = bw.from_raw_parts(xb.ravel().tolist(), [0.25] * xb.size, list(shape_b))
        full_a, full_b = (v.ravel().tolist() for v in np.broadcast_arrays(xa, xb))
        expected = [TABLE[op](*ends(x, 0.5), *ends(y, 0.25)) for x, y in zip(full_a, full_b)]
        assert OPS[op](a, b).tolist() == expected

    def test_broadcast_error_and_none(self):
        a, b = bw.zeros(2, 3), bw.zeros(2)
        raises(ValueError, "operands could not be broadcast together with shapes [2, 3] and [2]", lambda: a < b)
        assert (a == None) is False and (a != None) is True  # noqa: E711
        with pytest.raises(TypeError):
            a < None  # noqa: B015

    @pytest.mark.parametrize("compare", [lambda a, b: a == b, lambda a, b: b != a, lambda a, b: a < 1.0,
                                         lambda a, b: a == None],  # noqa: E711
                             ids=["self", "other", "number", "none"])
    def test_array_being_written_is_a_borrow_error(self, compare):
        # Never an identity comparison or a read of a half-written array.
        a, b = bw.array([1.0, 2.0]), bw.array([1.0, 2.0])
        before = snapshot(a)
        state = ([2], [Number(5.0, on_convert=lambda: compare(a, b)), 6.0], [0.0, 0.0])
        raises(RuntimeError, "Already mutably borrowed", lambda: a.__setstate__(state))
        assert snapshot(a) == before

    def test_number_conversion_writing_the_array(self):
        # The comparison uses the array as it was before the number converted.
        a = bw.array([1.0, 2.0])
        m = a < Number(1.5, on_convert=lambda: a.__setitem__(0, 9.0))
        assert m.tolist() == [True, False] and a.values() == [9.0, 2.0]

    def test_conversion_failures(self):
        a = bw.zeros(2)
        assert (a == "x") is False and (a != Raising(ValueError())) is True
        with pytest.raises(TypeError):
            a < Raising(TypeError())  # noqa: B015
        with pytest.raises(KeyboardInterrupt):
            a < Raising(KeyboardInterrupt())  # noqa: B015
        with pytest.raises(KeyboardInterrupt):
            a == Raising(KeyboardInterrupt())  # noqa: B015


THRESHOLD = bw._boundwise._parallel_constants()["threshold"]
COMPARE_CHUNK = bw._boundwise._parallel_constants()["compare_chunk"]


def touching_operands(n: int, seed: int):
    """Pairs whose ends lie a few doubles apart (or coincide) in three of four
    elements, with NaN, infinite and huge elements among the others."""
    rng = random.Random(seed)
    left, right = [], []
    for _ in range(n):
        p = rng.choice(EDGE) if rng.random() < 0.2 else (rng.uniform(-4, 4), rng.choice([0.0, 2.0**-40, 0.5]))
        lo, hi = ends(*p)
        end = hi if rng.random() < 0.5 else lo
        for _ in range(rng.randint(0, 3)):
            end = math.nextafter(end, rng.choice([INF, -INF]))
        radius = rng.choice([0.0, 0.0, abs(end) * 2.0**-53])
        q = (end + math.copysign(radius, end - p[0]), radius) if rng.random() < 0.75 else rng.choice(EDGE)
        left.append(p)
        right.append(q if all(map(math.isfinite, q)) or q in EDGE else (0.0, 0.0))
    return left, right


class TestLargeComparisons:
    # From the threshold on the masks are written in chunks on the pool by the
    # vector kernels of the selected target; every byte must follow the table.
    @pytest.mark.parametrize("n", [THRESHOLD - 1, THRESHOLD + 9, 2 * COMPARE_CHUNK + 13])
    def test_arrays_and_numbers_against_exact_ends(self, n):
        left, right = touching_operands(n, n)
        a, b = from_pairs(left), from_pairs(right)
        a_ends, b_ends = [ends(*p) for p in left], [ends(*q) for q in right]
        x = right[n // 2][0]
        for op in sorted(OPS):
            assert OPS[op](a, b).tolist() == [TABLE[op](*p, *q) for p, q in zip(a_ends, b_ends)], op
            assert OPS[op](a, x).tolist() == [TABLE[op](*p, x, x) for p in a_ends], op

    def test_baseline_target_gives_the_same_masks(self):
        code = f"import sys; sys.path.insert(0, {TESTS!r})\nfrom test_compare import mask_digest\n"
        done = run_python(code + f"print(mask_digest({THRESHOLD + 9}))", {"BOUNDWISE_DISABLE_CPU_FEATURES": "AVX2"})
        assert done.returncode == 0, done.stderr
        assert done.stdout.split() == [mask_digest(THRESHOLD + 9)]


def mask_digest(n: int) -> str:
    left, right = touching_operands(n, 7)
    a, b = from_pairs(left), from_pairs(right)
    masks = [OPS[op](a, b) for op in sorted(OPS)] + [OPS[op](a, right[0][0]) for op in sorted(OPS)]
    return hashlib.sha256(bytes(v for m in masks for v in m.tolist())).hexdigest()


class TestClassification:
    @settings(max_examples=60, deadline=None)
    @given(st.lists(intervals(), max_size=20))
    def test_against_definition(self, elems):
        a = from_pairs(elems + EDGE)
        nan = [math.isnan(m) or math.isnan(r) for m, r in elems + EDGE]
        inf = [math.isinf(m - r) or math.isinf(m + r) for m, r in elems + EDGE]
        assert a.isnan().tolist() == nan and a.isinf().tolist() == inf
        assert a.isfinite().tolist() == [not (p or q) for p, q in zip(nan, inf)]


def masks(min_size=0, max_size=80):
    return st.lists(st.booleans(), min_size=min_size, max_size=max_size)


LOGIC = {"&": operator.and_, "|": operator.or_, "^": operator.xor}


class TestBoolArray:
    @settings(max_examples=60, deadline=None)
    @given(st.integers(0, 80).flatmap(lambda n: st.tuples(masks(n, n), masks(n, n))), st.sampled_from(sorted(LOGIC)))
    def test_logic_matches_python(self, pair, op):
        p, q = pair
        m, n = bw.BoolArray(p), bw.BoolArray(q)
        assert LOGIC[op](m, n).tolist() == [LOGIC[op](x, y) for x, y in zip(p, q)]
        for x in (True, False):
            assert LOGIC[op](m, x).tolist() == [LOGIC[op](v, x) for v in p]
        assert (~m).tolist() == [not v for v in p]
        assert m.tolist() == p  # operands unchanged

    @pytest.mark.parametrize("n", [0, 1, 15, 16, 17, 63, 64, 65, 129, 255 * 32 + 1, 2 * 255 * 32 + 40])
    @pytest.mark.parametrize("pattern", ["all", "none", "last", "first", "alternate"])
    def test_counts(self, n, pattern):
        values = {"all": [True] * n, "none": [False] * n, "last": [i == n - 1 for i in range(n)],
                  "first": [i == 0 for i in range(n)], "alternate": [i % 2 == 1 for i in range(n)]}[pattern]
        m = bw.BoolArray(values)
        assert m.sum() == m.count_nonzero() == sum(values)
        assert type(m.sum()) is int
        assert m.any() is any(values) and m.all() is all(values)

    @pytest.mark.parametrize("op", sorted(LOGIC))
    def test_logic_errors(self, op):
        m = bw.BoolArray([True, False])
        raises(ValueError, "operands could not be broadcast together (boolean arrays must match)",
               lambda: LOGIC[op](bw.BoolArray([True]), m))
        for other in (1, 1.0, None, [True, False], bw.zeros(2)):
            raises(TypeError, f"unsupported operand type for {op}", lambda: LOGIC[op](m, other))
        with pytest.raises(TypeError):
            LOGIC[op](True, m)
        assert m.tolist() == [True, False]

    def test_numpy_bool_operand(self):
        np = pytest.importorskip("numpy")
        assert (bw.BoolArray([True, False]) & np.True_).tolist() == [True, False]

    @settings(max_examples=80, deadline=None)
    @given(masks(), st.one_of(st.none(), st.integers(-100, 100), st.sampled_from([2**63, -2**63, 2**70, -2**70])),
           st.one_of(st.none(), st.integers(-100, 100), st.sampled_from([2**70, -2**70])),
           st.one_of(st.none(), st.integers(-5, 5).filter(bool), st.sampled_from([2**63, -2**63, 2**70, -2**70])))
    def test_slices_match_lists(self, values, start, stop, step):
        key = slice(start, stop, step)
        assert bw.BoolArray(values)[key].tolist() == values[key]

    def test_integer_index(self):
        m = bw.BoolArray([True, False])
        assert m[0] is True and m[-1] is False and m[True] is False
        for key in (2, -3, 2**70, -2**70):
            raises(IndexError, "boolean index out of range", lambda: m[key])
        for key in (1.0, "0", None, [0]):
            raises(TypeError, "only integers and slices are valid indices for a BoolArray", lambda: m[key])
        raises(ValueError, "invalid slice", lambda: m[::0])
        assert bw.BoolArray([True, False, True])[2::2**63].tolist() == [True]

    @pytest.mark.parametrize(
        "values, other, equal",
        [([True], True, True), ([True, True], True, False), ([True], 1, False), ([False], False, True),
         ([True, False], None, False), ([], [], False), ([True, False], [True, False], False), ([True], 1.0, False)],
    )
    def test_equality_with_non_masks(self, values, other, equal):
        m = bw.BoolArray(values)
        assert (m == other) is equal and (m != other) is (not equal)

    def test_equality_of_masks_and_no_ordering(self):
        a, b = bw.BoolArray([True, False]), bw.BoolArray([True, False])
        assert (a == b) is True and (a != bw.BoolArray([True])) is True and (a == ~b) is False
        for op in ("<", "<=", ">", ">="):
            with pytest.raises(TypeError):
                OPS[op](a, b)
        with pytest.raises(TypeError):
            hash(a)

    def test_comparison_masks_feed_the_mask_class(self):
        a = from_pairs([(0.0, 1.0), (5.0, 0.0), (NAN, 0.0), (-3.0, 0.5)])
        m = (a > -1) & ~a.isnan()
        assert m.tolist() == [False, True, False, False] and m.sum() == 1
        assert repr(a > 4) == "BoolArray([false, true, false, false])"
