"""Shapes: attributes, reshape, flatten, transpose, copy-on-write sharing, size
arithmetic that never wraps, zero dimensions, the dimension cap, broadcasting,
truth value and len()."""

import hashlib
import math
import pickle
import random
import struct
from pathlib import Path

import numpy as np
import pytest

import boundwise._boundwise as bw
from oracles import (AMBIGUOUS, DBL_MAX, DIM_CAP, ETA, IN_PLACE, INF, NAN, NAN_PAYLOAD, OPS, Raising, bits, encloses,
                     exact_ends, from_pairs, raises, run_python, snapshot, ulp)

TESTS = str(Path(__file__).resolve().parent)


def arange_array(*shape):
    n = math.prod(shape)
    return bw.from_raw_parts([float(i) for i in range(n)], [0.0] * n, list(shape))


def nested(depth, leaf=1.0):
    for _ in range(depth):
        leaf = [leaf]
    return leaf


def cycle():
    x = [0.0]
    x[0] = x
    return x


def mutual():
    a, b = [], []
    a.append(b)
    b.append(a)
    return a


# Three factors below 2**63 whose product is 2**129 + 1: it is 1 modulo 2**64
# and modulo 2**128, so a wrapped product would pass an element-count check.
WRAPS_TO_ONE_128 = [9 * 2932031007403, 1033 * 15686603697451, 1591582393]
# Two factors below 2**63 whose product is 1 modulo 2**64.
WRAPS_TO_ONE_64 = [7, 0x6DB6DB6DB6DB6DB7]


class TestAttributes:
    @pytest.mark.parametrize(
        "shape",
        [(4, 5, 6), (2, 3), (7,), (), (2, 0), (0, 3), (1,) * 64, (0, 2**64 - 1, 2**64 - 1),
         (3, 0, 2**64 - 1, 2**64 - 1), (2**40, 0), (0, *WRAPS_TO_ONE_128)],
        ids=str,
    )
    def test_values(self, shape):
        # Row-major strides in elements; a zero dimension makes the size 0 however
        # large the others are, and nothing is computed with a wrapped product.
        size = math.prod(shape)
        strides = tuple(math.prod(shape[k + 1:]) for k in range(len(shape)))
        for a in (bw.zeros(shape), bw.from_raw_parts([0.0] * size, [0.0] * size, list(shape))):
            assert (a.shape, a.ndim, a.size, a.strides) == (shape, len(shape), size, strides)
            assert (a.dtype, a.itemsize, a.nbytes, a.values(), a.radii()) == ("interval64", 16, 16 * size, [0.0] * size,
                                                                              [0.0] * size)
            assert type(a.shape) is tuple and type(a.strides) is tuple
            assert not shape or shape[0] != 0 or a.tolist() == []

    def test_operations_on_huge_empty_arrays(self):
        a = bw.zeros((2**40, 0))
        assert (a.size, a.nbytes, a.values(), a.radii()) == (0, 0, [], [])
        assert (a + a).shape == (a * 2.0).shape == (a + bw.zeros(0)).shape == (2**40, 0)
        assert a.reshape(0).shape == a.flatten().shape == (0,)
        a += 1.0
        assert a.shape == (2**40, 0)


class TestDimensionCap:
    def test_64_dimensions_are_accepted(self):
        a = bw.array(nested(64))
        assert a.shape == (1,) * 64 and a.values() == [1.0]
        assert bw.zeros(1).reshape((1,) * 64).ndim == 64

    @pytest.mark.parametrize(
        "call, found",
        [(lambda: bw.array(nested(65)), 65), (lambda: bw.zeros(1).reshape((1,) * 65), 65),
         (lambda: bw.zeros(1).reshape((1,) * 64, 1), 65),
         # deep and cyclic lists must not overflow the stack
         (lambda: bw.array(nested(1000)), None), (lambda: bw.array(nested(200_000)), None),
         (lambda: bw.array(cycle()), None), (lambda: bw.IntervalArray([cycle(), cycle()]), None),
         (lambda: bw.array(mutual()), None)],
    )
    def test_more_are_refused(self, call, found):
        message = DIM_CAP if found is None else DIM_CAP.replace(r"\d+", str(found))
        with pytest.raises(ValueError, match=message) as info:
            call()
        assert type(info.value) is ValueError


class TestReshape:
    @pytest.mark.parametrize(
        "source, args, shape",
        [*[((2, 3), args, shape) for args, shape in [
            ((2, 3), (2, 3)), (((2, 3),), (2, 3)), (([2], 3), (2, 3)), (([2, 3],), (2, 3)), ((-1,), (6,)),
            ((3, -1), (3, 2)), ((-1, 1, 2), (3, 1, 2)), ((1, 6, 1), (1, 6, 1)), ((np.int64(6),), (6,)),
            ((range(1, 3), 3), (1, 2, 3))]],
         ((1,), ((),), ()), ((1,), ([],), ()), ((), (-1,), (1,)),
         *[((2, 0), (shape,), shape) for shape in [(0, 5), (0,), (5, 0, 7), (0, 2**62, 2**62)]],
         *[(shape, method, (math.prod(shape),)) for shape in [(2, 3), (), (4,), (2, 0, 3), (1, 1, 1, 5)]
           for method in ("flatten", "ravel")]],
    )
    def test_accepted(self, source, args, shape):
        a = arange_array(*source) if math.prod(source) else bw.zeros(source)
        b = getattr(a, args)() if isinstance(args, str) else a.reshape(*args)
        assert (b.shape, b.ndim, b.size) == (shape, len(shape), math.prod(shape))
        assert (b.values(), b.radii()) == (a.values(), a.radii())
        assert b.strides == bw.zeros(shape).strides

    @pytest.mark.parametrize(
        "source, args, message",
        [
            ((2, 3), ((2, -1, -1),), "can only specify one unknown dimension"),
            ((2, 3), ((-2, -1, -1),), "negative dimensions are not allowed"),
            ((2, 3), ((-1, -2),), "negative dimensions are not allowed"),
            ((2, 3), ((-1, -1, -2),), "can only specify one unknown dimension"),
            ((7,), (2, -1), "cannot reshape array of size 7 into shape [2, -1]"),
            ((2, 3), (4, 2), "cannot reshape array of size 6 into shape [4, 2]"),
            ((2, 3), ((),), "cannot reshape array of size 6 into shape []"),
            ((2, 0), ((0, -1),), "cannot reshape array of size 0 into shape [0, -1]"),
            ((2, 3), (0, -1), "cannot reshape array of size 6 into shape [0, -1]"),
            ((2, 3), (4, -1), "cannot reshape array of size 6 into shape [4, -1]"),
            ((1,), (1, 2**62, 2**62), f"cannot reshape array of size 1 into shape [1, {2**62}, {2**62}]"),
            ((0,), (2**32, 2**32), "cannot reshape array of size 0 into shape [4294967296, 4294967296]"),
            ((3,), (-1, 2**62, 2**62), f"cannot reshape array of size 3 into shape [-1, {2**62}, {2**62}]"),
            *[((1,), (dims,), f"cannot reshape array of size 1 into shape {list(dims)}")
              for dims in (WRAPS_TO_ONE_64, WRAPS_TO_ONE_128, [-1, *WRAPS_TO_ONE_128])],
            ((1,), (-1, *WRAPS_TO_ONE_128), f"cannot reshape array of size 1 into shape {[-1, *WRAPS_TO_ONE_128]}"),
        ],
    )
    def test_value_errors(self, source, args, message):
        raises(ValueError, message, lambda: bw.zeros(source).reshape(*args))

    @pytest.mark.parametrize(
        "args, exception, message",
        [((shape,), TypeError, "reshape: shape must be an int or a sequence of ints")
         for shape in (2.0, "ab", None, (2, "x"), [2.5], {2: 3}, object(), 2**63, [2**64])]
        + [(((2, 3), "x"), TypeError, "'str' object cannot be interpreted as an integer"),  # extra dimensions:
           (((2, 3), 2.0), TypeError, "'float' object cannot be interpreted as an integer"),  # errors unchanged
           (((2, 3), 2**64), OverflowError, "int too big to convert"),
           (([Raising(KeyboardInterrupt())],), KeyboardInterrupt, ""),
           ((Raising(KeyboardInterrupt()),), KeyboardInterrupt, "")],
    )
    def test_argument_errors(self, args, exception, message):
        a = bw.zeros(6)
        raises(exception, message, lambda: a.reshape(*args))
        assert a.shape == (6,)


class TestSharing:
    """Copy-on-write: arrays that share storage never see each other's writes."""

    @pytest.mark.parametrize(
        "view",
        [lambda a: a.reshape(6), lambda a: a.reshape(3, 2), lambda a: a.flatten(), lambda a: a.ravel(),
         lambda a: a.copy(), lambda a: +a, lambda a: bw.array(a), lambda a: pickle.loads(pickle.dumps(a)),
         lambda a: a.T],
        ids=["reshape", "reshape2", "flatten", "ravel", "copy", "positive", "array", "pickle", "transpose"],
    )
    @pytest.mark.parametrize("write", ["+", "*", "setstate"])
    def test_writes_reach_neither_the_source_nor_the_view(self, view, write):
        a = arange_array(1, 6)
        before = snapshot(a)
        b = view(a)
        assert b.values() == a.values()
        if write == "setstate":
            b.__setstate__(([1], [9.0], [0.0]))
        else:
            IN_PLACE[write](b, bw.array(3.0))
        assert snapshot(a) == before and b.values() != a.values()
        after_b = snapshot(b)
        a.__setstate__(([2], [7.0, 8.0], [0.0, 0.0]))
        a -= 1.0
        assert snapshot(b) == after_b


def enclosure_ok(source, target):
    """target's interval contains source's, exactly, and is at most a few ulps wider."""
    (m, r), (tm, tr) = source, target
    if math.isnan(m) or math.isnan(r):
        return math.isnan(tm) and tr == INF
    if r == INF:
        return tr == INF
    if math.isnan(tm) or tr == INF:  # only when an exact end lies beyond the largest double
        return exact_ends(m, r) is None or max(map(abs, exact_ends(m, r))) > DBL_MAX
    return encloses(tm, tr, *exact_ends(m, r)) and tr <= r + 4 * ulp(abs(m) + r) + 4 * 5e-324


# The endpoint round trip that a transposed element goes through, operation by
# operation in double arithmetic: outward-rounded ends from TwoSum errors, then
# the midpoint of the ends and the larger distance rounded up.
def _succ(x):
    return ETA if x == 0 else math.nextafter(x, INF) if x == x and x != INF else x


def _sum_error(x, y, s):
    b = s - x
    b = DBL_MAX if DBL_MAX < b else b
    b = -DBL_MAX if -DBL_MAX > b else b
    return (x - (s - b)) + (y - b)


def _add_up(x, y):
    s = x + y
    return _succ(s) if math.isfinite(s) and _sum_error(x, y, s) > 0 else s


def reference_round_trip(m, r):
    if math.isnan(m) or math.isnan(r):
        lo = hi = NAN
    elif r >= INF:
        lo, hi = -INF, INF
    else:
        lo, hi = m - r, m + r
        if math.isfinite(lo):
            lo = -_succ(-lo) if _sum_error(m, -r, lo) < 0 else lo
        elif lo == INF:
            lo = DBL_MAX
        if math.isfinite(hi):
            hi = _succ(hi) if _sum_error(m, r, hi) > 0 else hi
        elif hi == -INF:
            hi = -DBL_MAX
    c = (lo + hi) * 0.5
    if not math.isfinite(lo + hi) and math.isfinite(lo) and math.isfinite(hi):
        c = lo * 0.5 + hi * 0.5
    if lo == hi:
        return c, 0.0
    if not (math.isfinite(lo) and math.isfinite(hi) and math.isfinite(c)):
        return c, INF
    up, down = _add_up(hi - c, _sum_error(hi, -c, hi - c)), _add_up(c - lo, _sum_error(c, -lo, c - lo))
    return c, up if up >= down else down


def _magnitude(rng):
    return math.ldexp(rng.uniform(0.5, 1.0), rng.randint(-1074, 1024))


# Runs of elements from one family, so that whole vectors take each kernel form:
# narrow (0 <= r <= |m|/4, |m| < 2**1020), ordinary (|m|, r < 2**1021) and the rest.
FAMILIES = {
    "narrow": lambda rng, m: (m, rng.choice([0.0, -0.0, abs(m) / 4, abs(m) * rng.random() / 4, ETA * (abs(m) > 1e-300),
                                             abs(m) * 2.0**-rng.randint(3, 60)])),
    "ordinary": lambda rng, m: (rng.choice([m, 0.0, -0.0, 2.0**1020, -(2.0**1021 - 2.0**968)]),
                                rng.choice([abs(m) / 4 * (1 + 2**-52), abs(m), _magnitude(rng) % 2.0**1021, ETA])),
    "special": lambda rng, m: rng.choice([(NAN, 0.0), (1.0, NAN), (m, INF), (INF, 0.0), (-INF, 1.0), (DBL_MAX, 1e292),
                                          (-DBL_MAX, DBL_MAX), (2.0**1021, 1.0), (m, 2.0**1021), (NAN_PAYLOAD, 1.0)]),
}


def adversarial_parts(n, seed):
    rng, mids, rads = random.Random(seed), [], []
    while len(mids) < n:
        family = FAMILIES[rng.choice(["narrow", "narrow", "ordinary", "special"])]
        for _ in range(rng.randint(1, 12)):
            m, r = family(rng, rng.choice([-1, 1]) * min(_magnitude(rng), 2.0**1020 - 2.0**967))
            mids.append(m)
            rads.append(r)
    return mids[:n], rads[:n]


def column_runs(shape, seed):
    """Adversarial parts of an array of `shape` whose family runs go down the columns:
    the rows of the transpose, where the round trip meets them four at a time."""
    rows, cols = shape
    mids, rads = adversarial_parts(rows * cols, seed)
    order = [j * rows + i for i in range(rows) for j in range(cols)]
    return [mids[k] for k in order], [rads[k] for k in order]


def transposed_digest(shape, seed):
    t = bw.from_raw_parts(*column_runs(shape, seed), list(shape)).T
    return hashlib.sha256(struct.pack(f"<{2 * t.size}d", *t.values(), *t.radii())).hexdigest()


# Around the 32 x 32 tile and the vector widths, and shapes split into several
# pooled regions (128 output rows by 512 output columns) or chunks.
TRANSPOSE_SHAPES = [(1, 1), (1, 33), (33, 1), (2, 3), (31, 31), (32, 32), (33, 33), (31, 65), (64, 33), (12, 9),
                    (520, 130), (1, 40000)]


class TestTranspose:
    @pytest.mark.parametrize("rows, cols", [(2, 3), (1, 5), (4, 1), (7, 7), (0, 4), (4, 0), (3, None), (2**40, 0),
                                            (0, 2**40)])
    def test_positions(self, rows, cols):
        shape = (rows,) if cols is None else (rows, cols)
        a = arange_array(*shape) if math.prod(shape) else bw.zeros(shape)
        t = a.T
        assert t.shape == shape[::-1] and snapshot(a.transpose()) == snapshot(t)
        assert t.values() == np.arange(math.prod(shape), dtype=float).reshape(shape).T.ravel().tolist()

    @pytest.mark.parametrize("shape", TRANSPOSE_SHAPES)
    def test_every_element_is_the_reference_round_trip(self, shape):
        mids, rads = column_runs(shape, seed=shape[0] * 1000 + shape[1])
        a = bw.from_raw_parts(mids, rads, list(shape))
        rows, cols = shape
        t = a.T
        assert t.shape == (cols, rows) and snapshot(a) == (shape, bits(mids), bits(rads))
        source = [(mids[i * cols + j], rads[i * cols + j]) for j in range(cols) for i in range(rows)]
        expected = [reference_round_trip(m, r) for m, r in source]
        assert snapshot(t) == ((cols, rows), bits([m for m, _ in expected]), bits([r for _, r in expected]))
        for k in random.Random(7).sample(range(len(source)), min(len(source), 1500)):
            assert enclosure_ok(source[k], expected[k]), (source[k], expected[k])

    def test_a_result_past_the_cache_is_the_round_trip_of_the_transposed_parts(self):
        # 3.1 million elements (100 MiB of operand and result): written with non-temporal
        # stores on machines with a last-level cache of up to 128 MiB. A one-row array
        # of the same parts in transposed order goes through the round trip in place.
        rows, cols = 2047, 1537  # odd: output rows start off the 16-byte boundary, and end mid-pair
        rng = np.random.default_rng(5)
        m = rng.uniform(-1e3, 1e3, (rows, cols)) * np.exp2(rng.integers(-60, 60, (rows, cols)))
        r = np.abs(m) * rng.choice([0.0, 1e-16, 0.3, 2.0], (rows, cols))
        m.flat[rng.integers(0, m.size, 64)] = [math.nan, math.inf, -0.0, 5e-324] * 16
        r.flat[rng.integers(0, r.size, 16)] = math.inf
        t = bw.from_raw_parts(m.ravel(), r.ravel(), [rows, cols]).T
        reference = bw.from_raw_parts(m.T.ravel(), r.T.ravel(), [1, rows * cols]).T
        assert t.shape == (cols, rows)
        for got, want in ((t.values(), reference.values()), (t.radii(), reference.radii())):
            assert np.array_equal(np.asarray(got).view(np.uint64), np.asarray(want).view(np.uint64))

    def test_one_dimension_keeps_the_stored_parts(self):
        v = from_pairs(list(zip(*adversarial_parts(99, seed=3))))
        assert snapshot(v.T) == snapshot(v)

    def test_same_bits_for_every_target_and_thread_count(self):
        shapes = [(260, 130), (1, 33000), (33, 65)]
        expected = [transposed_digest(shape, seed) for seed, shape in enumerate(shapes)]
        code = (f"import sys; sys.path.insert(0, {TESTS!r})\nfrom test_shape import transposed_digest\n"
                f"print(*(transposed_digest(shape, seed) for seed, shape in enumerate({shapes!r})))")
        for env in ({"RAYON_NUM_THREADS": "1"}, {"RAYON_NUM_THREADS": "3", "BOUNDWISE_DISABLE_CPU_FEATURES": "AVX2"}):
            done = run_python(code, env)
            assert done.returncode == 0, done.stderr
            assert done.stdout.split() == expected, env

    @pytest.mark.parametrize("shape, ndim", [((), 0), ((2, 2, 2), 3), ((1,) * 5, 5), ((0, 0, 0), 3)])
    def test_other_dimensions(self, shape, ndim):
        message = f".transpose only supports 1D and 2D arrays, got {ndim}D"
        a = bw.zeros(shape)
        raises(ValueError, message, lambda: a.T)
        raises(ValueError, message, lambda: a.transpose())


def shape_text(shape):
    return f"[{', '.join(map(str, shape))}]"


def shapes_text(shape_a, shape_b):
    return f"{shape_text(shape_a)} and {shape_text(shape_b)}"


class TestBroadcasting:
    @pytest.mark.parametrize(
        "shape_a, shape_b",
        [((3,), (2, 1)), ((), (2, 2)), ((2, 2), ()), ((0,), (1,)), ((1,), (0,)), ((2, 1, 4), (3, 1)),
         ((5, 1, 3), (1, 4, 1)), ((1, 3), (3,)), ((1, 1, 1), (2, 3)), ((4, 1), (4, 5)), ((2, 3), (2, 3)),
         ((1,), (6, 1, 2)), ((2, 3), (3, 2)), ((0,), (2,)), ((3,), (4,)), ((2, 2, 3), (4, 3)), ((5,), (0, 2))],
    )
    @pytest.mark.parametrize("op", list(OPS))
    def test_shapes_and_values_match_numpy(self, shape_a, shape_b, op):
        # Small integers over powers of two: every result is exact.
        x = np.arange(1, math.prod(shape_a) + 1, dtype=float).reshape(shape_a)
        y = 2.0 ** np.arange(math.prod(shape_b), dtype=float).reshape(shape_b)
        a = bw.from_raw_parts(x.ravel().tolist(), [0.0] * x.size, list(shape_a))
        b = bw.from_raw_parts(y.ravel().tolist(), [0.0] * y.size, list(shape_b))
        try:
            expected = OPS[op](x, y)
        except ValueError:
            message = f"operands could not be broadcast together with shapes {shapes_text(shape_a, shape_b)}"
            raises(ValueError, message, lambda: OPS[op](a, b))
            return
        result = OPS[op](a, b)
        assert result.shape == expected.shape
        assert result.values() == expected.ravel().tolist() and result.radii() == [0.0] * expected.size

    def test_radii_are_broadcast_with_midpoints(self):
        c = bw.array([(2.0, 0.5)]).reshape(()) * bw.ones((2, 2))
        assert c.shape == (2, 2) and c.values() == [2.0] * 4 and all(r >= 0.5 for r in c.radii())
        c = bw.from_raw_parts([1.0, 2.0], [0.25, 0.5], [2, 1]) + bw.zeros((2, 3))
        assert c.radii() == [0.25] * 3 + [0.5] * 3

    def test_operands_unchanged_and_results_independent(self):
        a, b = arange_array(2, 3), arange_array(3)
        before_a, before_b = snapshot(a), snapshot(b)
        c = a + b
        d = a * bw.ones((2, 3))  # equal shapes
        assert snapshot(a) == before_a and snapshot(b) == before_b
        kept_c, kept_d = snapshot(c), snapshot(d)
        a += 100.0
        b *= 2.0
        assert snapshot(c) == kept_c and snapshot(d) == kept_d

    @pytest.mark.parametrize("op", list(IN_PLACE))
    @pytest.mark.parametrize(
        "shape_a, shape_b",
        [((3,), (2, 3)), ((2, 3), (3, 2)), ((), (2,)), ((1,), (0,)), ((2, 1), (2, 4)), ((2, 3), (3,)),
         ((2, 3), (1, 3)), ((2, 3), (2, 1)), ((2, 3), ()), ((2, 3), (1,)), ((2, 3), (2, 3))],
    )
    def test_in_place_results_and_refusals_match_numpy(self, op, shape_a, shape_b):
        # The operand broadcasts to the target or is refused, leaving the target unchanged.
        x = np.arange(1, math.prod(shape_a) + 1, dtype=float).reshape(shape_a)
        y = 2.0 ** np.arange(math.prod(shape_b), dtype=float).reshape(shape_b)
        a = bw.from_raw_parts(x.ravel().tolist(), [0.0] * x.size, list(shape_a))
        b = bw.from_raw_parts(y.ravel().tolist(), [0.0] * y.size, list(shape_b))
        before = snapshot(a)
        try:
            IN_PLACE[op](x, y)
        except ValueError:
            shapes = shapes_text(shape_a, shape_b)
            try:
                np.broadcast_shapes(shape_a, shape_b)
                message = (f"output array with shape {shape_text(shape_a)} is not the result of broadcasting "
                           f"operand shapes {shapes}")
            except ValueError:
                message = f"operands could not be broadcast together with shapes {shapes}"
            raises(ValueError, message, lambda: IN_PLACE[op](a, b))
            assert snapshot(a) == before
            return
        a = IN_PLACE[op](a, b)
        assert a.shape == shape_a and a.values() == x.ravel().tolist()


class TestTruthAndLength:
    @pytest.mark.parametrize(
        "make, truth",
        [(lambda: bw.array([0.0]), False), (lambda: bw.array([-0.0]), False), (lambda: bw.zeros(()), False),
         (lambda: bw.zeros((1, 1, 1)), False), (lambda: bw.array([(0.0, 1e-300)]), True),
         (lambda: bw.array([(0.0, 5e-324)]), True), (lambda: bw.array([1e-300]), True),
         (lambda: bw.array([NAN]), True), (lambda: bw.array([(0.0, INF)]), True),
         (lambda: bw.array([(0.0, NAN)]), True)],
    )
    def test_truth_of_one_element(self, make, truth):
        assert bool(make()) is truth

    @pytest.mark.parametrize("shape", [(0,), (2,), (2, 1), (0, 5)])
    def test_truth_of_other_sizes(self, shape):
        raises(ValueError, AMBIGUOUS, lambda: bool(bw.zeros(shape)))

    @pytest.mark.parametrize(
        "shape, length",
        [((1,), 1), ((2, 3), 2), ((), 0), ((0, 5), 0), ((2**63 - 1, 0), 2**63 - 1), ((2**63, 0), OverflowError),
         ((2**64 - 1, 0), OverflowError)],
    )
    def test_len(self, shape, length):
        a = bw.from_raw_parts([0.0] * math.prod(shape), [0.0] * math.prod(shape), list(shape))
        if length is OverflowError:
            with pytest.raises(OverflowError):
                len(a)
        else:
            assert len(a) == length
