"""Text forms, element and list accessors, pickling, and the stored parts
(from_raw_parts, __getstate__, __setstate__) of IntervalArray."""

import copy
import math
import pickle
import random
import struct
from decimal import Decimal

import numpy as np
import pytest

import boundwise._boundwise as bw
from oracles import DBL_MAX, INF, NAN, NAN_PAYLOAD, Raising, assert_cause, bits, encloses, exact_ends, raises, snapshot

NEGATIVE = "can't convert negative int to unsigned"
# Factors whose product wraps to 1 modulo 2**64, and modulo 2**128 (it is 2**129 + 1).
WRAPS_TO_ONE_64 = [7, 0x6DB6DB6DB6DB6DB7]
WRAPS_TO_ONE_128 = [9 * 2932031007403, 1033 * 15686603697451, 1591582393]


def number_text(x):
    """Shortest round-trip decimal without exponent and without a trailing '.0'."""
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    text = format(Decimal(repr(x)), "f")
    return text.rstrip("0").rstrip(".") if "." in text else text


def scientific_text(x):
    if math.isinf(x):
        return "inf"
    mantissa, exponent = f"{x:.6e}".split("e")
    return f"{mantissa}e{int(exponent)}"


def max_relative_error(mids, rads):
    worst = 0.0
    for m, r in zip(mids, rads):
        if r == 0.0:
            continue
        if m == 0.0 or math.isnan(m):
            return INF
        worst = max(worst, r / abs(m))
    return worst


def element_text(a, i):
    m, r = a.values()[i], a.radii()[i]
    if r == 0.0 and math.isfinite(m):
        return number_text(m)  # a point: both endpoints are m
    gm, gr = a.get(i)  # the endpoint round trip that the text shows
    return number_text(gm) + "+/-" + number_text(gr)


def random_parts(seed, n):
    rng = random.Random(seed)
    specials = [0.0, -0.0, 5e-324, -5e-324, DBL_MAX, -DBL_MAX, 0.1, 1 / 3, 1e-310, 2.0**-1022, INF, -INF, NAN]
    mids = [rng.choice([rng.uniform(-10, 10), rng.choice(specials),
                        rng.uniform(-1, 1) * 10.0 ** rng.randint(-320, 308)]) for _ in range(n)]
    rads = [rng.choice([0.0, 0.0, 5e-324, 0.5, abs(rng.uniform(0, 1)) * 10.0 ** rng.randint(-320, 300), INF, NAN])
            for _ in range(n)]
    return mids, rads


def random_array(seed, shape):
    mids, rads = random_parts(seed, math.prod(shape))
    return bw.from_raw_parts(mids, rads, list(shape)), mids, rads


def summary(shape, shown="0.000000e0"):
    return f"IntervalArray(shape=[{', '.join(map(str, shape))}], max_err={shown})"


class TestText:
    @pytest.mark.parametrize(
        "x, text",
        [(1.0, "1"), (0.1, "0.1"), (-2.5, "-2.5"), (-0.0, "-0"), (0.0, "0"), (100.0, "100"),
         (1e22, "10000000000000000000000"), (1e-7, "0.0000001"), (123456.789, "123456.789"),
         (2.0**53 + 2, "9007199254740994"), (DBL_MAX, "17976931348623157" + "0" * 292),
         (-DBL_MAX, "-17976931348623157" + "0" * 292), (5e-324, "0." + "0" * 323 + "5"),
         (2.2250738585072014e-308, "0." + "0" * 307 + "22250738585072014")],
    )
    def test_points(self, x, text):
        assert number_text(x) == text  # the oracle agrees with the documented spelling
        assert repr(bw.array([x])) == f"IntervalArray([{text}])"

    def test_random_points_round_trip(self):
        rng = random.Random(7)
        values = [struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0] for _ in range(60)]
        values = [x for x in values if math.isfinite(x)]
        text = repr(bw.array(values))
        assert text == "IntervalArray([" + ", ".join(number_text(x) for x in values) + "])"
        for word, x in zip(text[len("IntervalArray(["):-2].split(", "), values):
            assert float(word) == x and "e" not in word and not word.endswith(".0")

    @pytest.mark.parametrize(
        "make, text",
        [
            (lambda: bw.array([1.0, 2.0]), "IntervalArray([1, 2])"),
            (lambda: bw.array([(1.0, 0.5)]), "IntervalArray([1+/-0.5])"),
            (lambda: bw.array([[1, 2], [3, 4]]), "IntervalArray([[1, 2], [3, 4]])"),
            (lambda: bw.array([]), "IntervalArray([])"),
            (lambda: bw.zeros(()), "IntervalArray([0])"),
            (lambda: bw.array([(0.25, 0.125), (-3.0, 1.0)]), "IntervalArray([0.25+/-0.125, -3+/-1])"),
            (lambda: bw.array([NAN]), "IntervalArray([NaN+/-inf])"),
            (lambda: bw.array([(1.0, INF)]), "IntervalArray([NaN+/-inf])"),
            (lambda: bw.zeros((8, 8)), "IntervalArray([" + ", ".join(["[" + ", ".join(["0"] * 8) + "]"] * 8) + "])"),
            (lambda: bw.zeros(64), "IntervalArray([" + ", ".join(["0"] * 64) + "])"),
            (lambda: bw.zeros((3, 0)), "IntervalArray([[], [], []])"),
            (lambda: bw.zeros((64, 0)), "IntervalArray([" + ", ".join(["[]"] * 64) + "])"),
            (lambda: bw.zeros((0, 2**40)), "IntervalArray([])"),
            (lambda: bw.zeros((0, 3)), "IntervalArray([])"),
            # summaries: three or more dimensions, or 65 elements or more
            (lambda: bw.zeros(65), summary([65])), (lambda: bw.zeros((1, 1, 1)), summary([1, 1, 1])),
            (lambda: bw.zeros((0, 0, 0)), summary([0, 0, 0])), (lambda: bw.zeros((1,) * 64), summary([1] * 64)),
            (lambda: bw.zeros((5, 13)), summary([5, 13])), (lambda: bw.zeros((65, 0)), summary([65, 0])),
            (lambda: bw.zeros((2**40, 0)), summary([2**40, 0])),
            (lambda: bw.from_raw_parts([], [], [0, 2**64 - 1, 2**64 - 1]), summary([0, 2**64 - 1, 2**64 - 1])),
        ],
    )
    def test_documented(self, make, text):
        a = make()
        assert repr(a) == str(a) == text

    @pytest.mark.parametrize("shape", [(7,), (3, 4), (1, 9), ()])
    def test_elements_show_the_endpoint_round_trip(self, shape):
        a, _, _ = random_array(str(shape), shape)
        texts = [element_text(a, i) for i in range(a.size)]
        if len(shape) == 2:
            texts = ["[" + ", ".join(texts[i * shape[1]:(i + 1) * shape[1]]) + "]" for i in range(shape[0])]
        assert repr(a) == "IntervalArray([" + ", ".join(texts) + "])"

    @pytest.mark.parametrize(
        "mids, rads, shown",
        [
            ([1.0] * 65, [2.220446049250313e-16] + [0.0] * 64, "2.220446e-16"),
            ([2.0] * 65, [2.0] * 65, "1.000000e0"),
            ([1.0] * 65, [12345.0] + [0.0] * 64, "1.234500e4"),
            ([1.0] * 99 + [0.0], [0.0] * 99 + [1.0], "inf"),
            ([NAN] + [1.0] * 64, [1e-3] + [0.0] * 64, "inf"),
            ([1.0] * 65, [NAN] + [0.0] * 64, "0.000000e0"),
            ([1.0] * 65, [INF] + [0.0] * 64, "inf"),
            ([NAN] * 65, [0.0] * 65, "0.000000e0"),
            ([-4.0, 3.0] + [1.0] * 63, [1.0, 0.0] + [1e-9] * 63, "2.500000e-1"),
            *[(*random_parts(99 + n, n), None) for n in (65, 200, 1000)],
        ],
    )
    def test_summary_max_err(self, mids, rads, shown):
        expected = scientific_text(max_relative_error(mids, rads))
        assert shown in (None, expected)  # the oracle agrees with the documented values
        assert repr(bw.from_raw_parts(mids, rads, [len(mids)])) == summary([len(mids)], expected)


class TestAccessors:
    def test_get_item_midpoint_radius(self):
        a, mids, rads = random_array(3, (5, 8))
        for i in range(40):
            m, r = a.get(i)
            assert a.item(i) == (m, r) or (math.isnan(m) and math.isnan(a.item(i)[0]))
            assert bits([a.midpoint(i), a.radius(i)]) == bits([m, r])
            assert a.get(idx=i) == a.get(i) or math.isnan(m)
            sm, sr = mids[i], rads[i]
            if math.isnan(sm) or math.isnan(sr) or sr == INF:
                assert math.isnan(m) and r == INF
            elif sr == 0.0 and math.isfinite(sm):
                assert bits([m, r]) == bits([sm, 0.0]) or (sm == 0.0 and (m, r) == (0.0, 0.0))
            elif math.isfinite(m) and math.isfinite(r):
                assert encloses(m, r, *exact_ends(sm, sr))

    def test_documented_reads(self):
        m, r = bw.array([(1.0, INF)]).get(0)
        assert math.isnan(m) and r == INF
        assert bw.array([(2.0, 0.5)]).get(0) == (2.0, 0.5)
        assert bw.array([3.0]).item(0) == (3.0, 0.0)
        assert type(bw.array([3.0]).values()) is list and type(bw.array([3.0]).radii()) is list

    @pytest.mark.parametrize("method", ["get", "item", "midpoint", "radius"])
    @pytest.mark.parametrize("n", [0, 1, 3])
    def test_index_errors(self, n, method):
        a = bw.zeros(n)
        for i in (n, 2**64 - 1):
            raises(IndexError, f"index {i} out of range for array of length {n}" if method in ("get", "item")
                   else "index out of range", lambda: getattr(a, method)(i))
        assert_cause(raises(OverflowError, NEGATIVE, lambda: getattr(a, method)(-1)))
        assert_cause(raises(TypeError, "argument 'idx': 'float' object cannot be interpreted as an integer",
                            lambda: getattr(a, method)(1.0)))
        if n > 1:
            assert getattr(a, method)(True) == getattr(a, method)(1)

    @pytest.mark.parametrize("shape", [(4,), (2, 3), (2, 1, 3), (1, 1, 1, 1), (3, 0), (0, 3), (), (1,) * 63 + (2,),
                                       (0, 2**40), (2, 0, 2**40), (2, 3, 0)])
    def test_tolist_nests_stored_pairs(self, shape):
        a, mids, rads = random_array(11, shape)

        def flatten(x, depth):
            if depth == len(shape):
                assert type(x) is tuple and len(x) == 2
                return [x]
            assert type(x) is list and len(x) == shape[depth]
            return [p for item in x for p in flatten(item, depth + 1)]

        found = flatten(a.tolist(), 0)
        assert bits(p[0] for p in found) == bits(mids) and bits(p[1] for p in found) == bits(rads)

    @pytest.mark.parametrize("shape", [(2**40, 0), (2**20, 2**20, 0)])
    def test_tolist_of_an_impossible_number_of_lists(self, shape):
        with pytest.raises(MemoryError):
            bw.zeros(shape).tolist()


class TestPickle:
    @pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
    @pytest.mark.parametrize("shape", [(), (0,), (5,), (2, 3), (3, 0), (2, 2, 2), (1,) * 10])
    def test_round_trip_bit_for_bit(self, shape, protocol):
        a, mids, rads = random_array(f"{shape}-{protocol}", shape)
        if a.size:
            mids[0] = NAN_PAYLOAD
            a = bw.from_raw_parts(mids, rads, list(shape))
        b = pickle.loads(pickle.dumps(a, protocol=protocol))
        assert type(b) is bw.IntervalArray and b.shape == a.shape
        if protocol == 0:
            # Protocol 0 writes floats as text: a NaN keeps neither sign nor payload.
            for x, y in zip(a.values() + a.radii(), b.values() + b.radii()):
                assert (math.isnan(x) and math.isnan(y)) or bits([x]) == bits([y])
        else:
            assert snapshot(b) == snapshot(a)

    def test_copy_module(self):
        a = bw.array([(1.0, 0.5), (2.0, 0.25)])
        for b in (copy.copy(a), copy.deepcopy(a)):
            assert b is not a and snapshot(b) == snapshot(a)

    def test_reduce_and_getstate(self):
        a = bw.from_raw_parts([1.0, 2.0, 3.0, 4.0], [0.0, 0.5, 0.0, 0.25], [2, 2])
        constructor, arguments = a.__reduce__()
        assert constructor is bw.from_raw_parts
        assert arguments == ([1.0, 2.0, 3.0, 4.0], [0.0, 0.5, 0.0, 0.25], [2, 2])
        assert [type(x) for x in arguments] == [list, list, list] and all(type(d) is int for d in arguments[2])
        assert a.__getstate__() == ([2, 2], [1.0, 2.0, 3.0, 4.0], [0.0, 0.5, 0.0, 0.25])
        assert bw.zeros(()).__getstate__() == ([], [0.0], [0.0])


def from_parts(mids, rads, shape):
    return bw.from_raw_parts(mids, rads, shape)


def set_parts(mids, rads, shape):
    a = bw.zeros(5)
    assert a.__setstate__((shape, mids, rads)) is None
    return a


class TestStoredParts:
    """from_raw_parts and __setstate__ hold exactly the parts they are given and refuse the same inputs."""

    @pytest.mark.parametrize("build", [from_parts, set_parts])
    @pytest.mark.parametrize(
        "mids, rads, shape, result_shape",
        [([1.0], [0.0], [], ()), ([], [], [0], (0,)), ([], [], [3, 0, 2], (3, 0, 2)),
         ([1.0] * 6, [0.0] * 6, (2, 3), (2, 3)), ((1.0, 2.0), (0.0, 0.0), np.array([2]), (2,)),
         ([0.1, -0.0, NAN_PAYLOAD, INF, -INF, 5e-324, DBL_MAX], [0.0, -0.0, NAN, INF, 1e-300, 0.5, DBL_MAX], [7],
          (7,))],
    )
    def test_hold_exactly_the_given_parts(self, build, mids, rads, shape, result_shape):
        a = build(mids, rads, shape)
        assert a.shape == result_shape and bits(a.values()) == bits(mids) and bits(a.radii()) == bits(rads)

    @pytest.mark.parametrize("build", [from_parts, set_parts])
    @pytest.mark.parametrize(
        "mids, rads, shape, exception, message",
        [
            ([1.0, 2.0], [0.0, 0.0], [3], ValueError, "midpoints length 2 != product of shape 3"),
            ([], [], [], ValueError, "midpoints length 0 != product of shape 1"),
            ([1.0], [0.0, 0.0], [1], ValueError, "midpoints and radii must have the same length"),
            # checked in order: lengths, radii, product
            ([1.0], [-1.0, 0.0], [5], ValueError, "midpoints and radii must have the same length"),
            ([1.0], [-1.0], [5], ValueError, "radii must be non-negative, got -1"),
            ([1.0], [0.0], 1, TypeError, "argument '{shape}': 'int' object cannot be converted to 'Sequence'"),
            ([1.0], 0.0, [1], TypeError, "argument '{radii}': 'float' object cannot be converted to 'Sequence'"),
            (["x"], [0.0], [1], TypeError, "argument '{midpoints}': must be real number, not str"),
            ([1.0], [None], [1], TypeError, "argument '{radii}': must be real number, not NoneType"),
            ([1.0], [0.0], [-1], OverflowError, NEGATIVE),
            ([1.0], [0.0], [1.5], TypeError,
             "argument '{shape}': 'float' object cannot be interpreted as an integer"),
            ([1.0], [0.0], [1] * 65, ValueError, "maximum supported dimension for an array is 64, found 65"),
            # the element count is the exact product, never one that wrapped around
            *[([1.0], [0.0], shape, ValueError, f"midpoints length 1 != product of shape {product}")
              for shape, product in [
               ([2**32, 2**32], 2**64), ([2**64 - 1, 2**64 - 1], (2**64 - 1) ** 2),
               (WRAPS_TO_ONE_64, math.prod(WRAPS_TO_ONE_64)), (WRAPS_TO_ONE_128, 2**129 + 1),
               ([2**63, 2**63, 2**63, 3], 3 * 2**189), ([2] * 64, 2**64)]],
        ],
    )
    def test_refuse_the_same_inputs(self, build, mids, rads, shape, exception, message):
        names = {name: name if build is from_parts else "state" for name in ("midpoints", "radii", "shape")}
        a = bw.from_raw_parts([1.0, 2.0, 3.0, 4.0], [0.5, 0.0, 0.25, 0.0], [2, 2])
        before = snapshot(a)
        call = ((lambda: bw.from_raw_parts(mids, rads, shape)) if build is from_parts
                else lambda: a.__setstate__((shape, mids, rads)))
        assert_cause(raises(exception, message.format(**names), call))
        assert snapshot(a) == before
        a.__setstate__(([1], [9.0], [0.0]))  # the object is still usable
        assert a.values() == [9.0]

    @pytest.mark.parametrize(
        "state, exception, message",
        [
            ([[1], [1.0], [0.0]], TypeError, "argument 'state': 'list' object cannot be converted to 'PyTuple'"),
            (None, TypeError, "argument 'state': 'NoneType' object cannot be converted to 'PyTuple'"),
            (([1], [1.0]), ValueError, "expected tuple of length 3, but got tuple of length 2"),
            (([1], [1.0], [0.0], 1), ValueError, "expected tuple of length 3, but got tuple of length 4"),
            ((), ValueError, "expected tuple of length 3, but got tuple of length 0"),
            (("1", [1.0], [0.0]), TypeError, "argument 'state': 'str' object cannot be converted to 'Sequence'"),
            (([2], [1.0, Raising(KeyboardInterrupt())], [0.0, 0.0]), KeyboardInterrupt, ""),
        ],
    )
    def test_state_is_a_triple(self, state, exception, message):
        a = bw.from_raw_parts([1.0, 2.0], [0.5, 0.0], [2])
        before = snapshot(a)
        assert_cause(raises(exception, message, lambda: a.__setstate__(state)))
        assert snapshot(a) == before
