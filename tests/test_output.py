"""Text forms, element and list accessors, and pickling of IntervalArray."""

import copy
import math
import pickle
import random
import struct
from decimal import Decimal
from fractions import Fraction

import pytest

import boundwise._boundwise as bw
from conftest import DBL_MAX, INF, NAN, NAN_PAYLOAD, bits, raises, snapshot


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


def random_parts(rng, n):
    specials = [0.0, -0.0, 5e-324, -5e-324, DBL_MAX, -DBL_MAX, 0.1, 1 / 3, 1e-310, 2.0**-1022, INF, -INF, NAN]
    mids = [rng.choice([rng.uniform(-10, 10), rng.choice(specials),
                        rng.uniform(-1, 1) * 10.0 ** rng.randint(-320, 308)]) for _ in range(n)]
    rads = [rng.choice([0.0, 0.0, 5e-324, 0.5, abs(rng.uniform(0, 1)) * 10.0 ** rng.randint(-320, 300), INF, NAN])
            for _ in range(n)]
    return mids, rads


def random_array(seed, shape):
    mids, rads = random_parts(random.Random(seed), math.prod(shape))
    return bw.from_raw_parts(mids, rads, list(shape)), mids, rads


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
            (lambda: bw.zeros(65), "IntervalArray(shape=[65], max_err=0.000000e0)"),
            (lambda: bw.zeros((1, 1, 1)), "IntervalArray(shape=[1, 1, 1], max_err=0.000000e0)"),
            (lambda: bw.zeros((0, 0, 0)), "IntervalArray(shape=[0, 0, 0], max_err=0.000000e0)"),
            (lambda: bw.zeros((1,) * 64), "IntervalArray(shape=[" + ", ".join(["1"] * 64) + "], max_err=0.000000e0)"),
            (lambda: bw.array([]), "IntervalArray([])"),
            (lambda: bw.zeros(()), "IntervalArray([0])"),
            (lambda: bw.array([(0.25, 0.125), (-3.0, 1.0)]), "IntervalArray([0.25+/-0.125, -3+/-1])"),
            (lambda: bw.array([NAN]), "IntervalArray([NaN+/-inf])"),
            (lambda: bw.array([(1.0, INF)]), "IntervalArray([NaN+/-inf])"),
            (lambda: bw.zeros((8, 8)), "IntervalArray([" + ", ".join(["[" + ", ".join(["0"] * 8) + "]"] * 8) + "])"),
            (lambda: bw.zeros(64), "IntervalArray([" + ", ".join(["0"] * 64) + "])"),
            (lambda: bw.zeros((5, 13)), "IntervalArray(shape=[5, 13], max_err=0.000000e0)"),
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
        ],
    )
    def test_summary_max_err(self, mids, rads, shown):
        assert scientific_text(max_relative_error(mids, rads)) == shown
        a = bw.from_raw_parts(mids, rads, [len(mids)])
        assert repr(a) == f"IntervalArray(shape=[{len(mids)}], max_err={shown})"

    @pytest.mark.parametrize("n", [65, 200, 1000])
    def test_summary_of_random_arrays(self, n):
        a, mids, rads = random_array(99 + n, (n,))
        assert repr(a) == f"IntervalArray(shape=[{n}], max_err={scientific_text(max_relative_error(mids, rads))})"


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
                lo, hi = Fraction(sm) - Fraction(sr), Fraction(sm) + Fraction(sr)
                assert Fraction(m) - Fraction(r) <= lo and hi <= Fraction(m) + Fraction(r)

    def test_documented_reads(self):
        m, r = bw.array([(1.0, INF)]).get(0)
        assert math.isnan(m) and r == INF
        assert bw.array([(2.0, 0.5)]).get(0) == (2.0, 0.5)
        assert bw.array([3.0]).item(0) == (3.0, 0.0)
        assert type(bw.array([3.0]).values()) is list and type(bw.array([3.0]).radii()) is list

    @pytest.mark.parametrize("n", [0, 1, 3])
    def test_index_errors(self, n):
        a = bw.zeros(n)
        for method in ("get", "item"):
            raises(IndexError, f"index {n} out of range for array of length {n}", lambda: getattr(a, method)(n))
            raises(IndexError, f"index {2**64 - 1} out of range for array of length {n}",
                   lambda: getattr(a, method)(2**64 - 1))
        for method in ("midpoint", "radius"):
            raises(IndexError, "index out of range", lambda: getattr(a, method)(n))

    @pytest.mark.parametrize("method", ["get", "item", "midpoint", "radius"])
    def test_index_conversion(self, method):
        a = bw.zeros(3)
        raises(OverflowError, "can't convert negative int to unsigned", lambda: getattr(a, method)(-1))
        raises(TypeError, "argument 'idx': 'float' object cannot be interpreted as an integer",
               lambda: getattr(a, method)(1.0))
        assert getattr(a, method)(True) == getattr(a, method)(1)

    @pytest.mark.parametrize("shape", [(4,), (2, 3), (2, 1, 3), (1, 1, 1, 1), (3, 0), (0, 3), (), (1,) * 63 + (2,)])
    def test_tolist_nests_stored_pairs(self, shape):
        a, mids, rads = random_array(11, shape)

        def flatten(x, depth):
            if depth == len(shape):
                assert type(x) is tuple and len(x) == 2
                return [x]
            assert type(x) is list and len(x) == shape[depth]
            return [p for item in x for p in flatten(item, depth + 1)]

        pairs = flatten(a.tolist(), 0)
        assert bits(p[0] for p in pairs) == bits(mids) and bits(p[1] for p in pairs) == bits(rads)


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

    @pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
    def test_subclass_pickles_through_from_raw_parts(self, protocol):
        class Tagged(bw.IntervalArray):
            pass

        a = Tagged([2.0, (1.0, 0.5)])
        b = pickle.loads(pickle.dumps(a, protocol=protocol))
        assert type(b) is bw.IntervalArray and snapshot(b) == snapshot(a)

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


class TestSetstate:
    def test_replaces_the_value_with_exact_bits(self):
        a = bw.zeros(5)
        assert a.__setstate__(([2], [1.0, 2.0], [0.0, 0.0])) is None
        assert (a.shape, a.values(), a.radii()) == ((2,), [1.0, 2.0], [0.0, 0.0])
        a.__setstate__(([2, 1], (3.0, 4.0), [0.5, NAN]))
        assert a.shape == (2, 1) and a.values() == [3.0, 4.0]
        a.__setstate__(bw.from_raw_parts([7.0], [1.0], []).__getstate__())
        assert a.shape == () and a.get(0) == (7.0, 1.0)
        mids, rads = [NAN_PAYLOAD, -0.0, 5e-324], [0.0, -0.0, INF]
        a.__setstate__(([3], mids, rads))
        assert bits(a.values()) == bits(mids) and bits(a.radii()) == bits(rads)

    @pytest.mark.parametrize(
        "state, exception, message",
        [
            ([[1], [1.0], [0.0]], TypeError, "argument 'state': 'list' object cannot be converted to 'PyTuple'"),
            (None, TypeError, "argument 'state': 'NoneType' object cannot be converted to 'PyTuple'"),
            (([1], [1.0]), ValueError, "expected tuple of length 3, but got tuple of length 2"),
            (([1], [1.0], [0.0], 1), ValueError, "expected tuple of length 3, but got tuple of length 4"),
            ((), ValueError, "expected tuple of length 3, but got tuple of length 0"),
            ((1, [1.0], [0.0]), TypeError, "argument 'state': 'int' object cannot be converted to 'Sequence'"),
            (("1", [1.0], [0.0]), TypeError, "argument 'state': 'str' object cannot be converted to 'Sequence'"),
            (([1], ["x"], [0.0]), TypeError, "argument 'state': must be real number, not str"),
            (([1], [1.0], 0.0), TypeError, "argument 'state': 'float' object cannot be converted to 'Sequence'"),
            (([1.5], [1.0], [0.0]), TypeError,
             "argument 'state': 'float' object cannot be interpreted as an integer"),
            (([-1], [1.0], [0.0]), OverflowError, "can't convert negative int to unsigned"),
            (([2], [1.0, 2.0], [0.0]), ValueError, "midpoints and radii must have the same length"),
            (([2], [1.0, 2.0], [0.0, -0.5]), ValueError, "radii must be non-negative, got -0.5"),
            (([3], [1.0], [0.0]), ValueError, "midpoints length 1 != product of shape 3"),
            (([3], [1.0], [-1.0]), ValueError, "radii must be non-negative, got -1"),
            (([], [], []), ValueError, "midpoints length 0 != product of shape 1"),
            (([1] * 65, [1.0], [0.0]), ValueError, "maximum supported dimension for an array is 64, found 65"),
        ],
    )
    def test_failures_leave_self_unchanged(self, state, exception, message):
        a = bw.from_raw_parts([1.0, 2.0, 3.0, 4.0], [0.5, 0.0, 0.25, 0.0], [2, 2])
        before = snapshot(a)
        error = raises(exception, message, lambda: a.__setstate__(state))
        if exception is TypeError:
            assert isinstance(error.__cause__, TypeError)
        assert snapshot(a) == before
        a.__setstate__(([1], [9.0], [0.0]))  # the object is still usable
        assert a.values() == [9.0]

    def test_interrupt_while_reading_state_leaves_self_unchanged(self):
        class Interrupting:
            def __float__(self):
                raise KeyboardInterrupt

        a = bw.array([1.0, 2.0])
        before = snapshot(a)
        with pytest.raises(KeyboardInterrupt):
            a.__setstate__(([2], [1.0, Interrupting()], [0.0, 0.0]))
        assert snapshot(a) == before
