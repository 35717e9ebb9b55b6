"""Interval dot and matrix products: enclosure of the exact products (Fraction
oracle), shape rules and messages, the pooled row blocks, the lock release."""

from __future__ import annotations

import math
import operator
import random
from fractions import Fraction

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import boundwise as bw
from oracles import (ETA, INF, bits, encloses, exact_ends, exact_range, from_pairs, intervals, is_wide, pairs, raises,
                     releases_lock, run_python, snapshot)

_CONSTANTS = bw._boundwise._parallel_constants()
POOL_ROWS = _CONSTANTS["matmul_parallel_rows"]
BLOCK = _CONSTANTS["matmul_block_rows"]
U = 2.0**-53
TINY = 1.5 * 2.0**-538  # its square, 0.5625 eta, rounds up to eta
FORMS = {"dot": bw.IntervalArray.dot, "matmul": bw.IntervalArray.matmul, "@": operator.matmul}


def exact_sum_of_products(xs, ys):
    """Exact range of sum x_i * y_i over interval factors; None when a factor is unbounded or NaN."""
    lo = hi = Fraction(0)
    for x, y in zip(xs, ys):
        ex, ey = exact_ends(*x), exact_ends(*y)
        if ex is None or ey is None:
            return None
        low, high = exact_range("*", ex, ey)
        lo, hi = lo + low, hi + high
    return lo, hi


def check_matmul(a_elems, b_elems, m, k, n, result):
    """Every element of the (m, n) result encloses its exact row-by-column range;
    a row or column holding a NaN or infinite factor gives a wide element."""
    assert result.shape == (m, n)
    got = pairs(result)
    for i in range(m):
        row = a_elems[i * k:(i + 1) * k]
        for j in range(n):
            column = b_elems[j::n] if n else []
            mid, rad = got[i * n + j]
            ends = exact_sum_of_products(row, column)
            assert is_wide(mid, rad) if ends is None else encloses(mid, rad, *ends), (i, j, mid, rad, ends)


def random_elements(rng, count, scale="mixed"):
    """Midpoints and radii of one magnitude class: ordinary, huge, tiny (products underflow) or mixed."""
    out = []
    for _ in range(count):
        kind = rng.choice(["ordinary", "huge", "tiny", "point"]) if scale == "mixed" else scale
        if kind == "huge":
            m = rng.uniform(-1, 1) * 2.0**rng.randint(500, 1022)
        elif kind == "tiny":  # products within a few eta: most of them round
            m = rng.choice([-1, 1]) * rng.uniform(1, 2) * 2.0**-rng.randint(536, 540)
        else:
            m = rng.uniform(-10, 10)
        r = 0.0 if kind == "point" else rng.choice([0.0, abs(m) * 2.0**-rng.randint(1, 60), ETA])
        out.append((m, r))
    return out


class TestEnclosure:
    @settings(max_examples=100, deadline=None)
    @given(st.integers(0, 3), st.integers(0, 3), st.integers(0, 3), st.data())
    def test_matmul_encloses_adversarial_entries(self, m, k, n, data):
        a_elems = data.draw(st.lists(intervals(), min_size=m * k, max_size=m * k))
        b_elems = data.draw(st.lists(intervals(), min_size=k * n, max_size=k * n))
        check_matmul(a_elems, b_elems, m, k, n, from_pairs(a_elems, (m, k)) @ from_pairs(b_elems, (k, n)))

    @settings(max_examples=100, deadline=None)
    @given(st.integers(0, 6).flatmap(lambda n: st.tuples(*[st.lists(intervals(), min_size=n, max_size=n)] * 2)))
    def test_dot_encloses_adversarial_entries(self, vectors):
        x, y = vectors
        mid, rad = from_pairs(x, (len(x),)).dot(from_pairs(y, (len(y),)))
        ends = exact_sum_of_products(x, y)
        assert is_wide(mid, rad) if ends is None else encloses(mid, rad, *ends)

    # 255 rows run as one product on the calling thread, 256 and 300 in row
    # blocks on the pool (the last block of 300 is partial).
    @pytest.mark.parametrize("m", [1, 3, POOL_ROWS - 1, POOL_ROWS, 300])
    @pytest.mark.parametrize("k, n", [(0, 3), (1, 2), (3, 2), (7, 1)])
    @pytest.mark.parametrize("scale", ["mixed", "tiny", "huge"])
    def test_matmul_encloses_random_matrices(self, m, k, n, scale):
        rng = random.Random(f"{m}-{k}-{n}-{scale}")
        a_elems, b_elems = random_elements(rng, m * k, scale), random_elements(rng, k * n, scale)
        a, b = from_pairs(a_elems, (m, k)), from_pairs(b_elems, (k, n))
        check_matmul(a_elems, b_elems, m, k, n, a @ b)

    @pytest.mark.parametrize("sign", [1.0, -1.0])
    @pytest.mark.parametrize("form", ["dot", "matmul"])
    def test_products_that_underflow_keep_the_lost_amounts(self, form, sign):
        # Each product 0.5625 eta rounds to eta: the rounded sum 10 eta lies
        # 4.375 eta from the exact one, beyond any relative bound.
        k = 10
        x = [(TINY, 0.0)] * k
        y = [(sign * TINY, 0.0)] * k
        exact = Fraction(sign) * k * Fraction(TINY) ** 2
        if form == "dot":
            mid, rad = from_pairs(x, (k,)).dot(from_pairs(y, (k,)))
        else:
            [(mid, rad)] = pairs(from_pairs(x, (1, k)) @ from_pairs(y, (k, 1)))
        assert mid == sign * 10 * ETA
        assert encloses(mid, rad, exact, exact)

    @pytest.mark.parametrize("m, k, n", [(2, 3, 4), (3, 1, 3), (POOL_ROWS, 5, 2), (4, 200, 3)])
    def test_exact_integer_products_have_exact_midpoints_and_small_radii(self, m, k, n):
        rng = random.Random(m * k * n)
        a = [[rng.randint(-1000, 1000) for _ in range(k)] for _ in range(m)]
        b = [[rng.randint(-1000, 1000) for _ in range(n)] for _ in range(k)]
        c = bw.array(a) @ bw.array(b)
        for t, (mid, rad) in enumerate(pairs(c)):
            i, j = divmod(t, n)
            exact = sum(a[i][p] * b[p][j] for p in range(k))
            magnitude = sum(abs(a[i][p] * b[p][j]) for p in range(k))
            assert mid == exact
            # The bound is about (k + 1) u |A||B|: positive, and not a loose multiple of it.
            assert 0 < rad <= 2 * (k + 1) * U * magnitude + (4 * k + 2) * ETA

    @pytest.mark.parametrize("bad, row, column", [
        ((math.nan, 0.0), True, False), ((INF, 0.0), True, False), ((1.0, INF), True, False),
        ((math.nan, 0.0), False, True), ((-INF, 0.0), False, True), ((2.0, math.nan), False, True),
    ])
    def test_non_finite_entries_widen_what_they_touch(self, bad, row, column):
        m = k = n = 3
        rng = random.Random(7)
        a_elems = [(rng.uniform(1, 2), 0.0) for _ in range(m * k)]
        b_elems = [(rng.uniform(1, 2), 1e-3) for _ in range(k * n)]
        if row:
            a_elems[1 * k + 2] = bad  # row 1
        else:
            b_elems[1 * n + 2] = bad  # column 2
        c = from_pairs(a_elems, (m, k)) @ from_pairs(b_elems, (k, n))
        check_matmul(a_elems, b_elems, m, k, n, c)
        touched = [(i, j) for i in range(m) for j in range(n) if (i == 1 if row else j == 2)]
        for i, j in touched:
            mid, rad = pairs(c)[i * n + j]
            assert rad == INF and (not math.isnan(bad[0]) or math.isnan(mid))
        assert sum(is_wide(*e) for e in pairs(c)) == len(touched)

    def test_overflowing_midpoint_gets_an_infinite_radius(self):
        c = bw.array([[1e308, 1e308]]) @ bw.array([[10.0], [10.0]])
        assert c.values() == [INF] and c.radii() == [INF]


@pytest.mark.parametrize("form", ["dot", "matmul", "@"])
def test_empty_and_exact_products(form):
    product = FORMS[form]
    assert product(bw.array([1.0, 2.0, 3.0]), bw.array([4.0, 5.0, 6.0])) == (32.0, 0.0)
    assert product(bw.zeros(0), bw.zeros(0)) == (0.0, 0.0)
    # No terms: zeros, each with the two ulps of 0 that the final rounding adds.
    c = product(bw.ones((2, 0)), bw.ones((0, 3)))
    assert c.shape == (2, 3) and c.values() == [0.0] * 6 and bits(c.radii()) == [2] * 6
    assert product(bw.ones((0, 3)), bw.ones((3, 4))).shape == (0, 4)
    assert product(bw.ones((3, 4)), bw.ones((4, 0))).shape == (3, 0)


SHAPE_CASES = [  # left, right, dot result, matmul result (None: a tuple)
    ((3,), (3,), None, None),
    ((3,), (3, 2), (1, 2), (2,)),
    ((2, 3), (3,), (2,), (2,)),
    ((2, 3), (3, 4), (2, 4), (2, 4)),
    ((1, 1), (1, 5), (1, 5), (1, 5)),
]

MISALIGNED = [
    ((3,), (4,), "shapes (3,) and (4,) not aligned"),
    ((3,), (4, 2), "shapes (3,) and (4, 2) not aligned"),
    ((2, 3), (4,), "shapes (2, 3) and (4,) not aligned"),
    ((2, 3), (2, 3), "shapes (2, 3) and (2, 3) not aligned"),
    ((2, 2, 2), (2, 2), "unsupported dimensionalities 3D and 2D"),
    ((2,), (2, 2, 1), "unsupported dimensionalities 1D and 3D"),
    ((), (1,), "unsupported dimensionalities 0D and 1D"),
]



def shaped(shape):
    size = math.prod(shape)
    return bw.from_raw_parts([float(i % 5 - 2) for i in range(size)], [0.25] * size, list(shape))


class TestShapes:
    @pytest.mark.parametrize("left, right, dot_shape, matmul_shape", SHAPE_CASES)
    @pytest.mark.parametrize("form", FORMS)
    def test_result_shapes_and_values(self, form, left, right, dot_shape, matmul_shape):
        a, b = shaped(left), shaped(right)
        result = FORMS[form](a, b)
        expected_shape = dot_shape if form == "dot" else matmul_shape
        if expected_shape is None:
            assert isinstance(result, tuple) and len(result) == 2
            mid, rad = result
            assert encloses(mid, rad, *exact_sum_of_products(pairs(a), pairs(b)))
            return
        assert result.shape == expected_shape
        # Every shape case is the 2-D product of the operands viewed as matrices.
        rows = a.reshape(-1, a.shape[-1]) if a.ndim == 2 else a.reshape(1, -1)
        cols = b if b.ndim == 2 else b.reshape(-1, 1)
        check_matmul(pairs(rows), pairs(cols), rows.shape[0], rows.shape[1], cols.shape[1],
                     result.reshape(rows.shape[0], cols.shape[1]))

    @pytest.mark.parametrize("left, right, message", MISALIGNED)
    @pytest.mark.parametrize("form", FORMS)
    def test_shape_errors(self, form, left, right, message):
        a, b = shaped(left), shaped(right)
        before = snapshot(a), snapshot(b)
        prefix = "dot" if form == "dot" else "matmul"
        raises(ValueError, f"{prefix}: {message}", lambda: FORMS[form](a, b))
        assert (snapshot(a), snapshot(b)) == before

    @pytest.mark.parametrize("other", [2, 2.0, [1.0, 2.0], None, "ab"])
    @pytest.mark.parametrize("form, message", [
        ("dot", "unsupported operand type for dot"),
        ("matmul", "unsupported operand type for matmul"),
        ("@", "unsupported operand type for @"),
    ])
    def test_other_operand_must_be_an_array(self, form, message, other):
        a = shaped((2,))
        before = snapshot(a)
        raises(TypeError, message, lambda: FORMS[form](a, other))
        assert snapshot(a) == before

    @pytest.mark.parametrize("other", [2, 2.0, [[1.0], [2.0]]])
    def test_number_on_the_left_of_at_is_refused(self, other):
        raises(TypeError, "unsupported operand type for @", lambda: other @ shaped((2, 1)))

    def test_inplace_at_rebinds_to_a_new_product(self):
        a = shaped((2, 2))
        alias, before = a, snapshot(a)
        a @= shaped((2, 3))
        assert a.shape == (2, 3) and a is not alias and snapshot(alias) == before


# Operands mixing signs, rounding-prone values, NaN and infinite radii, built the
# same way here and in the subprocesses.
DIGEST = r"""
import hashlib, math, random, struct
import boundwise as bw

def operand(rows, cols, seed):
    rng = random.Random(seed)
    mids, rads = [], []
    for _ in range(rows * cols):
        m = rng.choice([rng.uniform(-10, 10), rng.randint(-99, 99) / 10, rng.uniform(-1, 1) * 1e-160])
        r = rng.choice([0.0, abs(m) * 1e-9, 1e-300])
        if rng.random() < 0.002:
            m, r = rng.choice([(math.nan, 0.0), (1.0, math.inf)])
        mids.append(m)
        rads.append(r)
    return bw.from_raw_parts(mids, rads, [rows, cols])

def digests(cases):
    out = []
    for m, k, n in cases:
        c = operand(m, k, m) @ operand(k, n, k + n)
        h = hashlib.sha256(struct.pack(f"<{c.size}d", *c.values()))
        h.update(struct.pack(f"<{c.size}d", *c.radii()))
        out.append(h.hexdigest())
    return out
"""
POOL_CASES = [(POOL_ROWS - 1, 40, 30), (POOL_ROWS, 40, 30), (300, 37, 41), (4 * BLOCK + 1, 1, 3)]


def digests_with_threads(threads: str) -> list[str]:
    done = run_python(DIGEST + f"\nprint(*digests({POOL_CASES!r}))", {"RAYON_NUM_THREADS": threads}, check=True)
    return done.stdout.split()


def test_pooled_blocks_equal_one_thread_bit_for_bit():
    scope: dict = {}
    exec(DIGEST, scope)
    here = scope["digests"](POOL_CASES)
    assert len(set(here)) == len(POOL_CASES)
    assert digests_with_threads("1") == here
    assert digests_with_threads("4") == here


class TestInterpreterLock:
    @pytest.mark.parametrize("form", FORMS)
    @pytest.mark.parametrize("shapes", [((1 << 20,), (1 << 20,)), ((POOL_ROWS, 300), (300, 300))],
                             ids=["vectors", "matrices"])
    def test_products_release_the_lock(self, form, shapes):
        a, b = bw.full(shapes[0], (1.0, 0.5)), bw.full(shapes[1], (2.0, 0.25))
        assert releases_lock(FORMS[form], a, b)
