"""Promises over every entry point: sizes above the layout limit are the user's
ValueError, nothing leaks on success or error paths, and threads sharing arrays
see whole elements and the results of a sequential run."""

from __future__ import annotations

import ctypes
import gc
import itertools
import resource
import sys
import threading
import warnings

import pytest

import boundwise._boundwise as bw
from oracles import SANITIZED, raises, snapshot
from test_fuzz import ALLOWED, ENTRIES, Liar

LIMIT = 576460752303423484
BIG = (2**63, 0)


def too_big(count: int) -> str:
    return f"array is too big: {count} elements, more than the limit of {LIMIT}"


@pytest.mark.parametrize("call, count", [
    (lambda: bw.zeros(2**62), 2**62), (lambda: bw.ones([2**62, 4]), 2**64), (lambda: bw.empty((2**40, 2**40)), 2**80),
    (lambda: bw.full(2**62, (1.0, 0.5)), 2**62), (lambda: bw.eye(2**31), 2**62), (lambda: bw.identity(2**31), 2**62),
    (lambda: bw.linspace(0.0, 1.0, 2**62), 2**62), (lambda: bw.rand(2**31, 2**31), 2**62),
    (lambda: bw.randint(0, 3, (2**62,)), 2**62),
    (lambda: bw.zeros(BIG).sum(axis=1), 2**63), (lambda: bw.zeros((2**63, 2**63, 0)).mean(axis=2), 2**126),
    (lambda: bw.zeros((2**62, 0)) @ bw.zeros((0, 2**62)), 2**124),
    (lambda: bw.zeros((2**62, 1, 0)).max(axis=2), 2**62),
    # the product of the dimensions overflows 64 bits
    (lambda: bw.ones(2**32, 2**32), 2**64), (lambda: bw.eye(2**32, 2**32), 2**64),
    (lambda: bw.zeros([2**64 - 1] * 3), (2**64 - 1) ** 3),
])
def test_sizes_above_the_layout_limit_raise_value_error(call, count):
    # User input, not an internal assertion: ordinary handlers must see it.
    raises(ValueError, too_big(count), call)


@pytest.mark.parametrize("call, exception, message", [
    # a wrapped list count once reached PyList_New as -1 (SystemError)
    (lambda: bw.zeros((2**64 - 1, 0)).tolist(), MemoryError, "tolist: shape [18446744073709551615, 0] needs too many lists"),
    # a dimension beyond Py_ssize_t once became a negative buffer shape
    (lambda: bw.zeros(BIG).mid, OverflowError, "array dimension 9223372036854775808 does not fit in a Py_ssize_t"),
    (lambda: memoryview(bw.zeros((0, 2**63)).rad).tolist(), OverflowError,
     "array dimension 9223372036854775808 does not fit in a Py_ssize_t"),
])
def test_size_arithmetic_of_outputs_is_checked(call, exception, message):
    raises(exception, message, call)


@pytest.mark.parametrize("shape", [(2**63 - 1, 0), (0, 2**62, 2**62), (3, 0, 2**63 - 1)])
def test_empty_arrays_with_huge_dimensions_export_empty_buffers(shape):
    for part in ("mid", "rad"):
        view = memoryview(getattr(bw.zeros(shape), part))
        assert (view.shape, view.nbytes, view.format) == (shape, 0, "d")


@pytest.mark.parametrize("method", ["sum", "mean", "prod", "max", "min", "var", "std"])
def test_reductions_of_empty_arrays_with_uncountable_sides(method):
    # The dimensions before the axis multiply past 64 bits beside a zero after
    # it: no lanes at all, once an internal failure.
    assert getattr(bw.zeros((2**63, 2**63, 5, 0)), method)(axis=2).shape == (2**63, 2**63, 0)


# Leaks: each entry point called on fixed arguments that succeed and fixed
# arguments that fail, found by trying a small pool in a fixed order.

POOL = [lambda: bw.array([(1.0, 0.5), (2.0, 0.0), (-3.0, 0.25)]), lambda: 2, lambda: 1.5, lambda: [1.0, 2.0, 3.0],
        lambda: None, lambda: "x", lambda: Liar("float-raises"), lambda: (3,), lambda: bw.BoolArray([True, False, True]),
        lambda: slice(0, 2), lambda: bw.ones((3, 3)), lambda: bw.eye(3) * 2.0,
        lambda: ([3], [1.0, 2.0, 3.0], [0.0, 0.0, 0.0]),
        lambda: [True, False, True], lambda: [bw.ones(2), bw.zeros(2)], lambda: 1]
RECEIVERS = {bw.IntervalArray: [lambda: bw.array([(1.0, 0.5), (2.0, 0.0), (-3.0, 0.25)]), lambda: bw.array([0.5])],
             bw.BoolArray: [lambda: bw.BoolArray([True, False, True]), lambda: bw.BoolArray([True])], None: [None]}


def _target(kind, cls, name, receiver):
    if kind == "function":
        return getattr(bw, name)
    if kind == "class":
        return cls
    if kind == "property":
        return lambda: getattr(receiver, name)
    return getattr(receiver, name)


def _calls(kind, cls, name) -> list[tuple[object, tuple, bool]]:
    """Up to two successful and two failing (target, args) pairs for one entry point."""
    found: dict[bool, list] = {True: [], False: []}
    for receiver, arity in itertools.product(RECEIVERS[cls if kind in ("method", "property") else None], range(4)):
        for makers in itertools.product(range(len(POOL)), repeat=arity):
            def make():
                return _target(kind, cls, name, receiver and receiver()), tuple(POOL[i]() for i in makers)
            target, args = make()
            try:
                target(*args)
                ok = True
            except ALLOWED:
                ok = False
            if len(found[ok]) < 2:
                found[ok].append((*make(), ok))  # fresh operands: the trial may have changed them
            if all(len(v) == 2 for v in found.values()) or (kind == "property" and found[True]):
                return found[True] + found[False]
    return found[True] + found[False]


class _MallInfo2(ctypes.Structure):
    _fields_ = [(n, ctypes.c_size_t) for n in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                                               "uordblks", "fordblks", "keepcost")]


_mallinfo2 = getattr(ctypes.CDLL(None), "mallinfo2", None)
if _mallinfo2 is not None:
    _mallinfo2.restype = _MallInfo2


def _allocated_bytes() -> int:
    """Bytes held by malloc (our storage), from glibc's mallinfo2."""
    if _mallinfo2 is None:
        return 0
    info = _mallinfo2()
    return info.uordblks + info.hblkhd


def _resident() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()


def _counts(calls) -> list[int]:
    """Reference counts of the arguments; shared singletons and cached numbers
    change with any code, so only objects of our own are counted."""
    return [sys.getrefcount(x) for _, args, _ in calls for x in args if not isinstance(x, (int, str, type(None)))]


def _repeat(calls, n):
    for target, args, _ in calls:
        for _ in range(n):
            try:
                target(*args)
            except ALLOWED:
                pass


def _growth(calls, n) -> tuple[int, int, int]:
    """Python blocks, malloc bytes and resident bytes gained over n rounds of calls."""
    before = sys.getallocatedblocks(), _allocated_bytes(), _resident()
    _repeat(calls, n)
    return sys.getallocatedblocks() - before[0], _allocated_bytes() - before[1], _resident() - before[2]


@pytest.mark.parametrize("kind, cls, name", ENTRIES, ids=[f"{c.__name__ + '.' if c else ''}{n}" for _, c, n in ENTRIES])
def test_repeated_calls_keep_memory_and_reference_counts_flat(kind, cls, name, leak_calls):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        calls = _calls(kind, cls, name)
        assert any(ok for _, _, ok in calls) or (name == "__delitem__" and calls), "no call could be formed"
        _repeat(calls, 20)  # caches, the pool, the exception classes
        gc.collect()
        gc.disable()  # the calls make no cycles, so growth is what they keep
        try:
            counts = _counts(calls)
            # Free lists and allocator caches fill once; a leak grows in every window.
            windows = [_growth(calls, leak_calls) for _ in range(2)]
        finally:
            gc.enable()
        assert _counts(calls) == counts
        blocks, heap, resident = (min(w[i] for w in windows) for i in range(3))
        assert blocks < leak_calls // 4 and heap < leak_calls * 8  # a kept array storage is 128 bytes or more
        assert SANITIZED or resident <= (1 << 20) + (leak_calls * 8 if leak_calls < 10**5 else 0)


# Threads: increments (in-place, under the lock) commute, item assignments go
# to indices each thread owns, and the lock-releasing products read a shared
# operand; so the final state and every product are those of a sequential run.

N = 8192  # above the size from which operators release the interpreter lock
THREADS = 8
ROUNDS = 8


def _shared():
    pairs = [float(i % 7) for i in range(N)]
    return {"inc": bw.from_raw_parts([1.0] * N, [1.0] * N, [N]), "own": bw.from_raw_parts(pairs, pairs, [N]),
            "operand": bw.from_raw_parts([0.1 * (i % 13) for i in range(N)], [1e-3] * N, [N]),
            "square": bw.ones((64, 64)) * 0.5, "zero": bw.zeros(N)}


def _worker(k: int, s: dict, seen: list) -> None:
    step = bw.array([(1.0, 1.0)])
    for r in range(ROUNDS):
        s["inc"] += step
        s["own"][k::THREADS] = (float(k * 100 + r), float(k * 100 + r))
        for name in ("inc", "own"):
            view = s[name] + s["zero"]  # lock released; mid == rad holds for every whole element
            mids, rads = view.values(), view.radii()
            seen.append(("torn", name, mids != rads or (name == "inc" and len(set(mids)) != 1)))
        seen.append(("product", repr(snapshot(s["operand"] * s["operand"])), repr(snapshot(s["square"] @ s["square"]))))


def test_threads_on_shared_arrays_agree_with_a_sequential_run():
    sequential, seen_alone = _shared(), []
    for k in range(THREADS):
        _worker(k, sequential, seen_alone)
    shared, seen, failures = _shared(), [], []
    barrier = threading.Barrier(THREADS)

    def run(k):
        barrier.wait()
        try:
            _worker(k, shared, seen)
        except BaseException as e:  # noqa: BLE001 - reported below, a borrow conflict included
            failures.append(repr(e))

    threads = [threading.Thread(target=run, args=(k,)) for k in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not any(t.is_alive() for t in threads) and not failures
    assert not [x for x in seen if x[0] == "torn" and x[2]]
    products = {x[1:] for x in seen if x[0] == "product"}
    assert products == {x[1:] for x in seen_alone if x[0] == "product"} and len(products) == 1
    assert {k: snapshot(v) for k, v in shared.items()} == {k: snapshot(v) for k, v in sequential.items()}
    assert set(shared["inc"].values()) == {1.0 + THREADS * ROUNDS}
