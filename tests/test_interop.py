"""NumPy interop through the buffer protocol (array, from_raw_parts, a.mid and
a.rad) and pickling at memory speed (protocol 5)."""

from __future__ import annotations

import array as pyarray
import ctypes
import gc
import math
import pickle
import struct
import warnings
from fractions import Fraction

import numpy as np
import pytest

import boundwise as bw
from oracles import DBL_MAX, ETA, INF, NAN, NAN_PAYLOAD, assert_cause, bits, raises, snapshot

FORMAT_MESSAGE = ("cannot convert a buffer of format '{}' to interval values; "
                  "expected numbers of a float, integer or bool format")
ADVERSARIAL = [0.0, -0.0, 0.1, -2.5, ETA, -ETA, 2.2250738585072014e-308, DBL_MAX, -DBL_MAX, INF, -INF, NAN,
               NAN_PAYLOAD, 1e300, 1 / 3]


def sample(dtype, n: int = 24) -> np.ndarray:
    """Values of `dtype` covering its extremes, zero and signs, in random order."""
    rng = np.random.default_rng(n)
    dtype = np.dtype(dtype)
    if dtype.kind == "b":
        return rng.integers(0, 2, n).astype(dtype)
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        lo, hi = max(info.min, -(2**53)), min(info.max, 2**53)  # doubles exactly; larger ones have their own test
        values = np.concatenate([[lo, hi, 0, 1, lo + 1, hi - 1], rng.integers(lo, hi, n - 6, endpoint=True)])
        return values.astype(dtype)
    special = np.array([v for v in ADVERSARIAL if np.isnan(v) or abs(v) <= float(np.finfo(dtype).max) or np.isinf(v)])
    values = np.concatenate([special, rng.standard_normal(n) * 1e3])[:n]
    return rng.permutation(values.astype(dtype))


DTYPES = ["f2", "f4", "f8", ">f8", "<f4", ">f2", "i1", "u1", "i2", ">u2", "i4", "<u4", ">i4", "i8", "u8", ">i8", "?"]
LAYOUTS = {
    "contiguous 2-d": lambda v: v[:24].reshape(4, 6),
    "strided": lambda v: v[::3],
    "reversed": lambda v: v[::-1],
    "transposed": lambda v: v[:24].reshape(4, 6).T,
    "3-d slice": lambda v: v[:24].reshape(2, 3, 4)[:, ::2, 1:],
    "read-only": lambda v: read_only(v),
    "empty": lambda v: v[:0],
    "empty 2-d": lambda v: v[:0].reshape(3, 0),
}


def read_only(v: np.ndarray) -> np.ndarray:
    v = v.copy()
    v.setflags(write=False)
    return v


def as_list(v: np.ndarray) -> list:
    """The same numbers as nested Python lists of floats: the input the list path converts."""
    return np.vectorize(float, otypes=[float])(v).tolist() if v.size else v.tolist()


class TestBufferInputs:
    @pytest.mark.parametrize("layout", LAYOUTS)
    @pytest.mark.parametrize("dtype", DTYPES)
    def test_array_matches_the_list_conversion_bit_for_bit(self, dtype, layout):
        v = LAYOUTS[layout](sample(dtype, 30))
        for error in (0.0, 0.25):
            expected = bw.array(as_list(v), error=error)
            got = bw.array(v, error=error)
            assert got.shape == v.shape
            if v.size:
                assert snapshot(got) == snapshot(expected)

    @pytest.mark.parametrize("layout", ["contiguous 2-d", "strided", "transposed", "3-d slice", "empty 2-d"])
    @pytest.mark.parametrize("mid_dtype, rad_dtype", [("f8", "f8"), (">f8", "f4"), ("i4", "u1"), ("f2", "?")])
    def test_from_raw_parts_matches_lists(self, mid_dtype, rad_dtype, layout):
        mids = LAYOUTS[layout](sample(mid_dtype, 30))
        rads = LAYOUTS[layout](np.abs(sample(rad_dtype, 30)).astype(rad_dtype))
        shape = [mids.size]
        expected = bw.from_raw_parts(np.ravel(as_list(mids)).tolist(), np.ravel(as_list(rads)).tolist(), shape)
        assert snapshot(bw.from_raw_parts(mids, rads, shape)) == snapshot(expected)

    @pytest.mark.parametrize(
        "make",
        [lambda x: pyarray.array("d", x), lambda x: memoryview(pyarray.array("d", x)),
         lambda x: memoryview(struct.pack(f"<{len(x)}d", *x)).cast("d"),
         lambda x: memoryview(pyarray.array("d", x)).cast("B").cast("d", [len(x) // 2, 2])],
        ids=["array.array", "memoryview", "cast bytes", "2-d cast"],
    )
    def test_other_exporters(self, make):
        values = ADVERSARIAL[:14]
        got = bw.array(make(values), error=0.5)
        assert bits(got.values()) == bits(values) and got.radii() == [0.5] * 14
        assert snapshot(bw.from_raw_parts(make(values), make([0.0] * 14), [14])) == snapshot(
            bw.from_raw_parts(values, [0.0] * 14, [14]))

    @pytest.mark.parametrize(
        "values, expected_shape",
        [(np.float64(2.5), (1,)), (np.array(2.5), (1,)), (np.int8(3), (1,)), (np.array([2.5]), (1,))],
    )
    def test_a_zero_dimensional_buffer_is_one_number(self, values, expected_shape):
        got = bw.array(values)
        assert got.shape == expected_shape and got.values() == [float(np.ravel(values)[0])]

    @pytest.mark.parametrize(
        "value",
        [np.array([1 + 2j]), np.array(["ab"]), np.array([b"ab"]), np.zeros(2, dtype=[("a", "f8"), ("b", "i4")]),
         np.array([1j], dtype="c8"), memoryview(b"abcd").cast("c"), np.zeros(2, dtype="V8")],
        ids=["complex", "str", "bytes", "structured", "complex64", "char", "void"],
    )
    def test_wrong_formats_are_type_errors(self, value):
        fmt, n = memoryview(value).format, len(value)
        raises(TypeError, FORMAT_MESSAGE.format(fmt), lambda: bw.array(value))
        raises(TypeError, FORMAT_MESSAGE.format(fmt), lambda: bw.IntervalArray(value))
        for name, call in [("midpoints", lambda: bw.from_raw_parts(value, [0.0] * n, [n])),
                           ("radii", lambda: bw.from_raw_parts([0.0] * n, value, [n]))]:
            assert_cause(raises(TypeError, f"argument '{name}': " + FORMAT_MESSAGE.format(fmt), call))

    @pytest.mark.parametrize("value", [b"ab", bytearray(b"ab")])
    def test_bytes_are_not_numbers_for_array(self, value):
        raises(TypeError, f"cannot convert {type(value).__name__} to an interval value", lambda: bw.array(value))

    def test_object_buffers_read_as_sequences(self):
        objects = np.array([1.5, 2.5], dtype=object)
        assert bw.from_raw_parts(objects, objects * 0, [2]).values() == [1.5, 2.5]

    def test_negative_radius_named_in_row_major_order(self):
        rads = np.array([[0.0, 1.0], [-3.0, -2.0]]).T  # row-major order: 0, -3, 1, -2
        raises(ValueError, "radii must be non-negative, got -3", lambda: bw.from_raw_parts(np.zeros(4), rads, [4]))
        raises(ValueError, "radii must be non-negative, got -7",
               lambda: bw.from_raw_parts(np.zeros(3), np.array([0, -7, -1], dtype=np.int16), [3]))
        nan_radius = bw.from_raw_parts(np.zeros(1), np.array([NAN]), [1])
        assert math.isnan(nan_radius.radii()[0])


def element_bounds(a) -> list[tuple[Fraction, Fraction]]:
    return [(Fraction(m) - Fraction(r), Fraction(m) + Fraction(r)) for m, r in zip(a.values(), a.radii())]


LONG_DOUBLE_IS_WIDER = np.finfo(np.longdouble).nmant > 52


class TestNumbersThatAreNotDoubles:
    """Integers beyond 2^53 and long doubles are enclosed (exact rational oracle), not rounded away."""

    INTEGERS = [2**53 + 1, -(2**53) - 1, 2**63 - 1, -(2**63), 2**62 + 3, 2**64 - 1, 2**63 + 1, 2**60 + 2**7 + 1]

    @pytest.mark.parametrize("dtype", ["i8", ">i8", "u8"])
    def test_large_integers(self, dtype):
        info = np.iinfo(dtype)
        ints = [x for x in self.INTEGERS if info.min <= x <= info.max]
        for error in (0.0, 0.5):
            a = bw.array(np.array(ints, dtype=dtype), error=error)
            for x, (lo, hi), m, r in zip(ints, element_bounds(a), a.values(), a.radii()):
                assert lo <= x <= hi
                assert m == float(x)  # the nearest double stays the midpoint
                # the radius is the error plus the exact distance, rounded up by at most one step
                assert Fraction(error) + abs(x - Fraction(m)) <= r <= math.nextafter(error + abs(x - int(m)), INF)

    def test_large_integer_parts(self):
        mids = np.array([2**53 + 1, 7], dtype=np.int64)
        rads = np.array([2**60 + 1, 2**53 + 1], dtype=np.uint64)
        a = bw.from_raw_parts(mids, rads, [2])
        for (lo, hi), m, r in zip(element_bounds(a), mids.tolist(), rads.tolist()):
            assert lo <= m - r and m + r <= hi

    @pytest.mark.skipif(not LONG_DOUBLE_IS_WIDER, reason="long double is double here")
    def test_long_doubles(self):
        third = np.longdouble(1) / np.longdouble(3)
        values = np.array([third, -third * 1e-300, np.longdouble(2) ** 70 + 1, 0.5, np.longdouble("1e4000")],
                          dtype=np.longdouble)
        a = bw.array(values)
        for x, (m, r), bounds in zip(values[:4], a.tolist()[:4], element_bounds(a[:4])):
            exact = Fraction(*x.as_integer_ratio())
            assert bounds[0] <= exact <= bounds[1] and m == float(x)
        assert math.isnan(a.values()[4]) and a.radii()[4] == INF  # beyond the double range: the entire line
        rads = bw.from_raw_parts(np.zeros(1), values[:1], [1]).radii()[0]
        assert Fraction(rads) >= Fraction(*third.as_integer_ratio()) > Fraction(math.nextafter(rads, 0))


class TestExportedParts:
    @pytest.mark.parametrize("shape", [(), (0,), (5,), (2, 3), (3, 0, 2), (1, 4, 1)])
    def test_mid_and_rad_are_the_stored_doubles(self, shape):
        n = math.prod(shape)
        mids = (ADVERSARIAL * 2)[:n]
        rads = [abs(x) if not math.isnan(x) else x for x in reversed(mids)]
        a = bw.from_raw_parts(mids, rads, list(shape))
        for view, part in [(a.mid, mids), (a.rad, rads)]:
            assert type(view) is memoryview and view.readonly
            assert (view.format, view.itemsize, view.shape, view.nbytes) == ("d", 8, shape, 8 * n)
            assert view.c_contiguous and bits(np.ravel(np.asarray(view)).tolist()) == bits(part)
            assert view.tobytes() == struct.pack(f"={n}d", *part)

    def test_numpy_reads_without_copying(self):
        a = bw.from_raw_parts([1.0, 2.0, 3.0, 4.0], [0.5] * 4, [2, 2])
        first, second = np.asarray(a.mid), np.asarray(a.mid)
        assert first.ctypes.data == second.ctypes.data and not first.flags.writeable
        assert np.asarray(a.rad).ctypes.data == first.ctypes.data + 32  # radii follow the midpoints

    def test_writes_are_refused(self):
        a = bw.array([1.0, 2.0])
        with pytest.raises(TypeError):
            a.mid[0] = 5.0
        view = ctypes.create_string_buffer(256)  # room for a Py_buffer
        get_buffer = ctypes.pythonapi.PyObject_GetBuffer
        get_buffer.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_int]
        with pytest.raises(BufferError, match="^the midpoints and radii of an IntervalArray are read-only$"):
            get_buffer(a.mid.obj, ctypes.addressof(view), 1)  # PyBUF_WRITABLE
        with pytest.raises(TypeError):
            type(a.mid.obj)()
        assert a.values() == [1.0, 2.0]

    @pytest.mark.parametrize(
        "write",
        [lambda a: a.__iadd__(1.0), lambda a: a.__setitem__(0, 9.0), lambda a: a.__itruediv__(bw.array([(0.0, 1.0)])),
         lambda a: a.__setstate__(([3], [7.0, 8.0, 9.0], [0.0] * 3)), lambda a: a.__setitem__(slice(None), a + 1)],
        ids=["+=", "item", "/= zero", "setstate", "slice"],
    )
    def test_exports_never_see_later_writes(self, write):
        a = bw.from_raw_parts([1.0, 2.0, 3.0], [0.0, 0.5, 0.25], [3])
        copy = a.copy()  # shares the storage too
        mid, rad, copy_mid = np.asarray(a.mid), a.rad, np.asarray(copy.mid)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # the division by [-1, 1] warns
            write(a)
        assert mid.tolist() == [1.0, 2.0, 3.0] and rad.tolist() == [0.0, 0.5, 0.25]
        assert copy_mid.tolist() == [1.0, 2.0, 3.0] and copy.values() == [1.0, 2.0, 3.0]

    def test_exports_outlive_the_array(self):
        a = bw.from_raw_parts([1.5] * 1000, [0.25] * 1000, [10, 100])
        mid, rad = np.asarray(a.mid), a.rad
        del a
        gc.collect()
        bw.zeros(1000) + 1.0  # fresh allocations that would reuse freed storage
        assert mid.shape == (10, 100) and set(mid.ravel().tolist()) == {1.5}
        assert set(np.asarray(rad).ravel().tolist()) == {0.25}

    def test_round_trip_through_numpy(self):
        a = bw.from_raw_parts([NAN_PAYLOAD, -0.0, ETA, 1 / 3, 5.0, 6.0], [INF, 0.0, 1e-300, NAN, 0.5, 0.0], [3, 2])
        b = bw.from_raw_parts(np.asarray(a.mid), np.asarray(a.rad), a.shape)
        assert snapshot(b) == snapshot(a)


class ListForm:
    """Reduces the way pickles of arrays were written before protocol 5 used buffers."""

    def __init__(self, a):
        self.a = a

    def __reduce__(self):
        return bw.from_raw_parts, (self.a.values(), self.a.radii(), list(self.a.shape))


PICKLED = [bw.from_raw_parts([NAN_PAYLOAD, -0.0, 0.1, INF, 2.0, 3.0], [0.0, 0.5, ETA, INF, NAN, 0.0], [2, 3]),
           bw.zeros(()), bw.zeros((0, 3)), bw.from_raw_parts(np.arange(1000.0), np.full(1000, 0.5), [1000])]


class TestPickling:
    @pytest.mark.parametrize("protocol", range(5))
    @pytest.mark.parametrize("a", PICKLED, ids=["mixed", "0-d", "empty", "large"])
    def test_protocols_below_5_keep_the_list_form(self, a, protocol):
        (constructor, (mids, rads, shape)), expected = a.__reduce_ex__(protocol), a.__reduce__()
        assert constructor is expected[0] and shape == expected[1][2]
        assert (bits(mids), bits(rads)) == (bits(expected[1][0]), bits(expected[1][1]))
        assert pickle.dumps(a, protocol=protocol) == pickle.dumps(ListForm(a), protocol=protocol)

    @pytest.mark.parametrize("a", PICKLED, ids=["mixed", "0-d", "empty", "large"])
    def test_protocol_5_uses_pickle_buffers(self, a):
        constructor, (mids, rads, shape) = a.__reduce_ex__(5)
        assert constructor is bw.from_raw_parts and shape == list(a.shape)
        assert type(mids) is pickle.PickleBuffer and type(rads) is pickle.PickleBuffer
        n = a.size
        assert bytes(mids.raw()) == struct.pack(f"<{n}d", *a.values())
        assert bytes(rads.raw()) == struct.pack(f"<{n}d", *a.radii())
        assert len(pickle.dumps(a, protocol=5)) < 16 * n + 200  # the doubles themselves, no per-element opcodes

    @pytest.mark.parametrize(
        "hand_back",
        [lambda b: b, lambda b: b.raw(), lambda b: bytes(b.raw()), lambda b: bytearray(b.raw()),
         lambda b: np.frombuffer(b.raw(), dtype=np.uint8)],
        ids=["PickleBuffer", "raw memoryview", "bytes", "bytearray", "uint8 array"],
    )
    @pytest.mark.parametrize("a", PICKLED, ids=["mixed", "0-d", "empty", "large"])
    def test_out_of_band_round_trip(self, a, hand_back):
        buffers = []
        data = pickle.dumps(a, protocol=5, buffer_callback=buffers.append)
        assert len(buffers) == 2 and len(data) < 200
        assert snapshot(pickle.loads(data, buffers=[hand_back(b) for b in buffers])) == snapshot(a)

    @pytest.mark.parametrize(
        "mids, shape, expected",
        [(bytes(16), [2], [0.0, 0.0]),                   # 8 bytes per element: doubles
         (bytes([1, 2]), [2], [1.0, 2.0]),              # one byte per element: numbers
         (bytes(range(16)), [16], [float(i) for i in range(16)])],
    )
    def test_byte_buffers_of_doubles_only_when_nothing_else_fits(self, mids, shape, expected):
        n = math.prod(shape)
        assert bw.from_raw_parts(mids, [0.0] * n, shape).values() == expected

    def test_byte_buffers_of_another_length_are_refused(self):
        raises(ValueError, "midpoints length 16 != product of shape 3",
               lambda: bw.from_raw_parts(bytes(16), [0.0] * 16, [3]))
