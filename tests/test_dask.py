"""Chunked interval arrays on Dask against exact oracles: construction round
trips bit for bit, element-wise work equals the one-machine results, and tree
reductions and blocked products enclose the exact results (and stay narrow) on
uneven and empty chunks, with NaN and entire-line elements crossing chunk
boundaries, on the threaded scheduler and on a local cluster of two processes."""

from __future__ import annotations

import logging
import math
import operator
import warnings
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import boundwise as bw
from conftest import (DBL_MAX, ETA, INF, NAN, NAN_PAYLOAD, bits, encloses, exact_range, from_pairs, intervals,
                      is_wide, pairs, raises, snapshot)

da = pytest.importorskip("dask.array", reason="boundwise.dask needs dask: pip install 'boundwise[dask]'")
bd = pytest.importorskip("boundwise.dask")

HYPOTHESIS = settings(max_examples=30, deadline=None, suppress_health_check=[HealthCheck.too_slow])
U = Fraction(1, 2**53)
# A row crossing three chunks with NaN, the entire line and infinite points at chunk edges.
ODD = [(1.0, 0.5), (NAN, 0.0), (0.1, 0.0), (NAN, INF), (-2.0, 1e-300), (INF, 0.0), (3.0, INF), (ETA, ETA),
       (-INF, 0.0), (1e308, 1e300), (NAN_PAYLOAD, 0.0), (-0.0, 0.0)]


def chunking(n: int) -> st.SearchStrategy[tuple[int, ...]]:
    """Chunk sizes summing to n, empty chunks included."""
    return st.lists(st.integers(0, n), max_size=5).map(
        lambda cuts: tuple(np.diff([0, *sorted(cuts), n]).tolist()))


@pytest.fixture(scope="module")
def cluster_client():
    distributed = pytest.importorskip("distributed", reason="the cluster tests need distributed")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # start-up notices of the cluster are no results of ours
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                           dashboard_address=None, silence_logs=logging.ERROR)
        client = distributed.Client(cluster, timeout=60, set_as_default=False)
    yield client
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        client.close(timeout=30)
        cluster.close(timeout=30)


@pytest.fixture(params=["threads", "cluster"])
def compute(request):
    """Computes a chunked array on the threaded scheduler or on the two-process cluster."""
    if request.param == "threads":
        return lambda x: x.compute(scheduler="threads")
    client = request.getfixturevalue("cluster_client")
    return lambda x: client.compute(x).result(timeout=120)


def texts(a):
    """An array's shape and elements; NaNs compare equal whatever their payload,
    which kernels need not keep (one NaN operand or the other)."""
    return a.shape, [(repr(m), repr(r)) for m, r in pairs(a)]


def finite(v) -> bool:
    return not (isinstance(v, float) and math.isinf(v))


def bounds(m: float, r: float):
    """Exact ends of an element (infinite points as +-inf), None for one that bounds nothing."""
    if math.isnan(m) or math.isnan(r) or r == INF:
        return None
    return (m, m) if math.isinf(m) else (Fraction(m) - Fraction(r), Fraction(m) + Fraction(r))


def assert_encloses(result, lo, hi, slack, huge=False):
    """result (a pair) contains [lo, hi] (None: anything); when [lo, hi] is
    bounded, result is too (unless huge: near the overflow threshold) and its
    radius exceeds the half-width by at most slack."""
    m, r = result
    if is_wide(m, r):
        assert lo is None or huge or not (finite(lo) and finite(hi)), (result, lo, hi)
        return
    assert lo is not None and finite(lo) and finite(hi), (result, lo, hi)
    assert encloses(m, r, lo, hi), (result, lo, hi)
    assert Fraction(r) <= (hi - lo) / 2 + slack, (result, lo, hi, slack)


def check_reduction(op, elements, result, levels):
    """result of reducing elements (pairs) by op against the exact oracle."""
    ends = [bounds(m, r) for m, r in elements]
    if None in ends:
        return assert_encloses(result, None, None, 0)
    if op in ("max", "min"):
        pick = max if op == "max" else min
        lo, hi = pick(e[0] for e in ends), pick(e[1] for e in ends)
        scale = abs(lo) + abs(hi) if finite(lo) and finite(hi) else 0
        return assert_encloses(result, lo, hi, 8 * levels * U * scale + 4 * ETA, huge=scale > 2**1020)
    if not all(finite(e[0]) for e in ends) or (op == "mean" and not ends):
        return assert_encloses(result, None, None, 0)
    n = max(len(ends), 1)
    lo, hi = sum((e[0] for e in ends), Fraction(0)), sum((e[1] for e in ends), Fraction(0))
    scale = sum(abs(Fraction(m)) + Fraction(r) for m, r in elements)
    slack = 4 * (n + 4 * levels) * U * scale + 8 * n * ETA
    if op == "mean":
        lo, hi, slack = lo / n, hi / n, slack / n + 4 * U * (abs(lo) + abs(hi)) / n + ETA
    assert_encloses(result, lo, hi, slack, huge=scale > 2**1020)


class TestConstruction:
    @pytest.mark.parametrize("chunks", [1, 5, (3, 0, 0, 9), ((12,),), "auto"])
    def test_round_trip_is_exact(self, chunks, compute):
        a = from_pairs(ODD)
        c = bd.from_array(a, chunks)
        assert (c.shape, c.ndim, c.size) == ((12,), 1, 12) and sum(c.chunks[0]) == 12
        assert snapshot(compute(c)) == snapshot(a)
        assert snapshot(bd.from_dask(c.mid, c.rad).compute()) == snapshot(a)
        assert snapshot(c.rechunk(((2, 10),)).compute()) == snapshot(a)

    @pytest.mark.parametrize("mid, rad, error, message", [
        (da.zeros(3), da.zeros(4), ValueError, "from_dask: midpoints of shape (3,) and radii of shape (4,) differ"),
        (da.zeros(4, chunks=2), da.zeros(4, chunks=3), ValueError,
         "from_dask: midpoints in chunks ((2, 2),) and radii in chunks ((3, 1),) differ"),
        ([0.0], da.zeros(1), TypeError, "from_dask: midpoints must be a dask array, got list"),
        (da.zeros(1), da.zeros(1, dtype=complex), TypeError, "from_dask: radii must hold real numbers, got dtype complex128"),
    ])
    def test_from_dask_refuses(self, mid, rad, error, message):
        raises(error, message, lambda: bd.from_dask(mid, rad))

    def test_a_block_unlike_its_chunks_is_refused(self):
        import dask

        lying = da.from_delayed(dask.delayed(np.zeros)(1), shape=(2,), dtype=float)  # says 2, holds 1
        parts = da.concatenate([lying, da.zeros(1)])
        c = bd.from_dask(parts, parts)
        raises(ValueError, "block [0] holds (1,); its chunks give an interval array of shape (2,)", c.compute)

    def test_negative_radii_fail_where_the_block_is_built(self):
        c = bd.from_dask(da.zeros(4, chunks=2), -da.ones(4, chunks=2))
        raises(ValueError, "radii must be non-negative, got -1", c.compute)


class TestElementwise:
    @pytest.mark.parametrize("f", [
        operator.add, operator.sub, operator.mul, operator.truediv, operator.floordiv, operator.pow,
        lambda x, y: 2.5 - x / y, lambda x, y: x.maximum(y), lambda x, y: x.power(y), lambda x, y: abs(-x),
        *(lambda x, y, name=name: getattr(x, name)() for name in
          ("exp", "ln", "log2", "sqrt", "sin", "tan", "floor", "round", "sign", "nan_to_num")),
        lambda x, y: x.clip(-1.0, 2.0), lambda x, y: x.round(2)])
    def test_block_by_block_equals_one_machine(self, f, compute):
        a = from_pairs(ODD * 2, (4, 6))
        b = from_pairs(ODD[::-1][:6], (1, 6))  # broadcast along the first axis
        x, y = bd.from_array(a, ((1, 0, 3), (2, 4))), bd.from_array(b, (1, (5, 1)))
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            expected = f(a, b)
            assert texts(compute(f(x, y))) == texts(expected)
            assert texts(compute(f(x, b))) == texts(expected)  # a one-machine operand is chunked to fit

    @given(st.lists(st.tuples(intervals(), intervals()), min_size=1, max_size=12).flatmap(
        lambda xs: st.tuples(st.just(xs), chunking(len(xs)))), st.sampled_from("+-*/"))
    @HYPOTHESIS
    def test_arithmetic_encloses_the_exact_range(self, data, op):
        elements, chunks = data
        x = bd.from_array(from_pairs([e for e, _ in elements]), (chunks,))
        y = bd.from_array(from_pairs([e for _, e in elements]), (chunks[::-1],))  # rechunked to match
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            result = pairs({"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}[op](
                x, y).compute(scheduler="threads"))
        for (p, q), got in zip(elements, result):
            ends = (bounds(*p), bounds(*q))
            if None in ends or not all(finite(v) for e in ends for v in e):
                continue
            exact = exact_range(op, *ends)
            assert exact is None and is_wide(*got) or exact is not None and encloses(*got, *exact)

    @pytest.mark.parametrize("call, error, message", [
        (lambda x: x + bw.ones(3), ValueError, "operands could not be broadcast together with shapes [4, 6] and [3]"),
        (lambda x: x.clip(2.0, 1.0), ValueError, "a_min must be <= a_max; got a_min=2 a_max=1"),
        (lambda x: x + "1", TypeError, "unsupported operand type(s) for +: 'ChunkedIntervalArray' and 'str'"),
        (lambda x: x @ bw.ones(4), ValueError, "matmul: shapes (4, 6) and (4,) not aligned"),
        (lambda x: x @ bw.ones((6, 2, 2)), ValueError, "matmul: unsupported dimensionalities 2D and 3D"),
    ])
    def test_refuses_before_any_work(self, call, error, message):
        x = bd.from_array(bw.ones((4, 6)), 3)
        raises(error, message, lambda: call(x))
        assert snapshot(x.compute()) == snapshot(bw.ones((4, 6)))


class TestReductions:
    @given(st.lists(intervals(), max_size=40).flatmap(lambda xs: st.tuples(st.just(xs), chunking(len(xs)))),
           st.sampled_from(["sum", "mean", "max", "min"]), st.integers(2, 4))
    @HYPOTHESIS
    def test_whole_array_encloses_the_exact_result(self, data, op, split_every):
        elements, chunks = data
        if op in ("max", "min") and not elements:
            return
        a = from_pairs(elements)
        result = getattr(bd.from_array(a, (chunks,)), op)(split_every=split_every).compute(scheduler="threads")
        check_reduction(op, elements, result, levels=1 + len(chunks))
        if op in ("max", "min") and not any(math.isnan(m) for m, _ in elements):
            assert bits(result) == bits(getattr(a, op)())  # the one-machine extreme, bit for bit

    # Half-bounded chunks: [0, 2e308] has the partial minimum [0, +inf) and
    # [-2e308, 0] the partial maximum (-inf, 0], neither with a narrow
    # (midpoint, radius) form, yet every lane's extreme is bounded. With huge
    # ends, infinite points and radii, signed zeros and near ties elsewhere.
    @pytest.mark.parametrize("op", ["min", "max"])
    @pytest.mark.parametrize("axis", [None, 0, 1])
    @pytest.mark.parametrize("chunks", [((1, 2, 2), (5, 1)), ((3, 2), (1, 1, 0, 4)), (1, 1)])
    def test_extremes_are_the_one_machine_extremes_bit_for_bit(self, op, axis, chunks):
        rows = [[(0.0, 0.0)] * 5 + [(1e308, 1e308)], [(-1e308, 1e308)] + [(-0.0, 0.0)] * 5,
                [(INF, 0.0), (1.0, INF), (DBL_MAX, DBL_MAX), (-INF, 0.0), (ETA, 0.5), (0.1, 0.0)],
                [(-DBL_MAX, 1e300), (DBL_MAX / 2, DBL_MAX / 2), (-0.0, ETA), (1e308, 0.0), (-1e308, 1e292), (0.3, 1e-17)],
                # Ends one step apart whose nearest sums m -+ r tie.
                [(1.0, 2.0**-54), (1.0, 0.0), (1.0 - 2.0**-53, 0.0), (1.0 + 2.0**-52, 2.0**-54), (2.0**-1074, 0.0),
                 (1.0, 2.0**-53)]]
        a = from_pairs([e for row in rows for e in row], (5, 6))
        got = getattr(bd.from_array(a, chunks), op)(axis, split_every=2).compute(scheduler="threads")
        want = getattr(a, op)(axis)
        assert bits(got) == bits(want) if axis is None else snapshot(got) == snapshot(want)

    @pytest.mark.parametrize("op", ["sum", "mean", "max", "min"])
    @pytest.mark.parametrize("axis", [None, 0, 1])
    def test_nan_and_the_entire_line_across_chunks(self, op, axis, compute):
        rows = [ODD, [(float(k) / 10, 0.0) for k in range(12)], ODD[::-1][:6] + [(0.3, 1e-17)] * 6,
                [(k, 0.5) for k in range(10)] + [(INF, 0.0), (-INF, 0.0)]]
        a = from_pairs([e for row in rows for e in row], (4, 12))
        result = compute(getattr(bd.from_array(a, ((2, 2), (5, 0, 4, 3))), op)(axis, split_every=2))
        if axis is None:
            return check_reduction(op, pairs(a), result, levels=6)
        lanes = rows if axis == 1 else [[row[j] for row in rows] for j in range(12)]
        assert result.shape == (len(lanes),)
        for lane, got in zip(lanes, pairs(result)):
            check_reduction(op, lane, got, levels=4)

    @pytest.mark.parametrize("shape, chunks, op, axis", [
        ((0,), ((0,),), "sum", None), ((0,), ((0, 0),), "mean", None), ((0, 3), ((0,), (1, 2)), "mean", 0),
        ((2, 0), (1, (0, 0)), "sum", 1), ((0, 4), ((0,), (2, 2)), "max", 1)])
    def test_empty_arrays_give_the_one_machine_result(self, shape, chunks, op, axis):
        a = bw.ones(shape)
        got, want = getattr(bd.from_array(a, chunks), op)(axis).compute(), getattr(a, op)(axis)
        if axis is not None:
            got, want = (got.shape, got.tolist()), (want.shape, want.tolist())
        assert repr(got) == repr(want)

    @pytest.mark.parametrize("shape, op, axis", [
        ((2, 3), "sum", 2), ((2, 3), "mean", -1), ((2, 3), "max", 1.0), ((0, 3), "max", None), ((0, 3), "min", 0),
        ((3, 0), "min", 1)])
    def test_errors_are_the_one_machine_errors(self, shape, op, axis):
        a = bw.zeros(shape)
        with pytest.raises(Exception) as want:
            getattr(a, op)(axis)
        raises(type(want.value), str(want.value), lambda: getattr(bd.from_array(a, 1), op)(axis))


class TestMatmul:
    @pytest.mark.parametrize("left, right", [
        (((2, 0, 3), (4, 0, 3)), ((1, 6), (2, 2))), (((5,), (7,)), ((3, 4), (4,))), ((7,), (4, 3))])
    def test_blocked_product_encloses_the_exact_product(self, left, right, compute):
        rng = np.random.default_rng(len(str(left)))
        a = bw.from_raw_parts(rng.normal(size=(5, 7)) * 1e3, rng.uniform(0, 1e-6, (5, 7)), (5, 7))
        b = bw.from_raw_parts(rng.normal(size=(7, 4)), np.zeros((7, 4)), (7, 4))
        if len(left) == 1:
            a = a[0]
        got, want = pairs(compute(bd.from_array(a, left) @ bd.from_array(b, right))), pairs(a @ b)
        rows = [pairs(a)] if a.ndim == 1 else [pairs(a)[i * 7:(i + 1) * 7] for i in range(5)]
        for i, row in enumerate(rows):
            for j in range(4):
                terms = [exact_range("*", bounds(*row[k]), bounds(*pairs(b)[k * 4 + j])) for k in range(7)]
                (m, r), (m1, r1) = got[i * 4 + j], want[i * 4 + j]
                assert encloses(m, r, sum(t[0] for t in terms), sum(t[1] for t in terms))
                # Not much wider than one machine: a rounding per combining addition.
                assert Fraction(r) <= Fraction(r1) + 16 * U * (abs(Fraction(m1)) + Fraction(r1))

    def test_vector_dot_computes_to_a_pair(self):
        x = bw.array([0.1, 0.2, 0.3])
        m, r = (bd.from_array(x, ((1, 0, 2),)) @ bd.from_array(x, 2)).compute()
        exact = sum(Fraction(v) ** 2 for v in (0.1, 0.2, 0.3))
        assert encloses(m, r, exact, exact) and r < 1e-15
