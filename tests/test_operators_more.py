"""Floor division, powers through every door (**, pow(), **=, power, a number
base), their operand rules and messages, and iteration over a snapshot."""

from __future__ import annotations

import ctypes
import itertools
import math
import operator
from fractions import Fraction

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import boundwise as bw
from oracles import (INF, NAN, encloses, exact_ends, exact_range, finite_doubles, finite_intervals,
                     from_pairs, is_wide, mp_bounds, only, pairs, quietly, raises, snapshot, ulp)

HYPOTHESIS = settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def sample():
    return bw.array([(1.5, 0.25), (-2.0, 0.5), (0.1, 0.0), (3.0, 1e-3)])


def integer_power_range(ends, k):
    """The exact range of x ** k over [lo, hi]; None when it is unbounded."""
    lo, hi = ends
    if k == 0:
        return Fraction(1), Fraction(1)
    if k < 0 and lo <= 0 <= hi:
        return None
    values = [lo**k, hi**k] + ([Fraction(0)] if lo <= 0 <= hi else [])
    return min(values), max(values)


def check(result, exact, context):
    """result encloses the exact range; an unbounded range needs a wide result."""
    assert is_wide(*result) if exact is None else encloses(*result, *exact), context


class TestFloorDivision:
    @HYPOTHESIS
    @given(xs=st.lists(finite_intervals(), min_size=1, max_size=5), y=finite_intervals())
    def test_encloses_the_floor_of_every_quotient(self, xs, y):
        a = from_pairs(xs)
        before = snapshot(a)
        for divisor in (from_pairs([y]), y[0]):
            result = quietly(operator.floordiv, a, divisor)
            other = exact_ends(*y) if isinstance(divisor, bw.IntervalArray) else (Fraction(y[0]),) * 2
            for x, got in zip(xs, pairs(result)):
                q = exact_range("/", exact_ends(*x), other)
                check(got, q and (math.floor(q[0]), math.floor(q[1])), (x, divisor, got))
            assert snapshot(result) == snapshot(quietly(lambda: (a / divisor).floor()))
        assert snapshot(a) == before


class TestPower:
    @HYPOTHESIS
    @given(xs=st.lists(finite_intervals(), min_size=1, max_size=4), k=st.integers(-4, 5))
    def test_integer_exponents_through_every_door(self, xs, k):
        a = from_pairs(xs)
        before = snapshot(a)
        expected = a ** k
        for ends, got in zip(itertools.starmap(exact_ends, xs), pairs(expected)):
            check(got, integer_power_range(ends, k), (ends, k, got))
        target = alias = a.copy()
        target **= k
        doors = [pow(a, k), pow(a, float(k), None), a.power(k), a ** bw.array([float(k)]),
                 a.power(bw.array([float(k)])), target]
        assert all(snapshot(d) == snapshot(expected) for d in doors) and target is alias
        assert snapshot(a) == before

    @HYPOTHESIS
    @given(x=finite_doubles(), ks=st.lists(st.integers(-4, 5), min_size=1, max_size=5))
    def test_number_base_with_integer_exponents(self, x, ks):
        result = x ** bw.array([float(k) for k in ks])
        for k, got in zip(ks, pairs(result)):
            check(got, integer_power_range((Fraction(x),) * 2, k), (x, k, got))
            if k > 0 and 2.0**-300 < abs(x) < 2.0**100:  # a point base loses a few roundings, no more
                assert got[1] <= 16 * ulp(got[0]), (x, k, got)

    @HYPOTHESIS
    @given(x=st.floats(1e-30, 1e30), p=st.integers(-40 * 2**30, 40 * 2**30).map(lambda k: k / 2**30),
           r=st.sampled_from([0.0, 0.25, 2.0**-20]))
    def test_number_base_with_real_exponents(self, x, p, r):
        # x ** q is monotone in q for x > 0: its range lies between the values at the two ends.
        got = only(x ** bw.array([(p, r)]))
        lo_end, hi_end = (mp_bounds(lambda b, q: b**q, x, e) for e in (p - r, p + r))  # p +- r exact here
        if lo_end and hi_end:
            check(got, (min(lo_end[0], hi_end[0]), max(lo_end[1], hi_end[1])), (x, p, r, got))

    @pytest.mark.parametrize("base, exponent, expect", [
        (NAN, 0.0, (1.0, 0.0)), (INF, 0.0, (1.0, 0.0)), (2.0, 10.0, (1024.0, 0.0)), (-2.0, 3.0, (-8.0, 0.0)),
        (0.0, 0.5, (0.0, 0.0)), (-2.0, 0.5, "nan"), (0.0, -1.0, "wide"), (0.0, (-0.5, 1.0), "wide")])
    def test_number_base_edges(self, base, exponent, expect):
        got = only(base ** bw.array([exponent]))
        assert {"nan": math.isnan(got[0]), "wide": is_wide(*got)}.get(expect, got == expect), got

    def test_in_place_power_copy_on_write(self):
        a = original = sample()
        kept, expected = a.copy(), a ** a
        a **= a
        assert a is original and snapshot(a) == snapshot(expected) and snapshot(kept) == snapshot(sample())


MODULO = "pow() with a modulo is not supported"
IN_PLACE_POWER = ctypes.pythonapi.PyNumber_InPlacePower
IN_PLACE_POWER.restype, IN_PLACE_POWER.argtypes = ctypes.py_object, [ctypes.py_object] * 3


@pytest.mark.parametrize("call, exception, message", [
    (lambda a: pow(a, 2, 3), TypeError, MODULO),
    (lambda a: pow(a, bw.array([2.0]), 3), TypeError, MODULO),
    (lambda a: pow(2, a, 3), TypeError, MODULO),
    (lambda a: pow(a, 2, a), TypeError, MODULO),
    (lambda a: IN_PLACE_POWER(a, 2, 3), TypeError, MODULO),
    (lambda a: a // "x", TypeError, "unsupported operand type for //"),
    (lambda a: a // (1.0, 0.1), TypeError, "unsupported operand type for //"),
    (lambda a: a ** "x", TypeError, "unsupported operand type for **"),
    (lambda a: "x" ** a, TypeError, "unsupported operand type for **"),
    (lambda a: operator.ipow(a, [2.0]), TypeError, "unsupported operand type for in-place operation"),
    (lambda a: a.power(None), TypeError, "unsupported operand type for power"),
    (lambda a: a ** bw.zeros(3), ValueError, "operands could not be broadcast together with shapes [4] and [3]"),
    (lambda a: operator.ipow(a, bw.zeros([2, 4])), ValueError,
     "output array with shape [4] is not the result of broadcasting operand shapes [4] and [2, 4]"),
])
def test_refusals_leave_operands_unchanged(call, exception, message):
    a = sample()
    before = snapshot(a)
    raises(exception, message, lambda: call(a))
    assert snapshot(a) == before


@pytest.mark.parametrize("call", [lambda a: 2 // a, lambda a: "x" // a, lambda a: pow(2, 3, a)])
def test_left_to_the_interpreter(call):
    with pytest.raises(TypeError, match=r"^unsupported operand type\(s\) for "):
        call(sample())


class TestIteration:
    @pytest.mark.parametrize("shape", [(3,), (2, 3), (2, 0, 4), (0,), (0, 3), (), (1, 1, 1)])
    def test_items_equal_integer_indexing(self, shape):
        n = math.prod(shape)
        a = from_pairs([(0.1 * i, i * 2.0**-60) for i in range(n)], shape)
        items = list(a)
        assert len(items) == (shape[0] if shape else 0)
        for i, item in enumerate(items):
            assert item == a[i] if len(shape) == 1 else snapshot(item) == snapshot(a[i])
        if len(shape) == 2:
            assert [list(row) for row in a] == [[a[i, j] for j in range(shape[1])] for i in range(shape[0])]

    @pytest.mark.parametrize("change", [
        lambda a: a.__setitem__(0, 9.0), lambda a: operator.iadd(a, 1.0), lambda a: operator.ipow(a, 2.0),
        lambda a: a.__setstate__(([1], [5.0], [0.0]))])
    def test_later_changes_stay_invisible(self, change):
        a = bw.array([1.0, 2.0, 3.0])
        it = iter(a)
        first = next(it)
        change(a)
        assert [first, *it] == [(1.0, 0.0), (2.0, 0.0), (3.0, 0.0)]
        assert next(it, None) is None and iter(it) is it

    def test_huge_empty_rows_are_made_one_at_a_time(self):
        items = list(itertools.islice(iter(bw.zeros([2**40, 0])), 3))
        assert [item.shape for item in items] == [(0,)] * 3
        x, y = bw.array([1.5, (2.0, 0.5)])  # unpacking iterates
        assert (x, y) == ((1.5, 0.0), (2.0, 0.5))

    def test_iterator_type_cannot_be_instantiated(self):
        kind = type(iter(sample()))
        raises(TypeError, "cannot create 'boundwise._boundwise.IntervalArrayIterator' instances", kind)
