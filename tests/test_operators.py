"""The arithmetic operators as Python sees them: operand kinds and messages,
reflected and in-place forms, truth value and len(), the division warning,
borrow conflicts, and the interpreter lock during the binary operators."""

import math
import struct
import threading
import warnings
from fractions import Fraction

import pytest

import boundwise._boundwise as bw
from conftest import encloses, exact_range

INF = math.inf
NAN = math.nan
DIVIDE_WARNING = "divide by zero encountered in interval division; returning the entire real line"
AMBIGUOUS = "The truth value of an array with more than one element is ambiguous. Use a.any() or a.all()"


def bits(values):
    return [struct.pack("<d", x) for x in values]


def snapshot(a):
    return a.shape, bits(a.values()), bits(a.radii())


def raises(exception, message, call):
    with pytest.raises(exception) as info:
        call()
    assert type(info.value) is exception
    assert str(info.value) == message
    return info.value


def sample():
    return bw.array([(1.5, 0.25), (-2.0, 0.5), (0.1, 0.0), (3.0, 1e-3)])


BINARY = {
    "+": lambda x, y: x + y,
    "-": lambda x, y: x - y,
    "*": lambda x, y: x * y,
    "/": lambda x, y: x / y,
}


def inplace(op, target, operand):
    if op == "+":
        target += operand
    elif op == "-":
        target -= operand
    elif op == "*":
        target *= operand
    else:
        target /= operand
    return target


class Number:
    """An object that is a number only through __float__."""

    def __init__(self, value, on_convert=None):
        self.value = value
        self.on_convert = on_convert

    def __float__(self):
        if self.on_convert:
            self.on_convert()
        return self.value


class Raising:
    def __init__(self, exception):
        self.exception = exception

    def __float__(self):
        raise self.exception


class TestOperandKinds:
    @pytest.mark.parametrize("op", list(BINARY))
    @pytest.mark.parametrize(
        "number, value",
        [(2, 2.0), (2.5, 2.5), (True, 1.0), (Fraction(1, 4), 0.25), (Number(4.0), 4.0), (2**53 + 1, 2.0**53)],
        ids=["int", "float", "bool", "fraction", "dunder-float", "big-int"],
    )
    def test_numbers_are_exact_points(self, op, number, value):
        a = sample()
        point = (Fraction(value), Fraction(value))
        forward, reflected = BINARY[op](a, number), BINARY[op](number, a)
        if op in "+*":
            assert snapshot(reflected) == snapshot(forward)
        for (m, r), (fm, fr), (rm, rr) in zip(a.tolist(), forward.tolist(), reflected.tolist()):
            element = (Fraction(m) - Fraction(r), Fraction(m) + Fraction(r))
            assert encloses(fm, fr, *exact_range(op, element, point))
            assert encloses(rm, rr, *exact_range(op, point, element))
            assert math.isfinite(fr) and math.isfinite(rr)

    def test_array_with_itself(self):
        a = sample()
        assert (a + a).values() == [3.0, -4.0, 0.2, 6.0]

    @pytest.mark.parametrize("op", list(BINARY))
    @pytest.mark.parametrize("other", ["x", (1.0, 0.1), [1.0], None, {1: 2}, 1j, object()],
                             ids=["str", "pair", "list", "none", "dict", "complex", "object"])
    def test_unsupported_operands(self, op, other):
        a = sample()
        raises(TypeError, f"unsupported operand type for {op}", lambda: BINARY[op](a, other))
        raises(TypeError, f"unsupported operand type for {op}", lambda: BINARY[op](other, a))

    @pytest.mark.parametrize("op", list(BINARY))
    @pytest.mark.parametrize("other", ["x", (1.0, 0.1), [1.0], None])
    def test_unsupported_inplace_operands_leave_the_array(self, op, other):
        a = sample()
        before = snapshot(a)
        raises(TypeError, "unsupported operand type for in-place operation", lambda: inplace(op, a, other))
        assert snapshot(a) == before

    @pytest.mark.parametrize("op", list(BINARY))
    def test_overflowing_int_raises_overflow_error(self, op):
        a = sample()
        before = snapshot(a)
        for call in (lambda: BINARY[op](a, 10**400), lambda: BINARY[op](-(10**400), a),
                     lambda: inplace(op, a, 10**400)):
            raises(OverflowError, "int too large to convert to float", call)
        assert snapshot(a) == before
        raises(OverflowError, "int too large to convert to float", lambda: a.scale(10**400))

    @pytest.mark.parametrize("exception", [KeyboardInterrupt, MemoryError, ValueError])
    @pytest.mark.parametrize("op", list(BINARY))
    def test_conversion_errors_other_than_type_errors_propagate(self, op, exception):
        a = sample()
        before = snapshot(a)
        for call in (lambda: BINARY[op](a, Raising(exception("boom"))),
                     lambda: BINARY[op](Raising(exception("boom")), a),
                     lambda: inplace(op, a, Raising(exception("boom")))):
            raises(exception, "boom", call)
        assert snapshot(a) == before

    def test_subclass_operands(self):
        class Tagged(bw.IntervalArray):
            pass

        t = Tagged([1.0, 2.0])
        assert (1.0 + t).values() == [2.0, 3.0]
        assert (t * bw.array([2.0])).values() == [2.0, 4.0]
        assert (bw.array([2.0]) - t).values() == [1.0, 0.0]


class TestReflectedForms:
    def test_documented_identities(self):
        a = sample()
        assert snapshot(1 - a) == snapshot(-a + 1)
        assert snapshot(a - 1) == snapshot(a + (-1))
        assert snapshot(a - 2.5) == snapshot(a + (-2.5))
        assert snapshot(3 + a) == snapshot(a + 3)
        assert snapshot(2.0 * a) == snapshot(a * 2.0)
        assert snapshot(a.scale(0.1)) == snapshot(a * 0.1)

    def test_reflected_division_encloses(self):
        a = bw.array([(4.0, 1.0), (-0.5, 0.25), (3.0, 0.0)])
        q = 1.0 / a
        for (m, r), (qm, qr) in zip(a.tolist(), q.tolist()):
            lo, hi = Fraction(m) - Fraction(r), Fraction(m) + Fraction(r)
            for x in (1 / lo, 1 / hi):
                assert Fraction(qm) - Fraction(qr) <= x <= Fraction(qm) + Fraction(qr)

    def test_negation_and_plus(self):
        a = bw.from_raw_parts([1.0, -0.0, NAN, INF], [0.5, 0.0, 1.0, 2.0], [2, 2])
        n = -a
        assert n.shape == (2, 2)
        assert bits(n.values()) == bits([-x for x in a.values()])
        assert bits(n.radii()) == bits(a.radii())
        assert snapshot(-n) == snapshot(a)
        p = +a
        assert p is not a and snapshot(p) == snapshot(a)

    def test_operands_never_change(self):
        a, b = sample(), sample().reshape(2, 2)
        before_a, before_b = snapshot(a), snapshot(b)
        for op in BINARY.values():
            op(a, a), op(a, 3.0), op(3.0, a), op(b, a.reshape(2, 1, 2))
        assert snapshot(a) == before_a and snapshot(b) == before_b


class TestInPlace:
    @pytest.mark.parametrize("op", list(BINARY))
    def test_same_array_on_both_sides(self, op):
        a = sample()
        expected = BINARY[op](a, a)
        original = a
        a = inplace(op, a, a)
        assert a is original
        assert snapshot(a) == snapshot(expected)

    @pytest.mark.parametrize("op", list(BINARY))
    @pytest.mark.parametrize("operand", [2.0, bw.array([(2.0, 0.5)]), bw.array([2.0, 4.0, 8.0, 16.0])])
    def test_matches_the_binary_operation(self, op, operand):
        a = sample()
        expected = BINARY[op](a, operand)
        original = a
        a = inplace(op, a, operand)
        assert a is original and snapshot(a) == snapshot(expected)

    def test_aliases_see_the_change_and_copies_do_not(self):
        a = bw.array([1.0, 2.0])
        b = a
        c = a.copy()
        a += 1
        assert b.values() == [2.0, 3.0]
        assert c.values() == [1.0, 2.0]
        c *= 10.0
        assert a.values() == [2.0, 3.0]

    def test_operand_read_by_float_is_not_a_conflict(self):
        a = bw.array([1.0, 2.0])
        seen = []
        a += Number(1.0, on_convert=lambda: seen.append(repr(a)))
        assert seen == ["IntervalArray([1, 2])"]
        assert a.values() == [2.0, 3.0]

    def test_operand_changed_by_float_before_the_operation(self):
        a = bw.array([1.0, 2.0])

        def bump():
            nonlocal a
            a += 10.0

        a += Number(1.0, on_convert=bump)
        assert a.values() == [12.0, 13.0]

    def test_binary_operation_uses_the_value_it_read(self):
        a = bw.array([1.0, 2.0])
        c = a + Number(1.0, on_convert=lambda: a.__setstate__(([1], [100.0], [0.0])))
        assert c.values() == [2.0, 3.0]
        assert a.values() == [100.0]


class TestBorrowConflicts:
    def test_setstate_reading_itself(self):
        a = bw.array([1.0, 2.0])
        before = snapshot(a)
        state = ([2], [Number(5.0, on_convert=lambda: repr(a)), 6.0], [0.0, 0.0])
        raises(RuntimeError, "Already mutably borrowed", lambda: a.__setstate__(state))
        assert snapshot(a) == before
        state = ([2], [Number(5.0, on_convert=lambda: a + 1.0), 6.0], [0.0, 0.0])
        raises(RuntimeError, "Already mutably borrowed", lambda: a.__setstate__(state))
        assert snapshot(a) == before

    def test_setstate_within_setstate(self):
        a = bw.array([1.0, 2.0])
        before = snapshot(a)
        inner = ([1], [0.0], [0.0])
        state = ([1], [Number(5.0, on_convert=lambda: a.__setstate__(inner))], [0.0])
        raises(RuntimeError, "Already borrowed", lambda: a.__setstate__(state))
        assert snapshot(a) == before

    def test_other_arrays_are_free_during_setstate(self):
        a, b = bw.array([1.0]), bw.array([2.0])
        a.__setstate__(([1], [Number(5.0, on_convert=lambda: b.__setstate__(([1], [3.0], [0.0])))], [0.0]))
        assert a.values() == [5.0] and b.values() == [3.0]

    def test_warning_handler_reading_the_target_of_an_inplace_division(self, monkeypatch):
        a = bw.array([1.0, 2.0])
        before = snapshot(a)
        with warnings.catch_warnings():
            warnings.simplefilter("always")
            monkeypatch.setattr(warnings, "showwarning", lambda *args, **kwargs: repr(a))

            def divide():
                nonlocal a
                a /= 0.0

            raises(RuntimeError, "Already mutably borrowed", divide)
            assert snapshot(a) == before
            shown = []
            monkeypatch.setattr(warnings, "showwarning", lambda *args, **kwargs: shown.append(repr(a)))
            c = a / 0.0  # the binary form holds no borrow while it warns
            assert shown == ["IntervalArray([1, 2])"] and c.size == 2


class TestTruthAndLength:
    @pytest.mark.parametrize(
        "make, truth",
        [
            (lambda: bw.array([0.0]), False),
            (lambda: bw.array([-0.0]), False),
            (lambda: bw.zeros(()), False),
            (lambda: bw.zeros((1, 1, 1)), False),
            (lambda: bw.array([(0.0, 1e-300)]), True),
            (lambda: bw.array([(0.0, 5e-324)]), True),
            (lambda: bw.array([1e-300]), True),
            (lambda: bw.array([NAN]), True),
            (lambda: bw.array([(0.0, INF)]), True),
            (lambda: bw.array([(0.0, NAN)]), True),
        ],
    )
    def test_truth_of_one_element(self, make, truth):
        assert bool(make()) is truth

    @pytest.mark.parametrize("shape", [(0,), (2,), (2, 1), (0, 5)])
    def test_truth_of_other_sizes(self, shape):
        raises(ValueError, AMBIGUOUS, lambda: bool(bw.zeros(shape)))
        with pytest.raises(ValueError):
            if bw.zeros(shape):
                pass

    @pytest.mark.parametrize(
        "make, length",
        [
            (lambda: bw.array(3.0), 1),
            (lambda: bw.zeros((2, 3)), 2),
            (lambda: bw.zeros(()), 0),
            (lambda: bw.zeros((0, 5)), 0),
            (lambda: bw.zeros((2**63 - 1, 0)), 2**63 - 1),
        ],
    )
    def test_len(self, make, length):
        assert len(make()) == length

    def test_len_beyond_the_signed_size(self):
        with pytest.raises(OverflowError):
            len(bw.from_raw_parts([], [], [2**63, 0]))
        with pytest.raises(OverflowError):
            len(bw.zeros((2**64 - 1, 0)))


def division_warnings(call):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    return result, [w for w in caught if w.category is RuntimeWarning]


class TestDivisionWarning:
    @pytest.mark.parametrize(
        "call",
        [
            lambda: bw.array([1.0]) / bw.array([(0.0, 1.0)]),
            lambda: bw.array([1.0, 2.0]) / 0.0,
            lambda: bw.array([1.0, 2.0]) / -0.0,
            lambda: bw.array([1.0, 2.0]) / bw.array([(1.0, 1.0), (2.0, 1.0)]),
            lambda: bw.array([1.0, 2.0]) / bw.array([(0.0, INF)]),
            lambda: 1.0 / bw.array([0.0, 0.0]),
            lambda: 1.0 / bw.array([(3.0, 5.0)]),
            lambda: bw.zeros(100_000) / bw.zeros(100_000),
            lambda: bw.ones(100_000) / 0.0,
            lambda: 2.0 / bw.zeros(100_000),
        ],
        ids=["array", "zero", "negative-zero", "touching-zero", "infinite-radius", "reflected", "reflected-wide",
             "large", "large-number", "large-reflected"],
    )
    def test_warns_once_and_gives_the_entire_line(self, call):
        result, caught = division_warnings(call)
        assert len(caught) == 1
        assert str(caught[0].message) == DIVIDE_WARNING
        assert caught[0].filename == __file__
        mids, rads = result.values(), result.radii()
        assert any(r == INF for r in rads)
        for m, r in zip(mids, rads):
            assert r == INF or not math.isnan(m)

    @pytest.mark.parametrize(
        "call",
        [
            lambda: bw.array([1.0]) / bw.array([(2.0, 1.0)]),
            lambda: bw.array([0.0]) / 3.0,
            lambda: 1.0 / bw.array([(-2.0, 1.0)]),
            lambda: bw.zeros(0) / bw.zeros(0),
            lambda: bw.ones((2, 3)) / bw.ones(3),
        ],
    )
    def test_no_warning_when_no_divisor_contains_zero(self, call):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            call()

    @pytest.mark.parametrize("operand", [0.0, bw.array([(0.0, 1.0)]), bw.zeros(1)])
    def test_inplace_division_warns_once(self, operand):
        a = bw.array([1.0, 2.0, 3.0])
        original = a

        def divide():
            nonlocal a
            a /= operand
            return a

        result, caught = division_warnings(divide)
        assert result is original
        assert [str(w.message) for w in caught] == [DIVIDE_WARNING]
        assert all(r == INF for r in a.radii())

    @pytest.mark.parametrize(
        "call",
        [lambda a: a / 0.0, lambda a: a / bw.array([(0.0, 1.0)]), lambda a: 1.0 / a],
        ids=["number", "array", "reflected"],
    )
    def test_warning_as_error_returns_no_result(self, call):
        a = bw.array([0.0, 2.0])
        before = snapshot(a)
        result = None
        with warnings.catch_warnings():
            warnings.simplefilter("error", RuntimeWarning)
            with pytest.raises(RuntimeWarning) as info:
                result = call(a)
        assert str(info.value) == DIVIDE_WARNING
        assert result is None
        assert snapshot(a) == before

    @pytest.mark.parametrize("operand", [0.0, bw.array([(0.0, 1.0)]), bw.zeros((2,))])
    def test_inplace_division_as_error_leaves_the_array(self, operand):
        a = bw.array([(1.0, 0.5), (2.0, 0.0)])
        alias = a
        before = snapshot(a)
        with warnings.catch_warnings():
            warnings.simplefilter("error", RuntimeWarning)
            with pytest.raises(RuntimeWarning) as info:
                a /= operand
        assert str(info.value) == DIVIDE_WARNING
        assert a is alias and snapshot(a) == before

    def test_same_array_division_with_zero(self):
        a = bw.array([0.0, 2.0])
        original = a

        def divide():
            nonlocal a
            a /= a
            return a

        result, caught = division_warnings(divide)
        assert result is original and len(caught) == 1
        assert a.radii()[0] == INF


class TestInterpreterLock:
    N = 1 << 21

    @staticmethod
    def _progress(work):
        """Iterations the calling thread makes while `work` is between its two
        phase markers. No bytecode between the markers lets the interpreter
        switch threads, so the count stays 0 unless the lock is released."""
        phase = [0]
        count = 0
        thread = threading.Thread(target=work, args=(phase,))
        thread.start()
        while phase[0] != 2:
            if phase[0] == 1:
                count += 1
        thread.join()
        return count

    @classmethod
    def _made_progress(cls, work, attempts=5):
        # A busy machine may leave the calling thread unscheduled for the whole
        # computation once; it cannot do so every time.
        return any(cls._progress(work) > 0 for _ in range(attempts))

    def test_array_plus_array_releases_the_lock(self):
        a, b = bw.ones(self.N), bw.full(self.N, (2.0, 0.5))
        out = []

        def work(phase):
            phase[0] = 1
            c = a + b
            phase[0] = 2
            out.append(c)

        assert self._made_progress(work)
        assert out[0].size == self.N

    def test_array_times_number_releases_the_lock(self):
        a = bw.ones(self.N)

        def work(phase):
            phase[0] = 1
            c = a * 3.0
            phase[0] = 2
            assert c.size == a.size

        assert self._made_progress(work)

    def test_number_divided_by_array_releases_the_lock(self):
        a = bw.full(self.N, (4.0, 1.0))

        def work(phase):
            phase[0] = 1
            c = 2.0 / a
            phase[0] = 2
            assert c.size == a.size

        assert self._made_progress(work)

    def test_inplace_operator_keeps_the_lock(self):
        # The same measure on an operation that holds the lock reads 0.
        a, b = bw.ones(self.N), bw.ones(self.N)

        def work(phase):
            nonlocal a
            phase[0] = 1
            a += b
            phase[0] = 2

        assert self._progress(work) == 0
        assert a.values()[:2] == [2.0, 2.0]

    def test_concurrent_readers_see_whole_states(self):
        a = bw.zeros(100_000)
        stop = threading.Event()
        torn = []
        reads = [0]

        def reader():
            while not stop.is_set():
                s = a + 0.0  # copies the storage handle, computes unlocked, drops it
                values = set(s.values())
                reads[0] += 1
                if len(values) != 1:
                    torn.append(values)

        threads = [threading.Thread(target=reader) for _ in range(2)]
        for t in threads:
            t.start()
        for _ in range(40):
            a += 1.0
        stop.set()
        for t in threads:
            t.join()
        assert not torn
        assert set(a.values()) == {40.0}
        assert reads[0] > 0
