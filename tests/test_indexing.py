"""Reading and writing by key (outer selection) against a plain-Python model."""

from __future__ import annotations

import itertools
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import boundwise as bw
from conftest import DIM_CAP, bits, raises, snapshot

# ---------------------------------------------------------------------------
# The reference model: every axis selects its own list of positions and the
# result takes every combination, in row-major order.
# ---------------------------------------------------------------------------


def axis_positions(item, n):
    """(positions, dropped) of one key item on an axis of length n."""
    if isinstance(item, int):
        return [item + n if item < 0 else item], True
    if isinstance(item, slice):
        return list(range(n))[item], False
    if isinstance(item, bw.BoolArray) or (isinstance(item, list) and item and isinstance(item[0], bool)):
        return [i for i, v in enumerate(list(item.tolist() if isinstance(item, bw.BoolArray) else item)) if v], False
    return [i + n if i < 0 else i for i in item], False


def model_select(shape, key):
    """(result shape, flat source offsets, single) of a[key]."""
    items = list(key) if isinstance(key, tuple) else [key]
    counted = sum(1 for i in items if i is not None and i is not Ellipsis)
    if Ellipsis in items:
        at = items.index(Ellipsis)
        items[at:at + 1] = [slice(None)] * (len(shape) - counted)
    items += [slice(None)] * (len(shape) - sum(1 for i in items if i is not None))
    strides = [math.prod(shape[k + 1:]) for k in range(len(shape))]
    result_shape, lists, axis = [], [], 0
    for item in items:
        if item is None:
            result_shape.append(1)
            continue
        positions, dropped = axis_positions(item, shape[axis])
        lists.append([p * strides[axis] for p in positions])
        if not dropped:
            result_shape.append(len(positions))
        axis += 1
    offsets = [sum(combo) for combo in itertools.product(*lists)]
    return tuple(result_shape), offsets, not result_shape


def sample(shape):
    n = math.prod(shape)
    return bw.from_raw_parts([0.5 + i for i in range(n)], [0.125 * i for i in range(n)], list(shape))


SHAPES = st.lists(st.integers(0, 4), max_size=4).map(tuple)
BOUNDS = st.one_of(st.none(), st.integers(-6, 6), st.sampled_from([2**70, -2**70, 2**63, -2**63 - 1]))
STEPS = st.one_of(st.none(), st.sampled_from([1, -1, 2, -2, 3, -3, 2**63, -2**63, 2**70, -2**70]))


def item_for(draw, n):
    """A key item for an axis of length n: int, slice, list with repeats, or mask."""
    kinds = ["slice", "list", "bools", "mask"] + (["int"] if n else [])
    kind = draw(st.sampled_from(kinds))
    if kind == "int":
        return draw(st.integers(-n, n - 1))
    if kind == "slice":
        return slice(draw(BOUNDS), draw(BOUNDS), draw(STEPS))
    if kind == "list":
        return draw(st.lists(st.integers(-n, n - 1), max_size=5)) if n else []
    values = draw(st.lists(st.booleans(), min_size=n, max_size=n))
    return bw.BoolArray(values) if kind == "mask" or not values else values


@st.composite
def shapes_and_keys(draw):
    shape = draw(SHAPES)
    nd = len(shape)
    count = draw(st.integers(0, nd))
    ellipsis_at = draw(st.one_of(st.none(), st.integers(0, count)))
    if ellipsis_at is None:
        axes = list(range(count))
    else:
        axes = list(range(ellipsis_at)) + list(range(nd - (count - ellipsis_at), nd))
    items = [item_for(draw, shape[k]) for k in axes]
    if ellipsis_at is not None:
        items.insert(ellipsis_at, Ellipsis)
    for _ in range(draw(st.integers(0, 2))):
        items.insert(draw(st.integers(0, len(items))), None)
    key = tuple(items) if len(items) != 1 or draw(st.booleans()) else items[0]
    return shape, key


class TestReading:
    @settings(max_examples=300, deadline=None)
    @given(shapes_and_keys())
    def test_matches_model(self, case):
        shape, key = case
        a = sample(shape)
        before = snapshot(a)
        result_shape, offsets, single = model_select(shape, key)
        got = a[key]
        if single:
            assert got == a.item(offsets[0])
        else:
            assert got.shape == result_shape
            assert bits(got.values()) == bits([a.values()[o] for o in offsets])
            assert bits(got.radii()) == bits([a.radii()[o] for o in offsets])
        assert snapshot(a) == before

    @pytest.mark.parametrize(
        "shape, key, result",
        [((3,), -1, None), ((2, 3), 0, (3,)), ((2, 3), (slice(None), 1), (2,)), ((2, 3), (Ellipsis, 0), (2,)),
         ((2, 3), None, (1, 2, 3)), ((2, 3), (0, 1), None), ((2, 3), ([0, 1], [0, 1]), (2, 2)),
         ((2, 3), [], (0, 3)), ((), (), None), ((), Ellipsis, None), ((), None, (1,)), ((3,), slice(2**70), (3,)),
         ((3,), slice(-2**70, None), (3,)), ((4,), slice(None, None, -2**70), (1,)), ((3,), [True, False, True], (2,))],
    )
    def test_documented_shapes(self, shape, key, result):
        got = sample(shape)[key]
        assert (got.shape if result else type(got)) == (result or tuple)

    @pytest.mark.parametrize(
        "shape, key, exception, message",
        [((2, 3), (Ellipsis, Ellipsis), IndexError, "an index can only have a single ellipsis ('...')"),
         ((2, 3), (0, 0, 0), IndexError, "too many indices for array: array is 2-dimensional, but 3 were indexed"),
         ((2, 3), (None, 0, "x", 1), IndexError,
          "too many indices for array: array is 2-dimensional, but 3 were indexed"),
         ((3,), 3, IndexError, "index 3 is out of bounds for axis 0 with size 3"),
         ((3,), -4, IndexError, "index -4 is out of bounds for axis 0 with size 3"),
         ((2, 3), (Ellipsis, 5), IndexError, "index 5 is out of bounds for axis 1 with size 3"),
         ((2, 3), (slice(None), [0, -4]), IndexError, "index -4 is out of bounds for axis 1 with size 3"),
         ((3,), slice(None, None, 0), IndexError, "slice step cannot be zero"),
         ((3,), [True, False], IndexError, "boolean index did not match indexed array along dimension 0; "
          "dimension is 3 but corresponding boolean dimension is 2"),
         ((2, 3), (0, bw.BoolArray([True])), IndexError, "boolean index did not match indexed array along "
          "dimension 1; dimension is 3 but corresponding boolean dimension is 1"),
         ((3,), "x", TypeError, "only integers, slices, lists, and boolean masks are valid indices; got str"),
         ((3,), 1.5, TypeError, "only integers, slices, lists, and boolean masks are valid indices; got float"),
         ((3,), (0.0,), TypeError, "only integers, slices, lists, and boolean masks are valid indices; got float"),
         ((3,), [True, 1], TypeError, "an index list cannot mix bools and integers"),
         ((3,), [1, True], TypeError, "an index list cannot mix bools and integers"),
         ((3,), [0, "a"], TypeError, "'str' object cannot be interpreted as an integer"),
         ((3,), (None,) * 64, ValueError, None),
         ((1, 1, 1, 1), ([0] * 10**5,) * 4, ValueError,
          "a selection of more than 576460752303423484 elements is too large for an array")],
    )
    def test_errors(self, shape, key, exception, message):
        a = sample(shape)
        before = snapshot(a)
        if message is None:
            with pytest.raises(exception, match=DIM_CAP):
                a[key]
        else:
            raises(exception, message, lambda: a[key])
        assert snapshot(a) == before

    # Results from 32768 elements are gathered in chunks on the pool, which
    # start inside rows; odd and even lengths end the two-element copies of
    # steps 2 and -1 with a single element.
    @pytest.mark.parametrize(
        "shape, key",
        [((65537,), slice(None, None, 2)), ((65536,), slice(1, None, 2)), ((40001,), slice(None, None, -1)),
         ((40000,), slice(-2, None, -1)), ((100003,), slice(5, None, 3)), ((70001,), slice(None, None, -2)),
         ((5, 20011), (slice(None), slice(None, None, 2))), ((7, 9973), (slice(None, None, -1), slice(1, None, 2))),
         ((3, 11, 2003), (slice(None), slice(None, None, -3), slice(None, None, -1))),
         ((40, 1013), (slice(None), [5, 5, 0, -1, 17] * 200)), ((2, 50000), (None, Ellipsis, slice(None, None, 2)))],
    )
    def test_large_selections_match_model(self, shape, key):
        a = sample(shape)
        result_shape, offsets, _ = model_select(shape, key)
        got = a[key]
        mids, rads = a.values(), a.radii()
        assert got.shape == result_shape
        assert bits(got.values()) == bits([mids[o] for o in offsets])
        assert bits(got.radii()) == bits([rads[o] for o in offsets])

    def test_absurd_selection_is_a_memory_error(self):
        # 10**15 elements: the size is computed before anything is gathered.
        with pytest.raises(MemoryError):
            bw.zeros(1, 1, 1)[([0] * 10**5,) * 3]

    def test_delete_is_refused(self):
        a = sample((3,))
        raises(NotImplementedError, "can't delete item", lambda: a.__delitem__(0))


def values_for(count, kind):
    xs = [float(-7 - i) for i in range(count)]
    if kind == "list":
        return xs, xs, [0.0] * count
    if kind == "array":
        return bw.array(xs), xs, [0.0] * count
    if kind == "pairs":
        return bw.array([(x, 0.25) for x in xs]), xs, [0.25] * count
    one = {"number": 3.0, "pair": (3.0, 0.5), "one_list": [3.0], "one_array": bw.array([[3.0]])}[kind]
    return one, [3.0] * count, [0.5 if kind == "pair" else 0.0] * count


class TestAssignment:
    @settings(max_examples=200, deadline=None)
    @given(shapes_and_keys(), st.sampled_from(["list", "array", "pairs", "number", "pair", "one_list", "one_array"]))
    def test_matches_model(self, case, kind):
        shape, key = case
        a = sample(shape)
        shared = a.copy()
        _, offsets, _ = model_select(shape, key)
        value, mids, rads = values_for(len(offsets), kind)
        if kind in ("list", "array", "pairs") and len(offsets) == 1:
            return  # one element: the broadcast rule, covered by the scalar kinds
        expect_m, expect_r = a.values(), a.radii()
        for o, m, r in zip(offsets, mids, rads):  # row-major order: the last write wins
            expect_m[o], expect_r[o] = m, r
        a[key] = value
        assert a.shape == shape and bits(a.values()) == bits(expect_m) and bits(a.radii()) == bits(expect_r)
        assert snapshot(shared) == snapshot(sample(shape))  # copy-on-write

    @settings(max_examples=60, deadline=None)
    @given(shapes_and_keys())
    def test_count_mismatch_leaves_array_unchanged(self, case):
        shape, key = case
        a = sample(shape)
        _, offsets, _ = model_select(shape, key)
        before = snapshot(a)
        for n in {0, 2, len(offsets) + 2} - {len(offsets), 1}:  # one element broadcasts
            raises(ValueError, f"cannot assign {n} element(s) to a slice of {len(offsets)} element(s)",
                   lambda: a.__setitem__(key, [1.0] * n))
        assert snapshot(a) == before

    @pytest.mark.parametrize(
        "key, value, exception, message",
        [(0, "x", TypeError, "can only assign numbers, (midpoint, radius) tuples, lists, or IntervalArray values"),
         (0, None, TypeError, "can only assign numbers, (midpoint, radius) tuples, lists, or IntervalArray values"),
         (0, (1.0, 2.0, 3.0), TypeError,
          "can only assign numbers, (midpoint, radius) tuples, lists, or IntervalArray values"),
         (slice(2), [1.0, 2.0, 3.0], ValueError, "cannot assign 3 element(s) to a slice of 2 element(s)"),
         (slice(2), bw.zeros(3), ValueError, "cannot assign 3 element(s) to a slice of 2 element(s)"),
         (3, 1.0, IndexError, "index 3 is out of bounds for axis 0 with size 3"),
         ("x", "y", TypeError, "only integers, slices, lists, and boolean masks are valid indices; got str"),
         ([0, 1], [1.0, "x"], TypeError, "cannot convert str to an interval value")],
    )
    def test_failures_leave_array_unchanged(self, key, value, exception, message):
        a = sample((3,))
        before = snapshot(a)
        raises(exception, message, lambda: a.__setitem__(key, value))
        assert snapshot(a) == before

    @pytest.mark.parametrize("key, order", [(slice(None), [0, 1, 2, 3]), (slice(None, None, -1), [3, 2, 1, 0]),
                                            ([3, 2, 1, 0], [3, 2, 1, 0])])
    def test_same_array_as_value_and_target(self, key, order):
        a = sample((4,))
        view = a.reshape(2, 2)
        original = a.values()
        a[key] = a
        assert a.values() == [original[i] for i in order] and view.values() == original

    def test_huge_scalar_fill_writes_each_position_once(self):
        a = bw.zeros(1, 1, 1)
        a[([0] * 10**4,) * 3] = (2.0, 0.5)
        assert (a.values(), a.radii()) == ([2.0], [0.5])

    def test_comparison_mask_selects_and_assigns(self):
        a = bw.from_raw_parts([1.0, -2.0, 3.0, -4.0], [0.0] * 4, [2, 2])
        assert a[(a > 0).tolist()[:2]].shape == (1, 2)  # a list mask on the first axis
        flat = a.flatten()
        flat[flat < 0] = 0.0
        assert flat.values() == [1.0, 0.0, 3.0, 0.0] and a.values() == [1.0, -2.0, 3.0, -4.0]
