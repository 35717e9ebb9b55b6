"""Joining, splitting and selection, against NumPy run on the midpoints and the
radii as a reference model; elements must be copied bit for bit."""

import math

import numpy as np
import pytest

import boundwise._boundwise as bw
from conftest import INF, NAN_PAYLOAD, bits, raises, snapshot

# Values whose bits a careless copy would change: signed zeros, NaN payloads, infinities.
ODD = np.array([-0.0, NAN_PAYLOAD, INF, -INF, 5e-324, 1e308])


def random_array(rng, shape):
    """An IntervalArray of the given shape and the NumPy arrays of its parts."""
    n = math.prod(shape)
    mids = np.where(rng.random(n) < 0.2, rng.choice(ODD, n), rng.standard_normal(n))
    rads = np.where(rng.random(n) < 0.2, rng.choice([0.0, INF, 5e-324], n), rng.random(n))
    a = bw.from_raw_parts(mids.tolist(), rads.tolist(), list(shape))
    return a, mids.reshape(shape), rads.reshape(shape)


def assert_same(result, mids, rads):
    assert result.shape == mids.shape
    assert bits(result.values()) == bits(mids.ravel().tolist())
    assert bits(result.radii()) == bits(rads.ravel().tolist())


def random_shape(rng, ndim):
    return tuple(int(d) for d in rng.integers(0, 4, ndim))


def operands(rng, count, shape, axis):
    """`count` arrays of `shape`, sizes along `axis` drawn independently (0 included)."""
    made = []
    for _ in range(count):
        s = list(shape)
        if axis is not None:
            s[axis] = int(rng.integers(0, 4))
        made.append(random_array(rng, tuple(s)))
    return made


SEEDS = range(12)


class TestAgainstNumPy:
    @pytest.mark.parametrize("seed", SEEDS)
    def test_concatenate(self, seed):
        rng = np.random.default_rng(seed)
        ndim = int(rng.integers(1, 5))
        axis = int(rng.integers(0, ndim))
        parts = operands(rng, int(rng.integers(1, 5)), random_shape(rng, ndim), axis)
        result = bw.concatenate([p[0] for p in parts], axis=axis)
        assert_same(result, np.concatenate([p[1] for p in parts], axis), np.concatenate([p[2] for p in parts], axis))

    @pytest.mark.parametrize("seed", SEEDS)
    def test_stack_and_vstack(self, seed):
        rng = np.random.default_rng(seed)
        ndim = int(rng.integers(0, 4))
        axis = int(rng.integers(0, ndim + 1))
        parts = operands(rng, int(rng.integers(1, 4)), random_shape(rng, ndim), None)
        arrays = [p[0] for p in parts]
        expected = [np.stack([p[k] for p in parts], axis) for k in (1, 2)]
        assert_same(bw.stack(arrays, axis), *expected)
        assert_same(bw.vstack(arrays), np.stack([p[1] for p in parts]), np.stack([p[2] for p in parts]))

    @pytest.mark.parametrize("seed", SEEDS)
    def test_hstack(self, seed):
        rng = np.random.default_rng(seed)
        ndim = int(rng.integers(1, 4))
        parts = operands(rng, int(rng.integers(1, 4)), random_shape(rng, ndim), 0 if ndim == 1 else 1)
        result = bw.hstack([p[0] for p in parts])
        assert_same(result, np.hstack([p[1] for p in parts]), np.hstack([p[2] for p in parts]))

    @pytest.mark.parametrize("seed", SEEDS)
    def test_split(self, seed):
        rng = np.random.default_rng(seed)
        ndim = int(rng.integers(1, 4))
        axis = int(rng.integers(0, ndim))
        shape = list(random_shape(rng, ndim))
        sections = int(rng.integers(1, 4))
        shape[axis] = sections * int(rng.integers(1, 3))
        a, mids, rads = random_array(rng, tuple(shape))
        length = shape[axis]
        # Equal sections, ascending cuts, and cuts in any order (a descending
        # pair leaves an empty piece, as in NumPy).
        cuts = sorted(rng.integers(1, length, int(rng.integers(0, 4))).tolist()) if length > 1 else []
        shuffled = rng.permutation(cuts).tolist()
        for how in [sections, cuts, shuffled]:
            pieces = bw.split(a, how, axis)
            expected = list(zip(np.split(mids, how, axis), np.split(rads, how, axis)))
            assert len(pieces) == len(expected)
            for piece, (m, r) in zip(pieces, expected):
                assert_same(piece, m, r)

    @pytest.mark.parametrize("seed", SEEDS)
    def test_where(self, seed):
        rng = np.random.default_rng(seed)
        shape = random_shape(rng, int(rng.integers(1, 4)))
        n = shape[-1]
        truth = (rng.random(n) < 0.5).tolist()
        condition = [bw.BoolArray(truth), truth, bw.array([float(t) for t in truth])][seed % 3]
        (x, xm, xr), (y, ym, yr) = random_array(rng, shape), random_array(rng, shape[1:])
        expected_m = np.where(truth, xm, np.broadcast_to(ym, shape))
        expected_r = np.where(truth, xr, np.broadcast_to(yr, shape))
        assert_same(bw.where_impl(condition, x, y), expected_m, expected_r)


class TestLargeCopies:
    """Results above the parallel threshold are copied in chunks whose edges
    fall inside blocks; chunk edges must not drop, repeat or shift elements."""

    @pytest.mark.parametrize("shapes, axis", [
        ([(70000,), (1,), (0,), (65535,)], 0),
        ([(30001, 2), (30001, 0), (30001, 3)], 1),
        ([(3, 50001, 1), (3, 2, 1), (3, 7, 1)], 1),
    ])
    def test_concatenate_and_split_back(self, shapes, axis):
        rng = np.random.default_rng(len(shapes))
        parts = [random_array(rng, s) for s in shapes]
        joined = bw.concatenate([p[0] for p in parts], axis)
        mids, rads = (np.concatenate([p[k] for p in parts], axis) for k in (1, 2))
        assert_same(joined, mids, rads)
        cuts = np.cumsum([s[axis] for s in shapes])[:-1].tolist()
        cuts = [c for c in cuts if 0 < c < mids.shape[axis]]
        for piece, m, r in zip(bw.split(joined, cuts, axis), np.split(mids, cuts, axis), np.split(rads, cuts, axis)):
            assert_same(piece, m, r)


class TestSemantics:
    def test_results_share_nothing_with_inputs(self):
        a, b = bw.array([1.0, 2.0]), bw.array([3.0])
        before = [snapshot(a), snapshot(b)]
        for result in [bw.concatenate([a, b]), bw.stack([a, a]), bw.hstack([a, b]), *bw.split(a, 2),
                       bw.where_impl(True, a, b), bw.concatenate([a])]:
            result += 1.0
        assert [snapshot(a), snapshot(b)] == before

    @pytest.mark.parametrize(
        "condition, chosen",
        [
            (bw.array([(0.0, 1e-300), (0.0, 0.0)]), [True, False]),  # a non-zero radius is true
            (bw.array([math.nan, -0.0]), [True, False]),  # NaN is true, -0 is false
            (bw.array([[1.0], [0.0]]), [True, False]),  # any shape reads as one dimension
            (True, [True, True]), (False, [False, False]),
            ([True], [True, True]),
            (bw.BoolArray([False, True]), [False, True]),
        ],
    )
    def test_where_conditions(self, condition, chosen):
        result = bw.where_impl(condition, bw.array([1.0, 2.0], error=0.5), 7)
        assert result.values() == [[1.0, 2.0][i] if c else 7.0 for i, c in enumerate(chosen)]
        assert result.radii() == [0.5 if c else 0.0 for c in chosen]

    def test_where_scalars_broadcast_to_the_condition(self):
        result = bw.where_impl([True, False, True], 1.5, 2)
        assert (result.shape, result.values(), result.radii()) == ((3,), [1.5, 2.0, 1.5], [0.0] * 3)

    # Size arithmetic must not wrap: 2^62 rows of nothing are a valid array.
    def test_dimension_sums_are_checked(self):
        big = bw.zeros((2**62, 0))
        assert bw.concatenate([big] * 3).shape == (3 * 2**62, 0)
        raises(ValueError, "array is too big: the sizes along axis 0 add up to more than 18446744073709551615",
               lambda: bw.concatenate([big] * 4))
        assert bw.stack([big] * 5, axis=1).shape == (2**62, 5, 0)

    def test_split_cut_points_are_exact(self):
        pieces = bw.split(bw.zeros((2**63, 0)), 4)  # len * k overflows 64 bits for k >= 2
        assert [p.shape for p in pieces] == [(2**61, 0)] * 4

    @pytest.mark.parametrize("shape, axis", [((0,), 0), ((3, 0), 1), ((0, 2), 0)])
    def test_split_of_an_empty_axis_gives_empty_pieces(self, shape, axis):
        pieces = bw.split(bw.zeros(shape), 3, axis)
        assert [p.shape for p in pieces] == [np.split(np.zeros(shape), 3, axis)[0].shape] * 3

    def test_indices_or_sections_forms(self):
        a = bw.arange(0, 6)
        assert [p.values() for p in bw.split(a, (2, 4))] == [[0.0, 1.0], [2.0, 3.0], [4.0, 5.0]]
        assert [p.shape for p in bw.split(a, [])] == [(6,)]
        assert [p.shape for p in bw.split(a, [3] * 70)] == [(3,)] + [(0,)] * 69 + [(3,)]  # no dimension cap


ARRAYS = [bw.zeros((2, 3)), bw.zeros((4, 3))]

MESSAGES = [
    (lambda: bw.concatenate([]), ValueError, "need at least one array to concatenate"),
    (lambda: bw.stack([]), ValueError, "need at least one array to stack"),
    (lambda: bw.vstack([]), ValueError, "need at least one array to stack"),
    (lambda: bw.hstack([]), ValueError, "need at least one array to hstack"),
    (lambda: bw.concatenate(ARRAYS, 2), ValueError, "axis 2 is out of bounds for array of dimension 2"),
    (lambda: bw.concatenate([bw.zeros(3), bw.zeros((1, 3))]), ValueError,
     "all input arrays must have the same number of dimensions"),
    (lambda: bw.concatenate(ARRAYS, axis=1), ValueError,
     "all the input array dimensions except for the concatenation axis must match exactly, but along dimension 0 "
     "the array at index has size 4 and the other size was 2"),
    (lambda: bw.stack([bw.zeros(3), bw.zeros(3)], axis=2), ValueError, "axis 2 is out of bounds"),
    (lambda: bw.stack(ARRAYS), ValueError,
     "all the input array dimensions except for the concatenation axis must match exactly, but along dimension 1 "
     "the array at index has size 4 and the other size was 2"),
    # every array's ndim is checked, not only the first one's
    (lambda: bw.stack([bw.zeros((2, 3)), bw.zeros(3)], axis=2), ValueError,
     "all input arrays must have the same number of dimensions"),
    (lambda: bw.hstack([bw.zeros(())]), ValueError, "axis 1 is out of bounds for array of dimension 0"),
    (lambda: bw.split(bw.zeros(6), 2, axis=1), ValueError, "axis 1 is out of bounds for array of dimension 1"),
    (lambda: bw.split(bw.zeros(6), 0), ValueError, "number of sections must be >= 1"),
    (lambda: bw.split(bw.zeros(6), 4), ValueError,
     "array split does not result in an equal division: array size 6 is not divisible by 4"),
    (lambda: bw.split(bw.zeros(6), [0]), ValueError,
     "array split does not result in an equal division; index 0 out of range 1..=5"),
    (lambda: bw.split(bw.zeros(6), [2, 6]), ValueError,
     "array split does not result in an equal division; index 6 out of range 1..=5"),
    (lambda: bw.split(bw.zeros(0), [1]), ValueError,
     "array split does not result in an equal division; index 1 out of range: the axis has length 0"),
    (lambda: bw.split(bw.zeros(6), 1.5), TypeError, "indices_or_sections must be an int or a list of ints"),
    (lambda: bw.split(bw.zeros(6), -2), TypeError, "indices_or_sections must be an int or a list of ints"),
    (lambda: bw.split(bw.zeros(6), [1, -2]), TypeError, "indices_or_sections must be an int or a list of ints"),
    (lambda: bw.split(bw.zeros(6), "12"), TypeError, "indices_or_sections must be an int or a list of ints"),
    (lambda: bw.where_impl(1, 1.0, 2.0), TypeError,
     "condition must be a BoolArray, IntervalArray, list of bools, or bool"),
    (lambda: bw.where_impl([True, 1], 1.0, 2.0), TypeError,
     "condition must be a BoolArray, IntervalArray, list of bools, or bool"),
    (lambda: bw.where_impl(True, "x", 2.0), TypeError, "x must be an IntervalArray or a number"),
    (lambda: bw.where_impl(True, 1.0, 10**400), TypeError, "y must be an IntervalArray or a number"),
    (lambda: bw.where_impl([True] * 6, bw.zeros((2, 3)), 0), ValueError, "operands could not be broadcast together"),
    (lambda: bw.where_impl([True] * 3, 0, bw.zeros(2)), ValueError, "operands could not be broadcast together"),
    # argument conversion
    (lambda: bw.concatenate("ab"), TypeError, "argument 'arrays': 'str' object cannot be converted to 'Sequence'"),
    (lambda: bw.stack([bw.zeros(2), [1.0]]), TypeError,
     "argument 'arrays': 'list' object cannot be converted to 'IntervalArray'"),
    (lambda: bw.split([1.0], 1), TypeError, "argument 'a': 'list' object cannot be converted to 'IntervalArray'"),
    (lambda: bw.concatenate(ARRAYS, axis=1.0), TypeError,
     "argument 'axis': 'float' object cannot be interpreted as an integer"),
]


@pytest.mark.parametrize("call, exception, message", MESSAGES)
def test_messages_leave_operands_unchanged(call, exception, message):
    before = [snapshot(a) for a in ARRAYS]
    raises(exception, message, call)
    assert [snapshot(a) for a in ARRAYS] == before


def test_negative_axis_raises_the_host_overflow_error():
    with pytest.raises(OverflowError):
        bw.concatenate(ARRAYS, axis=-1)
