"""The arithmetic operators as Python sees them: operand kinds and messages,
in-place forms, truth value and len(), the division warning, borrow conflicts,
and the interpreter lock during the binary operators."""

import math
import operator
import threading
import warnings
from fractions import Fraction

import pytest

import boundwise._boundwise as bw
from conftest import AMBIGUOUS, DIVIDE_WARNING, INF, NAN, Number, Raising, encloses, exact_range, raises, snapshot

BINARY = {"+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv}
INPLACE = {"+": operator.iadd, "-": operator.isub, "*": operator.imul, "/": operator.itruediv}


def sample():
    return bw.array([(1.5, 0.25), (-2.0, 0.5), (0.1, 0.0), (3.0, 1e-3)])


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

    @pytest.mark.parametrize("op", list(BINARY))
    @pytest.mark.parametrize("other", ["x", (1.0, 0.1), [1.0], None, {1: 2}, 1j, object()],
                             ids=["str", "pair", "list", "none", "dict", "complex", "object"])
    def test_unsupported_operands(self, op, other):
        a = sample()
        before = snapshot(a)
        raises(TypeError, f"unsupported operand type for {op}", lambda: BINARY[op](a, other))
        raises(TypeError, f"unsupported operand type for {op}", lambda: BINARY[op](other, a))
        raises(TypeError, "unsupported operand type for in-place operation", lambda: INPLACE[op](a, other))
        assert snapshot(a) == before

    @pytest.mark.parametrize("op", list(BINARY))
    @pytest.mark.parametrize(
        "make, exception, message",
        [(lambda: 10**400, OverflowError, "int too large to convert to float")]
        + [(lambda e=e: Raising(e("boom")), e, "boom") for e in (KeyboardInterrupt, MemoryError, ValueError)],
        ids=["overflow", "interrupt", "memory", "value"],
    )
    def test_conversion_errors_other_than_type_errors_propagate(self, op, make, exception, message):
        a = sample()
        before = snapshot(a)
        raises(exception, message, lambda: BINARY[op](a, make()))
        raises(exception, message, lambda: BINARY[op](make(), a))
        raises(exception, message, lambda: INPLACE[op](a, make()))
        assert snapshot(a) == before

    def test_overflowing_int_in_scale(self):
        raises(OverflowError, "int too large to convert to float", lambda: sample().scale(10**400))

    def test_subclass_operands(self):
        class Tagged(bw.IntervalArray):
            pass

        t = Tagged([1.0, 2.0])
        assert (t + t).values() == [2.0, 4.0]
        assert (1.0 + t).values() == [2.0, 3.0]
        assert (t * bw.array([2.0])).values() == [2.0, 4.0]
        assert (bw.array([2.0]) - t).values() == [1.0, 0.0]


class TestInPlace:
    @pytest.mark.parametrize("op", list(BINARY))
    @pytest.mark.parametrize("operand", [None, 2.0, bw.array([(2.0, 0.5)]), bw.array([2.0, 4.0, 8.0, 16.0])],
                             ids=["itself", "number", "single", "array"])
    def test_matches_the_binary_operation(self, op, operand):
        a = original = sample()
        operand = a if operand is None else operand  # a += a reads a before writing it
        expected = BINARY[op](a, operand)
        a = INPLACE[op](a, operand)
        assert a is original and snapshot(a) == snapshot(expected)

    def test_aliases_see_the_change_and_copies_do_not(self):
        a = bw.array([1.0, 2.0])
        b, c = a, a.copy()
        a += 1
        assert b.values() == [2.0, 3.0] and c.values() == [1.0, 2.0]
        c *= 10.0
        assert a.values() == [2.0, 3.0]

    def test_operand_read_by_float_is_not_a_conflict(self):
        a = bw.array([1.0, 2.0])
        seen = []
        a += Number(1.0, on_convert=lambda: seen.append(repr(a)))
        assert seen == ["IntervalArray([1, 2])"] and a.values() == [2.0, 3.0]

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
        assert c.values() == [2.0, 3.0] and a.values() == [100.0]


class TestBorrowConflicts:
    @pytest.mark.parametrize("touch", [lambda a: repr(a), lambda a: a + 1.0], ids=["repr", "add"])
    def test_setstate_reading_itself(self, touch):
        a = bw.array([1.0, 2.0])
        before = snapshot(a)
        state = ([2], [Number(5.0, on_convert=lambda: touch(a)), 6.0], [0.0, 0.0])
        raises(RuntimeError, "Already mutably borrowed", lambda: a.__setstate__(state))
        assert snapshot(a) == before

    def test_setstate_within_setstate(self):
        a = bw.array([1.0, 2.0])
        before = snapshot(a)
        state = ([1], [Number(5.0, on_convert=lambda: a.__setstate__(([1], [0.0], [0.0])))], [0.0])
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
            raises(RuntimeError, "Already mutably borrowed", lambda: operator.itruediv(a, 0.0))
            assert snapshot(a) == before
            shown = []
            monkeypatch.setattr(warnings, "showwarning", lambda *args, **kwargs: shown.append(repr(a)))
            c = a / 0.0  # the binary form holds no borrow while it warns
            assert shown == ["IntervalArray([1, 2])"] and c.size == 2


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
        with pytest.raises(ValueError):
            if bw.zeros(shape):
                pass

    @pytest.mark.parametrize(
        "make, length",
        [(lambda: bw.array(3.0), 1), (lambda: bw.zeros((2, 3)), 2), (lambda: bw.zeros(()), 0),
         (lambda: bw.zeros((0, 5)), 0), (lambda: bw.zeros((2**63 - 1, 0)), 2**63 - 1)],
    )
    def test_len(self, make, length):
        assert len(make()) == length

    @pytest.mark.parametrize("shape", [[2**63, 0], [2**64 - 1, 0]])
    def test_len_beyond_the_signed_size(self, shape):
        with pytest.raises(OverflowError):
            len(bw.from_raw_parts([], [], shape))


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
        assert [str(w.message) for w in caught] == [DIVIDE_WARNING]
        assert caught[0].filename == __file__
        assert any(r == INF for r in result.radii())
        assert all(r == INF or not math.isnan(m) for m, r in zip(result.values(), result.radii()))

    @pytest.mark.parametrize(
        "call",
        [
            lambda: bw.array([1.0, 2.0]) / bw.array([(3.0, 1.0), (-1.0, 0.5)]),
            lambda: bw.array([0.0]) / 3.0,
            lambda: 1.0 / bw.array([(-2.0, 1.0)]),
            lambda: bw.zeros(0) / bw.zeros(0),
            lambda: bw.ones((2, 3)) / bw.ones(3),
            lambda: bw.array([1.0]) / NAN,  # a NaN divisor gives NaN, not a warning
        ],
    )
    def test_no_warning_when_no_divisor_contains_zero(self, call):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            assert call().size >= 0

    @pytest.mark.parametrize("operand", [0.0, bw.array([(0.0, 1.0)]), bw.zeros(1), None],
                             ids=["zero", "wide", "zeros", "itself"])
    def test_inplace_division_warns_once(self, operand):
        a = original = bw.array([0.0, 2.0, 3.0])
        result, caught = division_warnings(lambda: operator.itruediv(a, a if operand is None else operand))
        assert result is original and [str(w.message) for w in caught] == [DIVIDE_WARNING]
        assert a.radii()[0] == INF and (operand is None or all(r == INF for r in a.radii()))

    @pytest.mark.parametrize(
        "call",
        [lambda a: a / 0.0, lambda a: a / bw.array([(0.0, 1.0)]), lambda a: 1.0 / a,
         lambda a: operator.itruediv(a, 0.0), lambda a: operator.itruediv(a, bw.array([(0.0, 1.0)])),
         lambda a: operator.itruediv(a, bw.zeros((2,)))],
        ids=["number", "array", "reflected", "inplace-number", "inplace-array", "inplace-zeros"],
    )
    def test_warning_as_error_returns_no_result_and_leaves_the_array(self, call):
        a = bw.array([(0.0, 0.5), (2.0, 0.0)])
        before = snapshot(a)
        result = None
        with warnings.catch_warnings():
            warnings.simplefilter("error", RuntimeWarning)
            with pytest.raises(RuntimeWarning) as info:
                result = call(a)
        assert str(info.value) == DIVIDE_WARNING
        assert result is None and snapshot(a) == before


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

    @pytest.mark.parametrize(
        "left, right, op",
        [(lambda n: bw.ones(n), lambda n: bw.full(n, (2.0, 0.5)), operator.add),
         (lambda n: bw.ones(n), lambda n: 3.0, operator.mul),
         (lambda n: 2.0, lambda n: bw.full(n, (4.0, 1.0)), operator.truediv)],
        ids=["array-plus-array", "array-times-number", "number-over-array"],
    )
    def test_binary_operators_release_the_lock(self, left, right, op):
        x, y = left(self.N), right(self.N)
        out = []

        def work(phase):
            phase[0] = 1
            c = op(x, y)
            phase[0] = 2
            out.append(c.size)

        # A busy machine may leave the calling thread unscheduled for the whole
        # computation once; it cannot do so every time.
        assert any(self._progress(work) > 0 for _ in range(5))
        assert set(out) == {self.N}

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
                values = set((a + 0.0).values())  # copies the storage handle, computes unlocked, drops it
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
        assert not torn and set(a.values()) == {40.0} and reads[0] > 0
