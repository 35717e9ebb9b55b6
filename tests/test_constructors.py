"""Value conversion and the array constructors: shapes, exact contents,
messages, and robustness against hostile inputs."""

import math
import re
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import boundwise._boundwise as bw
from oracles import (DBL_MAX, INF, NAN, Number, Raising, assert_cause, bits, encloses, exact_ends, finite_doubles,
                     is_wide, raises, ulp)

MIX = "cannot mix (midpoint, radius) tuples with plain numbers"
TUPLE = "tuple elements must be numbers"
INHOMOGENEOUS = "setting an array element with a sequence: inhomogeneous shape"
FULL_VALUE = "full value must be a number or a (midpoint, radius) tuple"
SHAPE = "shape must be an int or a sequence of ints"
NEGATIVE = "can't convert negative int to unsigned"
NO_INT = "'{}' object cannot be interpreted as an integer"
RADII = "radii must be non-negative, got "
MAKERS = [bw.zeros, bw.ones, bw.empty]


class TestArray:
    @pytest.mark.parametrize(
        "values, shape",
        [(3.0, (1,)), (3, (1,)), (True, (1,)), ([], (0,)), ((), (0,)), ([[], []], (2, 0)), ([[[]]], (1, 1, 0)),
         ([1, 2, 3], (3,)), ((1.0, 0.1), (2,)),  # a top-level tuple is a sequence of numbers, not one interval
         ([[1, 2], [3, 4], [5, 6]], (3, 2)), ([[[1.0], [2.0]]], (1, 2, 1)), ([(1.0, 0.5), (2.0, 0.25)], (2,)),
         (((1.0, 0.5), (2.0, 0.25)), (2,)), ([[(1.0, 0.5)], [(2.0, 0.25)]], (2, 1))],
    )
    def test_shapes(self, values, shape):
        a = bw.array(values)
        assert type(a) is bw.IntervalArray
        assert (a.shape, a.size) == (shape, math.prod(shape))

    def test_contents(self):
        a = bw.array([1, 0.1, 2**53, -0.0, True], error=0.5)  # numbers exactly, the error as radius
        assert bits(a.values()) == bits([1.0, 0.1, float(2**53), -0.0, 1.0])
        assert a.radii() == [0.5] * 5
        a = bw.array([(1.0, 0.1)], error=0.5)  # pairs keep their radius
        assert (a.values(), a.radii()) == ([1.0], [0.1])
        b = bw.array([1.0, (2.0, 0.1)], error=0.5)  # number path: a later pair is taken as a pair
        assert (b.values(), b.radii()) == ([1.0, 2.0], [0.5, 0.1])
        assert math.isnan(bw.array([1.0], error=NAN).radii()[0])
        c = bw.array([(1.0, -0.0), (2.0, NAN)])  # -0.0 and NaN radii pass the sign check
        assert bits(c.radii())[0] == bits([-0.0])[0] and math.isnan(c.radii()[1])
        d = bw.array(c, error=1.0)  # an array is copied, its radii kept
        assert d is not c and bits(d.values() + d.radii()) == bits(c.values() + c.radii())
        indexy = type("Indexy", (), {"__index__": lambda self: 7})()  # number-like objects
        assert bw.array([Fraction(1, 3), np.float64(0.1), np.int64(5), Number(0.25), indexy]).values() == [
            1 / 3, 0.1, 5.0, 0.25, 7.0]


# Ints that no double equals, each entry point with the exact value it must enclose.
WIDE_INTS = [2**53 + 1, -(2**53 + 1), 2**64 + 1, 10**20 + 1, 2**1023 + 1, 3**500, 2**1024 - 2**970 - 1]
INT_DOORS = {
    "scalar": (lambda x: bw.array(x), lambda x: (x, x)),
    "list": (lambda x: bw.array([1.0, x]), lambda x: (x, x)),
    "class": (lambda x: bw.IntervalArray([x], 0.5), lambda x: (x - Fraction(1, 2), x + Fraction(1, 2))),
    "numpy": (lambda x: bw.array([np.int64(x % 2**62)]), lambda x: (x % 2**62, x % 2**62)),
    "pair-midpoint": (lambda x: bw.array([(x, 0.25)]), lambda x: (x - Fraction(1, 4), x + Fraction(1, 4))),
    "pair-radius": (lambda x: bw.array([(1.0, abs(x))]), lambda x: (1 - abs(x), 1 + abs(x))),
    "full": (lambda x: bw.full(1, x), lambda x: (x, x)),
    "full-pair": (lambda x: bw.full(1, (x, 0.0)), lambda x: (x, x)),
    "diag": (lambda x: bw.diag([x, 1.0]).reshape(4)[:1], lambda x: (x, x)),
    "scale": (lambda x: bw.full(1, 0.5).scale(x), lambda x: (Fraction(x, 2), Fraction(x, 2))),
    "setitem": (lambda x: assigned(bw.zeros(1), x), lambda x: (x, x)),
    "add": (lambda x: bw.ones(1) + x, lambda x: (x + 1, x + 1)),
    "radd": (lambda x: x + bw.ones(1), lambda x: (x + 1, x + 1)),
    "rsub": (lambda x: x - bw.ones(1), lambda x: (x - 1, x - 1)),
    "mul": (lambda x: bw.full(1, 3.0) * x, lambda x: (3 * x, 3 * x)),
    "div": (lambda x: bw.ones(1) / x, lambda x: (Fraction(1, x), Fraction(1, x))),
    "iadd": (lambda x: bw.zeros(1).__iadd__(x), lambda x: (x, x)),
    "maximum": (lambda x: bw.full(1, -DBL_MAX).maximum(x), lambda x: (x, x)),
    "where": (lambda x: bw.where_impl([False], bw.zeros(1), x), lambda x: (x, x)),
}


def assigned(a, x):
    a[0] = x
    return a


@pytest.mark.parametrize("door", INT_DOORS)
@pytest.mark.parametrize("x", WIDE_INTS, ids=range(len(WIDE_INTS)))
def test_ints_no_double_equals_are_enclosed(door, x):
    # An int used to become its nearest double with radius 0: 2**53 + 1 gave [2**53, 2**53].
    make, exact = INT_DOORS[door]
    m, r = make(x).tolist()[-1]
    lo, hi = map(Fraction, exact(x))
    assert encloses(m, r, lo, hi), (m, r)
    if not is_wide(m, r):  # and tight
        assert Fraction(r) - (hi - lo) / 2 <= 2 * Fraction(ulp(max(abs(m), r)))


DIAG = "diag requires a 1D or 2D array"
TOO_LARGE = "int too large to convert to float"
# A message is exact, a pattern to search for, or None where only the type is ours.
ERRORS = [
    (lambda: bw.array([1.0], error=-1.0), ValueError, "error must be non-negative"),
    (lambda: bw.IntervalArray([1.0], -0.5), ValueError, "error must be non-negative"),
    *[(lambda v=v: bw.array(v), OverflowError, TOO_LARGE) for v in (10**400, [1.0, -(10**400)], [(1.0, 10**400)])],
    (lambda: bw.full(2, "x"), TypeError, FULL_VALUE), (lambda: bw.full(2, (1.0, 2.0, 3.0)), TypeError, FULL_VALUE),
    (lambda: bw.full(2, [1.0, 0.0]), TypeError, FULL_VALUE),
    (lambda: bw.full(2, 1.0, error=-1.0), ValueError, "error must be non-negative"),
    (lambda: bw.full(2, "x", error=-1.0), ValueError, "error must be non-negative"),  # checked first
    (lambda: bw.full(-1, 1.0), TypeError, SHAPE),
    (lambda: bw.full(2, 1.0, 0.5, 1), TypeError, "full() takes from 2 to 3 positional arguments but 4 were given"),
    (lambda: bw.eye(-1), OverflowError, NEGATIVE), (lambda: bw.eye(2, -1), OverflowError, NEGATIVE),
    (lambda: bw.identity(2.0), TypeError, "argument 'n': " + NO_INT.format("float")),
    (lambda: bw.eye(2, k=2**63), OverflowError, None),
    *[(lambda v=v: bw.diag(v), ValueError, DIAG) for v in (bw.zeros(()), bw.zeros((2, 2, 2)))],
    *[(lambda v=v: bw.diag(v), TypeError, DIAG) for v in ("ab", 3.0, None, [[1.0, 2.0], [3.0, 4.0]], [1.0, "x"])],
    (lambda: bw.linspace(0, 1, -1), OverflowError, NEGATIVE),
    (lambda: bw.linspace(10**400, 1), OverflowError, TOO_LARGE),
    (lambda: bw.linspace(0, 1, 2.0), TypeError, "argument 'num': " + NO_INT.format("float")),
    *[(lambda s=s: bw.arange(0, 1, s), ValueError, "arange: step cannot be zero") for s in (0, 0.0, -0.0)],
    # counts that no array can hold, or no double can state
    *[(lambda a=a: bw.arange(*a), ValueError, re.compile("^arange: "))
      for a in [(0, 2.0**64, 1.0), (0, 2.0**70, 1.0), (0, INF, 1.0), (-INF, 0, 1.0), (0, 1.0, 5e-324),
                (0, 2.0**62, 1.0), (INF, INF, 1.0), (0, DBL_MAX, 1e-300)]],
]


# Every door that takes radii refuses a negative one, naming it.
RADIUS_DOORS = [lambda r: bw.array([(1.0, r)]), lambda r: bw.array([(1.0, 0.5), (2.0, r)]),
                lambda r: bw.array([1.0, (2.0, r)]), lambda r: bw.array([[(1.0, 0.5)], [(2.0, r)]]),
                lambda r: bw.full(2, (1.0, r)), lambda r: bw.from_raw_parts([1.0, 2.0], [0.0, r], [2]),
                lambda r: bw.zeros(2).__setstate__(([2], [1.0, 2.0], [0.0, r]))]
ERRORS += [(lambda door=door, r=r: door(r), ValueError, RADII + shown) for door in RADIUS_DOORS
           for r, shown in [(-0.5, "-0.5"), (-2.5, "-2.5"), (-1.0, "-1"), (-INF, "-inf"), (-1e-3, "-0.001")]]
# Values that are no intervals, for bw.array and IntervalArray alike.
ERRORS += [(lambda make=make, v=v: make(v), TypeError, message) for make in (bw.array, bw.IntervalArray)
           for v, message in [([(2.0, 0.1), 1.0], MIX), ([(2.0, 0.1), [1.0, 0.0]], MIX), ([(1.0, 2.0, 3.0)], TUPLE),
                              ([(1.0,)], TUPLE), ([(1.0, "x")], TUPLE), ([[1, 2], [3]], INHOMOGENEOUS),
                              ([[1, 2], 3], INHOMOGENEOUS), ([[1, 2], (3, 4)], INHOMOGENEOUS),
                              ([[[1]], [2]], INHOMOGENEOUS),
                              *[(v, f"cannot convert {name} to an interval value") for v, name in [
                                  ("x", "str"), (None, "NoneType"), ([1.0, None], "NoneType"), ([1.0, [2.0]], "list"),
                                  ([1.0, (2.0, 0.1, 0.0)], "tuple"), ({1.0: 2.0}, "dict")]]]]
# Shapes the makers refuse; errors of the extra dimensions pass unchanged.
ERRORS += [(lambda make=make, args=args: make(*args), exception, message) for make in MAKERS
           for args, exception, message in
           [((shape,), TypeError, SHAPE) for shape in (-1, (2, -1), 2.5, "ab", None, (2, "x"), [2.0], 2**64, [2**64])]
           + [(((2, 3), -1), OverflowError, NEGATIVE), (((2, 3), "x"), TypeError, NO_INT.format("str")),
              (((2, 3), 2.0), TypeError, NO_INT.format("float")),
              (((1,) * 65,), ValueError, "maximum supported dimension for an array is 64, found 65"),
              (((1,) * 64, 1, 1), ValueError, "maximum supported dimension for an array is 64, found 66")]]
FLOAT_DOORS = [lambda x: bw.array(x), lambda x: bw.array([1.0, x]), lambda x: bw.array([(x, 0.5)]),
               lambda x: bw.array([(1.0, x)]), lambda x: bw.full(2, x), lambda x: bw.full(2, (1.0, x)),
               lambda x: bw.from_raw_parts([x], [0.0], [1]), lambda x: bw.diag([x])]
INDEX_DOORS = [lambda x: bw.zeros(x), lambda x: bw.zeros([2, x]), lambda x: bw.ones(2, x), lambda x: bw.full([x], 1.0),
               lambda x: bw.from_raw_parts([1.0], [0.0], [x])]
# Only a TypeError of a conversion falls back to our message; others pass unchanged.
STOPS = (KeyboardInterrupt, MemoryError, RuntimeError)
ERRORS += [(lambda door=door, e=e: door(Raising(e("boom"))), e, "boom")
           for doors, kinds in [(FLOAT_DOORS, STOPS + (OverflowError, ValueError)), (INDEX_DOORS, STOPS)]
           for door in doors for e in kinds]
ERRORS += [(lambda door=door: door(Raising(TypeError("x"))), TypeError, message)
           for door, message in [(lambda x: bw.array([x]), "cannot convert Raising to an interval value"),
                                 (lambda x: bw.array([(x, 0.0)]), TUPLE), (lambda x: bw.full(2, x), FULL_VALUE)]]


@pytest.mark.parametrize("call, exception, message", ERRORS)
def test_errors(call, exception, message):
    with pytest.raises(exception) as info:
        call()
    error = info.value
    assert type(error) is exception
    assert str(error) == message if isinstance(message, str) else message is None or message.search(str(error))
    assert_cause(error)


class TestReentrancy:
    """Items whose conversion mutates what is being read."""

    def test_float_that_changes_a_later_row(self):
        rows = [[None, 1.0], [2.0, 3.0]]
        rows[0][0] = Number(0.5, lambda: (rows[1].clear(), rows.clear()))
        raises(TypeError, INHOMOGENEOUS, lambda: bw.array(rows))

    def test_float_that_grows_the_list_being_read(self):
        values = []
        values.extend([Number(1.0, lambda: values.extend([4.0] * 1000)), (2.0, 0.5)])
        a = bw.array(values)
        assert (a.values(), a.radii()) == ([1.0, 2.0], [0.0, 0.5])

    def test_index_that_mutates_the_shape(self):
        shape = []
        shape.extend([type("Index", (), {"__index__": lambda self: (shape.clear(), 2)[1]})(), 3])
        assert bw.zeros(shape).shape == (2, 3)

    @pytest.mark.parametrize("change", [list.clear, lambda v: (v.clear(), v.extend([9.0] * 50)),
                                        lambda v: v.extend([4.0] * 1000)], ids=["clear", "refill", "grow"])
    @pytest.mark.parametrize("read", [lambda v: bw.array(v).values(), lambda v: bw.diag(v).values()[::3],
                                      lambda v: bw.from_raw_parts(v, [0.0, 0.0], [2]).values()],
                             ids=["array", "diag", "raw-parts"])
    def test_list_changed_while_read(self, read, change):
        # Clearing drops the last reference to the item being converted.
        values = []
        values.extend([Number(1.5, lambda: change(values)), 2.5])
        assert read(values) == [1.5, 2.5]


class TestShapeConvention:
    @pytest.mark.parametrize("make", MAKERS)
    @pytest.mark.parametrize(
        "args, shape",
        [((2,), (2,)), ((0,), (0,)), (((2, 3),), (2, 3)), (([2, 3],), (2, 3)), ((2, 3), (2, 3)),
         (((2, 3), 4), (2, 3, 4)), (((),), ()), (([],), ()), ((np.int64(3),), (3,)), ((np.array([2, 2]),), (2, 2)),
         ((True,), (1,)), (((2**40, 0),), (2**40, 0)), (((0, 2**63, 2**63),), (0, 2**63, 2**63)),
         (((1,) * 64,), (1,) * 64)],
    )
    def test_accepted(self, make, args, shape):
        a = make(*args)
        assert (a.shape, a.size, a.nbytes) == (shape, math.prod(shape), 16 * math.prod(shape))
        if a.size:  # empty is zeros too
            assert bits(a.values()) == bits([1.0 if make is bw.ones else 0.0] * a.size)
            assert bits(a.radii()) == bits([0.0] * a.size)

class TestFull:
    @settings(max_examples=300, deadline=None)
    @given(value=finite_doubles(), error=st.one_of(st.just(0.0), finite_doubles().map(abs)))
    def test_encloses_value_plus_minus_error(self, value, error):
        exact = exact_ends(value, error)
        (m, r), second = bw.full(2, value, error=error).tolist()
        assert second == (m, r) and encloses(m, r, *exact)
        if abs(Fraction(value)) + Fraction(error) <= Fraction(DBL_MAX) / 2:  # finite and tight
            assert math.isfinite(m) and math.isfinite(r)
            assert r <= 2 * error + 4 * ulp(abs(value) + error) + 4 * 5e-324
        (m, r), = bw.full((1,), (value, error), error=7.0).tolist()  # a pair ignores the error argument
        assert encloses(m, r, *exact) and (error != 0.0 or (m, r) == (value, 0.0))

    @pytest.mark.parametrize(
        "shape, value, check",
        [(3, 1e308, "exact"), (3, -1e308, "exact"), (3, DBL_MAX, "exact"), (3, -DBL_MAX, "exact"),
         (3, 8.98846567431158e307 * 1.5, "exact"), ((2, 3), 4.0, "exact"), ((), 4.0, "exact"), ([0, 5], 4.0, "exact"),
         (1, NAN, "nan"), (1, (NAN, 1.0), "nan"), (1, (1.0, NAN), "nan"), (1, (0.0, INF), "inf"),
         (1, (5.0, INF), "inf")],
    )
    def test_points_shapes_and_wide_values(self, shape, value, check):
        a = bw.full(shape, value)
        assert a.shape == np.empty(shape).shape
        if check == "exact":  # huge points stay exact
            assert a.values() == [value] * a.size and a.radii() == [0.0] * a.size
        else:  # the entire line or NaN; an infinite radius stays infinite
            (m, r), = a.tolist()
            assert (math.isnan(m) or r == INF) and (check == "nan" or r == INF)


    def test_documented_example(self):
        a = bw.full(2, 1.0, error=0.1)
        assert a.values() == [1.0, 1.0] and all(r >= 0.1 for r in a.radii())


class TestEye:
    @pytest.mark.parametrize(
        "args, kwargs",
        [((2,), {}), ((2, 3, 1), {}), ((3,), {"k": -1}), ((3, None), {}), ((3, 2), {"k": -2}), ((4, 3), {"k": 5}),
         ((4, 3), {"k": -7}), ((0,), {}), ((1, 0), {}), ((5, 5), {"k": -(2**63)}), ((5, 5), {"k": 2**63 - 1}),
         ((3,), {}), ((2**40, 0), {})],
    )
    def test_matches_numpy(self, args, kwargs):
        a = bw.eye(*args, **kwargs)
        n = args[0]
        m = args[1] if len(args) > 1 and args[1] is not None else n
        k = args[2] if len(args) > 2 else kwargs.get("k", 0)
        assert a.shape == (n, m)
        assert a.values() == np.eye(n, m, max(min(k, 2**31), -(2**31))).ravel().tolist()
        assert a.radii() == [0.0] * (n * m)
        if len(args) == 1 and not kwargs:
            b = bw.identity(n)
            assert b.shape == a.shape and b.values() == a.values() and b.radii() == a.radii()


class TestDiag:
    def test_vector_to_matrix(self):
        v = bw.array([(1.0, 0.5), (-2.0, 0.0), (0.1, 0.01)])
        d = bw.diag(v)
        assert d.shape == (3, 3)
        for i, row in enumerate(d.tolist()):
            for j, (m, r) in enumerate(row):
                if i != j:
                    assert (m, r) == (0.0, 0.0)
                else:
                    vm, vr = v.tolist()[i]
                    assert encloses(m, r, *exact_ends(vm, vr)) and r <= vr + 2 * ulp(abs(vm) + vr)
        d = bw.diag([1.0, 2.5])  # from a list of numbers
        assert d.values() == [1.0, 0.0, 0.0, 2.5] and d.radii() == [0.0] * 4
        assert bw.diag([]).shape == (0, 0)
        (m, r), = bw.diag(bw.array([NAN])).tolist()[0]
        assert math.isnan(m) and r == INF

    def test_matrix_to_vector(self):
        d = bw.diag(bw.from_raw_parts([1.0, 2.0, 3.0, 4.0, 5.0, 6.0], [0.5, 0, 0, 0, 0.25, 0], [2, 3]))
        assert d.shape == (2,) and d.values() == [1.0, 5.0]
        assert d.radii()[0] >= 0.5 and d.radii()[1] >= 0.25
        assert bw.diag(bw.zeros((0, 4))).shape == (0,)
        assert bw.diag(bw.zeros((3, 1))).shape == (1,)


class TestRanges:
    @pytest.mark.parametrize(
        "make, args, expected",
        [(bw.linspace, (0, 1, 5), [0.0, 0.25, 0.5, 0.75, 1.0]), (bw.linspace, (0, 1, 4, False), [0.0, 0.25, 0.5, 0.75]),
         (bw.linspace, (0, 1, 0), []), (bw.linspace, (3, 1, 1), [3.0]), (bw.linspace, (2, 2, 3), [2.0, 2.0, 2.0]),
         (bw.linspace, (0, 49), [float(i) for i in range(50)]),
         (bw.arange, (0, 1, 0.25), [0.0, 0.25, 0.5, 0.75]), (bw.arange, (1, 0), []),
         (bw.arange, (0, 5), [0.0, 1.0, 2.0, 3.0, 4.0]), (bw.arange, (5, 0, -2), [5.0, 3.0, 1.0]),
         (bw.arange, (0, 0), []), (bw.arange, (0, 1, INF), []), (bw.arange, (NAN, 1), []), (bw.arange, (0, NAN), []),
         (bw.arange, (0, 1, NAN), [])],
    )
    def test_documented(self, make, args, expected):
        a = make(*args)
        assert a.shape == (len(expected),)
        assert a.values() == expected and a.radii() == [0.0] * len(expected)

    @pytest.mark.parametrize(
        "make, args",
        [(bw.linspace, a) for a in [(0.1, 0.7, 7, True), (-3.3, 1e-3, 11, False), (1e300, -1e300, 9, True),
                                    (0.0, 1.0, 50, True), (5e-324, 1e-320, 6, True), (-1.0, 1.0, 1000, False)]]
        + [(bw.arange, a) for a in [(0.0, 1.0, 0.1), (-2.5, 7.3, 0.7), (1e-300, 1e-299, 3e-301)]],
    )
    def test_points_follow_the_formula(self, make, args):
        start, stop = args[:2]
        if make is bw.linspace:
            num, endpoint = args[2:]
            step = (stop - start) / (num - 1 if endpoint else num)
        else:
            step = args[2]
            num = max(0, math.ceil((stop - start) / step))
        assert bits(make(*args).values()) == bits(i * step + start for i in range(num))

    @pytest.mark.parametrize(
        "start, stop, num, endpoint",
        [(-1e308, 1e308, 3, True), (-DBL_MAX, DBL_MAX, 50, True), (DBL_MAX, -DBL_MAX, 7, True),
         (-1e308, 1e308, 4, False), (-DBL_MAX, DBL_MAX, 2, True),
         # the span fits, but i * step overflows for the last points
         (0.0, DBL_MAX, 7, True), (-DBL_MAX, 0.0, 13, True), (DBL_MAX, 0.0, 10, True)],
    )
    def test_linspace_overflowing_span_gives_finite_points_inside(self, start, stop, num, endpoint):
        points = bw.linspace(start, stop, num, endpoint).values()
        lo, hi = min(start, stop), max(start, stop)
        assert len(points) == num and points[0] == start
        assert all(math.isfinite(x) and lo <= x <= hi for x in points)
        direction = 1 if stop > start else -1
        assert all(direction * (b - a) >= 0 for a, b in zip(points, points[1:]))
        if endpoint:
            assert abs(points[-1] - stop) <= 1e-12 * abs(stop)
        if (start, stop, num) == (-1e308, 1e308, 3):
            assert points[1] == 0.0

    @pytest.mark.parametrize("start, stop, step", [(-DBL_MAX, DBL_MAX, 1e307), (DBL_MAX, -DBL_MAX, -1e307),
                                                    (-1e308, 1e308, 3e307), (0.0, DBL_MAX, 1e307)])
    def test_arange_overflowing_span_counts_and_stays_finite(self, start, stop, step):
        points = bw.arange(start, stop, step).values()
        assert len(points) == math.ceil((Fraction(stop) - Fraction(start)) / Fraction(step))
        assert points[0] == start
        assert all(math.isfinite(x) and min(start, stop) <= x <= max(start, stop) for x in points)
        for i, x in enumerate(points):  # each point is close to start + i * step
            assert abs(Fraction(x) - (Fraction(start) + i * Fraction(step))) <= Fraction(abs(step)) * 2**-40
